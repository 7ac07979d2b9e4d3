#pragma once

#include <iosfwd>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

class HxDebug;

// A work item of a job, by job id and item name (and the item's number,
// which the text form leaves out). Text form: 12:frame0001
class HxWorkId : public HxRecord<HxWorkId> {
 public:
  HxWorkId() = default;
  explicit HxWorkId(int id) : id_(id) {}
  HxWorkId(int id, HxString const& name) : id_(id), name_(name) {}
  explicit HxWorkId(HxString const& text) { value(text); }
  HxWorkId(HxWorkId const&) = default;
  HxWorkId& operator=(HxWorkId const&) = default;
  void copy(HxWorkId const& other) { *this = other; }

  int type() const override { return 59; }
  HxString typeXML() const override { return "work_id"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "id", &HxWorkId::id_), hx_field(2, "name", &HxWorkId::name_),
                           hx_field(3, "work_id", &HxWorkId::workid_));
  }

  int id() const { return id_; }
  void id(int id) { id_ = id; }
  HxString const& name() const { return name_; }
  HxString& name() { return name_; }
  void name(HxString const& name) { name_ = name; }
  int workid() const { return workid_; }
  void workid(int workid) { workid_ = workid; }

  HxString value() const;
  // "id" or "id:name": the id is replaced, and what follows the first ":"
  // is appended to the name.
  void value(HxString const& text);

 private:
  int id_ = -1;
  HxString name_;
  int workid_ = -1;
};

std::ostream& operator<<(std::ostream& out, HxWorkId const& id);
HxDebug& operator<<(HxDebug& out, HxWorkId const& id);

HX_NAMED_LIST(HxWorkIdList, HxWorkId, 60, "work_id_list");

#pragma once

#include <iosfwd>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

class HxDebug;

// A job, optionally narrowed to one subjob (sub id 0 or more) or to all of
// them (sub id -2, written "*"); -1 is none. Text forms: 12, 12.3, 12.*
class HxJobId : public HxRecord<HxJobId> {
 public:
  HxJobId() = default;
  explicit HxJobId(int id) : id_(id) {}
  HxJobId(int id, int subid) : id_(id), subid_(subid) {}
  explicit HxJobId(HxString const& text) { value(text); }
  HxJobId(HxJobId const&) = default;
  HxJobId& operator=(HxJobId const&) = default;
  void copy(HxJobId const& other) { *this = other; }

  int type() const override { return 19; }
  HxString typeXML() const override { return "job_id"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "id", &HxJobId::id_), hx_field(2, "sub_id", &HxJobId::subid_));
  }

  int id() const { return id_; }
  void id(int id) { id_ = id; }
  int subid() const { return subid_; }
  void subid(int subid) { subid_ = subid; }

  // The id modulo n with the sign of the id; 0 for n 0 (no remainder) and
  // for n -1 (where the smallest id would overflow the division).
  int sid(int n) const { return (n == 0 || n == -1) ? 0 : id_ % n; }

  HxString value() const;
  // "id", "id.sub" or "id.*"; the sub id is -1 when nothing follows the ".".
  void value(HxString const& text);

 private:
  int id_ = -1;
  int subid_ = -1;
};

std::ostream& operator<<(std::ostream& out, HxJobId const& id);
HxDebug& operator<<(HxDebug& out, HxJobId const& id);

HX_NAMED_LIST(HxJobIdList, HxJobId, 18, "job_id_list");
HX_NAMED_HASH(HxJobIdHash, HxJobId, 174, "job_id_hash");

#pragma once

#include <iosfwd>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

class HxDebug;

// A callback of a job by its number (call id 0 or more), all callbacks of the
// job (-2, written "*"), or none (-1). Text forms: 12, 12^4, 12^*
class HxCallbackId : public HxRecord<HxCallbackId> {
 public:
  HxCallbackId() = default;
  explicit HxCallbackId(int id) : id_(id) {}
  HxCallbackId(int id, int callid) : id_(id), callid_(callid) {}
  explicit HxCallbackId(HxString const& text) { value(text); }
  HxCallbackId(HxCallbackId const&) = default;
  HxCallbackId& operator=(HxCallbackId const&) = default;
  void copy(HxCallbackId const& other) { *this = other; }

  int type() const override { return 197; }
  HxString typeXML() const override { return "callback_id"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "id", &HxCallbackId::id_), hx_field(2, "callid", &HxCallbackId::callid_));
  }

  int id() const { return id_; }
  void id(int id) { id_ = id; }
  int callid() const { return callid_; }
  void callid(int callid) { callid_ = callid; }

  HxString value() const;
  // "id", "id^call" or "id^*"; the call id is -1 when nothing follows the "^".
  void value(HxString const& text);

 private:
  int id_ = -1;
  int callid_ = -1;
};

std::ostream& operator<<(std::ostream& out, HxCallbackId const& id);
HxDebug& operator<<(HxDebug& out, HxCallbackId const& id);

HX_NAMED_LIST(HxCallbackIdList, HxCallbackId, 198, "callback_id_list");

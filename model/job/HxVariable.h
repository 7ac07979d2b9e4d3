#pragma once

#include <iosfwd>
#include <tuple>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxVariableId.h"

// A named text value kept for a job (class 1), the whole farm (2), a worker
// host (256) or a scope (257).
class HxVariable : public HxRecord<HxVariable> {
 public:
  HxVariable() = default;
  explicit HxVariable(int pid) : pid_(pid) {}
  explicit HxVariable(HxString const& value) : value_(value) {}

  int type() const override { return 120; }
  HxString typeXML() const override { return "variable"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "pid", &HxVariable::pid_), hx_field(2, "name", &HxVariable::name_),
                           hx_field(3, "value", &HxVariable::value_), hx_field(4, "cls", &HxVariable::cls_),
                           hx_field(5, "last_update", &HxVariable::lastupdate_));
  }

  int pid() const { return pid_; }
  void pid(int pid) { pid_ = pid; }
  int cls() const { return cls_; }
  void cls(int cls) { cls_ = cls; }
  HxString const& name() const { return name_; }
  void name(HxString const& name) { name_ = name; }
  void name(char const* bytes, int n) { name_.copy(bytes, n); }
  HxString const& value() const { return value_; }
  void value(HxString const& value) { value_ = value; }
  void value(char const* bytes, int n) { value_.copy(bytes, n); }
  HxTime const& lastupdate() const { return lastupdate_; }
  void lastupdate(HxTime const& time) { lastupdate_ = time; }

  // The class words are those of HxVariableId: "job" 1, "global" 2, "host"
  // 256, "scoped" 257; "unknown" for any other class, which reads as 0.
  HxString clsstring() const { return HxString(HxVariableId::clsword(cls_)); }
  void clsstring(HxString const& word) { cls_ = HxVariableId::clsnumber(word); }

  // "12-job.frames"; a global variable has no pid: "global.frames".
  HxString fullname() const;
  // Reads a full name as HxVariableId reads one: an optional leading pid and
  // "-", the class word, "." and the name. The value and time stay.
  void fullname(HxString const& text);

 private:
  int pid_ = -1;
  HxString name_;
  HxString value_;
  int cls_ = 0;
  HxTime lastupdate_;
};

// Writes the value only.
std::ostream& operator<<(std::ostream& out, HxVariable const& v);

HX_NAMED_LIST(HxVariableList, HxVariable, 121, "variable_list");
HX_NAMED_HASH(HxVariableHash, HxVariable, 122, "variable_hash");

#pragma once

#include <iosfwd>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

class HxDebug;

// A variable by the id of the job that owns it, its class and its name.
// Short text form pid_name (12_frames); full name pid-class.name
// (12-job.frames).
class HxVariableId : public HxRecord<HxVariableId> {
 public:
  enum : int { kJob = 1, kGlobal = 2, kHost = 256, kScoped = 257 };

  HxVariableId() = default;
  explicit HxVariableId(int pid) : pid_(pid) {}
  HxVariableId(int pid, HxString const& name) : pid_(pid), name_(name) {}
  explicit HxVariableId(HxString const& text) { value(text); }
  HxVariableId(HxVariableId const&) = default;
  HxVariableId& operator=(HxVariableId const&) = default;
  void copy(HxVariableId const& other) { *this = other; }

  int type() const override { return 130; }
  HxString typeXML() const override { return "variable_id"; }
  // The wire order differs from the declaration order.
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "pid", &HxVariableId::pid_), hx_field(2, "name", &HxVariableId::name_),
                           hx_field(3, "cls", &HxVariableId::cls_));
  }

  int pid() const { return pid_; }
  void pid(int pid) { pid_ = pid; }
  HxString const& name() const { return name_; }
  void name(HxString const& name) { name_ = name; }
  int cls() const { return cls_; }
  void cls(int cls) { cls_ = cls; }

  // "job", "global", "host", "scoped"; "unknown" for any other class.
  HxString clsstring() const { return HxString(clsword(cls_)); }
  // Sets the class of an exact, case-sensitive word; any other word sets 0.
  void clsstring(HxString const& word) { cls_ = clsnumber(word); }
  static char const* clsword(int cls);
  static int clsnumber(HxString const& word);

  HxString value() const;
  // "pid" or "pid_name": the pid is replaced, and what follows the first "_"
  // is appended to the name.
  void value(HxString const& text);

  // pid-class.name, the pid always written (-1-global.frames).
  HxString fullname() const;
  // "pid-class.name", "pid-class", "class.name" or "class": a leading word
  // of digits only is the pid (else the pid stays); the class word and the
  // name follow.
  void fullname(HxString const& text);

 private:
  int pid_ = -1;
  int cls_ = 0;
  HxString name_;
};

std::ostream& operator<<(std::ostream& out, HxVariableId const& id);
HxDebug& operator<<(HxDebug& out, HxVariableId const& id);

HX_NAMED_LIST(HxVariableIdList, HxVariableId, 131, "variable_id_list");

#include "model/job/HxVariable.h"

#include <ostream>

// Unlike an identifier's, a global variable's full name leaves the pid out.
HxString HxVariable::fullname() const {
  if (cls_ == HxVariableId::kGlobal) {
    HxString out("global.");
    out += name_;
    return out;
  }
  HxVariableId id(pid_, name_);
  id.cls(cls_);
  return id.fullname();
}

void HxVariable::fullname(HxString const& text) {
  HxVariableId id(pid_);
  id.fullname(text);
  pid_ = id.pid();
  cls_ = id.cls();
  name_ = id.name();
}

std::ostream& operator<<(std::ostream& out, HxVariable const& v) { return out << v.value(); }

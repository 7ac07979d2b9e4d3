#include "model/farm/HxState.h"

#include <ostream>

namespace {

struct Name {
  int code;
  char const* name;
};

// In the order names are tried when parsing.
Name const kNames[] = {{HxState::kDown, "down"},
                       {HxState::kActive, "active"},
                       {HxState::kPanic, "panic"},
                       {HxState::kRegistering, "registering"}};

}  // namespace

HxString HxState::value() const {
  for (Name const& n : kNames)
    if (n.code == value_) return HxString(n.name);
  return HxString("none");
}

void HxState::value(HxString const& name) {
  value_ = kNone;
  for (Name const& n : kNames) {
    if (name == HxString(n.name)) {
      value_ = n.code;
      return;
    }
  }
}

std::ostream& operator<<(std::ostream& out, HxState const& s) { return out << s.value(); }

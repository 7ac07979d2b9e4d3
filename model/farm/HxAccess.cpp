#include "model/farm/HxAccess.h"

#include <cstdlib>
#include <cstring>

HxString HxGroupAccess::fullname() const {
  HxString out(access_);
  out += ':';
  out += name_;
  return out;
}

void HxGroupAccess::fullname(HxString const& text) {
  // The reading of the number stops at the ":".
  access_ = text.integervalue();
  name_.clear();
  int const n = text.length();
  void const* colon = n > 0 ? std::memchr(text.value(), ':', static_cast<size_t>(n)) : nullptr;
  if (colon == nullptr) return;
  int at = static_cast<int>(static_cast<char const*>(colon) - text.value()) + 1;
  if (at < n) name_.append(text.value() + at, n - at);
}

HxAccess& HxAccess::operator=(HxAccess const& o) {
  if (&o == this) return *this;
  groups_ = o.groups_;
  sudojobfilter_ = o.sudojobfilter_;
  sudouserfilter_ = o.sudouserfilter_;
  name_ = o.name_;
  access_ = o.access_;
  groupaccess_.copy(o.groupaccess_);
  lastupdate_ = o.lastupdate_;
  valid_ = o.valid_;
  return *this;
}

HxPassword& HxPassword::operator=(HxPassword const& o) {
  if (&o == this) return *this;
  user_ = o.user_;
  domain_ = o.domain_;
  password_ = o.password_;
  password_.secure(1);
  verified_ = o.verified_;
  valid_ = o.valid_;
  lastupdate_ = o.lastupdate_;
  return *this;
}

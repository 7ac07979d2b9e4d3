#include "config/HxOption.h"

HxOption::HxOption(int tag, HxString const& name) : tag_(tag), name_(name) {}

HxOption::HxOption(HxOption const& other) : HxRecord<HxOption>() { copy(other); }

HxOption& HxOption::operator=(HxOption const& other) {
  copy(other);
  return *this;
}

void HxOption::copy(HxOption const& other) {
  if (&other == this) return;
  tag_ = other.tag_;
  name_ = other.name_;
  value_ = other.value_;
  exists_ = other.exists_;
}

int HxOption::match(HxString const& word) const {
  int n = word.length();
  if (n == 0 || n > name_.length()) return 0;
  for (int i = 0; i < n; ++i)
    if (word.get(i) != name_.get(i)) return 0;
  return n;
}

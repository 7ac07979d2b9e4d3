#include "model/job/HxVariable.h"

#include <ostream>

namespace {

struct ClassWord {
  char const* word;
  int code;
};

// In the order a word is looked up.
constexpr ClassWord kClasses[] = {
    {"host", HxVariable::kHost}, {"scoped", HxVariable::kScoped},
    {"global", HxVariable::kGlobal}, {"job", HxVariable::kJob}};

// The position of the first c at or after from, or the length.
int find_from(HxString const& text, int from, char c) {
  while (from < text.length() && text.get(from) != c) ++from;
  return from;
}

HxString slice(HxString const& text, int from, int to) {
  return to > from ? HxString(text.value() + from, to - from) : HxString();
}

}  // namespace

HxString HxVariable::clsstring() const {
  for (auto const& c : kClasses)
    if (c.code == cls_) return HxString(c.word);
  return HxString("unknown");
}

void HxVariable::clsstring(HxString const& word) {
  cls_ = 0;
  for (auto const& c : kClasses) {
    if (word == HxString(c.word)) {
      cls_ = c.code;
      return;
    }
  }
}

HxString HxVariable::fullname() const {
  HxString out;
  if (cls_ != kGlobal) {
    out += pid_;
    out += '-';
  }
  out += clsstring();
  out += '.';
  out += name_;
  return out;
}

void HxVariable::fullname(HxString const& text) {
  int const length = text.length();
  int lead = 0;
  while (lead < length && text.get(lead) != '-' && text.get(lead) != '.') ++lead;
  HxString const leading = slice(text, 0, lead);
  HxString word;
  HxString rest;
  if (leading.isinteger()) {
    pid_ = leading.integervalue();
    // The class word runs to the next "."; a "-" inside it belongs to it.
    int const from = lead < length ? lead + 1 : length;
    int const dot = find_from(text, from, '.');
    word = slice(text, from, dot);
    rest = slice(text, dot + 1, length);
  } else {
    word = leading;
    rest = slice(text, lead + 1, length);
  }
  clsstring(word);
  name_ = rest;
}

std::ostream& operator<<(std::ostream& out, HxVariable const& v) { return out << v.value(); }

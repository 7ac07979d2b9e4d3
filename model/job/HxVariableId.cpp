#include "model/job/HxVariableId.h"

#include <ostream>

#include "core/HxDebug.h"
#include "model/job/HxIdText.h"

char const* HxVariableId::clsword(int cls) {
  switch (cls) {
    case kJob: return "job";
    case kGlobal: return "global";
    case kHost: return "host";
    case kScoped: return "scoped";
    default: return "unknown";
  }
}

int HxVariableId::clsnumber(HxString const& word) {
  if (word == HxString("host")) return kHost;
  if (word == HxString("scoped")) return kScoped;
  if (word == HxString("global")) return kGlobal;
  if (word == HxString("job")) return kJob;
  return 0;
}

HxString HxVariableId::value() const {
  HxString out(pid_);
  if (name_.length() > 0) {
    out += '_';
    out += name_;
  }
  return out;
}

void HxVariableId::value(HxString const& text) {
  pid_ = hx_id_text::int_from(text, 0);
  int underscore = hx_id_text::find(text, '_');
  if (underscore >= 0 && underscore + 1 < text.length())
    name_.append(text.value() + underscore + 1, text.length() - underscore - 1);
}

HxString HxVariableId::fullname() const {
  HxString out(pid_);
  out += '-';
  out += clsword(cls_);
  out += '.';
  out += name_;
  return out;
}

void HxVariableId::fullname(HxString const& text) {
  char const* p = text.value();
  int const n = text.length();
  int sep = 0;
  while (sep < n && p[sep] != '-' && p[sep] != '.') ++sep;
  bool digits = sep > 0;
  for (int i = 0; i < sep && digits; ++i) digits = p[i] >= '0' && p[i] <= '9';
  HxString word, name;
  if (digits) {
    pid_ = hx_id_text::int_from(text, 0);
    int start = sep + 1;
    int dot = start;
    while (dot < n && p[dot] != '.') ++dot;
    if (start < n) word = HxString(p + start, (dot < n ? dot : n) - start);
    if (dot + 1 < n) name = HxString(p + dot + 1, n - dot - 1);
  } else {
    word = HxString(p, sep);
    if (sep + 1 < n) name = HxString(p + sep + 1, n - sep - 1);
  }
  cls_ = clsnumber(word);
  name_ = name;
}

std::ostream& operator<<(std::ostream& out, HxVariableId const& id) { return out << id.value(); }

HxDebug& operator<<(HxDebug& out, HxVariableId const& id) { return out << id.value(); }

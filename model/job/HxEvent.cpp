#include "model/job/HxEvent.h"

#include <climits>
#include <cstdlib>

namespace {

struct CategoryWord {
  char const* word;
  int code;
  int bit;
};

// The words in the order a word is looked up.
constexpr CategoryWord kCategories[] = {
    {"subjob", HxEvent::kSubjob, 2},         {"work", HxEvent::kWork, 4},
    {"job", HxEvent::kJob, 1},               {"client", HxEvent::kClient, 64},
    {"time", HxEvent::kTime, 128},           {"variable", HxEvent::kVariable, 32},
    {"repeat", HxEvent::kRepeat, 256},       {"global", HxEvent::kGlobal, 1024},
    {"globaltime", HxEvent::kGlobalTime, 2048}, {"globalrepeat", HxEvent::kGlobalRepeat, 4096},
};

CategoryWord const* by_code(int code) {
  for (auto const& c : kCategories)
    if (c.code == code) return &c;
  return nullptr;
}

int code_of(HxString const& word) {
  for (auto const& c : kCategories)
    if (word == HxString(c.word)) return c.code;
  return HxEvent::kUnknown;
}

// The "-"-separated fields of a full name, found once. A field beyond the
// end of the text is empty.
class Fields {
 public:
  explicit Fields(HxString const& text) : text_(text) {
    int const length = text.length();
    int at = 0;
    for (int i = 0; i < kCount; ++i) {
      int end = at;
      while (end < length && text.get(end) != '-') ++end;
      begin_[i] = at;
      end_[i] = end;
      at = end < length ? end + 1 : length;
    }
  }
  // Field n, counted from 1.
  HxString get(int n) const { return HxString(text_.value() + begin_[n - 1], end_[n - 1] - begin_[n - 1]); }
  // Everything after the "-" that ends field n; empty when field n ends the text.
  HxString rest(int n) const {
    int from = end_[n - 1] + 1;
    return from < text_.length() ? HxString(text_.value() + from, text_.length() - from) : HxString();
  }

 private:
  static constexpr int kCount = 5;
  HxString const& text_;
  int begin_[kCount] = {};
  int end_[kCount] = {};
};

// A number field of an event name. Past the range of an int it stays at
// the nearest end instead of wrapping: a wrapped value would print with a
// '-', which the name then reads as a field separator.
int field_int(HxString const& text) {
  if (text.length() == 0) return 0;
  long long v = std::strtoll(text.value(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

}  // namespace

HxString HxEvent::fullname() const {
  HxString out(name_);
  out += '-';
  switch (category_) {
    case kJob:
      out += "job-";
      out += label_;
      break;
    case kSubjob:
      out += "subjob-";
      out += label_;
      out += '-';
      out += subidstring();
      break;
    case kWork:
      out += "work-";
      out += label_;
      out += '-';
      out += textid_;
      break;
    case kVariable:
      out += "variable-";
      out += label_;
      out += '-';
      out += textid_;
      break;
    case kClient:
      out += "client-";
      out += label_;
      break;
    case kTime:
      out += "time-";
      out += label_;
      out += '-';
      out += start_;
      break;
    case kRepeat:
      out += "repeat-";
      out += label_;
      out += '-';
      out += start_;
      out += '-';
      out += interval_;
      break;
    case kHost:
      out += "host-";
      out += label_;
      out += '-';
      out += textid_;
      break;
    case kGlobal:
      out += "global";
      break;
    case kGlobalTime:
      out += "globaltime-";
      out += start_;
      break;
    case kGlobalRepeat:
      out += "globalrepeat-";
      out += start_;
      out += '-';
      out += interval_;
      break;
    default:
      break;
  }
  return out;
}

void HxEvent::fullname(HxString const& text) {
  Fields const f(text);
  name_ = f.get(1);
  categorystring(f.get(2));
  switch (category_) {
    case kJob:
    case kClient:
      label_ = f.get(3);
      break;
    case kSubjob:
      label_ = f.get(3);
      subidstring(f.get(4));
      break;
    case kWork:
      label_ = f.get(3);
      textid_ = f.rest(3);
      break;
    case kVariable:
      label_ = f.get(3);
      textid_ = f.get(4);
      break;
    case kTime:
      label_ = f.get(3);
      start_ = field_int(f.get(4));
      break;
    case kRepeat:
      label_ = f.get(3);
      start_ = field_int(f.get(4));
      interval_ = field_int(f.get(5));
      break;
    case kGlobalTime:
      start_ = field_int(f.get(3));
      break;
    case kGlobalRepeat:
      start_ = field_int(f.get(3));
      interval_ = field_int(f.get(4));
      break;
    default:
      break;
  }
}

HxString HxEvent::effectivename() const {
  HxString out(name_);
  out += '-';
  switch (category_) {
    case kJob:
      out += "job-";
      out += jobid_;
      break;
    case kSubjob:
      out += "subjob-";
      out += jobid_;
      out += '-';
      out += subidstring();
      break;
    case kWork:
      out += "work-";
      out += jobid_;
      out += '-';
      out += textid_;
      break;
    case kClient:
      out += "client-";
      out += jobid_;
      break;
    default:
      break;
  }
  return out;
}

HxString HxEvent::categorystring() const {
  CategoryWord const* c = by_code(category_);
  return HxString(c != nullptr ? c->word : "unknown");
}

void HxEvent::categorystring(HxString const& word) { category_ = code_of(word); }

int HxEvent::categorybit() const {
  CategoryWord const* c = by_code(category_);
  return c != nullptr ? c->bit : 0;
}

HxString HxEvent::subidstring() const { return subid_ == -2 ? HxString("*") : HxString(subid_); }

void HxEvent::subidstring(HxString const& text) {
  subid_ = (text.length() == 0 || text == HxString("*")) ? -2 : field_int(text);
}

bool HxEvent::isvalid(HxString const& text) { return code_of(Fields(text).get(2)) != kUnknown; }

int HxEvent::sid(int n) const { return hx_owner_sid(pid_, n); }

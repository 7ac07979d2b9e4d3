#include "model/farm/HxProperty.h"

#include <memory>
#include <ostream>

#include "core/HxAtLoad.h"
#include "expr/HxExpression.h"

namespace {

bool is_blank(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

constexpr char kHostWord[] = "host";
constexpr char kGlobalWord[] = "global";

// True when a bare value would not read back as itself: a special character
// would split the item or cut the token, and a leading kind word would turn
// it into a value object.
bool needs_escape(HxString const& v) {
  if (hx_item_special(v)) return true;
  char const* p = v.value();
  int n = v.length();
  int i = 0;
  while (i < n && is_blank(p[i])) ++i;
  int start = i;
  while (i < n && !is_blank(p[i])) ++i;
  if (i == start) return false;
  std::unique_ptr<HxValue> kind(parsevalue(HxString(p + start, i - start)));
  return kind != nullptr;
}

}  // namespace

HxString hx_property_quote(HxString const& value) {
  if (needs_escape(value) || value.hasspace()) return hx_item_quoted(value);
  return value;
}

HxProperty::HxProperty(HxString const& text) { fullname(text); }

HxProperty::HxProperty(int cls, HxString const& name, HxString const& value)
    : cls_(cls), name_(name), value_(value) {}

HxProperty::HxProperty(HxProperty const& other)
    : HxRecord<HxProperty>(), cls_(other.cls_), name_(other.name_), value_(other.value_) {}

HxProperty::~HxProperty() { delete object_; }

void HxProperty::copy(HxProperty const& other) {
  if (&other == this) return;
  cls_ = other.cls_;
  name_ = other.name_;
  value_ = other.value_;
}

HxProperty& HxProperty::operator=(HxProperty const& other) {
  copy(other);
  return *this;
}

void HxProperty::copy(HxString const& value) { value_ = value; }

HxProperty& HxProperty::operator=(HxString const& value) {
  copy(value);
  return *this;
}

void HxProperty::value(HxValue* object) {
  if (object != object_) {
    delete object_;
    object_ = object;
  }
  HxStringHash none;
  refresh(none);
}

HxString HxProperty::clsstring() const {
  switch (cls_) {
    case 2: return HxString("host");
    case 3: return HxString("global");
    default: return HxString("unknown");
  }
}

void HxProperty::clsstring(HxString const& word) {
  HxString const& host = HxKeptText<kHostWord>::get();
  HxString const& global = HxKeptText<kGlobalWord>::get();
  cls_ = word == host ? 2 : word == global ? 3 : 0;
}

HxString HxProperty::resname() const {
  HxString out = clsstring();
  out += '.';
  out += name_;
  return out;
}

void HxProperty::resname(HxString const& text) {
  HxString word, rest;
  HxExpression::splitperiod(text, word, rest);
  clsstring(word);
  name_ = rest;
}

HxString HxProperty::fullname() const {
  if (object_ == nullptr) return simplename();
  HxString out = resname();
  out += '=';
  hx_append_value_object(out, *object_);
  return out;
}

HxString HxProperty::simplename() const {
  HxString out = resname();
  out += '=';
  out += hx_property_quote(value_);
  return out;
}

void HxProperty::fullname(HxString const& text) {
  HxString before, after;
  if (!HxExpression::splitequal(text, before, after)) return;
  resname(before);
  if (HxValue* object = hx_item_value_object(after)) {
    value(object);
    return;
  }
  HxStringList tokens;
  HxExpression::valuetokenize(after, tokens);
  if (tokens.length() > 0 && (cls_ == 2 || cls_ == 3)) value_ = *tokens.get(0);
}

bool HxProperty::refresh(HxStringHash& stats) {
  if (object_ == nullptr) return false;
  object_->refresh(stats);
  if (object_->value() == value_) return false;
  value_ = object_->value();
  return true;
}

std::ostream& operator<<(std::ostream& out, HxProperty const& p) { return out << p.fullname(); }

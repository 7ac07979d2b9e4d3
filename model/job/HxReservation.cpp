#include "model/job/HxReservation.h"

#include <cstdio>

#include "expr/HxExpression.h"

namespace {

constexpr char const* kClassWords[] = {"unlimited", "host",          "global",      "scoped",
                                       "license",   "scopedlicense", "global_host", "license_host"};

}  // namespace

char const* HxReservation::clsword(int cls) {
  return (cls >= kUnlimited && cls <= kLicenseHost) ? kClassWords[cls - 1] : "unknown";
}

int HxReservation::clsnumber(HxString const& word) {
  for (int i = 0; i < 8; ++i)
    if (word == HxString(kClassWords[i])) return i + 1;
  return 0;
}

HxString HxReservation::resname() const {
  HxString out(clsword(cls_));
  out += '.';
  out += name_;
  return out;
}

void HxReservation::resname(HxString const& text) {
  HxString word, name;
  HxExpression::splitperiod(text, word, name);
  cls_ = clsnumber(word);
  name_ = name;
}

HxString HxReservation::fullname() const {
  HxString out = resname();
  if (cls_ == kUnlimited) return out;
  if (cls_ < kUnlimited || cls_ > kLicenseHost) {
    out += "=unknown";
    return out;
  }
  char const* sign = greediness_ == kGreedy ? "+" : greediness_ == kAll ? "*" : greediness_ == kGreedyMinus ? "-" : "";
  // Without a sign the maximum is set off by "/": count and maximum written
  // side by side would read back as one number.
  if (maximum_ > 0 && sign[0] == '\0') sign = "/";
  char buf[48];
  int n = maximum_ > 0 ? std::snprintf(buf, sizeof buf, "=%d%s%d", count_, sign, maximum_)
                       : std::snprintf(buf, sizeof buf, "=%d%s", count_, sign);
  out.append(buf, n);
  return out;
}

void HxReservation::fullname(HxString const& text) {
  HxStringList tokens;
  HxExpression::tokenize(text, tokens);
  int const n = tokens.length();
  if (n < 1) return;
  resname(*tokens.get(0));
  // The second token (normally "=") is not examined.
  if (n < 3) return;
  HxString const& third = *tokens.get(2);
  if (isglobal()) {
    count_ = third.integervalue();
    return;
  }
  if (cls_ != kHost) return;
  maximum_ = 0;
  greediness_ = kExact;
  if (third == HxString("all")) {
    count_ = 1;
    greediness_ = kAll;
    return;
  }
  count_ = third.integervalue();
  if (n >= 4) {
    HxString const& sign = *tokens.get(3);
    if (sign == HxString("+"))
      greediness_ = kGreedy;
    else if (sign == HxString("*"))
      greediness_ = kAll;
    else if (sign == HxString("-"))
      greediness_ = kGreedyMinus;
  }
  if (n >= 5) {
    int m = tokens.get(4)->integervalue();
    if (m > 0) maximum_ = m;
  }
}

// ---- containers ----

HxString HxReservationList::convert() const {
  HxString out("");
  for (int i = 0; i < length(); ++i) {
    if (i > 0) out += ',';
    out += get(i)->fullname();
  }
  return out;
}

void HxReservationList::revert(HxString const& text) {
  clear();
  HxStringList items;
  HxExpression::split(text, items);
  for (int i = 0; i < items.length(); ++i) {
    auto* r = new HxReservation();
    r->fullname(*items.get(i));
    append(r);
  }
}

HxString HxReservationHash::convert() const {
  HxString out("");
  bool first = true;
  for (int s = 0; s < size(); ++s) {
    if (_key(s) == nullptr || _value(s) == nullptr) continue;
    if (!first) out += ',';
    out += _value(s)->fullname();
    first = false;
  }
  return out;
}

void HxReservationHash::revert(HxString const& text) {
  release_all_();
  HxStringList items;
  HxExpression::split(text, items);
  for (int i = 0; i < items.length(); ++i) {
    auto* r = new HxReservation();
    r->fullname(*items.get(i));
    set(r, r->resname());
  }
}

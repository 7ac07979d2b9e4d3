#include "model/farm/HxResource.h"

#include <ostream>

#include "core/HxAtLoad.h"
#include "expr/HxExpression.h"

namespace {

bool is_blank(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

constexpr char kMinus[] = "-";
constexpr char kSlash[] = "/";

// The tokenizer makes "-" a token of its own. A "-" that opens the value or
// follows "/" is the sign of the number after it, so that the negative used
// count of an overbooked resource reads back as written.
void join_signs(HxStringList& tokens, HxStringList& out) {
  HxString const& minus = HxKeptText<kMinus>::get();
  HxString const& slash = HxKeptText<kSlash>::get();
  for (int i = 0; i < tokens.length(); ++i) {
    HxString const& t = *tokens.get(i);
    bool sign_position = out.length() == 0 || *out.get(out.length() - 1) == slash;
    if (t == minus && sign_position && i + 1 < tokens.length()) {
      out.append(new HxString(t + *tokens.get(i + 1)));
      ++i;
    } else {
      out.append(new HxString(t));
    }
  }
}

}  // namespace

HxResource::HxResource(int cls, HxString const& name, int total, int used)
    : name_(name), total_(total), used_(used), cls_(cls) {}

HxResource::HxResource(HxString const& text) { fullname(text); }

HxResource::HxResource(HxResource const& other)
    : HxRecord<HxResource>(), name_(other.name_), total_(other.total_), used_(other.used_), cls_(other.cls_) {}

HxResource::~HxResource() { delete object_; }

void HxResource::copy(HxResource const& other) {
  if (&other == this) return;
  name_ = other.name_;
  total_ = other.total_;
  used_ = other.used_;
  cls_ = other.cls_;
}

HxResource& HxResource::operator=(HxResource const& other) {
  copy(other);
  return *this;
}

void HxResource::total(HxValue* object) {
  if (object == object_) return;
  delete object_;
  object_ = object;
}

int HxResource::avail() const { return hx_clamped_int(static_cast<long long>(total_) - used_); }

HxString HxResource::clsstring() const { return HxString(HxReservation::clsword(cls_)); }

void HxResource::clsstring(HxString const& word) { cls_ = HxReservation::clsnumber(word); }

HxString HxResource::resname() const {
  HxString out = clsstring();
  out += '.';
  out += name_;
  return out;
}

void HxResource::resname(HxString const& text) {
  HxString word, rest;
  HxExpression::splitperiod(text, word, rest);
  clsstring(word);
  name_ = rest;
}

HxString HxResource::fullname() const {
  if (!limited_() || object_ == nullptr) return simplename();
  HxString out = resname();
  out += '=';
  hx_append_value_object(out, *object_);
  return out;
}

HxString HxResource::simplename() const {
  if (cls_ == 1) return resname();
  if (!limited_()) return HxString("");
  HxString out = resname();
  out += '=';
  out += used_;
  out += '/';
  out += total_;
  return out;
}

void HxResource::fullname(HxString const& text) {
  HxString before, after;
  if (!HxExpression::splitequal(text, before, after)) {
    // An unlimited resource is written without "=": read that form back too,
    // so that such a resource survives a revert of its own text.
    HxString compact;
    for (int i = 0; i < text.length(); ++i)
      if (!is_blank(text.get(i))) compact += text.get(i);
    HxResource probe;
    probe.resname(compact);
    if (probe.cls_ == 1) {
      cls_ = 1;
      name_ = probe.name_;
    }
    return;
  }
  resname(before);
  if (HxValue* object = hx_item_value_object(after)) {
    total(object);
    return;
  }
  if (!limited_()) return;
  HxStringList raw, joined;
  HxExpression::tokenize(after, raw);
  bool signed_value = after.haschar('-');
  if (signed_value) join_signs(raw, joined);
  HxStringList const& tokens = signed_value ? joined : raw;
  if (tokens.length() == 1) {
    used_ = 0;
    total_ = hx_count_of(*tokens.get(0));
  } else if (tokens.length() >= 3) {
    used_ = hx_count_of(*tokens.get(0));
    total_ = hx_count_of(*tokens.get(2));
  }
}

bool HxResource::refresh(HxStringHash& stats) {
  if (object_ == nullptr) return false;
  object_->refresh(stats);
  int fresh = hx_count_of(object_->value());
  if (fresh == total_) return false;
  total_ = fresh;
  return true;
}

bool HxResource::works(HxReservation const& r) const {
  if (r.cls() != cls_) return false;
  if (cls_ == HxReservation::kUnlimited) return true;
  return r.count() <= total_;
}

bool HxResource::check(HxReservation const& r) const {
  if (r.cls() != cls_) return false;
  if (cls_ == HxReservation::kUnlimited) return true;
  if (r.greediness() == HxReservation::kAll) return used_ == 0 && total_ >= r.count();
  return r.count() <= static_cast<long long>(total_) - used_;
}

int HxResource::accept(HxReservation const& r) {
  // A greedy booking takes the free units; an overbooked resource has none,
  // and booking never lowers the count of units in use.
  long long free = static_cast<long long>(total_) - used_;
  if (free < 0) free = 0;
  if (r.maximum() >= 1) {
    used_ = hx_clamped_int(used_ + (free < r.maximum() ? free : r.maximum()));
  } else if (r.greediness() == HxReservation::kExact) {
    used_ = hx_clamped_int(static_cast<long long>(used_) + r.count());
  } else {
    used_ = hx_clamped_int(used_ + free);
  }
  return 1;
}

int HxResource::release(HxReservation const& r) {
  used_ = hx_clamped_int(static_cast<long long>(used_) - r.count());
  return 1;
}

std::ostream& operator<<(std::ostream& out, HxResource const& r) { return out << r.fullname(); }

void HxResourceHash::reset() {
  for (int s = 0; s < size(); ++s)
    if (_key(s) != nullptr && _value(s) != nullptr) _value(s)->clear();
}

namespace {

// Walks the reservations of a text with their resources (null when missing);
// stops when fn returns false, and returns whether it never did.
template <class Fn>
bool each_reservation(HxResourceHash const& hash, HxString const& text, Fn fn) {
  HxReservationList list;
  list.revert(text);
  for (int i = 0; i < list.length(); ++i) {
    HxReservation const& r = *list.get(i);
    if (!fn(r, hash.get(r.resname()))) return false;
  }
  return true;
}

}  // namespace

bool HxResourceHash::check(HxString const& reservations) const {
  return each_reservation(*this, reservations,
                          [](HxReservation const& r, HxResource* res) { return res != nullptr && res->check(r); });
}

bool HxResourceHash::works(HxString const& reservations) const {
  return each_reservation(*this, reservations,
                          [](HxReservation const& r, HxResource* res) { return res != nullptr && res->works(r); });
}

void HxResourceHash::accept(HxString const& reservations) {
  each_reservation(*this, reservations, [](HxReservation const& r, HxResource* res) {
    if (res != nullptr) res->accept(r);
    return true;
  });
}

void HxResourceHash::release(HxString const& reservations) {
  each_reservation(*this, reservations, [](HxReservation const& r, HxResource* res) {
    if (res != nullptr) res->release(r);
    return true;
  });
}

#include "model/job/HxStatus.h"

#include <cstdint>
#include <cstdio>
#include <ostream>

#include "core/HxDebug.h"

namespace {

struct StatusName {
  int code;
  char const* name;
};

// The order in which a name is looked up.
constexpr StatusName kParseOrder[] = {
    {HxStatus::kRunning, "running"},     {HxStatus::kBlocked, "blocked"},   {HxStatus::kComplete, "complete"},
    {HxStatus::kRegistering, "registering"}, {HxStatus::kPending, "pending"}, {HxStatus::kSuspended, "suspended"},
    {HxStatus::kFailed, "failed"},       {HxStatus::kKilled, "killed"},     {HxStatus::kDying, "dying"},
    {HxStatus::kExiting, "exiting"},     {HxStatus::kWaiting, "waiting"},   {HxStatus::kWarning, "warning"},
    {HxStatus::kNone, "none"},           {HxStatus::kBadlogin, "badlogin"}, {HxStatus::kSaved, "saved"},
    {HxStatus::kPaused, "paused"},
};

bool same(HxString const& s, char const* text) {
  int n = s.length();
  char const* p = s.value();
  for (int i = 0; i < n; ++i)
    if (text[i] != p[i] || text[i] == '\0') return false;
  return text[n] == '\0';
}

// 32-bit wrap-around addition: the counters come from the wire.
int wrap_add(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

}  // namespace

char const* HxStatus::name(int code) {
  for (auto const& e : kParseOrder)
    if (e.code == code) return e.name;
  return "none";
}

void HxStatus::value(HxString const& name) {
  for (auto const& e : kParseOrder) {
    if (same(name, e.name)) {
      value_ = e.code;
      return;
    }
  }
  value_ = kNone;
}

bool HxStatus::equals(HxString const& word) const {
  if (same(word, name(value_))) return true;
  if (same(word, "done")) return done();
  if (same(word, "active")) return active();
  if (same(word, "assigned")) return assigned();
  return false;
}

std::ostream& operator<<(std::ostream& out, HxStatus const& s) { return out << HxStatus::name(s.integervalue()); }

HxDebug& operator<<(HxDebug& out, HxStatus const& s) { return out << HxStatus::name(s.integervalue()); }

// ---- HxStatusTally ----

void HxStatusTally::clear() { *this = HxStatusTally(); }

int* HxStatusTally::counter_(int status) {
  switch (status) {
    case HxStatus::kComplete: return &complete_;
    case HxStatus::kWarning: return &warning_;
    case HxStatus::kFailed: return &failed_;
    case HxStatus::kKilled: return &killed_;
    case HxStatus::kBlocked: return &blocked_;
    case HxStatus::kSuspended: return &suspended_;
    case HxStatus::kPending: return &pending_;
    case HxStatus::kWaiting: return &waiting_;
    case HxStatus::kBadlogin: return &badlogin_;
    case HxStatus::kRunning: return &running_;
    default: return &unknown_;
  }
}

void HxStatusTally::add(int status, int n) {
  int* c = counter_(status);
  *c = wrap_add(*c, n);
}

int HxStatusTally::get(int status) const { return *const_cast<HxStatusTally*>(this)->counter_(status); }

void HxStatusTally::add(HxStatusTally const& o) {
  complete_ = wrap_add(complete_, o.complete_);
  failed_ = wrap_add(failed_, o.failed_);
  killed_ = wrap_add(killed_, o.killed_);
  blocked_ = wrap_add(blocked_, o.blocked_);
  waiting_ = wrap_add(waiting_, o.waiting_);
  suspended_ = wrap_add(suspended_, o.suspended_);
  pending_ = wrap_add(pending_, o.pending_);
  running_ = wrap_add(running_, o.running_);
  unknown_ = wrap_add(unknown_, o.unknown_);
  warning_ = wrap_add(warning_, o.warning_);
  badlogin_ = wrap_add(badlogin_, o.badlogin_);
}

int HxStatusTally::done() const { return wrap_add(wrap_add(complete_, failed_), wrap_add(killed_, warning_)); }

int HxStatusTally::active() const {
  return wrap_add(wrap_add(wrap_add(running_, blocked_), wrap_add(waiting_, suspended_)), pending_);
}

int HxStatusTally::assigned() const { return wrap_add(wrap_add(running_, waiting_), suspended_); }

int HxStatusTally::total() const {
  return wrap_add(wrap_add(wrap_add(active(), done()), unknown_), badlogin_);
}

HxString HxStatusTally::convert() const {
  int const values[] = {running_, blocked_, complete_, pending_,  suspended_, failed_,
                        killed_,  waiting_, unknown_,  warning_, badlogin_};
  char buf[11 * 12];
  int n = 0;
  for (int v : values) n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), n ? " %d" : "%d", v);
  return HxString(buf, n);
}

void HxStatusTally::revert(HxString const& text) {
  int* const counters[] = {&running_, &blocked_, &complete_, &pending_, &suspended_, &failed_,
                           &killed_,  &waiting_, &unknown_,  &warning_, &badlogin_};
  char const* p = text.value();
  char const* const end = p + text.length();
  for (int* c : counters) {
    long long v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
      if (v <= 2147483647) v = v * 10 + (*p - '0');
    *c = v > 2147483647 ? 2147483647 : static_cast<int>(v);
    while (p < end && *p == ' ') ++p;
  }
}

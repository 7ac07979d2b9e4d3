#pragma once

#include <iosfwd>

#include "core/HxString.h"
#include "core/pack/HxRecord.h"

class HxDebug;

// The status code of a job, subjob or work item. Any integer can be stored
// and sent; only the codes below have names. Bit 0x100 marks an active code.
class HxStatus : public HxRecord<HxStatus> {
 public:
  enum : int {
    kNone = 0,
    kSaved = 5,
    kComplete = 16,
    kWarning = 21,
    kFailed = 32,
    kKilled = 48,
    kDying = 261,
    kExiting = 262,
    kRegistering = 265,
    kBlocked = 272,
    kPaused = 293,
    kSuspended = 304,
    kPending = 320,
    kWaiting = 323,
    kBadlogin = 325,
    kRunning = 336,
    kActiveBit = 0x100,
  };

  HxStatus() = default;
  explicit HxStatus(int code) : value_(code) {}
  explicit HxStatus(HxString const& name) { value(name); }
  HxStatus(HxStatus const&) = default;
  HxStatus& operator=(HxStatus const&) = default;
  HxStatus& operator=(HxString const& name) {
    value(name);
    return *this;
  }
  void copy(HxStatus const& other) { value_ = other.value_; }
  void copy(HxString const& name) { value(name); }

  int type() const override { return 2; }
  HxString typeXML() const override { return "status"; }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "value", &HxStatus::value_)); }

  // The name of the code; "none" for a code without one.
  HxString value() const { return HxString(name(value_)); }
  int integervalue() const { return value_; }
  void value(int code) { value_ = code; }
  // Sets the code of an exact, case-sensitive name; anything else sets 0.
  void value(HxString const& name);

  // The name of a code, "none" for a code without one (static text).
  static char const* name(int code);

  bool none() const { return value_ == kNone; }
  bool saved() const { return value_ == kSaved; }
  bool complete() const { return value_ == kComplete; }
  bool warning() const { return value_ == kWarning; }
  bool failed() const { return value_ == kFailed; }
  bool killed() const { return value_ == kKilled; }
  bool dying() const { return value_ == kDying; }
  bool exiting() const { return value_ == kExiting; }
  bool registering() const { return value_ == kRegistering; }
  bool blocked() const { return value_ == kBlocked; }
  bool paused() const { return value_ == kPaused; }
  bool suspended() const { return value_ == kSuspended; }
  bool pending() const { return value_ == kPending; }
  bool waiting() const { return value_ == kWaiting; }
  bool badlogin() const { return value_ == kBadlogin; }
  bool running() const { return value_ == kRunning; }
  bool active() const { return (value_ & kActiveBit) != 0; }
  bool done() const { return (value_ & kActiveBit) == 0; }
  // Running, waiting, suspended, dying or exiting: the instance holds a host.
  bool assigned() const {
    return value_ == kRunning || value_ == kWaiting || value_ == kSuspended || value_ == kDying || value_ == kExiting;
  }

  // Whether the word is the status's name, or "done", "active" or "assigned"
  // and the status is that.
  bool equals(HxString const& word) const;

 private:
  int value_ = 0;
};

std::ostream& operator<<(std::ostream& out, HxStatus const& s);
HxDebug& operator<<(HxDebug& out, HxStatus const& s);

// Counts of members by status. Sums and additions wrap around in 32 bits, so
// counters decoded from any input never overflow into undefined behaviour.
class HxStatusTally : public HxRecord<HxStatusTally> {
 public:
  HxStatusTally() = default;
  HxStatusTally(HxStatusTally const&) = default;
  HxStatusTally& operator=(HxStatusTally const&) = default;
  void copy(HxStatusTally const& other) { *this = other; }
  void clear();

  int type() const override { return 32; }
  HxString typeXML() const override { return "status_tally"; }
  // Wire order, which is also the order of the text form; tags begin at 0.
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(0, "running", &HxStatusTally::running_), hx_field(1, "blocked", &HxStatusTally::blocked_),
        hx_field(2, "complete", &HxStatusTally::complete_), hx_field(3, "pending", &HxStatusTally::pending_),
        hx_field(4, "suspended", &HxStatusTally::suspended_), hx_field(5, "failed", &HxStatusTally::failed_),
        hx_field(6, "killed", &HxStatusTally::killed_), hx_field(7, "waiting", &HxStatusTally::waiting_),
        hx_field(8, "unknown", &HxStatusTally::unknown_), hx_field(9, "warning", &HxStatusTally::warning_),
        hx_field(10, "badlogin", &HxStatusTally::badlogin_));
  }

  int complete() const { return complete_; }
  void complete(int n) { complete_ = n; }
  int failed() const { return failed_; }
  void failed(int n) { failed_ = n; }
  int killed() const { return killed_; }
  void killed(int n) { killed_ = n; }
  int blocked() const { return blocked_; }
  void blocked(int n) { blocked_ = n; }
  int waiting() const { return waiting_; }
  void waiting(int n) { waiting_ = n; }
  int suspended() const { return suspended_; }
  void suspended(int n) { suspended_ = n; }
  int pending() const { return pending_; }
  void pending(int n) { pending_ = n; }
  int running() const { return running_; }
  void running(int n) { running_ = n; }
  int unknown() const { return unknown_; }
  void unknown(int n) { unknown_ = n; }
  int warning() const { return warning_; }
  void warning(int n) { warning_ = n; }
  int badlogin() const { return badlogin_; }
  void badlogin(int n) { badlogin_ = n; }

  // The counter of a status code; codes without a counter of their own
  // (none, saved, dying, exiting, registering, paused, unnamed) count as unknown.
  void add(int status, int n);
  int get(int status) const;
  void add(HxStatusTally const& other);

  int done() const;      // complete + failed + killed + warning
  int active() const;    // running + blocked + waiting + suspended + pending
  int assigned() const;  // running + waiting + suspended
  int total() const;     // all eleven

  // "running blocked complete pending suspended failed killed waiting unknown
  // warning badlogin" as decimal numbers joined by one blank.
  HxString convert() const;
  // Reads that form: digits only (no sign), blanks between; the first other
  // character ends the reading and leaves every later counter 0. A number
  // beyond 2147483647 reads as 2147483647.
  void revert(HxString const& text);

 private:
  int* counter_(int status);

  int complete_ = 0;
  int failed_ = 0;
  int killed_ = 0;
  int blocked_ = 0;
  int waiting_ = 0;
  int suspended_ = 0;
  int pending_ = 0;
  int running_ = 0;
  int unknown_ = 0;
  int warning_ = 0;
  int badlogin_ = 0;
};

#pragma once

#include <iosfwd>
#include <tuple>

#include "core/HxAddress.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// The state code of a host or supervisor. Codes outside the table are kept
// and sent unchanged; their name is "none". Both record forms carry the
// number, never the name.
class HxState : public HxRecord<HxState> {
 public:
  enum { kNone = 0, kActive = 1, kPanic = 2, kRegistering = 3, kDown = 257 };

  HxState() = default;
  explicit HxState(int code) : value_(code) {}
  explicit HxState(HxString const& name) { value(name); }
  HxState(HxState const& other) : HxRecord<HxState>(), value_(other.value_) {}

  void copy(HxState const& other) { value_ = other.value_; }
  HxState& operator=(HxState const& other) {
    copy(other);
    return *this;
  }
  void copy(HxString const& name) { value(name); }
  HxState& operator=(HxString const& name) {
    value(name);
    return *this;
  }

  // "none", "active", "panic", "registering" or "down".
  HxString value() const;
  int integervalue() const { return value_; }
  void value(int code) { value_ = code; }
  // Exact, case-sensitive; any other name sets 0.
  void value(HxString const& name);

  bool active() const { return value_ == kActive; }
  bool registering() const { return value_ == kRegistering; }
  bool down() const { return value_ == kDown; }

  int type() const override { return 8; }
  HxString typeXML() const override { return HxString("state"); }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "value", &HxState::value_)); }

 private:
  int value_ = kNone;
};

std::ostream& operator<<(std::ostream& out, HxState const& s);

// One sample of a host's load, memory and swap figures.
class HxHostStats : public HxRecord<HxHostStats> {
 public:
  HxHostStats() = default;
  HxHostStats(HxHostStats const&) = default;
  HxHostStats& operator=(HxHostStats const&) = default;
  using HxRecord<HxHostStats>::copy;

  HxMacAddress const& macaddress() const { return macaddress_; }
  void macaddress(HxMacAddress const& m) { macaddress_ = m; }
  int user_load() const { return user_load_; }
  void user_load(int v) { user_load_ = v; }
  int system_load() const { return system_load_; }
  void system_load(int v) { system_load_ = v; }
  int user_memory() const { return user_memory_; }
  void user_memory(int v) { user_memory_ = v; }
  int system_memory() const { return system_memory_; }
  void system_memory(int v) { system_memory_ = v; }
  int user_swap() const { return user_swap_; }
  void user_swap(int v) { user_swap_ = v; }
  int system_swap() const { return system_swap_; }
  void system_swap(int v) { system_swap_ = v; }

  int type() const override { return 181; }
  HxString typeXML() const override { return HxString("host_stats"); }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "mac_address", &HxHostStats::macaddress_),
                           hx_field(2, "user_load", &HxHostStats::user_load_),
                           hx_field(3, "system_load", &HxHostStats::system_load_),
                           hx_field(4, "user_memory", &HxHostStats::user_memory_),
                           hx_field(5, "system_memory", &HxHostStats::system_memory_),
                           hx_field(6, "user_swap", &HxHostStats::user_swap_),
                           hx_field(7, "system_swap", &HxHostStats::system_swap_));
  }

 private:
  HxMacAddress macaddress_;
  int user_load_ = 0;
  int system_load_ = 0;
  int user_memory_ = 0;
  int system_memory_ = 0;
  int user_swap_ = 0;
  int system_swap_ = 0;
};

#pragma once

// Pins the clock to Sun Mar 3, 2024 9:05:07 UTC (time value 762753907) and
// the time zone to UTC for as long as the object lives.

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "core/HxTime.h"
#include "core/HxWorld.h"

namespace jobtest {

class PinnedClock : public HxWorld {
 public:
  static constexpr int kValue = 1709456707 - HX_TIME_EPOCH_OFFSET;
  PinnedClock() {
    char const* tz = std::getenv("TZ");
    had_ = tz != nullptr;
    if (had_) old_ = tz;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    hx_set_world(this);
    HxTime::_resetClock();
    HxTime::_setDiff(0);
  }
  ~PinnedClock() override {
    hx_set_world(nullptr);
    HxTime::_resetClock();
    if (had_)
      ::setenv("TZ", old_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  int64_t now() override { return 1709456707; }

 private:
  bool had_ = false;
  std::string old_;
};

}  // namespace jobtest

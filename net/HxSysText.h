#pragma once

#include <sys/time.h>

#include <cstring>
#include <type_traits>

#include "core/HxString.h"

// The system's text for an error number (thread-safe, whichever form of
// strerror_r the C library has).
inline HxString hx_sys_text(int err) {
  char buf[256] = {0};
  auto pick = [&buf](auto r) -> char const* {
    if constexpr (std::is_same_v<decltype(r), int>) {
      return r == 0 ? buf : "Unknown error";
    } else {
      return r;
    }
  };
  return HxString(pick(strerror_r(err, buf, sizeof buf)));
}

// A time-out in milliseconds as a time value, exactly.
inline timeval hx_ms_timeval(int ms) {
  timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return tv;
}

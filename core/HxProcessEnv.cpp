#include "core/HxProcessEnv.h"

std::mutex& hx_environ_lock() {
  static std::mutex* lock = new std::mutex();  // used until exit
  return *lock;
}

void hx_tz_ready() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::lock_guard<std::mutex> hold(hx_environ_lock());
    tzset();
  });
}

time_t hx_mktime(struct tm* t) {
  std::lock_guard<std::mutex> hold(hx_environ_lock());
  return mktime(t);
}

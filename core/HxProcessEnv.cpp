#include "core/HxProcessEnv.h"

#include <mutex>

std::shared_mutex& hx_environ_lock() {
  static std::shared_mutex* lock = new std::shared_mutex();  // used until exit
  return *lock;
}

void hx_tz_ready() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::shared_lock<std::shared_mutex> hold(hx_environ_lock());
    tzset();
  });
}

time_t hx_mktime(struct tm* t) {
  std::shared_lock<std::shared_mutex> hold(hx_environ_lock());
  return mktime(t);
}

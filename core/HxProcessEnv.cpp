#include "core/HxProcessEnv.h"

#include <mutex>

HxEnvLock::HxEnvLock() {
  pthread_rwlockattr_t attr;
  pthread_rwlockattr_init(&attr);
  pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  pthread_rwlock_init(&lock_, &attr);
  pthread_rwlockattr_destroy(&attr);
}

HxEnvLock& hx_environ_lock() {
  static HxEnvLock* lock = new HxEnvLock();  // used until exit
  return *lock;
}

void hx_tz_ready() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::shared_lock<HxEnvLock> hold(hx_environ_lock());
    tzset();
  });
}

time_t hx_mktime(struct tm* t) {
  std::shared_lock<HxEnvLock> hold(hx_environ_lock());
  return mktime(t);
}

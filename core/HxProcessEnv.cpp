#include "core/HxProcessEnv.h"

#include <mutex>

#include "core/HxAtLoad.h"
#include "core/HxProcessLocks.h"

namespace {

// What the calling thread holds of the environment's lock (there is one such
// lock in the process).
struct EnvHeld {
  unsigned shared;
  bool exclusive;
};
thread_local EnvHeld t_env_held;

}  // namespace

HxEnvLock::HxEnvLock() { init_(); }

void HxEnvLock::init_() {
  pthread_rwlockattr_t attr;
  pthread_rwlockattr_init(&attr);
  pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  pthread_rwlock_init(&lock_, &attr);
  pthread_rwlockattr_destroy(&attr);
}

void HxEnvLock::lock() {
  pthread_rwlock_wrlock(&lock_);
  t_env_held.exclusive = true;
  // Taken once every reader is gone, so a fork never waits for a reader.
  hx_process_lock(HxProcessLock::kEnvChange);
}

void HxEnvLock::unlock() {
  hx_process_unlock(HxProcessLock::kEnvChange);
  t_env_held.exclusive = false;
  pthread_rwlock_unlock(&lock_);
}

void HxEnvLock::lock_shared() {
  pthread_rwlock_rdlock(&lock_);
  ++t_env_held.shared;
}

void HxEnvLock::unlock_shared() {
  if (t_env_held.shared > 0) --t_env_held.shared;
  pthread_rwlock_unlock(&lock_);
}

void HxEnvLock::_remakeInChild() {
  // The old lock may count readers and writers that no longer exist; it is
  // left as it is, not destroyed, and a new one takes its place.
  init_();
  EnvHeld const& h = t_env_held;
  if (h.exclusive) pthread_rwlock_wrlock(&lock_);
  for (unsigned i = 0; i < h.shared; ++i) pthread_rwlock_rdlock(&lock_);
}

HxEnvLock& hx_environ_lock() {
  static HxEnvLock* lock = new HxEnvLock();  // used until exit
  return *lock;
}

namespace {
HxAtLoad const g_env_lock_at_load(hx_environ_lock);
}  // namespace

void hx_tz_ready() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::shared_lock<HxEnvLock> hold(hx_environ_lock());
    HxProcessLockHold converting(HxProcessLock::kLocalTime);
    tzset();
  });
}

time_t hx_mktime(struct tm* t) {
  std::shared_lock<HxEnvLock> hold(hx_environ_lock());
  HxProcessLockHold converting(HxProcessLock::kLocalTime);
  return mktime(t);
}

bool hx_localtime(time_t t, struct tm* out) {
  hx_tz_ready();
  HxProcessLockHold converting(HxProcessLock::kLocalTime);
  return localtime_r(&t, out) != nullptr;
}

time_t hx_timegm(struct tm* t) {
  hx_tz_ready();
  HxProcessLockHold converting(HxProcessLock::kLocalTime);
  return timegm(t);
}

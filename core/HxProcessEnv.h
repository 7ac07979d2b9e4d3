#pragma once

#include <pthread.h>

#include <ctime>
#include <shared_mutex>

// The live process environment is one table that setenv and putenv may move
// and free while another thread walks it. Every reader of it in the library
// (capturing and looking up variables, starting a child, the C library's
// time-zone look-ups, which read "TZ", and host name look-ups, which read
// the resolver's variables) holds this lock shared; setting a variable holds
// it alone.
//
// Readers come often (every local time parse), writers rarely: a waiting
// writer goes before readers that arrive after it, so a steady stream of
// readers cannot hold a setEnv back for good.
class HxEnvLock {
 public:
  HxEnvLock();
  ~HxEnvLock() { pthread_rwlock_destroy(&lock_); }
  HxEnvLock(HxEnvLock const&) = delete;
  HxEnvLock& operator=(HxEnvLock const&) = delete;
  void lock() { pthread_rwlock_wrlock(&lock_); }
  void unlock() { pthread_rwlock_unlock(&lock_); }
  void lock_shared() { pthread_rwlock_rdlock(&lock_); }
  void unlock_shared() { pthread_rwlock_unlock(&lock_); }

 private:
  pthread_rwlock_t lock_;
};

HxEnvLock& hx_environ_lock();

// localtime_r and gmtime_r read "TZ" only the first time the process converts
// a time; that first reading is done here, under the lock.
void hx_tz_ready();

// mktime reads "TZ" again on every call: it runs under the lock.
time_t hx_mktime(struct tm* t);

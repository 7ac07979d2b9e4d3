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
//
// A host name look-up can wait on the network under it, so a fork does not
// wait for it: the child makes it afresh instead, held as the forking thread
// held it. The exclusive hold is for changing the table only: it also holds
// the process lock kEnvChange, which a fork waits for (core/HxProcessLocks.h).
class HxEnvLock {
 public:
  HxEnvLock();
  ~HxEnvLock() { pthread_rwlock_destroy(&lock_); }
  HxEnvLock(HxEnvLock const&) = delete;
  HxEnvLock& operator=(HxEnvLock const&) = delete;
  void lock();
  void unlock();
  void lock_shared();
  void unlock_shared();

  // In the child of a fork, whose other threads are gone: a fresh lock,
  // holding what this thread held.
  void _remakeInChild();

 private:
  void init_();
  pthread_rwlock_t lock_;
};

HxEnvLock& hx_environ_lock();

// localtime_r and gmtime_r read "TZ" only the first time the process converts
// a time; that first reading is done here, under the lock.
void hx_tz_ready();

// The C library's time conversions, each under the process lock kLocalTime
// (core/HxProcessLocks.h): they hold the C library's own time-zone lock,
// which a fork's child inherits as it was.
// mktime reads "TZ" again on every call: it also runs under the lock above.
time_t hx_mktime(struct tm* t);
bool hx_localtime(time_t t, struct tm* out);
time_t hx_timegm(struct tm* t);

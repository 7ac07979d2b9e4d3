#pragma once

#include <cstdint>

// Every lock the library keeps for the whole process lives here, so that one
// place knows them all: a program may fork (Python's multiprocessing does)
// while other threads are inside library calls, and the child must find each
// lock usable. Before a fork the forking thread takes every lock in the order
// below, so no other thread is inside any of their sections at that moment,
// and releases them after it, in the parent and in the child (the child's one
// thread is the one that took them).
//
// The order is the order of nesting: a thread that holds one of these locks
// takes only locks that come later, never an earlier one (checked in builds
// with assertions). A section under any of them is short: no network wait,
// no sleep, no call into Python, or a fork would wait for it.
//
// The environment's lock (core/HxProcessEnv.h) is held across host name look
// ups, which can wait on the network: it is not taken before a fork but made
// afresh in the child. It nests inside kDebugLog and outside kLocalTime and
// kEnvChange, so a thread that holds it never forks. Its exclusive
// holder changes the table under kEnvChange as well: the C library's own lock
// of the table, which a child inherits as it was, is then free at a fork.
// The C library's time conversions hold its time-zone lock in the same way:
// the library calls them under kLocalTime (core/HxProcessEnv.h).
// (Locks inside the C library that this one cannot cover stay as the C
// library leaves them: its resolver's, for one, so a child forked during
// another thread's host name look-up may hang in its own, and so may a child
// forked during the process's first user look-up, while the C library loads
// its name service.)
enum class HxProcessLock : int {
  kDebugLog,      // the debug log, held across a whole message
  kMacCache,      // the MAC addresses kept for the process
  kUserNames,     // the user names found so far
  kClock,         // the clock's correction
  kInstallDir,    // the installation directory of the defaults
  kClientConfig,  // the configuration snapshot
  kApiState,      // the API's error, settings and worker state
  kRandom,        // the process's random generator
  kLocalTime,     // the C library's time-zone conversions (see below)
  kEnvChange,     // a change of the environment table (see below)
  kCount
};

// Takes the lock for the calling thread, waiting while another thread holds
// it. A thread may take a lock it holds again; it is released when every
// take has its release.
void hx_process_lock(HxProcessLock which);
void hx_process_unlock(HxProcessLock which);
// Whether the calling thread holds the lock.
bool hx_process_lock_held(HxProcessLock which);

// Holds one lock for a scope.
class HxProcessLockHold {
 public:
  explicit HxProcessLockHold(HxProcessLock which) : which_(which) { hx_process_lock(which_); }
  ~HxProcessLockHold() { hx_process_unlock(which_); }
  HxProcessLockHold(HxProcessLockHold const&) = delete;
  HxProcessLockHold& operator=(HxProcessLockHold const&) = delete;

 private:
  HxProcessLock which_;
};

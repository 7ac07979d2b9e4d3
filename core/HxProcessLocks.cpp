#include "core/HxProcessLocks.h"

#include <pthread.h>

#include <cassert>
#include <cstdint>
#include <mutex>
#include <type_traits>

#include "core/HxProcessEnv.h"

namespace {

constexpr int kLocks = static_cast<int>(HxProcessLock::kCount);
static_assert(kLocks <= 32, "the held locks of a thread are one 32-bit mask");

// Built before any code runs (constant initialisation) and never torn down:
// a thread may still take one while the program exits.
static_assert(std::is_trivially_destructible<std::mutex>::value, "the locks are never destroyed");
std::mutex g_locks[kLocks];

// What the calling thread holds: how many times it took each lock, and one
// bit per lock it holds at all.
struct Held {
  unsigned depth[kLocks];
  uint32_t mask;
  // The locks the fork's first handler took, for the other two to release.
  uint32_t taken_for_fork;
};
thread_local Held t_held;

void take_all_before_fork() {
  Held& h = t_held;
  h.taken_for_fork = 0;
  // In the order of nesting; a lock this thread holds already stays as it is.
  for (int i = 0; i < kLocks; ++i) {
    if (h.depth[i] != 0) continue;
    g_locks[i].lock();
    h.taken_for_fork |= 1u << i;
  }
}

void release_taken(Held& h) {
  for (int i = kLocks - 1; i >= 0; --i)
    if ((h.taken_for_fork & (1u << i)) != 0) g_locks[i].unlock();
  h.taken_for_fork = 0;
}

void release_in_parent() { release_taken(t_held); }

void release_in_child() {
  // The child's one thread is the one that took them: the mutexes are plain
  // ones, which it may release. Other threads' holds are gone with them.
  release_taken(t_held);
  hx_environ_lock()._remakeInChild();
}

bool register_fork_handlers() {
  pthread_atfork(take_all_before_fork, release_in_parent, release_in_child);
  return true;
}

bool const g_registered = register_fork_handlers();

}  // namespace

void hx_process_lock(HxProcessLock which) {
  int const i = static_cast<int>(which);
  Held& h = t_held;
  if (h.depth[i]++ != 0) return;
  // No lock later in the order may be held while an earlier one is taken.
  assert((h.mask >> i) == 0 && "process locks taken out of their order");
  g_locks[i].lock();
  h.mask |= 1u << i;
}

void hx_process_unlock(HxProcessLock which) {
  int const i = static_cast<int>(which);
  Held& h = t_held;
  assert(h.depth[i] != 0 && "process lock released that this thread does not hold");
  if (h.depth[i] == 0 || --h.depth[i] != 0) return;
  h.mask &= ~(1u << i);
  g_locks[i].unlock();
}

bool hx_process_lock_held(HxProcessLock which) { return t_held.depth[static_cast<int>(which)] != 0; }

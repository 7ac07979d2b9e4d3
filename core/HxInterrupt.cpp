#include "core/HxInterrupt.h"

#include <time.h>

#include <atomic>
#include <cerrno>

#include "core/HxWorld.h"

namespace {

std::atomic<HxInterruptCheck> g_check{nullptr};
thread_local bool t_interrupted = false;
thread_local bool t_watched = true;
// The calling thread's time inside the check, in milliseconds of the
// world's steady clock.
thread_local int64_t t_check_millis = 0;
// When the calling thread's stretch of work began, and the count of worlds
// (plus one; 0: none recorded) it was read under: a time of another world's
// clock says nothing.
thread_local int64_t t_work_since = 0;
thread_local uint64_t t_work_world = 0;

}  // namespace

void hx_set_interrupt_check(HxInterruptCheck check) { g_check.store(check, std::memory_order_release); }

HxInterruptCheck hx_interrupt_check() { return g_check.load(std::memory_order_acquire); }

bool hx_check_interrupt() {
  if (t_interrupted) return true;
  HxInterruptCheck const check = g_check.load(std::memory_order_acquire);
  if (check == nullptr) return false;
  // A check nested in this one (a handler's own request) adds its time,
  // which this one's own time includes: the total is set, not added to.
  int64_t const before = t_check_millis;
  int64_t const start = hx_world().steadyMillis();
  bool const end = check();
  int64_t const took = hx_world().steadyMillis() - start;
  t_check_millis = before + (took > 0 ? took : 0);
  if (end) t_interrupted = true;
  hx_work_starts();
  return t_interrupted;
}

bool hx_check_before_waits() {
  if (!t_watched || g_check.load(std::memory_order_relaxed) == nullptr) return false;
  if (t_work_world != hx_world_generation() + 1) return true;
  int64_t const now = hx_world().steadyMillis();
  // A clock that went back (another world's) counts as a long stretch.
  return now < t_work_since || now - t_work_since >= kHxCheckAfterWorkMillis;
}

void hx_watch_thread(bool on) { t_watched = on; }

void hx_work_starts() {
  if (!t_watched || g_check.load(std::memory_order_relaxed) == nullptr) return;
  // The count before the world (see hx_set_world): a time read from a world
  // being replaced is kept under the old count.
  uint64_t const world = hx_world_generation();
  t_work_since = hx_world().steadyMillis();
  t_work_world = world + 1;
}

int64_t hx_wait_millis() { return hx_world().steadyMillis() - t_check_millis; }

bool hx_interrupted() { return t_interrupted; }

void hx_interrupted(bool on) { t_interrupted = on; }

void hx_pause_millis(int64_t millis) {
  if (millis <= 0 || t_interrupted) return;
  // An absolute deadline: a pause that a signal interrupted goes on for
  // what is left of it.
  timespec until;
  clock_gettime(CLOCK_MONOTONIC, &until);
  until.tv_sec += static_cast<time_t>(millis / 1000);
  until.tv_nsec += static_cast<long>(millis % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000L;
  }
  // A signal that came before the pause ends it as one during it would.
  if (hx_check_before_waits() && hx_check_interrupt()) return;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    if (hx_check_interrupt()) return;
  }
  hx_work_starts();
}

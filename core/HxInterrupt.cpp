#include "core/HxInterrupt.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>

#include "core/HxWorld.h"

namespace {

std::atomic<HxInterruptCheck> g_check{nullptr};
thread_local bool t_interrupted = false;
thread_local bool t_watched = true;
// Milliseconds the calling thread's waits blocked since the check was last
// asked.
thread_local int64_t t_blocked = 0;
// Microseconds of the world's steady clock left out of the calling thread's
// deadlines, and the part of them that the check running now left out.
thread_local int64_t t_left_out = 0;
thread_local int64_t t_level_left_out = 0;

// A coarse reading of the monotonic clock (no system call): enough to
// count a slice of a second.
int64_t coarse_millis() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

timespec after_millis(timespec from, int64_t millis) {
  from.tv_sec += static_cast<time_t>(millis / 1000);
  from.tv_nsec += static_cast<long>(millis % 1000) * 1000000L;
  if (from.tv_nsec >= 1000000000L) {
    from.tv_sec += 1;
    from.tv_nsec -= 1000000000L;
  }
  return from;
}

// Milliseconds from now to `until` on the monotonic clock, rounded up.
int64_t millis_until(timespec const& until) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t const ns = (static_cast<int64_t>(until.tv_sec) - now.tv_sec) * 1000000000LL + (until.tv_nsec - now.tv_nsec);
  return ns <= 0 ? 0 : (ns + 999999) / 1000000;
}

}  // namespace

void hx_set_interrupt_check(HxInterruptCheck check) { g_check.store(check, std::memory_order_release); }

HxInterruptCheck hx_interrupt_check() { return g_check.load(std::memory_order_acquire); }

bool hx_check_interrupt() {
  if (t_interrupted) return true;
  HxInterruptCheck const check = g_check.load(std::memory_order_acquire);
  if (check == nullptr) return false;
  int64_t const outer_left_out = t_left_out;
  int64_t const outer_level = t_level_left_out;
  t_level_left_out = 0;
  t_blocked = 0;
  bool const end = check();
  // What checks nested in this one left out (a handler's own request) is
  // the handler's time here: only this check's own part stays left out.
  t_left_out = outer_left_out + t_level_left_out;
  t_level_left_out = outer_level;
  t_blocked = 0;
  if (end) t_interrupted = true;
  return t_interrupted;
}

void hx_watch_thread(bool on) { t_watched = on; }

HxSliceStep::HxSliceStep(int millis)
    : millis_(millis), sliced_(t_watched && millis != 0 && g_check.load(std::memory_order_relaxed) != nullptr) {
  if (!sliced_) return;
  int64_t const rest = std::max<int64_t>(kHxCheckSliceMillis - t_blocked, 1);
  if (millis < 0 || millis > rest) {
    millis_ = static_cast<int>(rest);
    cut_ = true;
  }
  start_ = coarse_millis();
}

bool HxSliceStep::used(bool timed_out) {
  if (!sliced_) return false;
  t_blocked += timed_out ? millis_ : std::max<int64_t>(coarse_millis() - start_, 0);
  return t_blocked >= kHxCheckSliceMillis;
}

void hx_leave_out_since(int64_t since_micros) {
  int64_t const took = hx_world().steadyMicros() - since_micros;
  if (took <= 0) return;
  t_left_out += took;
  t_level_left_out += took;
}

int64_t hx_wait_millis() {
  int64_t const us = hx_world().steadyMicros() - t_left_out;
  // Rounded down also below 0 (a test world's clock may start low).
  return us >= 0 ? us / 1000 : -((-us + 999) / 1000);
}

bool hx_interrupted() { return t_interrupted; }

void hx_interrupted(bool on) { t_interrupted = on; }

void hx_pause_millis(int64_t millis) {
  if (millis <= 0 || t_interrupted) return;
  // An absolute deadline: a pause that a signal interrupted goes on for
  // what is left of it.
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  timespec const until = after_millis(start, millis);
  for (;;) {
    int64_t const left = millis_until(until);
    if (left == 0) return;
    HxSliceStep step(static_cast<int>(std::min<int64_t>(left, INT_MAX)));
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    timespec const to = step.millis() < left ? after_millis(now, step.millis()) : until;
    int const r = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &to, nullptr);
    if ((r == EINTR || step.used(r == 0)) && hx_check_interrupt()) return;
  }
}

#include "core/HxInterrupt.h"

#include <time.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<HxInterruptCheck> g_check{nullptr};
thread_local bool t_interrupted = false;
thread_local bool t_watched = true;

}  // namespace

void hx_set_interrupt_check(HxInterruptCheck check) { g_check.store(check, std::memory_order_release); }

bool hx_check_interrupt() {
  if (t_interrupted) return true;
  HxInterruptCheck const check = g_check.load(std::memory_order_acquire);
  if (check != nullptr && check()) t_interrupted = true;
  return t_interrupted;
}

bool hx_check_before_waits() { return t_watched && g_check.load(std::memory_order_relaxed) != nullptr; }

void hx_watch_thread(bool on) { t_watched = on; }

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
}

#include "core/HxInterrupt.h"

#include <time.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<HxInterruptCheck> g_check{nullptr};
thread_local bool t_interrupted = false;

}  // namespace

void hx_set_interrupt_check(HxInterruptCheck check) { g_check.store(check, std::memory_order_release); }

bool hx_check_interrupt() {
  if (t_interrupted) return true;
  HxInterruptCheck const check = g_check.load(std::memory_order_acquire);
  if (check != nullptr && check()) t_interrupted = true;
  return t_interrupted;
}

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
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    if (hx_check_interrupt()) return;
  }
}

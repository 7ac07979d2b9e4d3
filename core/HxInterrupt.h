#pragma once

#include <cstdint>

// Signals that end a request. A program that uses the library installs a
// check that says whether the calling thread's request must end, as a
// blocking call of that program would end (the Python module runs the
// interpreter's signal handlers: python/HxPyGil.h). The library asks it
//
// - in a wait that a signal interrupts (EINTR);
// - on a watched thread (hx_watch_thread), once its waits have blocked for
//   kHxCheckSliceMillis in all since the check was last asked: a signal
//   that came while the thread worked between waits, or that another thread
//   received, is seen within about that long, whatever the waits' time-outs;
// - in hxsystem (api/HxApiSystem.h), once before it starts its command;
// - in hxwaitfor (api/HxApiEvents.cpp), before each pass of its wait.
//
// The waits are hx_poll (core/HxWorld.h), through which every wait on
// descriptors goes (connections, the server's loop, hxsystem's wait for its
// command), and hx_pause_millis. A thread that is not watched waits as the
// system call does, and asks only when a signal interrupts it.
//
// When the check says the request must end, the thread is marked and the
// wait fails with EINTR: from then on no wait or pause begins and nothing
// is sent or connected until the mark is cleared, so the request ends as a
// failure at once. Otherwise the wait goes on for the time it has left.
//
// Waits measure their deadlines on hx_wait_millis(): the world's steady
// clock less what the check leaves out (hx_leave_out_since), which is only
// a wait that must spend no deadline (the module's wait for the interpreter
// lock, which another thread may hold for seconds). The rest of the check's
// time (the handlers it runs) spends the deadlines, as it would in the
// program's own waits.
//
// The check runs on the waiting thread while it holds none of the library's
// locks. It is the program's own code and may call the library again on
// the same thread (a signal handler that makes a request of its own): such
// a nested request must leave the mark of the outer one as it found it.
// What a nested check leaves out is left out of the nested request's
// deadlines only: for the outer wait it is part of the handler's time.

// True when the request of the calling thread must end.
using HxInterruptCheck = bool (*)();

// How long, in all, a watched thread's waits block before they ask the
// check (real time, as the waits' own time-outs are).
constexpr int kHxCheckSliceMillis = 1000;

// Installs the check for the process; null removes it.
void hx_set_interrupt_check(HxInterruptCheck check);
// The check installed (null: none).
HxInterruptCheck hx_interrupt_check();

// Asks the check (unless the thread is marked already) and marks the thread
// when it says so; the thread's slice begins anew. True when the thread is
// marked.
bool hx_check_interrupt();

// Watches the calling thread or not (every thread is, until this says
// otherwise). A thread whose check can never say yes (the module's on any
// thread but the interpreter's main one, where alone signal handlers run)
// is not watched, and its waits cost nothing extra.
void hx_watch_thread(bool on);

// One blocking step of a wait (hx_poll, hx_pause_millis): shortened to what
// is left of the calling thread's slice, when the thread is watched and a
// check is installed; otherwise as asked, at no cost.
class HxSliceStep {
 public:
  // millis: the step's own limit (below 0: none).
  explicit HxSliceStep(int millis);
  // How long the step may block (below 0: no limit).
  int millis() const { return millis_; }
  // Whether the slice made the step shorter than its own limit.
  bool cut() const { return cut_; }
  // After the step, which timed out or ended early: counts what it blocked
  // (its whole time, or as measured). True when the slice is used up: the
  // wait then asks the check.
  bool used(bool timed_out);

 private:
  int millis_;
  bool sliced_;
  bool cut_ = false;
  int64_t start_ = 0;
};

// Leaves the time since `since_micros` (a reading of the world's
// steadyMicros) out of the calling thread's deadlines: what the check calls
// after a wait that must spend none of them.
void hx_leave_out_since(int64_t since_micros);

// Milliseconds of the world's steady clock less what the calling thread's
// checks left out (hx_leave_out_since): what waits and frames measure their
// deadlines on.
int64_t hx_wait_millis();

// Whether the calling thread is marked.
bool hx_interrupted();
// Marks or clears the calling thread; whoever installed the check clears
// the mark once the request ended.
void hx_interrupted(bool on);

// Pauses the calling thread for millis milliseconds (HxWorld's real pause):
// a signal whose check ends the request ends the pause, and a marked thread
// does not pause. A pause is a wait, cut into slices as hx_poll's are.
void hx_pause_millis(int64_t millis);

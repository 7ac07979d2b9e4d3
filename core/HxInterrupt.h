#pragma once

#include <cstdint>

// Signals that end a request. A wait of the library that a signal
// interrupts (EINTR) asks a check that the program using the library
// installs whether the request must end, as a blocking call of that program
// would end (the Python module asks the interpreter's signal handlers). When
// it must, the wait fails with EINTR and the thread is marked: from then on
// no wait or pause begins and nothing is sent or connected until the mark is
// cleared, so the request ends as a failure at once. Without a check, or
// when the check says no, an interrupted wait goes on for the time left.
//
// A signal that came before a wait starts is seen at that wait only when
// the thread worked for a long stretch without waiting (see
// hx_check_before_waits): asking may be dear (the module's check takes the
// interpreter lock back, which another thread may hold for seconds), so a
// request that waits often asks only when a signal interrupts it. Whoever
// installs the check looks for a signal that is already pending when a
// request starts.
//
// Time spent in the check never spends a wait's deadline: waits measure
// their deadlines on hx_wait_millis(), a clock that stands still while the
// calling thread is inside the check.
//
// The check runs on the waiting thread while it holds none of the library's
// locks. It is the program's own code and may call the library again on
// the same thread (a signal handler that makes a request of its own): such
// a nested request must leave the mark of the outer one as it found it.

// True when the request of the calling thread must end.
using HxInterruptCheck = bool (*)();

// A watched thread that has worked this long (by the world's steady clock)
// since its last wait, its last check or the start of its request asks the
// check before a wait that would block: a Ctrl-C that came while it packed
// a large request ends the request at its next wait, about a second later
// at most, and a thread that waits often never asks unless a signal
// interrupts it.
constexpr int64_t kHxCheckAfterWorkMillis = 1000;

// Installs the check for the process; null removes it.
void hx_set_interrupt_check(HxInterruptCheck check);
// The check installed (null: none).
HxInterruptCheck hx_interrupt_check();

// Asks the check (unless the thread is marked already) and marks the thread
// when it says so. True when the thread is marked. Called by a wait that a
// signal interrupted, and between the passes of a long wait. The time it
// takes is left out of hx_wait_millis().
bool hx_check_interrupt();

// Whether a wait of the calling thread that would block asks the check
// before it starts: a check is installed, the thread is watched (every
// thread is, until hx_watch_thread(false)), and it has worked for
// kHxCheckAfterWorkMillis since its stretch of work began
// (hx_work_starts), or no stretch was recorded under the world in force. A
// thread whose check can never say yes (the module's on any thread but the
// interpreter's main one, where alone signal handlers run) is not watched,
// and its waits cost nothing extra.
bool hx_check_before_waits();
// Watches the calling thread or not.
void hx_watch_thread(bool on);
// A watched thread begins a stretch of work now: it just waited or asked
// the check, or its request starts. Costs nothing on a thread that is not
// watched or without a check.
void hx_work_starts();

// Milliseconds of the world's steady clock less the time the calling
// thread spent inside the check: what waits and frames measure their
// deadlines on, so that a check that waits (for the interpreter lock, which
// another thread may hold for seconds) does not spend them.
int64_t hx_wait_millis();

// Whether the calling thread is marked.
bool hx_interrupted();
// Marks or clears the calling thread; whoever installed the check clears
// the mark once the request ended.
void hx_interrupted(bool on);

// Pauses the calling thread for millis milliseconds (HxWorld's real pause):
// a signal whose check ends the request ends the pause, and a marked thread
// does not pause. A pause is a wait: one due to ask the check before it
// (hx_check_before_waits) asks first, so that a signal that came just
// before does not wait for the pause to end.
void hx_pause_millis(int64_t millis);

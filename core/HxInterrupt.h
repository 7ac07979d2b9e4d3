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
// A signal that came before a wait starts is seen at that wait: a wait that
// would block asks the check first (see hx_check_before_waits).
//
// The check runs on the waiting thread while it holds none of the library's
// locks. It is the program's own code and may call the library again on
// the same thread (a signal handler that makes a request of its own): such
// a nested request must leave the mark of the outer one as it found it.

// True when the request of the calling thread must end.
using HxInterruptCheck = bool (*)();

// Installs the check for the process; null removes it.
void hx_set_interrupt_check(HxInterruptCheck check);

// Asks the check (unless the thread is marked already) and marks the thread
// when it says so. True when the thread is marked. Called by a wait that a
// signal interrupted, and between the passes of a long wait.
bool hx_check_interrupt();

// Whether a wait of the calling thread that would block asks the check
// before it starts: a check is installed and the thread is watched (every
// thread is, until hx_watch_thread(false)). A thread whose check can never
// say yes (the module's on any thread but the interpreter's main one, where
// alone signal handlers run) is not watched, and its waits cost nothing
// extra.
bool hx_check_before_waits();
// Watches the calling thread or not.
void hx_watch_thread(bool on);

// Whether the calling thread is marked.
bool hx_interrupted();
// Marks or clears the calling thread; whoever installed the check clears
// the mark once the request ended.
void hx_interrupted(bool on);

// Pauses the calling thread for millis milliseconds (HxWorld's real pause):
// a signal whose check ends the request ends the pause, and a marked thread
// does not pause.
void hx_pause_millis(int64_t millis);

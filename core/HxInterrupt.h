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
// The check runs on the waiting thread while it holds none of the library's
// locks.

// True when the request of the calling thread must end.
using HxInterruptCheck = bool (*)();

// Installs the check for the process; null removes it.
void hx_set_interrupt_check(HxInterruptCheck check);

// Asks the check (unless the thread is marked already) and marks the thread
// when it says so. True when the thread is marked. Called by a wait that a
// signal interrupted, and between the passes of a long wait.
bool hx_check_interrupt();

// Whether the calling thread is marked.
bool hx_interrupted();
// Marks or clears the calling thread; whoever installed the check clears
// the mark once the request ended.
void hx_interrupted(bool on);

// Pauses the calling thread for millis milliseconds (HxWorld's real pause):
// a signal whose check ends the request ends the pause, and a marked thread
// does not pause.
void hx_pause_millis(int64_t millis);

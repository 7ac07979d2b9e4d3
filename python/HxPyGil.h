#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cxxabi.h>

#include <type_traits>
#include <utility>

// The interpreter lock around the library's waits, and the module's answer
// to the library's interrupt check (core/HxInterrupt.h).
//
// Taking the lock back: while the interpreter finalises, CPython ends a
// thread (other than the finalising one) that asks for the lock, through
// pthread_exit, whose forced unwind would run into the frames of the call.
// Such a thread instead parks for good where it asked (the process's exit
// ends it): it touches no Python object and runs no destructor of the call,
// and the process ends with the program's own status. The lock is never
// taken back in a destructor or another noexcept frame.
//
// Signals: a wait that a signal interrupts runs the interpreter's signal
// handlers on the waiting thread (taking the lock for that moment when the
// call released it), as the interpreter's own blocking calls do. Another
// thread may hold the lock for seconds, so a call takes it back for nothing
// else but the slice of core/HxInterrupt.h: a signal that came while the
// call converted its arguments is seen when the call releases the lock
// (asking costs nothing then), and one that came while it worked between
// waits, or that another thread received, once its waits blocked for a
// slice. The time spent waiting for the lock spends no deadline of the
// request; the time the handlers run does. Handlers run on the
// interpreter's main thread alone (the thread of threading.main_thread()
// when the module was made; in a forked child, the thread that forked): on
// any other thread the check answers no at once, without the lock, and its
// waits are not cut into slices. An exception a handler raises ends the
// library's request, is kept aside while the call ends, and is what the
// call raises (HxPyCall::finish).

// What hx_py_release() gave up: this thread's state, saved by
// PyEval_SaveThread. A call nested in another one on the same thread (a
// signal handler's, run while the outer call waits or as it releases the
// lock) releases the lock only while the outer call holds it for the
// handler, when the outer call's state is not recorded: so one recorded
// state at a time is all there is.
struct HxPyReleased {
  PyThreadState* state;
};

// Releases the interpreter lock and records the thread state, so that the
// interrupt check can take the lock back for a moment. On the main thread
// inside a module call, runs the signal handlers first: one that raises
// ends the call's request before it begins.
HxPyReleased hx_py_release();
// Takes the lock back for what hx_py_release() gave up; during finalisation
// the thread parks here for good (see above).
void hx_py_take_back(HxPyReleased const& released);

// Runs fn with the interpreter lock released and returns its result; the
// lock is taken back before this returns, also when fn throws (but not when
// the thread is being ended: a forced unwind passes untouched). fn must not
// touch any Python object: callers convert arguments before and build the
// result after.
template <class Fn>
auto hx_py_released(Fn&& fn) -> decltype(fn()) {
  HxPyReleased const released = hx_py_release();
  try {
    if constexpr (std::is_void_v<decltype(fn())>) {
      std::forward<Fn>(fn)();
      hx_py_take_back(released);
    } else {
      auto result = std::forward<Fn>(fn)();
      hx_py_take_back(released);
      return result;
    }
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    // fn threw (taking the lock back throws nothing but a forced unwind).
    hx_py_take_back(released);
    throw;
  }
}

// One module call on this thread, from entry to the value it gives the
// interpreter: while it lasts, an interrupted wait of the library runs the
// signal handlers. Made and finished with the interpreter lock held.
class HxPyCall {
 public:
  HxPyCall();
  HxPyCall(HxPyCall const&) = delete;
  HxPyCall& operator=(HxPyCall const&) = delete;
  ~HxPyCall();

  // The call's value, unless a signal handler raised during the call: then
  // the value (or the exception the call set) is dropped, the handler's
  // exception is set, and the result is null.
  PyObject* finish(PyObject* result);

 private:
  bool outer_interrupted_;
  PyObject* outer_raised_[3];
};

// Installs the module's interrupt check for the process and reads which
// thread is the interpreter's main one (the lock held; again does no harm).
// False, with the exception set, when threading.main_thread() cannot be
// read.
bool hx_py_watch_signals();

// Lets the module tell when the interpreter finalises (see above): before
// CPython 3.13, through an exit function registered here. False, with the
// exception set, when registering failed.
bool hx_py_watch_finalizing();

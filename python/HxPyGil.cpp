#include "python/HxPyGil.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "core/HxInterrupt.h"
#include "core/HxWorld.h"

namespace {

// This thread's module calls. Plain values only: nothing here is destroyed
// when the thread or the process ends.
struct CallState {
  int calls = 0;                      // module calls this thread is inside
  PyThreadState* released = nullptr;  // saved while a call released the lock
  PyObject* raised[3] = {nullptr, nullptr, nullptr};  // what a signal handler raised
};

thread_local CallState t_call;

// The interpreter's main thread, where alone signal handlers run, as
// PyThread_get_thread_ident() names it: the thread of threading.main_thread()
// when the module was made, and in a child the thread that forked it (which
// the interpreter makes the child's main one).
std::atomic<unsigned long> g_main{0};

bool main_thread() { return PyThread_get_thread_ident() == g_main.load(std::memory_order_relaxed); }

void forked_child() { g_main.store(PyThread_get_thread_ident(), std::memory_order_relaxed); }

// Reads the ident of threading.main_thread() into `ident` (the lock held).
// False, with the exception set, when it cannot be read.
bool read_main_thread(unsigned long& ident) {
  PyObject* const threading = PyImport_ImportModule("threading");
  PyObject* const main = threading != nullptr ? PyObject_CallMethod(threading, "main_thread", nullptr) : nullptr;
  PyObject* const value = main != nullptr ? PyObject_GetAttrString(main, "ident") : nullptr;
  if (value != nullptr) ident = PyLong_AsUnsignedLong(value);
  Py_XDECREF(value);
  Py_XDECREF(main);
  Py_XDECREF(threading);
  return value != nullptr && !PyErr_Occurred();
}

#if PY_VERSION_HEX >= 0x030D0000
bool finalizing() { return Py_IsFinalizing() != 0; }
#else
// Before 3.13 the interpreter declares no public test for its finalisation.
// Its exit functions run first in it, before it ends other threads that ask
// for the lock: one of the module's marks the moment.
std::atomic<bool> g_finalizing{false};

bool finalizing() { return g_finalizing.load(std::memory_order_acquire); }

PyObject* mark_finalizing(PyObject*, PyObject*) {
  g_finalizing.store(true, std::memory_order_release);
  Py_RETURN_NONE;
}

PyMethodDef mark_finalizing_def = {"_finalizing", mark_finalizing, METH_NOARGS, nullptr};
#endif

// The exception set now, taken out (as up to three objects), and put back.
void take_exception(PyObject* (&into)[3]) {
#if PY_VERSION_HEX >= 0x030C0000
  into[0] = PyErr_GetRaisedException();
#else
  PyErr_Fetch(&into[0], &into[1], &into[2]);
#endif
}

void put_exception(PyObject* (&from)[3]) {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(from[0]);
#else
  PyErr_Restore(from[0], from[1], from[2]);
#endif
  for (PyObject*& o : from) o = nullptr;
}

// The thread stays here until the process ends, with every signal blocked
// so that no handler runs on it either.
[[noreturn]] void park() {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  for (;;) pause();
}

void restore(PyThreadState* state) {
  try {
    PyEval_RestoreThread(state);
  } catch (abi::__forced_unwind&) {
    // The interpreter ends this thread because it finalises: parked, the
    // thread ends with the process, and the frames above (whose
    // destructors would release Python objects without the lock) never
    // unwind. Any other ending of the thread goes on.
    if (!finalizing()) throw;
    park();
  }
}

// Runs the interpreter's signal handlers (the lock held). True when one
// raised; its exception is kept for HxPyCall::finish. A second exception
// while the first is kept is dropped: the first ended the request.
bool run_handlers(CallState& call) {
  bool const raised = PyErr_CheckSignals() != 0;
  if (raised) {
    PyObject* got[3] = {nullptr, nullptr, nullptr};
    take_exception(got);
    if (call.raised[0] == nullptr) {
      for (int i = 0; i < 3; ++i) call.raised[i] = got[i];
    } else {
      for (PyObject* o : got) Py_XDECREF(o);
    }
  }
  return raised;
}

// The library's interrupt check: runs the interpreter's signal handlers
// when this thread is inside a module call, taking the lock back for that
// moment when the call released it.
bool check_signals() {
  CallState& call = t_call;
  if (call.calls == 0) return false;
  // Handlers run on the main thread alone: another thread has nothing to
  // run, and answers without taking the interpreter lock back.
  if (!main_thread()) return false;
  PyThreadState* const released = call.released;
  if (released != nullptr) {
    call.released = nullptr;
    // The wait for the lock (another thread may hold it for seconds)
    // spends no deadline of the request; the handlers' time does.
    int64_t const since = hx_world().steadyMicros();
    restore(released);
    hx_leave_out_since(since);
  } else if (PyGILState_Check() == 0) {
    return false;
  }
  bool const raised = run_handlers(call);
  if (released != nullptr) call.released = PyEval_SaveThread();
  return raised;
}

}  // namespace

HxPyReleased hx_py_release() {
  CallState& call = t_call;
  // A signal that came while the call converted its arguments is seen here,
  // where asking costs only a look at the interpreter's flag (the lock is
  // held): its handler's exception ends the request before it begins. Its
  // waits then ask again only when a signal interrupts one, or once they
  // blocked for a slice (core/HxInterrupt.h).
  if (call.calls != 0 && main_thread() && !hx_interrupted() && run_handlers(call)) hx_interrupted(true);
  HxPyReleased const out{PyEval_SaveThread()};
  call.released = out.state;
  return out;
}

void hx_py_take_back(HxPyReleased const& released) {
  t_call.released = nullptr;
  restore(released.state);
}

HxPyCall::HxPyCall() : outer_interrupted_(hx_interrupted()) {
  CallState& call = t_call;
  ++call.calls;
  // Only the main thread's waits ask the check.
  hx_watch_thread(main_thread());
  hx_interrupted(false);
  for (int i = 0; i < 3; ++i) {
    outer_raised_[i] = call.raised[i];
    call.raised[i] = nullptr;
  }
}

HxPyCall::~HxPyCall() {
  // An exception still kept here was never handed on (the call did not
  // finish): it is let go without touching it, as no lock may be held.
  CallState& call = t_call;
  --call.calls;
  for (int i = 0; i < 3; ++i) call.raised[i] = outer_raised_[i];
  hx_interrupted(outer_interrupted_);
}

PyObject* HxPyCall::finish(PyObject* result) {
  CallState& call = t_call;
  if (call.raised[0] == nullptr) return result;
  Py_XDECREF(result);
  put_exception(call.raised);
  return nullptr;
}

bool hx_py_watch_signals() {
  unsigned long ident = 0;
  if (!read_main_thread(ident)) return false;
  static bool const registered = pthread_atfork(nullptr, nullptr, forked_child) == 0;
  (void)registered;
  g_main.store(ident, std::memory_order_relaxed);
  hx_set_interrupt_check(&check_signals);
  return true;
}

bool hx_py_watch_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return true;
#else
  g_finalizing.store(false, std::memory_order_release);
  PyObject* const atexit = PyImport_ImportModule("atexit");
  if (atexit == nullptr) return false;
  PyObject* const mark = PyCFunction_New(&mark_finalizing_def, nullptr);
  PyObject* const done = mark != nullptr ? PyObject_CallMethod(atexit, "register", "O", mark) : nullptr;
  Py_XDECREF(done);
  Py_XDECREF(mark);
  Py_DECREF(atexit);
  return done != nullptr;
#endif
}

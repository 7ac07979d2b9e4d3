#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

// Runs fn with the interpreter lock released and returns its result; the
// lock is taken back before this returns, also when fn throws. fn must not
// touch any Python object: callers convert arguments before and build the
// result after.
template <class Fn>
auto hx_py_released(Fn&& fn) -> decltype(fn()) {
  struct Restore {
    PyThreadState* state;
    ~Restore() { PyEval_RestoreThread(state); }
  } restore{PyEval_SaveThread()};
  return std::forward<Fn>(fn)();
}

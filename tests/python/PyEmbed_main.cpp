// An application that runs Python on a thread of its own, as programs that
// embed the interpreter for scripting do: its first thread blocks every
// signal (so that the kernel hands them to another thread) and starts the
// interpreter, with the module _hx built in, on a second thread, which runs
// the script given as the only argument. Exit status: 0 when the script ran
// through, 1 when it raised, 2 when used wrongly.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <thread>

#include "python/HxPyModule.h"

namespace {

PyObject* init_builtin() { return init_hxModule("_hx"); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: hx_py_embed SCRIPT\n", stderr);
    return 2;
  }
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  int code = 1;
  std::thread interpreter([&] {
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    if (PyImport_AppendInittab("_hx", init_builtin) != 0) return;
    Py_InitializeEx(1);
    code = PyRun_SimpleString(argv[1]) == 0 ? 0 : 1;
    if (Py_FinalizeEx() < 0) code = 1;
  });
  interpreter.join();
  return code;
}

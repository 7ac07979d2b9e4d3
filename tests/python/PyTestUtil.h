#pragma once

// Helpers of the module's C++ tests: one embedded interpreter for the test
// program, the module `_hx` built in and importable (`import _hx` finds it
// in sys.modules), and small runners of Python text whose results come back
// as C++ values. Functions that talk to a supervisor are tested in the same
// process against hxtest::FakeFarm (tests/api/ApiTestUtil.h): the module's
// calls reach the fake through the same seam as the API's.
//
// Every helper here is called on the test's main thread, which holds the
// interpreter lock from start-up to exit; module functions release it
// around their network waits themselves.

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <gtest/gtest.h>

#include <string>

#include "python/HxPyModule.h"

namespace hxtest {

namespace detail {

// The dictionary of globals shared by every runner; holds `_hx` imported.
inline PyObject*& py_globals_slot() {
  static PyObject* globals = nullptr;
  return globals;
}

// The text of the exception set now (type name and message), cleared.
inline std::string py_take_error() {
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
  PyErr_Fetch(&type, &value, &trace);
  PyErr_NormalizeException(&type, &value, &trace);
  std::string out = "<error";
  if (type != nullptr) out += std::string(" ") + reinterpret_cast<PyTypeObject*>(type)->tp_name;
  if (value != nullptr) {
    PyObject* text = PyObject_Str(value);
    if (text != nullptr) {
      char const* utf8 = PyUnicode_AsUTF8(text);
      if (utf8 != nullptr) out += std::string(": ") + utf8;
      Py_DECREF(text);
    }
    PyErr_Clear();
  }
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(trace);
  return out + ">";
}

}  // namespace detail

// Starts the interpreter once (or joins the one another test file started)
// and puts the module into sys.modules; the globals then hold `_hx`. Returns
// the globals (borrowed).
inline PyObject* py_start() {
  PyObject*& globals = detail::py_globals_slot();
  if (globals != nullptr) return globals;
  if (!Py_IsInitialized()) Py_InitializeEx(0);
  PyObject* modules = PyImport_GetModuleDict();
  if (PyDict_GetItemString(modules, "_hx") == nullptr) {
    PyObject* module = init_hxModule("_hx");
    if (module == nullptr || PyDict_SetItemString(modules, "_hx", module) < 0) {
      ADD_FAILURE() << "module _hx not created: " << detail::py_take_error();
      Py_XDECREF(module);
      return nullptr;
    }
    Py_DECREF(module);
  }
  globals = PyDict_New();
  PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
  PyObject* r = PyRun_String("import _hx, sys\n", Py_file_input, globals, globals);
  if (r == nullptr) ADD_FAILURE() << detail::py_take_error();
  Py_XDECREF(r);
  return globals;
}

// Runs statements in the shared globals. "" on success, else the error's
// text ("<error TypeError: ...>"); the error is cleared.
inline std::string py_exec(std::string const& code) {
  PyObject* globals = py_start();
  PyObject* r = PyRun_String(code.c_str(), Py_file_input, globals, globals);
  if (r == nullptr) return detail::py_take_error();
  Py_DECREF(r);
  return "";
}

// The value of an expression (new reference), or null with the error left
// set for the caller to inspect.
inline PyObject* py_eval(std::string const& expr) {
  PyObject* globals = py_start();
  return PyRun_String(expr.c_str(), Py_eval_input, globals, globals);
}

// Binds name to value in the shared globals; takes over the reference.
inline void py_set(char const* name, PyObject* value) {
  PyObject* globals = py_start();
  if (value == nullptr || PyDict_SetItemString(globals, name, value) < 0)
    ADD_FAILURE() << name << " not bound: " << detail::py_take_error();
  Py_XDECREF(value);
}

// The ascii() text of a value; "<null>" for null.
inline std::string py_ascii(PyObject* value) {
  if (value == nullptr) return "<null>";
  PyObject* text = PyObject_ASCII(value);
  if (text == nullptr) return detail::py_take_error();
  std::string out = PyUnicode_AsUTF8(text);
  Py_DECREF(text);
  return out;
}

// The ascii() text of an expression's value, or the error's text (cleared).
// Comparing with a literal checks type, value and, for dicts, key order.
inline std::string py_repr(std::string const& expr) {
  PyObject* v = py_eval(expr);
  if (v == nullptr) return detail::py_take_error();
  std::string out = py_ascii(v);
  Py_DECREF(v);
  return out;
}

// The str() of an expression's value (UTF-8), or the error's text.
inline std::string py_str(std::string const& expr) {
  PyObject* v = py_eval(expr);
  if (v == nullptr) return detail::py_take_error();
  PyObject* text = PyObject_Str(v);
  Py_DECREF(v);
  if (text == nullptr) return detail::py_take_error();
  char const* utf8 = PyUnicode_AsUTF8(text);
  std::string out = utf8 != nullptr ? utf8 : detail::py_take_error();
  Py_DECREF(text);
  return out;
}

// An int expression's value; fails the test (and gives -999999) otherwise.
inline long long py_int(std::string const& expr) {
  PyObject* v = py_eval(expr);
  if (v == nullptr || !PyLong_Check(v)) {
    ADD_FAILURE() << expr << " is no int: " << (v == nullptr ? detail::py_take_error() : py_ascii(v));
    Py_XDECREF(v);
    return -999999;
  }
  long long out = PyLong_AsLongLong(v);
  Py_DECREF(v);
  if (PyErr_Occurred()) ADD_FAILURE() << expr << ": " << detail::py_take_error();
  return out;
}

// The name of the exception an expression or statement raises ("" if none).
inline std::string py_raises(std::string const& code) {
  PyObject* globals = py_start();
  PyObject* r = PyRun_String(code.c_str(), Py_file_input, globals, globals);
  if (r != nullptr) {
    Py_DECREF(r);
    return "";
  }
  PyObject* type = PyErr_Occurred();
  std::string out = reinterpret_cast<PyTypeObject*>(type)->tp_name;
  PyErr_Clear();
  return out;
}

// Fixture of module tests: the interpreter is up, and no test leaves an
// exception set behind.
class PyModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { py_start(); }
  void TearDown() override {
    if (PyErr_Occurred() != nullptr) ADD_FAILURE() << "exception left set: " << detail::py_take_error();
  }
};

}  // namespace hxtest

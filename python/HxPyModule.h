#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// The module's method table: 93 entries and the closing empty one.
extern PyMethodDef _hx_methods[];

// Raises NotImplementedError for a module function whose API is not built.
PyObject* hx_py_not_built(char const* name);

// Module functions of this build, one per file of wrappers.
PyObject* _hx_py_rangesplit(PyObject* self, PyObject* args);
PyObject* _hx_py_rangechunk(PyObject* self, PyObject* args);
PyObject* _hx_py_waitfor(PyObject* self, PyObject* args);
PyObject* _hx_py_trigger(PyObject* self, PyObject* args);
PyObject* _hx_py_CONST(PyObject* self, PyObject* args);
PyObject* _hx_py_updatepassword(PyObject* self, PyObject* args);
PyObject* _hx_py_checkpassword(PyObject* self, PyObject* args);
PyObject* _hx_py_encryptpassword(PyObject* self, PyObject* args);
PyObject* _hx_py_configDictToStr(PyObject* self, PyObject* args);
PyObject* _hx_py_configStrToDict(PyObject* self, PyObject* args);
PyObject* _hx_py_packageStrToDict(PyObject* self, PyObject* args);
PyObject* _hx_py_getpreferences(PyObject* self, PyObject* args);

extern "C" {
// Builds a new module object named by the first caller in the process.
PyObject* init_hxModule(char const* name);
}

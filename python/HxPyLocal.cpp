// Module functions that work without a supervisor (ranges, constants,
// password encryption, configuration and package texts), the event
// requests and the password requests.
#include <cstring>

#include "api/HxApiEvents.h"
#include "api/HxApiLocal.h"
#include "api/HxApiPassword.h"
#include "core/HxList.h"
#include "expr/HxExprLimits.h"
#include "expr/HxRange.h"
#include "python/HxPyConvert.h"
#include "python/HxPyGil.h"
#include "python/HxPyModule.h"

namespace {

// The texts of args[from...] joined with ",".
HxString joined(PyObject* args, Py_ssize_t from) {
  HxString text;
  for (Py_ssize_t i = from; i < PyTuple_GET_SIZE(args); ++i) {
    if (i > from) text += ",";
    text += _py_string(PyTuple_GET_ITEM(args, i));
  }
  return text;
}

// A range past the bounds of what is expanded raises, naming the bound: an
// empty or cut list would read as an agenda without those members.
bool range_past_bound(bool past) {
  if (past) {
    PyErr_Format(PyExc_ValueError, "range too large to expand (limit %d members, %lld bytes)", kHxMaxRangeMembers,
                 kHxMaxPatternBytes);
  }
  return past;
}

}  // namespace

PyObject* _hx_py_rangesplit(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) < 1) Py_RETURN_NONE;
  HxStringList list;
  bool past = false;
  HxRange::patternsplit(0, joined(args, 0), list, -1, &past);
  if (range_past_bound(past)) return nullptr;
  return hx_py_str_list(list);
}

PyObject* _hx_py_rangechunk(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) < 2) return PyList_New(0);
  int size = hx_py_kind_int(PyTuple_GET_ITEM(args, 0));
  HxString const text = joined(args, 1);
  bool past = false;
  HxRange::count(text, nullptr, &past);
  if (range_past_bound(past)) return nullptr;
  HxRange range;
  range.parse(text);
  HxStringList list;
  range.chunk(size, list);
  return hx_py_str_list(list);
}

PyObject* _hx_py_waitfor(PyObject*, PyObject* args) {
  char const* name = nullptr;
  int timeout = 0;
  // The form is chosen by the count, so that what a time-out's own
  // __index__ raises reaches the caller.
  if (!(PyTuple_GET_SIZE(args) == 1 ? PyArg_ParseTuple(args, "s", &name)
                                    : PyArg_ParseTuple(args, "si", &name, &timeout)))
    return nullptr;
  HxString triggers(name);
  return PyLong_FromLong(hxwaitfor(triggers, timeout));
}

PyObject* _hx_py_trigger(PyObject*, PyObject* args) {
  char const* name = nullptr;
  if (!PyArg_ParseTuple(args, "s", &name)) return nullptr;
  return PyLong_FromLong(hxtrigger(HxString(name)));
}

PyObject* _hx_py_CONST(PyObject*, PyObject* args) {
  char const* name = nullptr;
  if (!PyArg_ParseTuple(args, "s", &name)) return nullptr;
  return PyLong_FromLong(hxCONST(HxString(name)));
}

PyObject* _hx_py_updatepassword(PyObject*, PyObject* args) {
  Py_ssize_t n = PyTuple_GET_SIZE(args);
  if (n < 1 || n > 3) return PyLong_FromLong(0);
  char const* texts[3] = {"", "", ""};
  if (!PyArg_ParseTuple(args, "s|ss", &texts[0], &texts[1], &texts[2])) return nullptr;
  HxString user(n >= 2 ? texts[0] : "");
  HxString domain(n == 3 ? texts[2] : "");
  // The clear text lives only in a string that wipes its buffer when freed.
  HxString password;
  password.secure(1);
  char const* clear = n == 1 ? texts[0] : texts[1];
  password.copy(clear, static_cast<int>(std::strlen(clear)));
  int ok = hx_py_released([&] { return hxupdatepassword(user, domain, password); });
  return PyLong_FromLong(ok);
}

PyObject* _hx_py_checkpassword(PyObject*, PyObject* args) {
  if (!PyArg_ParseTuple(args, ":checkpassword")) return nullptr;
  return PyBool_FromLong(hx_py_released([] { return hxcheckpassword(); }));
}

PyObject* _hx_py_encryptpassword(PyObject*, PyObject* args) {
  // Anything but one str, and a str with no text for the wire (a NUL, a
  // lone surrogate), encrypts nothing.
  if (PyTuple_GET_SIZE(args) != 1 || !PyUnicode_Check(PyTuple_GET_ITEM(args, 0))) return PyUnicode_FromStringAndSize("", 0);
  char const* text = nullptr;
  if (!PyArg_ParseTuple(args, "s", &text)) {
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) return nullptr;
    PyErr_Clear();
    return PyUnicode_FromStringAndSize("", 0);
  }
  HxString clear;
  clear.secure(1);
  clear.copy(text);
  return hx_py_str(hxencryptpassword(clear));
}

PyObject* _hx_py_configDictToStr(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) < 2) return PyUnicode_FromStringAndSize("", 0);
  HxConfig* config = _hx_py_dict_config(PyTuple_GET_ITEM(args, 0));
  if (config == nullptr) return PyErr_Occurred() ? nullptr : PyUnicode_FromStringAndSize("", 0);
  HxString text = config->usetemplate(_py_string(PyTuple_GET_ITEM(args, 1)));
  delete config;
  return hx_py_str(text);
}

PyObject* _hx_py_configStrToDict(PyObject*, PyObject* args) {
  char const* text = nullptr;
  if (!PyArg_ParseTuple(args, "s", &text)) return nullptr;
  HxConfig config;
  config.parse(HxString(text));
  return _hx_py_config_dict(&config);
}

PyObject* _hx_py_packageStrToDict(PyObject*, PyObject* args) {
  char const* text = nullptr;
  if (!PyArg_ParseTuple(args, "s", &text)) return nullptr;
  _hx_package_pack* node = hx_package_expand(text);
  PyObject* out = _unpack(node);
  hx_package_destroy(node);
  return out;
}

PyObject* _hx_py_getpreferences(PyObject*, PyObject*) { Py_RETURN_NONE; }

// Module functions of the central preferences and the pipeline variables.
#include <cctype>

#include "api/HxApiPrefs.h"
#include "model/farm/HxPreference.h"
#include "python/HxPyConvert.h"
#include "python/HxPyGil.h"
#include "python/HxPyModule.h"

namespace {

// Data type numbers of the database fields that carry typed values.
constexpr int kHxDbInteger = 10002;
constexpr int kHxDbFloat = 10003;
constexpr int kHxDbBoolean = 10004;

// The leading number of a text, read the same under every locale (the
// process locale may use a comma as its decimal mark); 0.0 without one.
// False, with MemoryError set, when memory ran out.
bool leading_double(char const* text, double& value) {
  while (*text != '\0' && std::isspace(static_cast<unsigned char>(*text))) ++text;
  char* end = nullptr;
  value = PyOS_string_to_double(text, &end, nullptr);
  if (value == -1.0 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) return false;
    PyErr_Clear();
    value = 0.0;
  }
  return true;
}

// The Python value of one database field by its data type.
PyObject* field_value(HxDbField const& field) {
  HxString data = field.data();
  char const* text = data.length() > 0 ? data.value() : "";
  switch (field.datatype()) {
    case kHxDbBoolean:
      // An empty text has no first character to read: False.
      return PyBool_FromLong(text[0] == 'T' || text[0] == 't');
    case kHxDbFloat: {
      double v = 0.0;
      return leading_double(text, v) ? PyFloat_FromDouble(v) : nullptr;
    }
    case kHxDbInteger: {
      PyObject* v = PyLong_FromString(text, nullptr, 0);
      if (v != nullptr || !PyErr_ExceptionMatches(PyExc_ValueError)) return v;
      // Not an integer text: the text itself.
      PyErr_Clear();
      break;
    }
    default:
      break;
  }
  return hx_py_str(data);
}

PyObject* rows_list(HxDbRows const& rows) {
  HxPyRef out(PyList_New(0));
  for (int i = 0; out && i < rows.length(); ++i) {
    HxDbRow const* row = rows.get(i);
    if (row == nullptr) continue;
    HxPyRef dict(PyDict_New());
    for (int j = 0; dict && j < row->length(); ++j) {
      HxDbField const* field = row->get(j);
      if (field == nullptr) continue;
      if (!hx_py_dict_put(dict.get(), field->name(), field_value(*field))) dict.reset();
    }
    if (!dict || PyList_Append(out.get(), dict.get()) < 0) out.reset();
  }
  return out.release();
}

}  // namespace

PyObject* _hx_py_setpreference(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) != 7) Py_RETURN_NONE;
  char const* t[6] = {};
  PyObject* mandate = nullptr;
  if (!PyArg_ParseTuple(args, "ssssssO", &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &mandate)) return nullptr;
  HxPreference pref;
  pref.type(t[0]);
  pref.entity_path(t[1]);
  pref.entity_value(t[2]);
  pref.tier(t[3]);
  pref.preset(t[4]);
  pref.user(t[5]);
  pref.mandate(mandate == Py_True ? 1 : 0);
  return PyBool_FromLong(hx_set_preference(pref));
}

PyObject* _hx_py_deletepreference(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) != 5) Py_RETURN_NONE;
  char const* t[5] = {};
  if (!PyArg_ParseTuple(args, "sssss", &t[0], &t[1], &t[2], &t[3], &t[4])) return nullptr;
  HxPreference pref;
  pref.type(t[0]);
  pref.entity_path(t[1]);
  pref.tier(t[2]);
  pref.preset(t[3]);
  pref.user(t[4]);
  return PyBool_FromLong(hx_delete_preference(pref));
}

PyObject* _hx_py_getpipelinevariables(PyObject*, PyObject* args) {
  PyObject* arg = nullptr;
  if (!PyArg_ParseTuple(args, "|O", &arg)) return nullptr;
  HxStringList names;
  if (arg != nullptr && arg != Py_None) {
    if (!PyList_Check(arg)) {
      PyErr_SetString(PyExc_TypeError, "argument to hx.getpipelinevariables() must be a list of names");
      return nullptr;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(arg); ++i) {
      PyObject* item = PyList_GET_ITEM(arg, i);
      if (PyUnicode_Check(item)) names.append(new HxString(_py_string(item)));
    }
  }
  HxDbRows rows;
  int ok = hx_py_released([&] { return hx_get_pipeline_variables(names, rows); });
  if (!ok) {
    PyErr_SetString(PyExc_OSError, "unable to retrieve pipeline variables");
    return nullptr;
  }
  return rows_list(rows);
}

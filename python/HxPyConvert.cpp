#include "python/HxPyConvert.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/HxLimits.h"

namespace {

// The low 32 bits of an int as a signed value; big ints and negative ones
// alike (two's complement).
int low32(PyObject* v) {
  unsigned long long bits = PyLong_AsUnsignedLongLongMask(v);
  if (bits == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return 0;
  }
  return static_cast<int>(static_cast<std::uint32_t>(bits));
}

HxString decimal(int value) {
  char buf[16];
  int n = std::snprintf(buf, sizeof buf, "%d", value);
  return HxString(buf, n);
}

void unrecognized() {
  std::fputs("unrecognized object encountered during conversion.\n", stdout);
  std::fflush(stdout);
}

bool pack_(PyObject* value, _hx_package_pack* node, int depth);

// Makes a child of node (named when name is given), appends it and packs
// item into it. The child is appended first so that node owns it whatever
// happens below.
bool pack_child(PyObject* item, _hx_package_pack* node, HxString const* name, int depth) {
  if (depth >= kHxMaxPackageDepth) {
    PyErr_SetString(PyExc_RecursionError, "maximum package depth exceeded during conversion");
    return false;
  }
  _hx_package_pack* child = hx_package_new();
  if (name != nullptr) hx_package_set_name(child, name->value());
  hx_package_list_push(node, child);
  return pack_(item, child, depth + 1);
}

bool pack_sequence(PyObject* seq, _hx_package_pack* node, int depth) {
  // The size is read again each round: the list may change while an item's
  // own conversion runs Python code.
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq); ++i) {
    PyObject* item = PySequence_Fast_GET_ITEM(seq, i);
    Py_INCREF(item);
    bool ok = pack_child(item, node, nullptr, depth);
    Py_DECREF(item);
    if (!ok) return false;
  }
  return true;
}

// The child name of a dict key: a str's text, an int's decimal text; other
// keys are not packed (false, nothing set).
bool key_name(PyObject* key, HxString& name) {
  if (PyUnicode_Check(key) || PyLong_Check(key)) {
    name = _py_string(key);
    return true;
  }
  return false;
}

bool pack_dict(PyObject* dict, _hx_package_pack* node, int depth) {
  PyObject* keys = PyDict_Keys(dict);
  if (keys == nullptr) return false;
  bool ok = true;
  for (Py_ssize_t i = 0; ok && i < PyList_GET_SIZE(keys); ++i) {
    PyObject* key = PyList_GET_ITEM(keys, i);
    HxString name;
    if (!key_name(key, name)) {
      unrecognized();
      continue;
    }
    PyObject* item = PyDict_GetItemWithError(dict, key);
    if (item == nullptr) {
      // Removed while an earlier value was converted: nothing to pack.
      if (PyErr_Occurred()) ok = false;
      continue;
    }
    Py_INCREF(item);
    ok = pack_child(item, node, &name, depth);
    Py_DECREF(item);
  }
  Py_DECREF(keys);
  return ok;
}

bool pack_mapping(PyObject* map, _hx_package_pack* node, int depth) {
  PyObject* keys = PyMapping_Keys(map);
  if (keys == nullptr) {
    // Objects that index but have no keys (bytes, ranges) are no mapping.
    if (!PyErr_ExceptionMatches(PyExc_AttributeError) && !PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Clear();
    unrecognized();
    return true;
  }
  PyObject* fast = PySequence_Fast(keys, "mapping keys are not a sequence");
  Py_DECREF(keys);
  if (fast == nullptr) return false;
  bool ok = true;
  for (Py_ssize_t i = 0; ok && i < PySequence_Fast_GET_SIZE(fast); ++i) {
    PyObject* key = PySequence_Fast_GET_ITEM(fast, i);
    if (!PyUnicode_Check(key)) continue;
    PyObject* item = PyObject_GetItem(map, key);
    if (item == nullptr) {
      ok = false;
      break;
    }
    HxString name = _py_string(key);
    ok = pack_child(item, node, &name, depth);
    Py_DECREF(item);
  }
  Py_DECREF(fast);
  return ok;
}

bool pack_(PyObject* value, _hx_package_pack* node, int depth) {
  if (Py_EnterRecursiveCall(" while converting a value to a package")) return false;
  bool ok = true;
  if (PyTuple_Check(value) || PyList_Check(value)) {
    ok = pack_sequence(value, node, depth);
  } else if (PyDict_Check(value)) {
    ok = pack_dict(value, node, depth);
  } else if (PyUnicode_Check(value) || PyLong_Check(value)) {
    hx_package_set_value(node, _py_string(value).value());
  } else if (PyMapping_Check(value)) {
    ok = pack_mapping(value, node, depth);
  } else if (value == Py_None) {
    hx_package_set_value(node, "");
  } else {
    unrecognized();
  }
  Py_LeaveRecursiveCall();
  return ok;
}

}  // namespace

HxString _py_string(PyObject* object) {
  if (object == nullptr || object == Py_None) return HxString();
  if (PyUnicode_Check(object)) {
    Py_ssize_t n = 0;
    char const* text = PyUnicode_AsUTF8AndSize(object, &n);
    if (text != nullptr) return HxString(text, static_cast<int>(n));
    // Lone surrogates have no UTF-8 form: those that stand for raw bytes
    // become the bytes again, any other gives "?".
    PyErr_Clear();
    PyObject* bytes = PyUnicode_AsEncodedString(object, "utf-8", "surrogateescape");
    if (bytes == nullptr) {
      PyErr_Clear();
      bytes = PyUnicode_AsEncodedString(object, "utf-8", "replace");
    }
    if (bytes == nullptr) {
      PyErr_Clear();
      return HxString();
    }
    HxString out(PyBytes_AS_STRING(bytes), static_cast<int>(PyBytes_GET_SIZE(bytes)));
    Py_DECREF(bytes);
    return out;
  }
  if (PyLong_Check(object)) return decimal(low32(object));
  return HxString();
}

bool _py_is_int(PyObject* object) { return object != nullptr && PyLong_Check(object); }

long _py_int(PyObject* object) {
  if (object == nullptr) return 0;
  if (PyLong_Check(object)) {
    unsigned long long bits = PyLong_AsUnsignedLongLongMask(object);
    if (bits == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
      PyErr_Clear();
      return 0;
    }
    return static_cast<long>(bits);
  }
  if (PyUnicode_Check(object)) {
    HxString text = _py_string(object);
    int saved = errno;
    long v = std::strtol(text.value(), nullptr, 10);
    errno = saved;
    return v;
  }
  return 0;
}

bool _pack(PyObject* value, _hx_package_pack* node) {
  if (value == nullptr || node == nullptr) return true;
  return pack_(value, node, 0);
}

PyObject* _unpack(_hx_package_pack* node) {
  if (node == nullptr) Py_RETURN_NONE;
  int n = hx_package_list_len(node);
  if (n == 0) {
    int len = hx_package_value_len(node);
    if (len > 0) return hx_py_str(hx_package_get_value(node), len);
    Py_RETURN_NONE;
  }
  if (Py_EnterRecursiveCall(" while converting a package")) return nullptr;
  PyObject* out = nullptr;
  if (hx_package_name_len(hx_package_list_get(node, 0)) > 0) {
    out = PyDict_New();
    for (int i = 0; out != nullptr && i < n; ++i) {
      _hx_package_pack* child = hx_package_list_get(node, i);
      PyObject* key = hx_py_str(hx_package_get_name(child), hx_package_name_len(child));
      PyObject* item = key == nullptr ? nullptr : _unpack(child);
      if (item == nullptr || PyDict_SetItem(out, key, item) < 0) Py_CLEAR(out);
      Py_XDECREF(key);
      Py_XDECREF(item);
    }
  } else {
    out = PyList_New(n);
    for (int i = 0; out != nullptr && i < n; ++i) {
      PyObject* item = _unpack(hx_package_list_get(node, i));
      if (item == nullptr) {
        Py_CLEAR(out);
        break;
      }
      PyList_SET_ITEM(out, i, item);
    }
  }
  Py_LeaveRecursiveCall();
  return out;
}

bool hx_py_kind_package(PyObject* v, HxString& out) {
  _hx_package_pack* node = hx_package_new();
  bool ok = _pack(v, node);
  if (ok) out = HxString(hx_package_compact(node));
  hx_package_destroy(node);
  return ok;
}

PyObject* hx_py_str(char const* bytes, Py_ssize_t n) {
  if (bytes == nullptr || n <= 0) return PyUnicode_FromStringAndSize("", 0);
  return PyUnicode_DecodeUTF8(bytes, n, "replace");
}

PyObject* hx_py_str(HxString const& text) { return hx_py_str(text.value(), text.length()); }

PyObject* hx_py_int(long long value) { return PyLong_FromLongLong(value); }

PyObject* hx_py_time(int stored) { return PyLong_FromLongLong(static_cast<long long>(stored) + kHxPyTimeEpoch); }

PyObject* hx_py_package(HxString const& text) {
  if (text.length() == 0) Py_RETURN_NONE;
  _hx_package_pack* node = hx_package_expand(text.value());
  PyObject* out = _unpack(node);
  hx_package_destroy(node);
  return out;
}

bool hx_py_dict_put(PyObject* dict, char const* key, PyObject* value) {
  if (value == nullptr) return false;
  int rc = PyDict_SetItemString(dict, key, value);
  Py_DECREF(value);
  return rc == 0;
}

bool hx_py_dict_put(PyObject* dict, HxString const& key, PyObject* value) {
  PyObject* name = value == nullptr ? nullptr : hx_py_str(key);
  bool ok = name != nullptr && PyDict_SetItem(dict, name, value) == 0;
  Py_XDECREF(name);
  Py_XDECREF(value);
  return ok;
}

HxConfig* _hx_py_dict_config(PyObject* dict) {
  if (dict == nullptr || !PyDict_Check(dict)) return nullptr;
  HxConfig* config = new HxConfig();
  PyObject* keys = PyDict_Keys(dict);
  if (keys == nullptr) {
    PyErr_Clear();
    return config;
  }
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys); ++i) {
    PyObject* key = PyList_GET_ITEM(keys, i);
    PyObject* value = PyDict_GetItemWithError(dict, key);
    if (value == nullptr) {
      PyErr_Clear();
      continue;
    }
    config->option(_py_string(key), _py_string(value));
  }
  Py_DECREF(keys);
  return config;
}

PyObject* _hx_py_config_dict(HxConfig* config) {
  PyObject* dict = PyDict_New();
  if (dict == nullptr || config == nullptr) return dict;
  HxStringList names;
  config->labels(names);
  for (int i = 0; i < names.length(); ++i) {
    HxString const* name = names.get(i);
    if (name == nullptr) continue;
    PyObject* key = hx_py_str(*name);
    PyObject* value = key == nullptr ? nullptr : hx_py_str(config->option(*name));
    bool ok = value != nullptr && PyDict_SetItem(dict, key, value) == 0;
    Py_XDECREF(key);
    Py_XDECREF(value);
    if (!ok) {
      Py_DECREF(dict);
      return nullptr;
    }
  }
  return dict;
}

#include "python/HxPyConvert.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "core/HxLimits.h"

namespace {

// An int's decimal text in full, as str() gives it for an int (True: "1").
// False, with ValueError set, past the interpreter's limit on the digits of
// an int turned into text; memory running out throws std::bad_alloc.
bool int_text(PyObject* v, HxString& out) {
  HxPyRef const text(PyNumber_ToBase(v, 10));
  Py_ssize_t n = 0;
  char const* p = text ? PyUnicode_AsUTF8AndSize(text.get(), &n) : nullptr;
  if (p != nullptr) {
    out = HxString(p, static_cast<int>(n));
    return true;
  }
  if (!PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
  PyErr_Clear();
  throw std::bad_alloc();
}

// Clears the failure of an encoding that has a fallback (a text that has no
// form in it); memory running out is no such failure and is thrown as
// std::bad_alloc, which the module function's guard makes MemoryError.
void no_encoding() {
  if (!PyErr_ExceptionMatches(PyExc_UnicodeError)) {
    PyErr_Clear();
    throw std::bad_alloc();
  }
  PyErr_Clear();
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
    HxPyRef const item = HxPyRef::borrowed(PySequence_Fast_GET_ITEM(seq, i));
    if (!pack_child(item.get(), node, nullptr, depth)) return false;
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
  HxPyRef const keys(PyDict_Keys(dict));
  if (!keys) return false;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys.get()); ++i) {
    PyObject* key = PyList_GET_ITEM(keys.get(), i);
    HxString name;
    if (!key_name(key, name)) {
      unrecognized();
      continue;
    }
    // A key's own __hash__ or __eq__ runs here.
    HxPyRef const item = HxPyRef::borrowed(PyDict_GetItemWithError(dict, key));
    if (!item) {
      // Removed while an earlier value was converted: nothing to pack.
      if (PyErr_Occurred()) return false;
      continue;
    }
    if (!pack_child(item.get(), node, &name, depth)) return false;
  }
  return true;
}

bool pack_mapping(PyObject* map, _hx_package_pack* node, int depth) {
  // Objects that index but have no keys() (bytes, ranges) are no mapping.
  // What keys() itself raises is the caller's and ends the conversion.
  HxPyRef const method(PyObject_GetAttrString(map, "keys"));
  if (!method) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    unrecognized();
    return true;
  }
  HxPyRef keys(PyObject_CallNoArgs(method.get()));
  if (!keys) return false;
  HxPyRef const fast(PySequence_Fast(keys.get(), "mapping keys are not a sequence"));
  keys.reset();
  if (!fast) return false;
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(fast.get()); ++i) {
    // The key is held: fetching the value runs the mapping's own code,
    // which may change a key list that is the mapping's own list.
    HxPyRef const key = HxPyRef::borrowed(PySequence_Fast_GET_ITEM(fast.get(), i));
    if (!PyUnicode_Check(key.get())) continue;
    HxPyRef const item(PyObject_GetItem(map, key.get()));
    if (!item) return false;
    HxString name = _py_string(key.get());
    if (!pack_child(item.get(), node, &name, depth)) return false;
  }
  return true;
}

bool pack_(PyObject* value, _hx_package_pack* node, int depth) {
  HxPyRecursion const level(" while converting a value to a package");
  if (!level.entered()) return false;
  // A mapping's keys() may drop the last other reference to it.
  HxPyRef const hold = HxPyRef::borrowed(value);
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
    no_encoding();
    HxPyRef bytes(PyUnicode_AsEncodedString(object, "utf-8", "surrogateescape"));
    if (!bytes) {
      no_encoding();
      bytes.reset(PyUnicode_AsEncodedString(object, "utf-8", "replace"));
    }
    if (!bytes) {
      no_encoding();
      return HxString();
    }
    return HxString(PyBytes_AS_STRING(bytes.get()), static_cast<int>(PyBytes_GET_SIZE(bytes.get())));
  }
  if (PyLong_Check(object)) {
    // An int too long for the interpreter's text of it has none here
    // either: no exception is left behind.
    HxString text;
    if (int_text(object, text)) return text;
    PyErr_Clear();
  }
  return HxString();
}

bool hx_py_path(PyObject* object, HxString& path) {
  HxString text;
  if (PyUnicode_Check(object)) {
    HxPyRef const bytes(PyUnicode_EncodeFSDefault(object));
    if (!bytes) return false;
    text = HxString(PyBytes_AS_STRING(bytes.get()), static_cast<int>(PyBytes_GET_SIZE(bytes.get())));
  } else if (PyLong_Check(object)) {
    if (!int_text(object, text)) return false;
  } else {
    text = _py_string(object);
  }
  for (int i = 0; i < text.length(); ++i) {
    if (text.value()[i] == '\0') {
      PyErr_SetString(PyExc_ValueError, "embedded null character");
      return false;
    }
  }
  path = text;
  return true;
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
  HxPyRecursion const level(" while converting a package");
  if (!level.entered()) return nullptr;
  HxPyRef out;
  if (hx_package_name_len(hx_package_list_get(node, 0)) > 0) {
    out.reset(PyDict_New());
    for (int i = 0; out && i < n; ++i) {
      _hx_package_pack* child = hx_package_list_get(node, i);
      HxPyRef const key(hx_py_str(hx_package_get_name(child), hx_package_name_len(child)));
      HxPyRef const item(key ? _unpack(child) : nullptr);
      if (!item || PyDict_SetItem(out.get(), key.get(), item.get()) < 0) out.reset();
    }
  } else {
    out.reset(PyList_New(n));
    for (int i = 0; out && i < n; ++i) {
      PyObject* item = _unpack(hx_package_list_get(node, i));
      if (item == nullptr) out.reset();
      else PyList_SET_ITEM(out.get(), i, item);
    }
  }
  return out.release();
}

bool hx_py_kind_package(PyObject* v, HxString& out) {
  struct Destroy {
    void operator()(_hx_package_pack* n) const { hx_package_destroy(n); }
  };
  std::unique_ptr<_hx_package_pack, Destroy> node(hx_package_new());
  bool ok = _pack(v, node.get());
  if (ok) out = HxString(hx_package_compact(node.get()));
  return ok;
}

bool hx_py_dict_get(PyObject* dict, PyObject* key, HxPyRef& value) {
  value.reset();
  if (dict == nullptr || key == nullptr) return true;
  value = HxPyRef::borrowed(PyDict_GetItemWithError(dict, key));
  return value || !PyErr_Occurred();
}

bool hx_py_dict_get(PyObject* dict, char const* key, HxPyRef& value) {
  value.reset();
  HxPyRef const name(PyUnicode_FromString(key));
  return name && hx_py_dict_get(dict, name.get(), value);
}

PyObject* hx_py_str(char const* bytes, Py_ssize_t n) {
  if (bytes == nullptr || n <= 0) return PyUnicode_FromStringAndSize("", 0);
  return PyUnicode_DecodeUTF8(bytes, n, "replace");
}

PyObject* hx_py_str(HxString const& text) { return hx_py_str(text.value(), text.length()); }

PyObject* hx_py_str_list(HxStringList const& list) {
  return hx_py_list_of(list, [](HxString const* s) { return s == nullptr ? hx_py_str(HxString()) : hx_py_str(*s); });
}

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
  // A key's __hash__ or __eq__ may drop the last other reference to the dict.
  HxPyRef const hold = HxPyRef::borrowed(dict);
  std::unique_ptr<HxConfig> config(new HxConfig());
  bool const read = hx_py_each_entry(dict, [&](PyObject* key, PyObject* value) {
    config->option(_py_string(key), _py_string(value));
    return true;
  });
  return read ? config.release() : nullptr;
}

PyObject* _hx_py_config_dict(HxConfig* config) {
  HxPyRef dict(PyDict_New());
  if (!dict || config == nullptr) return dict.release();
  HxStringList names;
  config->labels(names);
  for (int i = 0; i < names.length(); ++i) {
    HxString const* name = names.get(i);
    if (name == nullptr) continue;
    if (!hx_py_dict_put(dict.get(), *name, hx_py_str(config->option(*name)))) return nullptr;
  }
  return dict.release();
}

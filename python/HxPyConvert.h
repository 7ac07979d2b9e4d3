#pragma once

// Conversions between Python values and the library's strings, integers,
// package values and configurations. Every function here is called with the
// interpreter lock held.
//
// Error rule of the whole module: a function returns a value and leaves no
// exception set, or returns null (false) with exactly one exception set. A
// conversion that turns a failure into a default clears the failure there.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <type_traits>

#include "config/HxConfig.h"
#include "core/HxString.h"
#include "core/pack/HxPackage.h"

// Unix time of the system's time base; the record's time fields count from it.
constexpr long long kHxPyTimeEpoch = 946702800;

// ---- owning references ------------------------------------------------------

// Owns one reference to a Python object (or none) and drops it when it goes.
// A value read from a dict or a sequence is held by one of these while Python
// code runs (a sequence's __len__ or __getitem__, a key's __hash__ or __eq__,
// a mapping's keys()) that could drop the container's reference to it; and an
// object being built is released when a C++ exception (memory running out)
// unwinds past it.
class HxPyRef {
 public:
  HxPyRef() = default;
  // Takes over a new reference; null gives an empty owner.
  explicit HxPyRef(PyObject* owned) : object_(owned) {}
  // A reference of its own to a borrowed object; null gives an empty owner.
  static HxPyRef borrowed(PyObject* object) {
    Py_XINCREF(object);
    return HxPyRef(object);
  }
  HxPyRef(HxPyRef&& other) noexcept : object_(other.release()) {}
  HxPyRef& operator=(HxPyRef&& other) noexcept {
    reset(other.release());
    return *this;
  }
  HxPyRef(HxPyRef const&) = delete;
  HxPyRef& operator=(HxPyRef const&) = delete;
  ~HxPyRef() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the reference to the caller; the owner is empty afterwards.
  PyObject* release() {
    PyObject* out = object_;
    object_ = nullptr;
    return out;
  }
  // Drops the reference held (after taking the new one: dropping may run
  // Python code that reads this owner).
  void reset(PyObject* owned = nullptr) {
    PyObject* old = object_;
    object_ = owned;
    Py_XDECREF(old);
  }

 private:
  PyObject* object_ = nullptr;
};

// Sets value to the value under a key, as a reference of its own; empty
// when the key is absent. False, with the exception set, when the lookup
// failed: a key's __hash__ or __eq__ is the caller's code, and what it
// raises ends the call that reads the dict.
[[nodiscard]] bool hx_py_dict_get(PyObject* dict, PyObject* key, HxPyRef& value);
[[nodiscard]] bool hx_py_dict_get(PyObject* dict, char const* key, HxPyRef& value);

// Calls read(value) when the dict holds the key; read returns nothing, or
// false to fail with an exception set. False, with the exception set, when
// the lookup or read failed.
template <class Read>
bool hx_py_with_key(PyObject* dict, char const* key, Read&& read) {
  HxPyRef value;
  if (!hx_py_dict_get(dict, key, value)) return false;
  if (!value) return true;
  if constexpr (std::is_void_v<decltype(read(value.get()))>) {
    read(value.get());
    return true;
  } else {
    return read(value.get());
  }
}

// Calls each(key, value) for every key of the dict, in its order, with the
// value looked up again under the key (the caller's code may change the dict
// meanwhile: a key gone by then is passed over). each returns false to fail
// with an exception set. False, with the exception set, when taking the keys,
// a lookup or each failed.
template <class Each>
bool hx_py_each_entry(PyObject* dict, Each&& each) {
  HxPyRef const keys(PyDict_Keys(dict));
  if (!keys) return false;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys.get()); ++i) {
    PyObject* key = PyList_GET_ITEM(keys.get(), i);
    HxPyRef value;
    if (!hx_py_dict_get(dict, key, value)) return false;
    if (value && !each(key, value.get())) return false;
  }
  return true;
}

// One level of the interpreter's recursion limit for a scope, given back also
// when a C++ exception leaves it. entered() is false, with RecursionError set,
// when the limit is reached.
class HxPyRecursion {
 public:
  explicit HxPyRecursion(char const* where) : entered_(Py_EnterRecursiveCall(where) == 0) {}
  ~HxPyRecursion() {
    if (entered_) Py_LeaveRecursiveCall();
  }
  HxPyRecursion(HxPyRecursion const&) = delete;
  HxPyRecursion& operator=(HxPyRecursion const&) = delete;
  bool entered() const { return entered_; }

 private:
  bool entered_;
};

// Pauses the cyclic collector for a scope and restarts it (when it ran
// before) also when a C++ exception leaves the scope.
class HxPyGcPause {
 public:
  HxPyGcPause() : collecting_(PyGC_Disable()) {}
  ~HxPyGcPause() {
    if (collecting_) PyGC_Enable();
  }
  HxPyGcPause(HxPyGcPause const&) = delete;
  HxPyGcPause& operator=(HxPyGcPause const&) = delete;

 private:
  int collecting_;
};

// The text of a value: a str's UTF-8 text (lone surrogates go through
// "surrogateescape", else "replace"), an int's decimal text in full (as
// str() gives it; True: "1"); anything else (None included), and an int
// past the interpreter's limit on digits, gives an undefined string. Raises no
// Python exception; memory running out while a str is encoded throws
// std::bad_alloc, as any other allocation of the text does.
HxString _py_string(PyObject* object);
// The text of a value that names a file: a str encoded as the interpreter
// encodes paths (its file-system encoding with "surrogateescape", as
// os.fsencode), so that a surrogate standing for a raw byte becomes that
// byte; another value gives _py_string's text. False, with the exception
// set, when the str has no such encoding (a lone surrogate:
// UnicodeEncodeError, as open() raises), when an int has more digits than
// the interpreter turns into text (ValueError, as str() raises), and with
// ValueError "embedded null character" (the words of open()) when the text
// holds a NUL byte: the file system would see only the part before it,
// another file.
bool hx_py_path(PyObject* object, HxString& path);
// True for an int or int subclass (bool included).
bool _py_is_int(PyObject* object);
// An int's low 64 bits as a signed value; a str read like strtol (leading
// blanks, optional sign, digits; saturating); anything else 0. Never fails.
long _py_int(PyObject* object);

// Writes a Python value into a package node (its value or its children).
// Values of other types print "unrecognized object encountered during
// conversion." and leave their node unchanged. False, with RecursionError
// set, when the value nests deeper than a package can be read back (a list
// that holds itself); the node then holds what was written so far.
bool _pack(PyObject* value, _hx_package_pack* node);
// The Python value of a node tree (null node: None). New reference, or null
// with an exception set.
PyObject* _unpack(_hx_package_pack* node);

// ---- value kinds of record dictionaries ----------------------------------

// int kind: an int's low 64 bits, a str by strtol, else 0; narrowed to the
// field by the caller's choice of helper.
inline int hx_py_kind_int(PyObject* v) { return static_cast<int>(_py_int(v)); }
inline unsigned char hx_py_kind_byte(PyObject* v) { return static_cast<unsigned char>(_py_int(v)); }
inline long long hx_py_kind_int64(PyObject* v) { return static_cast<long long>(_py_int(v)); }
// text kind: a str's text; another value gives _py_string's text.
inline HxString hx_py_kind_text(PyObject* v) { return _py_string(v); }
// time kind: Unix seconds to the stored count since the time base, computed
// in 64 bits and narrowed only into the 32-bit field.
inline int hx_py_kind_time(PyObject* v) {
  return static_cast<int>(static_cast<long long>(_py_int(v)) - kHxPyTimeEpoch);
}
// package kind: any value packed and compacted into out. False with an
// exception set when packing failed.
bool hx_py_kind_package(PyObject* v, HxString& out);

// Record to dictionary: new references, or null with an exception set.
// Texts that are not valid UTF-8 are decoded with replacement characters;
// an undefined string gives "".
PyObject* hx_py_str(HxString const& text);
PyObject* hx_py_str(char const* bytes, Py_ssize_t n);
PyObject* hx_py_int(long long value);
// A stored time (seconds since the time base) as Unix seconds.
PyObject* hx_py_time(int stored);
// A compact package text as its Python value (None for an empty text).
PyObject* hx_py_package(HxString const& text);
// Sets dict[key] = value and releases value. False (exception set) when value
// is null or the insertion failed; the caller then drops the dict.
bool hx_py_dict_put(PyObject* dict, char const* key, PyObject* value);
// The same under a key of any bytes; a key that is not UTF-8 is read with
// replacement characters.
bool hx_py_dict_put(PyObject* dict, HxString const& key, PyObject* value);

// A new list of what fn makes of each element of a record list; null, with
// the exception set, when fn fails for one. The cyclic collector is paused
// while the list fills: the new objects form no cycles, and collections
// triggered by the allocations would walk the growing list again and again,
// so that large replies cost more than linear time.
template <class List, class Fn>
PyObject* hx_py_list_of(List const& list, Fn&& fn) {
  HxPyGcPause pause;
  HxPyRef out(PyList_New(list.length()));
  for (int i = 0; out && i < list.length(); ++i) {
    PyObject* item = fn(list.get(i));
    if (item == nullptr) out.reset();
    else PyList_SET_ITEM(out.get(), i, item);
  }
  return out.release();
}

// A new list of str, one per text (a null entry gives ""); null with an
// exception set on failure.
PyObject* hx_py_str_list(HxStringList const& list);

// The list-of-records kind: calls fn(item) for each item of a value that
// passes the sequence check and has a length; a lone str counts as one
// item. A value of another type (one that only indexes, with no length) has
// no items. fn returns false to stop with an exception set. False, with the
// exception set, when fn stopped or the sequence's own __len__ or
// __getitem__ raised (its own code, whose exception is the caller's); an
// absent or empty sequence is not a failure, and an IndexError before the
// stated length ends a sequence that shrank while it was read.
template <class Fn>
bool hx_py_each_item(PyObject* seq, Fn&& fn) {
  if (seq == nullptr || !PySequence_Check(seq)) return true;
  // A lone str is one item, not one per character: {"jobids": "12"} names
  // job 12, not jobs 1 and 2.
  if (PyUnicode_Check(seq)) return fn(seq);
  PySequenceMethods const* methods = Py_TYPE(seq)->tp_as_sequence;
  if (methods == nullptr || methods->sq_length == nullptr) return true;
  // The sequence's own __len__ and __getitem__ may drop the last other
  // reference to it.
  HxPyRef const hold = HxPyRef::borrowed(seq);
  Py_ssize_t n = PySequence_Size(seq);
  if (n < 0) return false;
  for (Py_ssize_t i = 0; i < n; ++i) {
    HxPyRef item(PySequence_GetItem(seq, i));
    if (!item) {
      // A sequence that shrank while it was read ends there.
      if (PyErr_ExceptionMatches(PyExc_IndexError)) {
        PyErr_Clear();
        return true;
      }
      return false;
    }
    if (!fn(item.get())) return false;
  }
  return true;
}

// Appends what convert makes of each item of a list-of-records value (see
// hx_py_each_item). An item convert rejects (null, no exception) is skipped;
// a failure (null with an exception set) stops the reading: false.
template <class List, class Convert>
bool hx_py_each_record(PyObject* seq, List& list, Convert&& convert) {
  return hx_py_each_item(seq, [&](PyObject* item) {
    auto* record = convert(item);
    if (record == nullptr) return !PyErr_Occurred();
    list.append(record);
    return true;
  });
}

// ---- configuration dictionaries -------------------------------------------

// A dict (or subclass) as a new configuration owned by the caller; null for
// null or any other value. Keys and values are read as _py_string's text.
// Null with the exception set when a lookup in the dict raised (a key's
// __eq__) or memory ran out.
HxConfig* _hx_py_dict_config(PyObject* dict);
// A configuration as a new dict of str to str in its option order; null gives
// an empty dict. Null with an exception set only when memory runs out.
PyObject* _hx_py_config_dict(HxConfig* config);

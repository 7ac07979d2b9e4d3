#include "python/HxPyConvert.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "tests/TestUtil.h"

using hxtest::S;

// The embedded interpreter is never finalised and keeps its own objects to
// the end: the leak checker ignores what the interpreter allocated itself.
// The converters' own allocations are still checked, and Python objects they
// fail to release show in the reference counts tested below.
extern "C" char const* __lsan_default_suppressions() { return "leak:libpython3\n"; }

namespace {

// One interpreter for the whole test program, started on first use.
class Py : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!Py_IsInitialized()) Py_InitializeEx(0);
    if (globals_ == nullptr) {
      globals_ = PyDict_New();
      PyDict_SetItemString(globals_, "__builtins__", PyEval_GetBuiltins());
      PyObject* r = PyRun_String("import types, functools\nclass Seq(list):\n    pass\n", Py_file_input, globals_, globals_);
      Py_XDECREF(r);
    }
  }
  void TearDown() override {
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    PyErr_Clear();
  }
  // The value of a Python expression (new reference).
  static PyObject* Eval(std::string const& expr) {
    PyObject* v = PyRun_String(expr.c_str(), Py_eval_input, globals_, globals_);
    if (v == nullptr) PyErr_Print();
    return v;
  }
  static std::string Repr(PyObject* v) {
    if (v == nullptr) return "<null>";
    PyObject* r = PyObject_ASCII(v);
    std::string out = PyUnicode_AsUTF8(r);
    Py_DECREF(r);
    return out;
  }
  static PyObject* globals_;
};
PyObject* Py::globals_ = nullptr;

using PyString = Py;
using PyInt = Py;
using PyPack = Py;
using PyConfig = Py;
using PyKinds = Py;

TEST_F(PyString, TextOfEachKind) {
  struct Row {
    char const* expr;
    char const* bytes;  // null: undefined
  } const rows[] = {
      {"None", nullptr},
      {"3.5", nullptr},
      {"b'ab'", nullptr},
      {"[1]", nullptr},
      {"True", "1"},
      {"False", "0"},
      {"2**32 + 5", "4294967301"},  // an int in full, as str() gives it
      {"2**31", "2147483648"},
      {"-1", "-1"},
      {"2**70 + 3", "1180591620717411303427"},  // beyond 64 bits: no OverflowError left set
      {"-(2**70) - 1", "-1180591620717411303425"},
      {"10**5000", nullptr},  // past the interpreter's digits: no ValueError left set
      {"'h\\u00e9'", "h\xc3\xa9"},
      {"'\\udcff'", "\xff"},          // a byte escape becomes the byte
      {"'a\\ud800b'", "a?b"},         // any other lone surrogate: "?"
      {"''", ""},
  };
  for (Row const& row : rows) {
    PyObject* v = Eval(row.expr);
    HxString s = _py_string(v);
    Py_DECREF(v);
    if (row.bytes == nullptr) {
      EXPECT_TRUE(s.isundef()) << row.expr;
    } else {
      EXPECT_EQ(S(s), row.bytes) << row.expr;
    }
    EXPECT_EQ(PyErr_Occurred(), nullptr) << row.expr;
  }
  PyObject* nul = Eval("'a\\x00b'");
  EXPECT_EQ(S(_py_string(nul)), std::string("a\0b", 3));
  Py_DECREF(nul);
}

TEST_F(PyInt, ValueOfEachKind) {
  struct Row {
    char const* expr;
    long value;
    bool is_int;
  } const rows[] = {
      {"42", 42, true},
      {"True", 1, true},
      {"-7", -7, true},
      {"'42abc'", 42, false},
      {"'  -12'", -12, false},
      {"'+3'", 3, false},
      {"'abc'", 0, false},
      {"'12'", 12, false},
      {"''", 0, false},
      {"7.9", 0, false},
      {"None", 0, false},
      {"2**63", LONG_MIN, true},         // low 64 bits
      {"2**70 + 5", 5, true},
      {"-(2**64) - 2", -2, true},
      {"'99999999999999999999'", LONG_MAX, false},  // saturates like strtol
      {"'-99999999999999999999'", LONG_MIN, false},
  };
  for (Row const& row : rows) {
    PyObject* v = Eval(row.expr);
    EXPECT_EQ(_py_int(v), row.value) << row.expr;
    EXPECT_EQ(_py_is_int(v), row.is_int) << row.expr;
    Py_DECREF(v);
    EXPECT_EQ(PyErr_Occurred(), nullptr) << row.expr;
  }
}

TEST_F(PyKinds, NarrowingIntoFields) {
  struct Row {
    char const* expr;
    int value;
    unsigned char byte;
    int time;
  } const rows[] = {
      {"5", 5, 5, static_cast<int>(5 - kHxPyTimeEpoch)},
      {"2**32 + 5", 5, 5, static_cast<int>(4294967301LL - kHxPyTimeEpoch)},
      {"'99999999999999999999'", -1, 255, static_cast<int>(LONG_MAX - kHxPyTimeEpoch)},
      {"258", 258, 2, static_cast<int>(258 - kHxPyTimeEpoch)},
      {"946702800", 946702800, 208, 0},
      // 2040-01-01: past 2**31 as Unix time, within the field after the shift.
      {"2208988800", static_cast<int>(2208988800LL), 128, 1262286000},
      {"'2208988800'", static_cast<int>(2208988800LL), 128, 1262286000},
      {"1.5", 0, 0, static_cast<int>(-kHxPyTimeEpoch)},
  };
  for (Row const& row : rows) {
    PyObject* v = Eval(row.expr);
    EXPECT_EQ(hx_py_kind_int(v), row.value) << row.expr;
    EXPECT_EQ(hx_py_kind_byte(v), row.byte) << row.expr;
    EXPECT_EQ(hx_py_kind_time(v), row.time) << row.expr;
    Py_DECREF(v);
  }
  PyObject* t = hx_py_time(1262286000);
  EXPECT_EQ(PyLong_AsLongLong(t), 2208988800LL);
  Py_DECREF(t);
  t = hx_py_time(0);
  EXPECT_EQ(PyLong_AsLongLong(t), 946702800LL);
  Py_DECREF(t);
}

TEST_F(PyKinds, TextsFromRecordsDecodeWithReplacement) {
  struct Row {
    std::string bytes;
    char const* repr;
  } const rows[] = {
      {"", "''"},
      {"abc", "'abc'"},
      {"caf\xc3\xa9", "'caf\\xe9'"},
      {"a\xff" "b", "'a\\ufffdb'"},
      {"\xc3", "'\\ufffd'"},
      {std::string("a\0b", 3), "'a\\x00b'"},
  };
  for (Row const& row : rows) {
    PyObject* v = hx_py_str(hxtest::H(row.bytes));
    EXPECT_EQ(Repr(v), row.repr);
    Py_XDECREF(v);
  }
  PyObject* v = hx_py_str(HxString());
  EXPECT_EQ(Repr(v), "''");
  Py_DECREF(v);
}

TEST_F(PyPack, RoundTripsThroughCompactText) {
  struct Row {
    char const* expr;
    char const* back;     // repr of the value read back
    int unrecognized;     // printed lines expected
  } const rows[] = {
      {"{'a': 1, 'b': [None, 'x']}", "{'a': '1', 'b': [None, 'x']}", 0},
      {"(1, (2, True))", "['1', ['2', '1']]", 0},
      {"[]", "None", 0},
      {"()", "None", 0},
      {"{}", "None", 0},
      {"''", "None", 0},
      {"None", "None", 0},
      {"'x'", "'x'", 0},
      {"2**32 + 5", "'4294967301'", 0},
      {"2**70 - 1", "'1180591620717411303423'", 0},
      {"{'': 1, 'b': 2}", "['1', '2']", 0},          // the empty name is not kept
      {"[1.5, 'x']", "[None, 'x']", 1},
      {"1.5", "None", 1},
      {"b'xy'", "None", 1},
      {"{3: 'a', 'b': 'c'}", "{'3': 'a', 'b': 'c'}", 0},  // int key: its decimal text
      {"{(1,): 'a', 'b': 'c'}", "{'b': 'c'}", 1},         // other keys skipped
      {"{'k': '\\udcff'}", "{'k': '\\ufffd'}", 0},
      {"types.MappingProxyType({'a': 1, 2: 'x'})", "{'a': '1'}", 0},
      {"Seq(['p', 'q'])", "['p', 'q']", 0},
      {"{'s': {'t': ['(', ')', '=', '\\\\']}}", "{'s': {'t': ['(', ')', '=', '\\\\']}}", 0},
  };
  for (Row const& row : rows) {
    PyObject* v = Eval(row.expr);
    ASSERT_NE(v, nullptr) << row.expr;
    Py_ssize_t refs = Py_REFCNT(v);
    HxString text;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(hx_py_kind_package(v, text)) << row.expr;
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Py_REFCNT(v), refs) << row.expr;
    Py_DECREF(v);
    std::string line = "unrecognized object encountered during conversion.\n";
    std::string want;
    for (int i = 0; i < row.unrecognized; ++i) want += line;
    EXPECT_EQ(printed, want) << row.expr;
    PyObject* back = hx_py_package(text);
    EXPECT_EQ(Repr(back), row.back) << row.expr << " via " << S(text);
    if (back != nullptr && (PyDict_Check(back) || PyList_Check(back))) {
      EXPECT_EQ(Py_REFCNT(back), 1) << row.expr;
    }
    Py_XDECREF(back);
  }
}

TEST_F(PyPack, DepthIsBounded) {
  struct Row {
    char const* expr;
    bool ok;
  } const rows[] = {
      {"[(l := []), l.append(l)][0]", false},                // holds itself
      {"[(d := {}), d.__setitem__('d', d)][0]", false},
      {"functools.reduce(lambda a, _: [a], range(256), [])", true},
      {"functools.reduce(lambda a, _: [a], range(257), [])", false},
  };
  for (Row const& row : rows) {
    PyObject* v = Eval(row.expr);
    ASSERT_NE(v, nullptr) << row.expr;
    _hx_package_pack* node = hx_package_new();
    EXPECT_EQ(_pack(v, node), row.ok) << row.expr;
    if (row.ok) {
      EXPECT_EQ(PyErr_Occurred(), nullptr);
    } else {
      EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_RecursionError)) << row.expr;
      PyErr_Clear();
    }
    hx_package_destroy(node);
    // Break the cycle so that the value goes.
    if (PyList_Check(v)) PyList_SetSlice(v, 0, PyList_GET_SIZE(v), nullptr);
    if (PyDict_Check(v)) PyDict_Clear(v);
    Py_DECREF(v);
  }
}

TEST_F(PyPack, UnpackOfHandBuiltNodes) {
  // Invalid UTF-8 in names and values, and an unnamed child after a named one.
  _hx_package_pack* root = hx_package_new();
  _hx_package_pack* a = hx_package_new();
  hx_package_set_name(a, "n\xff");
  hx_package_set_value(a, "v\xfe");
  hx_package_list_push(root, a);
  _hx_package_pack* b = hx_package_new();
  hx_package_set_value(b, "w");
  hx_package_list_push(root, b);
  PyObject* v = _unpack(root);
  EXPECT_EQ(Repr(v), "{'n\\ufffd': 'v\\ufffd', '': 'w'}");
  Py_XDECREF(v);
  hx_package_destroy(root);

  v = _unpack(nullptr);
  EXPECT_EQ(v, Py_None);
  Py_DECREF(v);
  v = hx_py_package(HxString(""));
  EXPECT_EQ(v, Py_None);
  Py_DECREF(v);
}

TEST_F(PyConfig, DictToConfigAndBack) {
  EXPECT_EQ(_hx_py_dict_config(nullptr), nullptr);
  struct Row {
    char const* expr;
    char const* back;  // null: not a dict
  } const rows[] = {
      {"{'b': '1', 'a': '2'}", "{'b': '1', 'a': '2'}"},
      {"{'n': 5, 't': True, 'f': 1.5, 7: 'x', 'u': None}", "{'n': '5', 't': '1', 'f': '', '7': 'x', 'u': ''}"},
      {"{'k': '\\udcff'}", "{'k': '\\ufffd'}"},
      {"{}", "{}"},
      {"[('a', '1')]", nullptr},
      {"'a=1'", nullptr},
      {"types.MappingProxyType({'a': '1'})", nullptr},
  };
  for (Row const& row : rows) {
    PyObject* v = Eval(row.expr);
    HxConfig* config = _hx_py_dict_config(v);
    Py_DECREF(v);
    if (row.back == nullptr) {
      EXPECT_EQ(config, nullptr) << row.expr;
      continue;
    }
    ASSERT_NE(config, nullptr) << row.expr;
    PyObject* back = _hx_py_config_dict(config);
    EXPECT_EQ(Repr(back), row.back);
    Py_XDECREF(back);
    delete config;
  }
  PyObject* empty = _hx_py_config_dict(nullptr);
  EXPECT_EQ(Repr(empty), "{}");
  Py_DECREF(empty);
}

TEST_F(PyConfig, SequenceItemsOfListKeys) {
  struct Row {
    char const* expr;
    int items;
  } const rows[] = {
      {"[{}, {}, {}]", 3}, {"({},)", 1}, {"'ab'", 1}, {"[]", 0}, {"None", 0}, {"5", 0}, {"{'a': 1}", 0},
      // Indexes but has no length: a value of another type, no items.
      {"type('Indexes', (), {'__getitem__': lambda self, i: {}})()", 0},
  };
  for (Row const& row : rows) {
    PyObject* v = Eval(row.expr);
    int n = 0;
    EXPECT_TRUE(hx_py_each_item(v, [&](PyObject*) { return ++n, true; })) << row.expr;
    EXPECT_EQ(n, row.items) << row.expr;
    Py_DECREF(v);
  }
  // A converter that fails stops the walk with its error.
  PyObject* v = Eval("[1, 2, 3]");
  int n = 0;
  EXPECT_FALSE(hx_py_each_item(v, [&](PyObject*) {
    PyErr_SetString(PyExc_ValueError, "bad item");
    return ++n, false;
  }));
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_ValueError));
  PyErr_Clear();
  Py_DECREF(v);
}

}  // namespace

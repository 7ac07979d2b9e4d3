#include "tests/python/PyTestUtil.h"

namespace {

using hxtest::py_exec;
using hxtest::py_int;
using hxtest::py_raises;
using hxtest::py_repr;
using hxtest::py_str;

using PyHarness = hxtest::PyModuleTest;

// Python code imports the built-in module and calls it; results and errors
// come back as text.
TEST_F(PyHarness, ModuleImportableAndResultsRead) {
  EXPECT_EQ(py_exec("import _hx as m\nassert m is sys.modules['_hx']\nx = m.rangesplit('1-3')\n"), "");
  EXPECT_EQ(py_repr("x"), "['1', '2', '3']");
  EXPECT_EQ(py_int("_hx.HX_API_XML"), 2);
  EXPECT_EQ(py_str("'h\\u00e9'"), "h\xc3\xa9");
  EXPECT_EQ(py_repr("_hx.CONST()"), "<error TypeError: function takes exactly 1 argument (0 given)>");
  EXPECT_EQ(py_raises("_hx.CONST(1, 2)"), "TypeError");
  EXPECT_EQ(py_raises("y = 1"), "");
}

}  // namespace

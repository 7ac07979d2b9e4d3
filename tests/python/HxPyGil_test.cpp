#include "python/HxPyGil.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace {

class PyGil : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!Py_IsInitialized()) Py_InitializeEx(0);
  }
};

TEST_F(PyGil, ReleasedAroundTheCallAndTakenBack) {
  ASSERT_EQ(PyGILState_Check(), 1);
  // Another thread runs Python code while the call is inside: it could not
  // if the lock were still held (the join would never return).
  int seen = 0;
  int result = hx_py_released([&] {
    EXPECT_EQ(PyGILState_Check(), 0);
    std::thread other([&] {
      PyGILState_STATE state = PyGILState_Ensure();
      PyObject* v = PyLong_FromLong(41);
      seen = static_cast<int>(PyLong_AsLong(v)) + 1;
      Py_DECREF(v);
      PyGILState_Release(state);
    });
    other.join();
    return 7;
  });
  EXPECT_EQ(result, 7);
  EXPECT_EQ(seen, 42);
  EXPECT_EQ(PyGILState_Check(), 1);

  // Taken back also when the call throws.
  EXPECT_THROW(hx_py_released([]() -> int { throw std::runtime_error("x"); }), std::runtime_error);
  EXPECT_EQ(PyGILState_Check(), 1);
}

}  // namespace

#include "python/HxPyGil.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/HxInterrupt.h"
#include "tests/api/ApiTestUtil.h"
#include "tests/api/FakeSupervisor.h"
#include "tests/api/JobProcessTestUtil.h"
#include "tests/net/NetTestUtil.h"
#include "tests/python/PyTestUtil.h"

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

// ---- signals ------------------------------------------------------------------

// A world whose first wait on the test's thread (once armed) raises SIGINT,
// as if Ctrl-C came while the call was busy just before it, and finds
// nothing ready; it records that wait's time-out. While armed the call is
// busy for long stretches: each look at the steady clock on the test's
// thread finds kHxCheckAfterWorkMillis gone by. Later waits on the test's
// thread time out at once when `time_out`; other threads wait for real.
class SigintWorld : public hxtest::ApiWorld {
 public:
  int64_t steadyMillis() override {
    int64_t const now = HxWorld::steadyMillis() + skipped_;
    if (pthread_equal(pthread_self(), test_thread_) != 0 && armed) skipped_ += kHxCheckAfterWorkMillis;
    return now;
  }
  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    if (pthread_equal(pthread_self(), test_thread_) == 0) return HxWorld::poll(fds, count, timeout_ms);
    if (armed.exchange(false)) {
      first_wait = timeout_ms;
      raise(SIGINT);
      return 0;
    }
    if (time_out && timeout_ms != 0) return 0;
    return HxWorld::poll(fds, count, timeout_ms);
  }
  std::atomic<bool> armed{true};
  std::atomic<int> first_wait{-2};
  bool time_out = true;

 private:
  pthread_t const test_thread_ = pthread_self();
  std::atomic<int64_t> skipped_{0};
};

class PySignals : public hxtest::PyModuleTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(hxtest::py_exec("import signal\nsignal.signal(signal.SIGINT, signal.default_int_handler)\n"), "");
  }
  void TearDown() override {
    EXPECT_EQ(hxtest::py_exec("signal.signal(signal.SIGINT, signal.SIG_DFL)\n"), "");
    hxtest::PyModuleTest::TearDown();
  }
};

// Ctrl-C that came while the call was busy for a long stretch before its
// wait (SIGINT is pending when the wait begins) ends the call at that wait
// with KeyboardInterrupt: the wait asks the signal handlers before it
// blocks, rather than waiting out its time-out first. For calls that
// release the interpreter lock and for one that keeps it (waitfor).
TEST_F(PySignals, CtrlCBeforeTheWaitEndsTheCallThere) {
  struct Row {
    char const* name;
    char const* call;
  } const rows[] = {
      {"jobinfo", "_hx.jobinfo()"},
      {"kill", "_hx.kill(12)"},
      {"waitfor", "_hx.waitfor('never', 5)"},
  };
  for (Row const& row : rows) {
    SigintWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeSupervisor supe(world);
    ASSERT_TRUE(supe.ok());
    supe.addJob(12, "ann", "a");
    std::string const got = hxtest::py_repr(row.call);
    EXPECT_NE(got.find("KeyboardInterrupt"), std::string::npos) << row.name << ": " << got;
    // 0: the look that does not wait; a time-out: the wait blocked first.
    EXPECT_EQ(world.first_wait, 0) << row.name;
  }
}

// A signal handler's exception that ends a nested call (made from the
// outer call's argument conversion, and caught there) ends only the nested
// call: the outer kill still reaches the supervisor.
TEST_F(PySignals, NestedCallEndedBySignalLeavesTheOuterCallGoing) {
  SigintWorld world;
  world.time_out = false;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  supe.addJob(12, "ann", "a");
  ASSERT_EQ(hxtest::py_exec(R"(
said = []
class Nested(list):
    """Job ids whose first reading makes a call of its own."""
    def __getitem__(self, i):
        if not said:
            try:
                _hx.jobinfo()
                said.append('returned')
            except KeyboardInterrupt:
                said.append('KeyboardInterrupt')
        return list.__getitem__(self, i)
)"),
            "");
  EXPECT_EQ(hxtest::py_repr("_hx.kill({'jobids': Nested(['12'])})"), "['12']");
  EXPECT_EQ(hxtest::py_repr("said"), "['KeyboardInterrupt']");
  EXPECT_EQ(std::string(supe.job(12).status().value().value()), "killed");
}

// sigint_item(i): raises SIGINT and gives "12", with no Python code after
// it that would run the handler: as a sequence's __getitem__, the signal is
// pending while the call converts its arguments.
PyObject* sigint_item(PyObject*, PyObject*) {
  raise(SIGINT);
  return PyUnicode_FromString("12");
}

PyMethodDef g_sigint_item = {"sigint_item", sigint_item, METH_O, nullptr};

// Ctrl-C while the call converts its arguments ends it when it releases
// the lock, before its request: nothing reaches the supervisor.
TEST_F(PySignals, CtrlCWhileConvertingEndsTheCallBeforeItsRequest) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  supe.addJob(12, "ann", "a");
  hxtest::py_set("sigint_item", PyCFunction_New(&g_sigint_item, nullptr));
  ASSERT_EQ(hxtest::py_exec("class SigIds(list):\n    __getitem__ = sigint_item\n"), "");
  std::string const got = hxtest::py_repr("_hx.kill({'jobids': SigIds(['12'])})");
  EXPECT_NE(got.find("KeyboardInterrupt"), std::string::npos) << got;
  EXPECT_EQ(supe.requests().size(), 0u);
  EXPECT_NE(std::string(supe.job(12).status().value().value()), "killed");
}

}  // namespace

#include "python/HxPyGil.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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
// as if Ctrl-C came while the call worked just before it, and then times
// out; it records that wait's time-out. Later waits on the test's thread
// time out at once when `time_out`; other threads wait for real.
class SigintWorld : public hxtest::ApiWorld {
 public:
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
};

class PySignals : public hxtest::PyModuleTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(hxtest::py_exec("import signal\nsignal.signal(signal.SIGINT, signal.default_int_handler)\n"), "");
    // An ask outside a call says no at once; the thread's slice begins anew.
    hx_check_interrupt();
  }
  void TearDown() override {
    EXPECT_EQ(hxtest::py_exec("signal.signal(signal.SIGINT, signal.SIG_DFL)\n"), "");
    hxtest::PyModuleTest::TearDown();
  }
};

// Ctrl-C that came while the call worked before its wait (SIGINT is
// pending when the wait begins, and wakes nothing) ends the call after a
// slice of that wait with KeyboardInterrupt, rather than after its whole
// time-out. For calls that release the interpreter lock and for one that
// keeps it (waitfor).
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
    EXPECT_GT(world.first_wait, 0) << row.name;
    EXPECT_LE(world.first_wait, kHxCheckSliceMillis) << row.name;
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

// A world whose first wait on the test's thread (fetching the worker's
// flight checks) fails at once, after raising SIGINT when `signal`: as a
// wait that SIGINT interrupts (EINTR), or as one that failed just as the
// signal came (which leaves it pending, and asks nothing).
class FlightWorld : public hxtest::ApiWorld {
 public:
  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    if (pthread_equal(pthread_self(), test_thread_) == 0 || !armed.exchange(false))
      return HxWorld::poll(fds, count, timeout_ms);
    if (signal) raise(SIGINT);
    errno = interrupted ? EINTR : EIO;
    return -1;
  }
  bool signal = false;
  bool interrupted = false;
  std::atomic<bool> armed{true};

 private:
  pthread_t const test_thread_ = pthread_self();
};

// The flight check of a work report, the way the module runs it: a request
// that Ctrl-C ended while it fetched the worker's checks (from a worker
// that never answers), or one whose Ctrl-C is still pending when the
// command would start, starts no command and raises KeyboardInterrupt.
TEST_F(PySignals, FlightCheckOfAnEndedRequestStartsNoCommand) {
  struct Row {
    char const* name;
    bool signal;
    bool interrupted;
    bool ran;  // whether the command ran
  } const rows[] = {
      {"no signal", false, false, true},
      {"ended while fetching the worker's checks", true, true, false},
      {"pending as the command would start", true, false, false},
  };
  hxtest::TempDir dir("pyflight");
  int const worker = listening_socket();
  hxtest::py_set("job_path", PyUnicode_FromString(dir.file("job.xml").c_str()));
  hxtest::py_set("marker", PyUnicode_FromString(dir.file("marker").c_str()));
  for (Row const& row : rows) {
    FlightWorld world;
    world.signal = row.signal;
    world.interrupted = row.interrupted;
    // The worker and the supervisor: a port that takes connections and
    // never answers.
    std::string const port = std::to_string(local_port(worker));
    world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + port + "\nworker_port = " + port + "\n");
    hxtest::ApiWorldGuard guard(world);
    hxtest::JobStateGuard state;
    ::unlink(dir.file("marker").c_str());
    ASSERT_EQ(hxtest::py_exec("_hx.archivejob(job_path, {'name': 'j', 'agenda': [{'name': '1'}], "
                              "'agenda_postflights': ': > ' + marker}, 2)\n"
                              "_hx._setjob(job_path)\n"),
              "");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::string const got = hxtest::py_repr("_hx.reportwork({'name': '1', 'status': 'done'})");
    std::string const said = testing::internal::GetCapturedStderr() + testing::internal::GetCapturedStdout();
    EXPECT_FALSE(world.armed) << row.name << ": no wait";
    EXPECT_EQ(got, row.ran ? "None" : "<error KeyboardInterrupt: >") << row.name;
    EXPECT_EQ(::access(dir.file("marker").c_str(), F_OK) == 0, row.ran) << row.name << "\n" << said;
  }
  ::close(worker);
}

// A world whose steady clock runs with the real one plus what spend(ms)
// added. The first wait of the test's thread for a reply raises SIGALRM and
// fails as the signal interrupts it; the next one's time-out is recorded,
// and it and later ones time out at once.
class HandlerWorld : public hxtest::ApiWorld {
 public:
  int64_t steadyMicros() override { return HxWorld::steadyMicros() + spent * 1000; }
  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    if (pthread_equal(pthread_self(), test_thread_) == 0 || (fds[0].events & POLLIN) == 0)
      return HxWorld::poll(fds, count, timeout_ms);
    if (!signalled.exchange(true)) {
      raise(SIGALRM);
      errno = EINTR;
      return -1;
    }
    if (after < -1) after = timeout_ms;
    spent += timeout_ms;
    return 0;
  }
  std::atomic<int64_t> spent{0};
  std::atomic<bool> signalled{false};
  std::atomic<int> after{-2};

 private:
  pthread_t const test_thread_ = pthread_self();
};

HandlerWorld* g_handler_world = nullptr;

// spend(ms): moves the handler world's clock, as a handler that works that
// long would.
PyObject* spend(PyObject*, PyObject* ms) {
  g_handler_world->spent += PyLong_AsLong(ms);
  Py_RETURN_NONE;
}

PyMethodDef g_spend = {"spend", spend, METH_O, nullptr};

// The time a signal handler runs spends the deadline of the wait it
// interrupted, as in the interpreter's own waits: a step of a second whose
// handler works 1.5 s has nothing left.
TEST_F(PySignals, TimeInHandlersSpendsTheDeadline) {
  HandlerWorld world;
  g_handler_world = &world;
  // A supervisor that takes the connection and never answers.
  int const silent = listening_socket();
  world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + std::to_string(local_port(silent)) + "\n");
  hxtest::ApiWorldGuard guard(world);
  hxtest::py_set("spend", PyCFunction_New(&g_spend, nullptr));
  ASSERT_EQ(hxtest::py_exec("_old_alrm = signal.signal(signal.SIGALRM, lambda *_: spend(1500))\n"
                            "_old_timeout = _hx.gettimeout()\n"
                            "_hx.settimeout(4000)\n"),
            "");
  testing::internal::CaptureStderr();
  hxtest::py_repr("_hx.hostinfo()");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(hxtest::py_exec("signal.signal(signal.SIGALRM, _old_alrm)\n_hx.settimeout(_old_timeout)\n"), "");
  EXPECT_TRUE(world.signalled);
  EXPECT_EQ(world.after, 0);
  g_handler_world = nullptr;
  ::close(silent);
}

}  // namespace

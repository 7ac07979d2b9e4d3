#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "api/ApiTestUtil.h"
#include "api/FakeSupervisor.h"
#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "core/pack/HxRecord.h"
#include "net/HxIntro.h"
#include "tests/api/JobProcessTestUtil.h"
#include "tests/python/PyTestUtil.h"

namespace {

using hxtest::py_exec;
using hxtest::py_repr;

using PyModule = hxtest::PyModuleTest;

// Every function of the table, called with argument counts and types it
// does not take, against a peer that closes every connection: a value or
// an ordinary exception, never a crash, never a SystemError (a result with
// an exception left set, or none without one).
TEST_F(PyModule, EveryFunctionSurvivesWrongArguments) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeFarm farm(world, [](HxMessage&, HxMessage&) { return false; });
  ASSERT_TRUE(farm.ok());
  ASSERT_EQ(py_exec("names = [k for k, v in vars(_hx).items() if callable(v)]\n"
                    "ARGS = [(), (None,), (1.5,), (2**70,), ('\\udcff',), ([None, 1.5],), ({'x': object()},),\n"
                    "        (b'x', 2**70), (None,) * 8, ([[]] * 3, {}, -1)]\n"
                    "bad = []\n"),
            "");
  EXPECT_EQ(py_repr("len(names)"), "93");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  // One function at a time, the job process state cleared between calls:
  // an installed assignment would make a later job report wait for a worker.
  int n = static_cast<int>(hxtest::py_int("len(names)"));
  for (int i = 0; i < n; ++i) {
    for (int a = 0; a < 10; ++a) {
      std::string err = py_exec("f = getattr(_hx, names[" + std::to_string(i) + "])\ntry:\n    f(*ARGS[" +
                                std::to_string(a) +
                                "])\nexcept SystemError as e:\n    bad.append((f.__name__, " + std::to_string(a) +
                                ", repr(e)))\nexcept Exception:\n    pass\n");
      EXPECT_EQ(err, "");
      _hx_assignment(nullptr);
    }
  }
  testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(py_repr("bad"), "[]");
}

// Importing the module built the decoding table of every record class of
// the program (core/pack/HxRecord.h), before any thread of it could decode a
// reply and a child forked meanwhile inherit a table half built.
TEST_F(PyModule, ImportBuildsEveryRecordTable) {
  HxRecordTableCount const count = hx_record_table_count();
  EXPECT_GT(count.built, 0);
  EXPECT_EQ(count.built + count.lazily, count.classes);
}

// Calls of tick() from Python: how often the other Python thread ran.
std::atomic<long> g_ticks{0};

PyObject* tick(PyObject*, PyObject*) {
  ++g_ticks;
  Py_RETURN_NONE;
}

// Whether another Python thread runs while a function waits for its reply,
// for every function that talks to a peer: a second Python thread calls
// tick() whenever it gets to run, and the fake counts the ticks while it
// holds each reply. A function that keeps the interpreter lock lets it tick
// during no hold (each held 60 ms); one that lets go of the lock, during
// every hold, which lasts until it has ticked a few times: a count, not a
// window of time, so a loaded machine makes the test slower, not wrong.
TEST_F(PyModule, InterpreterLockDuringRequests) {
  hxtest::JobWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::JobStateGuard state;
  constexpr auto kHold = std::chrono::milliseconds(60);
  constexpr long kRuns = 5;
  constexpr auto kLongest = std::chrono::seconds(20);
  std::atomic<bool> released{false};
  std::mutex mu;
  std::vector<long> ticked;  // during each hold
  hxtest::FakeFarm farm(world, [&](HxMessage& request, HxMessage& reply) {
    long const before = g_ticks.load();
    if (released) {
      auto const deadline = std::chrono::steady_clock::now() + kLongest;
      while (g_ticks.load() - before < kRuns && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } else {
      std::this_thread::sleep_for(kHold);
    }
    {
      std::lock_guard<std::mutex> hold(mu);
      ticked.push_back(g_ticks.load() - before);
    }
    // A subscription that gets no answer ends waitfor at once; every other
    // request is confirmed, which ends the retries of the job process's
    // requests.
    return request.tag() != kHxReqSubmitGraph && hxtest::answer(reply, kHxReplyConfirmed);
  });
  ASSERT_TRUE(farm.ok());
  hxtest::py_set("port", PyLong_FromLong(farm.port()));
  static PyMethodDef tick_def = {"tick", tick, METH_NOARGS, nullptr};
  hxtest::py_set("tick", PyCFunction_New(&tick_def, nullptr));

  struct Row {
    char const* call;
    bool released;
    bool job_process;  // needs an assignment from a worker
  } const rows[] = {
      {"_hx._init_assign()", false, false},
      {"_hx.bannedworkers()", false, false},
      {"_hx.jobtagvalues('show')", false, false},
      {"_hx.stderr(['12'], 0, 10)", false, false},
      {"_hx.stdout(['12'], 0, 10)", false, false},
      {"_hx.command({'action': 207, 'jobids': ['12']})", false, false},
      {"_hx.waitfor('an event', 1)", false, false},
      {"_hx.trigger('an event')", false, false},
      {"_hx.admincommandstr('resync')", false, false},
      {"_hx.admincommand({'action': 5})", false, false},
      {"_hx.setpreference('type', 'path', 'value', 'tier', 'preset', 'user', True)", false, false},
      {"_hx.deletepreference('type', 'path', 'tier', 'preset', 'user')", false, false},
      {"_hx.jobinfo()", true, false},
      {"_hx.hostinfo()", true, false},
      {"_hx.workerlock('1')", true, false},
      {"_hx.joborder()", true, false},
      {"_hx.hostorder()", true, false},
      {"_hx.hist(12)", true, false},
      {"_hx.stats(12)", true, false},
      {"_hx.killwork('12:frame')", true, false},
      {"_hx.retirework('12:frame')", true, false},
      {"_hx.blockwork('12:frame')", true, false},
      {"_hx.unblockwork('12:frame')", true, false},
      {"_hx.retrywork('12:frame')", true, false},
      {"_hx.requeuework('12:frame')", true, false},
      {"_hx.modify({'priority': 1}, 12)", true, false},
      {"_hx.kill(12)", true, false},
      {"_hx.top(12)", true, false},
      {"_hx.bottom(12)", true, false},
      {"_hx.migrate(12)", true, false},
      {"_hx.remove(12)", true, false},
      {"_hx.interrupt(12)", true, false},
      {"_hx.block(12)", true, false},
      {"_hx.unblock(12)", true, false},
      {"_hx.preempt(12)", true, false},
      {"_hx.retry(12)", true, false},
      {"_hx.requeue(12)", true, false},
      {"_hx.reset(12)", true, false},
      {"_hx.suspend(12)", true, false},
      {"_hx.resume(12)", true, false},
      {"_hx.retire(12)", true, false},
      {"_hx.shove(12)", true, false},
      {"_hx.submit([{'name': 'a job'}], False)", true, false},
      {"_hx.updatepassword('a password')", true, false},
      {"_hx.checkpassword()", true, false},
      {"_hx.requestwork()", true, true},
      {"_hx.reportwork({'name': '1', 'status': 'complete'})", true, true},
      {"_hx.reportjob('running')", true, true},
      {"_hx.ping(None)", true, false},
      {"_hx.workerping('127.0.0.1')", true, false},
      {"_hx.hostping('127.0.0.1', port)", true, false},
      {"_hx.currenttime()", true, false},
      {"_hx.supervisorconfig()", true, false},
      {"_hx.workerconfig('127.0.0.1')", true, false},
      {"_hx.updateresource('license.a', 1, 2)", true, false},
      {"_hx.getresources()", true, false},
      {"_hx.isadmin('ann')", true, false},
      {"_hx.getusers()", true, false},
      {"_hx.setusers('add', 'ann', '', 1)", true, false},
      {"_hx.updateworkerresources('127.0.0.1', 'a=1')", true, false},
      {"_hx.updateworkerproperties('127.0.0.1', 'a=1')", true, false},
      {"_hx.deleteworkerresources('127.0.0.1', ['a'])", true, false},
      {"_hx.deleteworkerproperties('127.0.0.1', ['a'])", true, false},
      {"_hx.getpipelinevariables()", true, false},
  };
  ASSERT_EQ(py_exec("import threading, time\n"
                    "spinning = True\n"
                    "def spin():\n"
                    "    while spinning:\n"
                    "        tick()\n"
                    "        time.sleep(0.001)\n"
                    "spinner = threading.Thread(target=spin, daemon=True)\n"
                    "spinner.start()\n"),
            "");
  for (Row const& row : rows) {
    _hx_assignment(row.job_process ? std::shared_ptr<HxAssignment const>(hxtest::made_assignment(12, 3)) : nullptr);
    {
      std::lock_guard<std::mutex> hold(mu);
      ticked.clear();
    }
    released = row.released;
    // The library's own lines are left out; the row's verdict is not.
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::string const err = py_exec(std::string("try:\n    ") + row.call + "\nexcept Exception:\n    pass\n");
    testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    std::vector<long> seen;
    {
      std::lock_guard<std::mutex> hold(mu);
      seen = ticked;
    }
    SCOPED_TRACE(row.call);
    EXPECT_EQ(err, "");
    EXPECT_FALSE(seen.empty()) << "no request reached the fake";
    for (long n : seen) {
      if (row.released) {
        EXPECT_GE(n, kRuns) << "the other thread did not run during the request";
      } else {
        EXPECT_EQ(n, 0) << "another thread ran during the request";
      }
    }
  }
  _hx_assignment(nullptr);
  ASSERT_EQ(py_exec("spinning = False\nspinner.join()\n"), "");
}

// The number of calls per thread: the full count unless the environment
// asks for fewer (the sanitizer builds run the same test more slowly).
int calls_per_thread() {
  char const* v = std::getenv("HX_PY_STRESS_CALLS");
  int n = v != nullptr ? std::atoi(v) : 0;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  if (n <= 0) n = 100;
#endif
  return n > 0 ? n : 250;
}

// 64 Python threads call the functions that let go of the interpreter lock
// against the fake supervisor: every result is the expected one, and the
// settings and error texts read back whole. The fake answers one call at a
// time, so on a loaded machine a call may wait seconds for its turn: the two
// time-outs the threads set are a minute long, and only a call that waited
// that long fails for its wait.
TEST_F(PyModule, SixtyFourThreads) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  supe.addJob(1, "u", "j", {"f1"});
  supe.on(400, [](HxMessage&, HxMessage& reply) { return hxtest::answer(reply, 1, new HxIntro("fake 8.1")); });
  std::string const calls = std::to_string(calls_per_thread());
  ASSERT_EQ(py_exec("import threading, time\n"
                    "CALLS = " + calls + "\n"
                    "SUPES = ('127.0.0.1', '')\n"
                    "TIMEOUTS = (60000, 61000)\n"
                    "ERRORS = set()\n"
                    "bad = []\n"
                    "def check(what, ok):\n"
                    "    if not ok:\n"
                    "        bad.append(what)\n"
                    "def work(k):\n"
                    "    for i in range(CALLS):\n"
                    "        step = (k + i) % 8\n"
                    "        if step == 0:\n"
                    "            r = _hx.jobinfo()\n"
                    "            check(('jobinfo', r), isinstance(r, list) and any(j.get('id') == 1 for j in r))\n"
                    "        elif step == 1:\n"
                    "            check(('kill', _hx.kill(1)), _hx.kill(1) == ['1'])\n"
                    "        elif step == 2 and i % 16 == 2:\n"
                    "            r = _hx.submit([{'name': 's%d' % k}], False)\n"
                    "            check(('submit', r), len(r) == 1 and r[0]['name'] == 's%d' % k)\n"
                    "        elif step == 3:\n"
                    "            _hx.setsupervisor(SUPES[i % 2])\n"
                    "            check(('getsupervisor',), _hx.getsupervisor() in SUPES)\n"
                    "        elif step == 4:\n"
                    "            _hx.settimeout(TIMEOUTS[i % 2])\n"
                    "            check(('gettimeout',), _hx.gettimeout() in TIMEOUTS)\n"
                    "        elif step == 5:\n"
                    "            r = _hx.ping(None)\n"
                    "            check(('ping', r), r.startswith('127.0.0.1 ') and r.endswith(' fake 8.1'))\n"
                    "        elif step == 6:\n"
                    "            r = _hx.currenttime()\n"
                    "            check(('currenttime', r), abs(r - time.time()) < 600)\n"
                    "        else:\n"
                    "            e = _hx.error()\n"
                    "            check(('error', e), isinstance(e, str))\n"
                    "            ERRORS.add(e)\n"
                    "threads = [threading.Thread(target=work, args=(k,)) for k in range(64)]\n"
                    "for t in threads:\n"
                    "    t.start()\n"
                    "for t in threads:\n"
                    "    t.join()\n"
                    "_hx.setsupervisor('')\n"
                    "_hx.settimeout(0)\n"),
            "");
  EXPECT_EQ(py_repr("bad[:5]"), "[]");
  EXPECT_EQ(py_repr("len(ERRORS) <= 1"), "True") << py_repr("ERRORS");
}

}  // namespace

#include <cstdlib>
#include <string>

#include "api/ApiTestUtil.h"
#include "api/FakeSupervisor.h"
#include "api/HxApiState.h"
#include "net/HxIntro.h"
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

// The number of calls per thread: the full count unless the environment
// asks for fewer (the sanitizer builds run the same test more slowly).
int calls_per_thread() {
  char const* v = std::getenv("HX_PY_STRESS_CALLS");
  int n = v != nullptr ? std::atoi(v) : 0;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  if (n <= 0) n = 100;
#endif
  return n > 0 ? n : 1000;
}

// 64 Python threads call the functions that let go of the interpreter lock
// against the fake supervisor: every result is the expected one, and the
// settings and error texts read back whole.
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
                    "TIMEOUTS = (5000, 6000)\n"
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

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/api/ApiTestUtil.h"
#include "tests/api/FakeSupervisor.h"
#include "tests/python/PyTestUtil.h"

namespace {

using hxtest::py_repr;

using PyQueryArgs = hxtest::PyModuleTest;

// Arguments that stop a function before any request: the error, or the
// value the function gives instead. Positions count over the whole tuple.
TEST_F(PyQueryArgs, ArgumentErrorsSendNothing) {
  std::string const both = "<error RuntimeError: workids() and jobids() are both empty>";
  struct Row {
    char const* expr;
    std::string want;
  } const rows[] = {
      {"_hx.kill()", both},
      {"_hx.kill(12.5)", "<error RuntimeError: incorrect parameter at pos[0]>"},
      {"_hx.kill({'status': 'running'}, 12.5)", "<error RuntimeError: incorrect parameter at pos[1]>"},
      {"_hx.kill('12', '13', None)", "<error RuntimeError: incorrect parameter at pos[2]>"},
      {"_hx.kill(2**32 + 12)", "<error RuntimeError: incorrect parameter at pos[0]>"},
      {"_hx.kill(-2**31 - 1)", "<error RuntimeError: incorrect parameter at pos[0]>"},
      {"_hx.kill({'status': 'running'})", both},
      {"_hx.kill({'limit': 5}, '12')", both},  // a command dictionary: the id is not read
      {"_hx.kill({'status': (None, '>5')}, {'a': 1})", "<error RuntimeError: incorrect parameter at pos[1]>"},
      {"_hx.kill('12:f')", "<error RuntimeError: jobids() empty for job-mode command>"},
      {"_hx.killwork('12.3', '4.1-2')", "<error RuntimeError: workids() empty for work-mode command>"},
      {"_hx.killwork('12^3')", both},
      {"_hx.requeuework({'jobids': ['12']})", "<error RuntimeError: workids() empty for work-mode command>"},
      {"_hx.hist(1234, 2.5)", "<error RuntimeError: incorrect parameter at pos[1]>"},
      {"_hx.hist({'user': 'a'}, [1])", "<error RuntimeError: incorrect parameter at pos[1]>"},
      {"_hx.hist(2**32 + 12)", "<error RuntimeError: incorrect parameter at pos[0]>"},
      {"_hx.stats({'user': ('a', 'b')})", both},
      {"_hx.stats('12^1')", both},
      {"_hx.modify()", "None"},
      {"_hx.modify(5, 1)", "None"},
      {"_hx.modify({}, 1)", "None"},
      {"_hx.modify({'fields': 5}, 1)", "None"},
      {"_hx.modify({'env': 'A=1'}, 1)", "None"},
      {"_hx.modify({'priority': 1}, 1.5)", "'invalid reference'"},
      {"_hx.modify({'priority': 1}, '3', 2**32 + 12)", "'invalid reference'"},
      {"_hx.stdout(['12'])", "<error TypeError: function takes exactly 3 arguments (1 given)>"},
      {"_hx.stdout(('12',), 0, 1)", "<error TypeError: the first argument must be a list of job ids>"},
      {"_hx.stderr(['12', 13], 0, 1)", "<error TypeError: job ids must be str>"},
      {"_hx.workerlock()", "<error TypeError: workerlock() needs a lock argument>"},
      {"_hx.workerlock({'name': 'h'})", "<error TypeError: workerlock() needs a lock argument>"},
      {"_hx.command()", "<error TypeError: command() takes exactly 1 argument (0 given)>"},
      {"_hx.command(5)", "None"},
  };
  for (Row const& row : rows) EXPECT_EQ(py_repr(row.expr), row.want) << row.expr;
}

// The ids that the texts of one command, history or statistics call name
// are bounded in total, not only per text, and counted before they are
// made: past the bound the call raises RuntimeError naming the limit and
// sends nothing. Run in a child whose address space may grow by 256 MB,
// far less than the gigabytes the texts would take made.
TEST_F(PyQueryArgs, IdsOfOneCallAreBoundedInTotal) {
  if (hxtest::kShadowMemory) GTEST_SKIP() << "no address-space limit under a sanitizer";
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  std::string const over = "<error RuntimeError: too many ids in one call (limit 1048576)>";
  std::string const huge = "'1-16777216'";
  struct Row {
    std::string expr;
    std::string want;
  } const rows[] = {
      {"_hx.kill(" + huge + ")", over},
      {"_hx.kill(" + huge + ", " + huge + ", " + huge + ", " + huge + ")", over},
      {"_hx.kill('1-4096.1-4096')", over},
      // Each text within the bound, together past it (each is read as job
      // ids and as work ids).
      {"_hx.kill('1-300000', '1-300000')", over},
      {"_hx.killwork({'user': 'ann'}, '1-600000')", over},
      {"_hx.top(" + huge + ")", over},
      {"_hx.hist(" + huge + ")", over},
      {"_hx.stats('1-300000', 12, '1-300000')", over},
  };
  // The interpreter is told of the fork as os.fork() tells it: before it
  // (it takes its own locks), then after it in the child and in the parent.
  PyOS_BeforeFork();
  int const code = hxtest::run_with_memory_limit(256u << 20, [&] {
    PyOS_AfterFork_Child();
    int wrong = 0;
    for (Row const& row : rows) {
      std::string const got = hxtest::py_repr(row.expr);
      if (got == row.want) continue;
      std::fprintf(stderr, "%s gave %s\n", row.expr.c_str(), got.c_str());
      ++wrong;
    }
    return wrong;
  });
  PyOS_AfterFork_Parent();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(supe.requests().size(), 0u);
}

}  // namespace

#include "api/HxApiState.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "ApiTestUtil.h"
#include "config/HxDefaults.h"

using hxtest::ApiWorld;
using hxtest::ApiWorldGuard;
using hxtest::S;

namespace {
constexpr int kErrorBase = 5000;  // thread t writes error number kErrorBase + t
}  // namespace

// Needs a process of its own (as ctest runs each test): nothing has failed yet.
TEST(HxApiState, InitialValues) {
  if (testing::UnitTest::GetInstance()->test_to_run_count() > 1) GTEST_SKIP() << "needs a fresh process";
  EXPECT_EQ(S(hxversion()), "8.1-0");
  EXPECT_EQ(hxerror().integervalue(), -1);
  EXPECT_EQ(S(hxgetsupervisor()), "");
  EXPECT_EQ(_hx_timeout(), 0);
  EXPECT_EQ(S(_hx_debug_file()), "");
  EXPECT_EQ(_hx_assignment(), nullptr);
  EXPECT_EQ(_hx_dev_env(), 0);
  EXPECT_EQ(_hx_work_pos(), 0);
  EXPECT_EQ(_hx_seq("7:frame1"), 0);
}

TEST(HxApiState, SleepGoesThroughTheWorldAndNeverNegative) {
  ApiWorld world;
  ApiWorldGuard guard(world);
  struct Row {
    int seconds;
    std::vector<int64_t> pauses;
  } const rows[] = {
      {-1, {}},  // once a wait of 136 years
      {INT_MIN, {}},
      {0, {}},
      {3, {3000}},
      {INT_MAX, {int64_t{INT_MAX} * 1000}},  // no overflow in the conversion
  };
  size_t before = 0;
  for (auto const& r : rows) {
    EXPECT_EQ(hxsleep(r.seconds), 0u) << r.seconds;
    auto all = world.sleeps();
    EXPECT_EQ(std::vector<int64_t>(all.begin() + static_cast<long>(before), all.end()), r.pauses) << r.seconds;
    before = all.size();
  }
}

TEST(HxApiState, TimeoutBelowOneReadsTheConfigurationAfresh) {
  ApiWorld world;
  ApiWorldGuard guard(world);
  struct Row {
    int set;
    char const* config;
    int expected;
  } const rows[] = {
      {0, "", 600000},
      {-5, "", 600000},
      {0, "client_timeout = 1234\n", 1234},
      {INT_MIN, "client_timeout = 77\n", 77},
      {1, "client_timeout = 1234\n", 1},
      {90000, "", 90000},
  };
  for (auto const& r : rows) {
    world.config(r.config);
    hxsettimeout(r.set);
    EXPECT_EQ(_hx_timeout(), r.set);
    EXPECT_EQ(hxgettimeout(), r.expected) << r.set << " / " << r.config;
  }
  hxsettimeout(0);
}

TEST(HxApiState, SupervisorAndClientLogPath) {
  ApiWorld world;
  ApiWorldGuard guard(world);
  hxsetsupervisor("farm-a");
  HxString copy = hxgetsupervisor();
  hxsetsupervisor("farm-b");
  EXPECT_EQ(S(copy), "farm-a");  // a copy, not a view of the state
  EXPECT_EQ(S(hxgetsupervisor()), "farm-b");
  hxsetsupervisor("");
  EXPECT_EQ(S(hxgetsupervisor()), "");

  struct Row {
    char const* set;
    char const* config;
    char const* expected;
  } const rows[] = {
      {"/logs/mine", "client_logpath = /logs/conf\n", "/logs/mine"},
      {"USE_SUPERVISOR", "client_logpath = /logs/conf\n", "USE_SUPERVISOR"},
      {"", "client_logpath = /logs/conf\nsupervisor_logpath = /logs/supe\n", "/logs/conf"},
      {"", "supervisor_logpath = /logs/supe\n", "/logs/supe"},
  };
  for (auto const& r : rows) {
    world.config(r.config);
    hxsetclientlogpath(r.set);
    EXPECT_EQ(S(hxgetclientlogpath()), r.expected) << r.set << " / " << r.config;
  }
  hxsetclientlogpath("");
}

TEST(HxApiState, InitApiStripsComponentsAtTheApiLevel) {
  struct Row {
    char const* path;
    int depth;
    char const* dir;
  } const rows[] = {
      {"/opt/x/bin/tool", 2, "/opt/x/"},
      {"/opt/x/bin/tool", 0, "/opt/x/bin/tool/"},
      {"/opt/x/bin/tool/", 1, "/opt/x/bin/"},
      {"///", 1, "/"},
      {"/a/b", 5, "/"},
  };
  for (auto const& r : rows) {
    _hx_default_reset_hxdir();
    _hx_init_api(r.path, r.depth);
    EXPECT_EQ(S(hx_default_get_hxdir()), r.dir) << r.path << " " << r.depth;
    // Neither the environment's level nor a second API call moves it.
    hx_default_set_hxdir("/env/dir", kHxDirLevelEnvironment);
    _hx_init_api("/second/bin/tool", 1);
    EXPECT_EQ(S(hx_default_get_hxdir()), r.dir);
  }
  _hx_default_reset_hxdir();
}

TEST(HxApiState, WorkerSideState) {
  EXPECT_EQ(_hx_seq_advance("12:f1", 3), 3);
  EXPECT_EQ(_hx_seq_advance("12:f1", 3), 6);
  EXPECT_EQ(_hx_seq("12:f1"), 6);
  EXPECT_EQ(_hx_seq("12:f2"), 0);
  EXPECT_EQ(_hx_seq(HxString("12:f1\0x", 7)), 0);  // whole keys, NUL bytes included
  EXPECT_EQ(S(hx_debug("/tmp/dry.xml")), "/tmp/dry.xml");
  EXPECT_EQ(S(_hx_debug_file()), "/tmp/dry.xml");
  hx_debug("");
}

// Eight threads each write errors of their own while a ninth changes every
// setting: each error read back is one whole write (number and text belong
// together), and the settings read back are ones that were set.
TEST(HxApiState, ConcurrentErrorsAndSettingsStayWhole) {
  ApiWorld world;
  ApiWorldGuard guard(world);
  std::atomic<bool> torn{false};
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 8; ++t) {
    writers.emplace_back([t, &torn] {
      for (int i = 0; i < 2000; ++i) {
        HxError e(kErrorBase + t);
        e.set("ERROR", HxString("thread ") + HxString(t) + " call " + HxString(i));
        _hx_set_error(e);
        HxError seen = hxerror();
        int n = seen.integervalue() - kErrorBase;
        HxString text;
        if (n < 0 || n > 7 || !seen.values().get("ERROR", text) ||
            std::string(text.value()).rfind("thread " + std::to_string(n) + " call ", 0) != 0)
          torn = true;
      }
    });
  }
  std::thread settings([&stop, &torn] {
    for (int i = 0; !stop; ++i) {
      hxsettimeout(i % 2 ? 5000 : 7000);
      hxsetsupervisor(i % 2 ? "supervisor-one" : "supervisor-two-with-a-longer-name");
      hxsetclientlogpath(i % 2 ? "USE_SUPERVISOR" : "/logs");
      std::string s = S(hxgetsupervisor());
      std::string p = S(hxgetclientlogpath());
      int ms = hxgettimeout();
      if ((s != "supervisor-one" && s != "supervisor-two-with-a-longer-name") ||
          (p != "USE_SUPERVISOR" && p != "/logs") || (ms != 5000 && ms != 7000))
        torn = true;
    }
  });
  for (auto& w : writers) w.join();
  stop = true;
  settings.join();
  EXPECT_FALSE(torn);
  hxsetsupervisor("");
  hxsetclientlogpath("");
  hxsettimeout(0);
}

#include "core/HxInterrupt.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "core/HxWorld.h"

namespace {

// A world whose steady clock (microseconds) the test sets; every wait is
// recorded with its time-out and times out, moving the clock by its time,
// except the first `interrupted` ones, which fail at once as a signal
// interrupts them.
class ClockWorld : public HxWorld {
 public:
  int64_t steadyMicros() override { return steady; }
  int poll(pollfd*, unsigned long, int timeout_ms) override {
    waits.push_back(timeout_ms);
    if (interrupted > 0) {
      --interrupted;
      errno = EINTR;
      return -1;
    }
    if (timeout_ms > 0) steady += int64_t{timeout_ms} * 1000;
    return 0;
  }
  int64_t steady = 50000000;
  int interrupted = 0;
  std::vector<int> waits;
};

// What the check does when asked: waits for a lock (the world's clock
// moves, and the time is left out of deadlines), runs a handler (the clock
// moves), which may make a request of its own (a wait of `nested`
// milliseconds, whose check waits `nested_lock` for the lock), and answers.
struct Script {
  bool answer = false;
  int64_t lock = 0;  // microseconds, as the handler's
  int64_t handler = 0;
  int nested = 0;  // 0: no request of its own
  int64_t nested_lock = 0;
};

ClockWorld* g_world = nullptr;
Script g_script;
int g_asked = 0;
int g_depth = 0;

bool scripted_check() {
  ++g_asked;
  bool const outer = g_depth++ == 0;
  int64_t const since = g_world->steady;
  g_world->steady += outer ? g_script.lock : g_script.nested_lock;
  hx_leave_out_since(since);
  if (outer) {
    g_world->steady += g_script.handler;
    pollfd p{-1, POLLIN, 0};
    if (g_script.nested != 0) hx_poll(&p, 1, g_script.nested);
  }
  --g_depth;
  return outer && g_script.answer;
}

// Installs the world, the check and whether the thread is watched for one
// row, with the thread's slice begun anew; puts back the real world, no
// check, a watched thread and no mark.
struct Scene {
  Scene(ClockWorld& world, Script const& script, bool watched) {
    g_world = &world;
    hx_set_world(&world);
    hx_set_interrupt_check(&scripted_check);
    g_script = Script();
    hx_check_interrupt();
    g_script = script;
    g_asked = 0;
    hx_watch_thread(watched);
  }
  ~Scene() {
    hx_set_interrupt_check(nullptr);
    hx_set_world(nullptr);
    hx_watch_thread(true);
    hx_interrupted(false);
    g_world = nullptr;
  }
};

// A wait asks the check when a signal interrupts it and, on a watched
// thread, once it has blocked for a slice without asking, so that a signal
// that came before it is seen within a slice. Only the check's wait for the
// lock is left out of the wait's deadline, to the microsecond; its
// handlers' time counts, and what a nested check left out is the handler's
// time for the outer wait.
TEST(HxInterrupt, WaitsAskAtSignalsAndSlicesAndLeaveOutTheLockWaitOnly) {
  struct Row {
    char const* name;
    bool watched;
    int timeout;
    int interrupted;  // waits that a signal interrupts
    Script script;
    std::vector<int> waits;
    int asked;
    int result;
  } const rows[] = {
      {"a short wait blocks once", true, 800, 0, {true}, {800}, 0, 0},
      {"a long wait asks at each slice", true, 2500, 0, {false}, {1000, 1000, 500}, 2, 0},
      {"a signal that came before is seen at the slice", true, 2500, 0, {true}, {1000}, 1, -1},
      {"a thread not watched blocks for the whole time", false, 2500, 0, {true}, {2500}, 0, 0},
      {"a signal asks at once and begins the slice anew", true, 2500, 1, {false}, {1000, 1000, 1000, 500}, 3, 0},
      {"a signal asks on a thread not watched too", false, 2500, 1, {false}, {2500, 2500}, 1, 0},
      {"a wait of 9 s for the lock spends nothing", false, 2500, 1, {false, 9000000}, {2500, 2500}, 1, 0},
      {"a handler's 1.5 s spend the deadline", false, 2500, 1, {false, 0, 1500000}, {2500, 1000}, 1, 0},
      {"both, twice", false, 2500, 2, {false, 9000000, 500000}, {2500, 2000, 1500}, 2, 0},
      {"lock waits of 0.9 ms are left out to the microsecond", false, 2, 20, {false, 900, 100},
       {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}, 20, 0},
      // 1 s of lock wait, 0.2 s of handler, whose request waits 0.1 s and
      // 0.3 s for the lock: the outer wait has 2.5 - 0.2 - 0.1 - 0.3 left.
      {"a handler's own request", false, 2500, 2, {false, 1000000, 200000, 100, 300000}, {2500, 100, 100, 1900}, 2,
       0},
  };
  for (Row const& row : rows) {
    ClockWorld world;
    Scene scene(world, row.script, row.watched);
    world.interrupted = row.interrupted;
    pollfd p{-1, POLLIN, 0};
    errno = 0;
    int const r = hx_poll(&p, 1, row.timeout);
    EXPECT_EQ(r, row.result) << row.name;
    if (row.result < 0) {
      EXPECT_EQ(errno, EINTR) << row.name;
    }
    EXPECT_EQ(world.waits, row.waits) << row.name;
    EXPECT_EQ(g_asked, row.asked) << row.name;
  }
}

// The slice counts what the thread's waits blocked in all since the check
// was last asked: of two waits of 600 ms, the second asks after 400.
TEST(HxInterrupt, TheSliceSpansWaits) {
  ClockWorld world;
  Scene scene(world, Script(), true);
  pollfd p{-1, POLLIN, 0};
  EXPECT_EQ(hx_poll(&p, 1, 600), 0);
  EXPECT_EQ(hx_poll(&p, 1, 600), 0);
  EXPECT_EQ(world.waits, (std::vector<int>{600, 400, 200}));
  EXPECT_EQ(g_asked, 1);
}

// A pause is a wait cut into slices: a signal that came before it ends it
// once a slice passed rather than after the whole pause. The pause is the
// real one.
TEST(HxInterrupt, APauseAsksAtEachSlice) {
  struct Row {
    char const* name;
    bool watched;
    int64_t millis;
    int asked;
    bool marked;
  } const rows[] = {
      {"a signal that came before", true, 3000, 1, true},
      {"a short pause", true, 20, 0, false},
      {"a thread not watched", false, 1200, 0, false},
  };
  for (Row const& row : rows) {
    ClockWorld world;
    Scene scene(world, {true}, row.watched);
    auto const start = std::chrono::steady_clock::now();
    hx_pause_millis(row.millis);
    auto const took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(g_asked, row.asked) << row.name;
    EXPECT_EQ(hx_interrupted(), row.marked) << row.name;
    if (row.marked) {
      EXPECT_LT(took.count(), row.millis * 5 / 6) << row.name << ": paused all the same";
    }
  }
}

}  // namespace

#include "core/HxInterrupt.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "core/HxWorld.h"

namespace {

// A world whose steady clock the test sets; every wait is recorded with
// its time-out and times out at once, except the first `interrupted` ones,
// which fail as a signal interrupts them.
class ClockWorld : public HxWorld {
 public:
  int64_t steadyMillis() override { return steady; }
  int poll(pollfd*, unsigned long, int timeout_ms) override {
    waits.push_back(timeout_ms);
    if (interrupted > 0) {
      --interrupted;
      errno = EINTR;
      return -1;
    }
    return 0;
  }
  int64_t steady = 50000;
  int interrupted = 0;
  std::vector<int> waits;
};

ClockWorld* g_world = nullptr;
int g_asked = 0;
bool g_answer = false;
int64_t g_check_takes = 0;  // how far the world's clock moves while the check runs

// Counts its asks; moves the test world's clock as a check that waits (for
// the interpreter lock) would.
bool scripted_check() {
  ++g_asked;
  if (g_world != nullptr) g_world->steady += g_check_takes;
  return g_answer;
}

// Installs the world and the check for one row; puts back the real world,
// no check, a watched thread and no mark.
struct Scene {
  Scene(ClockWorld& world, bool answer, int64_t check_takes) {
    g_world = &world;
    g_asked = 0;
    g_answer = answer;
    g_check_takes = check_takes;
    hx_set_world(&world);
    hx_set_interrupt_check(&scripted_check);
  }
  ~Scene() {
    hx_set_interrupt_check(nullptr);
    hx_set_world(nullptr);
    hx_watch_thread(true);
    hx_interrupted(false);
    g_world = nullptr;
  }
};

// A wait that would block asks the check first only once the thread worked
// for a long stretch since its last wait, its last check or the start of
// its request; a check that waits long (for the interpreter lock) leaves
// the wait its whole time.
TEST(HxInterrupt, WaitsAskAfterALongStretchAndCheckTimeSpendsNoDeadline) {
  struct Row {
    char const* name;
    int64_t worked;     // milliseconds since the stretch began
    int interrupted;    // waits that a signal interrupts
    bool answer;        // what the check says
    int64_t check_takes;
    std::vector<int> waits;
    int asked;
    int result;
  } const rows[] = {
      {"a short stretch waits at once", 10, 0, true, 0, {2500}, 0, 0},
      {"just short of the stretch", kHxCheckAfterWorkMillis - 1, 0, true, 0, {2500}, 0, 0},
      {"a long stretch asks first: a signal came", kHxCheckAfterWorkMillis, 0, true, 0, {0}, 1, -1},
      {"a long stretch asks first: nothing came", 5000, 0, false, 0, {0, 2500}, 1, 0},
      {"a signal asks in any case", 10, 1, false, 0, {2500, 2500}, 1, 0},
      {"a check that waits 9 s spends none of the wait", 10, 1, false, 9000, {2500, 2500}, 1, 0},
      {"two such checks", 10, 2, false, 9000, {2500, 2500, 2500}, 2, 0},
      {"a long stretch and a check that waits", 5000, 0, false, 9000, {0, 2500}, 1, 0},
  };
  for (Row const& row : rows) {
    ClockWorld world;
    Scene scene(world, row.answer, row.check_takes);
    hx_work_starts();
    world.steady += row.worked;
    world.interrupted = row.interrupted;
    pollfd p{-1, POLLIN, 0};
    errno = 0;
    int const r = hx_poll(&p, 1, 2500);
    EXPECT_EQ(r, row.result) << row.name;
    if (row.result < 0) {
      EXPECT_EQ(errno, EINTR) << row.name;
    }
    EXPECT_EQ(world.waits, row.waits) << row.name;
    EXPECT_EQ(g_asked, row.asked) << row.name;
  }
}

// A finished wait begins a new stretch: of two waits after a long stretch,
// only the first asks. A thread that is not watched never asks first, and
// a stretch read under another world counts as long.
TEST(HxInterrupt, AWaitBeginsTheNextStretch) {
  ClockWorld world;
  Scene scene(world, false, 0);
  hx_work_starts();
  world.steady += 3000;
  pollfd p{-1, POLLIN, 0};
  EXPECT_EQ(hx_poll(&p, 1, 100), 0);
  world.steady += kHxCheckAfterWorkMillis / 2;
  EXPECT_EQ(hx_poll(&p, 1, 100), 0);
  EXPECT_EQ(world.waits, (std::vector<int>{0, 100, 100}));
  EXPECT_EQ(g_asked, 1);

  world.steady += 3000;
  hx_watch_thread(false);
  EXPECT_EQ(hx_poll(&p, 1, 100), 0);
  EXPECT_EQ(g_asked, 1) << "a thread that is not watched asked";
  hx_watch_thread(true);

  ClockWorld other;
  other.steady = world.steady + 10;  // a clock of its own, not far off
  hx_set_world(&other);
  EXPECT_EQ(hx_poll(&p, 1, 100), 0);
  EXPECT_EQ(other.waits, (std::vector<int>{0, 100}));
  EXPECT_EQ(g_asked, 2) << "a stretch of another world counted";
}

// A pause is a wait: after a long stretch it asks the check before it
// starts, so that a signal that came just before ends it at once rather
// than after the pause. The pause is the real one; a row that fails
// because the pause did not ask first takes its whole length.
TEST(HxInterrupt, APauseAfterALongStretchAsksBeforeItStarts) {
  struct Row {
    char const* name;
    int64_t worked;
    bool answer;
    int64_t millis;
    int asked;
    bool marked;
  } const rows[] = {
      {"a signal came during the stretch", kHxCheckAfterWorkMillis + 200, true, 3000, 1, true},
      {"nothing came", kHxCheckAfterWorkMillis + 200, false, 20, 1, false},
      {"a short stretch pauses at once", 10, true, 20, 0, false},
  };
  for (Row const& row : rows) {
    ClockWorld world;
    Scene scene(world, row.answer, 0);
    hx_work_starts();
    world.steady += row.worked;
    auto const start = std::chrono::steady_clock::now();
    hx_pause_millis(row.millis);
    auto const took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(g_asked, row.asked) << row.name;
    EXPECT_EQ(hx_interrupted(), row.marked) << row.name;
    if (row.marked) {
      EXPECT_LT(took.count(), row.millis * 2 / 3) << row.name << ": paused all the same";
    }
  }
}

}  // namespace

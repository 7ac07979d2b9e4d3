#include "api/HxApiWork.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

#include "api/HxApiAssign.h"
#include "api/HxApiFlight.h"
#include "api/HxApiLimits.h"
#include "api/HxApiState.h"
#include "config/HxConfig.h"
#include "core/HxDebug.h"
#include "core/HxError.h"
#include "core/HxInterrupt.h"
#include "model/job/HxAssignment.h"
#include "model/job/HxJobId.h"
#include "tests/api/JobProcessTestUtil.h"

namespace {

using hxtest::count_lines;
using hxtest::out_lines;
using hxtest::S;
using Step = hxtest::Scripted::Step;

std::string env(char const* name) {
  char const* v = std::getenv(name);
  return v == nullptr ? "<unset>" : v;
}

std::vector<int> tags_of(hxtest::FakeFarm const& farm) {
  std::vector<int> tags;
  for (auto const& m : farm.requests()) tags.push_back(m->tag());
  return tags;
}

HxWork const* work_in(HxMessage const& m) { return dynamic_cast<HxWork const*>(m.content()); }

Step item(char const* name, int status, int seq = 0, int count = 0, int delay = 0) {
  return {1, [=] {
            auto* w = new HxWork;
            w->name(name);
            w->pid(12);
            w->subid(3);
            w->status(HxStatus(status));
            w->seq(seq);
            w->count(count);
            w->retrydelay(delay);
            return w;
          }};
}

// Installs job 12, subjob 3 (host "w1") with these agenda checks and flags.
void assign(char const* pre = "", char const* post = "", int flags = 0) {
  HxAssignment* a = hxtest::made_assignment(12, 3, "w1");
  a->job().agenda_preflights(pre);
  a->job().agenda_postflights(post);
  a->job().flags(flags);
  _hx_set_assign(a);
}

// The ten frame variables from an item's name and the padding text: the
// range forms, signs, text that is no number, and widths from none to one
// that would ask for gigabytes.
TEST(HxApiWork, FrameVariables) {
  HxFrameVariables const named = _hx_frame_variables("7-9", "4");
  char const* const names[] = {"HX_FRAME_NUMBER",        "HX_FRAME_START",        "HX_FRAME_END",
                               "HX_FRAME_STEP",          "HX_FRAME_RANGE",        "HX_FRAME_PADDING",
                               "HX_PADDED_FRAME_NUMBER", "HX_PADDED_FRAME_START", "HX_PADDED_FRAME_END",
                               "HX_PADDED_FRAME_STEP"};
  for (int i = 0; i < 10; ++i) EXPECT_STREQ(named[static_cast<size_t>(i)].first, names[i]);
  std::string const wide(kHxMaxFramePadding - 1, '0');
  struct Row {
    char const* name;
    char const* padding;
    std::vector<std::string> values;
  } const rows[] = {
      {"10", "", {"10", "10", "10", "1", "10", "0", "10", "10", "10", "1"}},
      {"1-10x2", "", {"1", "1", "10", "2", "1-10x2", "0", "1", "1", "10", "2"}},
      {"5 - 7", "", {"5", "5", "7", "1", "5 - 7", "0", "5", "5", "7", "1"}},
      {"abc", "", {"0", "0", "1", "1", "abc", "0", "0", "0", "1", "1"}},
      {"", "", {"1", "1", "1", "1", "", "0", "1", "1", "1", "1"}},
      {"5x2", "", {"5", "5", "5", "1", "5x2", "0", "5", "5", "5", "1"}},
      {"5-abc", "", {"5", "5", "0", "1", "5-abc", "0", "5", "5", "0", "1"}},
      {"-3", "3", {"-3", "-3", "-3", "1", "-3", "3", "-03", "-03", "-03", "001"}},
      {"7-9", "4", {"7", "7", "9", "1", "7-9", "4", "0007", "0007", "0009", "0001"}},
      {"7", " 2x", {"7", "7", "7", "1", "7", "2", "07", "07", "07", "01"}},
      {"7", "-5", {"7", "7", "7", "1", "7", "-5", "7", "7", "7", "1"}},
      {"7", "2000000000", {"7", "7", "7", "1", "7", "255", wide + "7", wide + "7", wide + "7", wide + "1"}},
      {"7", "99999999999999999999", {"7", "7", "7", "1", "7", "255", wide + "7", wide + "7", wide + "7", wide + "1"}},
      {"7", "-99999999999", {"7", "7", "7", "1", "7", "-2147483648", "7", "7", "7", "1"}},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(std::string(row.name) + "/" + row.padding);
    HxFrameVariables const vars = _hx_frame_variables(row.name, row.padding);
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(S(vars[i].second), row.values[i]) << vars[i].first;
  }
}

// A request: what is sent in which order, what lands in the caller's item,
// the frame variables set only for an item to run, the sequence number
// stored (a report then carries it + 3, wrapping at 32 bits), the retry
// delay paused, and every reply that is no work item giving 0 and complete.
TEST(HxApiWork, RequestWork) {
  struct Row {
    char const* name;
    bool up;
    Step reply;
    char const* pre;
    int result;
    int status;           // of the caller's item afterwards
    char const* got;      // its name afterwards
    std::vector<int> tags;
    std::vector<int64_t> sleeps;
    char const* frame;    // HX_FRAME_NUMBER afterwards
    char const* line;     // a debug line expected
    int report_seq;       // of a report that follows (0: none made)
  };
  std::vector<int64_t> const retries(1440, 6000);
  Row const rows[] = {
      {"running", true, item("1-10x2", HxStatus::kRunning, 10), "", 1, HxStatus::kRunning, "1-10x2",
       {600, 111, 602, 602}, {}, "1", "INFO: informing worker[127.0.0.1]", 16},
      {"seq wraps", true, item("4", HxStatus::kRunning, INT_MAX - 1), "", 1, HxStatus::kRunning, "4",
       {600, 111, 602, 602}, {}, "4", "got work: 12:4 - running", INT_MIN + 4},
      {"retry delay", true, item("5", HxStatus::kRunning, 0, 2, 7), "", 1, HxStatus::kRunning, "5",
       {600, 111, 602, 602}, {7000}, "5", "sleeping for retrydelay[7] seconds", 6},
      {"complete", true, item("9", HxStatus::kComplete, 4), "", 1, HxStatus::kComplete, "9", {600}, {}, "old",
       "complete notification - job done: 12", 0},
      {"pending", true, item("9", HxStatus::kPending), "", 1, HxStatus::kPending, "9", {600}, {}, "old",
       "preempt order received - job should exit: 12", 0},
      {"preflight fails", true, item("2", HxStatus::kRunning, 10), "exit 3", 1, HxStatus::kFailed, "2", {600, 111},
       {}, "2", "ERROR: agenda preflights returned error(3). Skipping the processing of agenda item[12:2]", 0},
      {"no content", true, {1, nullptr}, "", 0, HxStatus::kComplete, "mine", {600}, {}, "old",
       "ERROR: work request malformed", 0},
      {"a job", true, {1, [] { return new HxJob; }}, "", 0, HxStatus::kComplete, "mine", {600}, {}, "old",
       "ERROR: supe returned incorrect data", 0},
      {"an error", true, {4, [] { return new HxError(3); }}, "", 0, HxStatus::kComplete, "mine", {600}, {}, "old",
       "ERROR: supe returned incorrect data", 0},
      {"unreachable", false, {}, "", 0, HxStatus::kComplete, "mine", {}, retries, "old",
       "ERROR: hxrequestwork(): unable to contact supe... recommending immediate shutdown to the caller.", 0},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::JobWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::JobStateGuard state;
    hxtest::FakeFarm farm(world, hxtest::ByTag().on(600, {row.reply}).on(111, {{1, [] { return new HxConfig; }}}));
    ASSERT_TRUE(farm.ok());
    if (!row.up) world.config(hxtest::closed_farm_config());
    assign(row.pre);
    setenv("HX_FRAME_NUMBER", "old", 1);
    unsetenv("HX_FRAME_PADDING");
    HxWork work;
    work.name("mine");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int const result = hxrequestwork(work);
    std::string const err = testing::internal::GetCapturedStderr();
    auto const lines = out_lines(testing::internal::GetCapturedStdout());
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(work.status().integervalue(), row.status);
    EXPECT_EQ(S(work.name()), row.got);
    EXPECT_EQ(env("HX_FRAME_NUMBER"), row.frame);
    EXPECT_EQ(count_lines(lines, row.line), 1);
    EXPECT_EQ(count_lines(lines, "requesting work for: 12.3"), 1);
    EXPECT_EQ(err.rfind("requesting work for: 12.3\n", 0), 0u) << err;
    EXPECT_EQ(tags_of(farm), row.tags);
    EXPECT_EQ(world.sleeps(), row.sleeps);
    auto const requests = farm.requests();
    if (!requests.empty()) {
      auto const* id = dynamic_cast<HxJobId const*>(requests[0]->content());
      ASSERT_NE(id, nullptr);
      EXPECT_EQ(id->id() * 100 + id->subid(), 1203);
    }
    if (row.tags.size() == 4) {
      EXPECT_NE(err.find("got work: 12:" + std::string(row.got) + " - running\n"), std::string::npos);
      for (size_t i : {2u, 3u}) {
        ASSERT_NE(work_in(*requests[i]), nullptr);
        EXPECT_EQ(work_in(*requests[i])->seq(), row.report_seq - 3);
      }
      EXPECT_EQ(work.seq(), row.report_seq - 3);
    }
    if (row.report_seq != 0) {
      HxWork report;
      report.name(row.got);
      report.status(HxStatus(HxStatus::kComplete));
      testing::internal::CaptureStdout();
      EXPECT_EQ(hxreportwork(report), 1);
      testing::internal::GetCapturedStdout();
      ASSERT_NE(work_in(*farm.requests().back()), nullptr);
      EXPECT_EQ(work_in(*farm.requests().back())->seq(), row.report_seq);
    }
  }
  unsetenv("HX_FRAME_NUMBER");
}

// A report: the record filled in and sent, its sequence number, the
// postflights turning a finished item failed (in development mode too), the
// migrate pause, the attempts and pauses on error replies and on silence,
// and nothing sent without an assignment.
TEST(HxApiWork, ReportWork) {
  struct Row {
    char const* name;
    bool up;
    int assigned;  // 0 none, 1 normal, 2 development
    char const* post;
    int flags;
    int status;
    std::vector<Step> replies;
    int result;
    int sent_status;  // of the record sent, and of the caller's afterwards
    size_t attempts;
    std::vector<int64_t> sleeps;
    char const* line;
    char const* err;
  };
  int const migrate = 0x10000;
  std::vector<int64_t> const six(1440, 6000);
  Row const rows[] = {
      {"delivered", true, 1, "", 0, HxStatus::kComplete, {{1, nullptr}}, 1, HxStatus::kComplete, 1, {},
       "reporting status on work for: 12.3 frame - complete", ""},
      {"postflight fails", true, 1, "exit 2", 0, HxStatus::kComplete, {{1, nullptr}}, 1, HxStatus::kFailed, 1, {},
       "ERROR: agenda postflights returned error(2) for agenda item[-1:frame]-- setting its status to \"failed\"", ""},
      {"running skips postflights", true, 1, "exit 2", 0, HxStatus::kRunning, {{1, nullptr}}, 1, HxStatus::kRunning,
       1, {}, "reporting status on work for: 12.3 frame - running", ""},
      {"failed, migrate", true, 1, "", migrate, HxStatus::kFailed, {{1, nullptr}}, 1, HxStatus::kFailed, 1, {30000},
       "INFO: work failed, and 'migrate_on_frame_retry' is set-- pausing for up to 30 seconds without doing any "
       "processing for this job instance...",
       ""},
      {"failed, no migrate", true, 1, "", 0, HxStatus::kFailed, {{1, nullptr}}, 1, HxStatus::kFailed, 1, {},
       "reporting status on work for: 12.3 frame - failed", ""},
      {"errors, then delivered", true, 1, "", 0, HxStatus::kComplete, {{4, nullptr}, {4, nullptr}, {1, nullptr}}, 1,
       HxStatus::kComplete, 3, {6000, 6000}, "WARNING: work report attempt[1] failed (supervisor down?); resending.",
       ""},
      {"unreachable", false, 1, "", 0, HxStatus::kComplete, {}, 0, HxStatus::kComplete, 0, six,
       "ERROR unable to report on work: 12.3 - complete", ""},
      {"development", true, 2, "exit 2", 0, HxStatus::kComplete, {}, 1, HxStatus::kFailed, 0, {},
       "WARNING: work not set to complete.  Is this ok?", ""},
      {"no assignment", true, 0, "", 0, HxStatus::kComplete, {}, 0, HxStatus::kComplete, 0, {}, nullptr,
       "ERROR: couldn't obtain assignment\n"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::JobWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::JobStateGuard state;
    hxtest::FakeFarm farm(world, hxtest::ByTag().on(602, row.replies).on(111, {{1, [] { return new HxConfig; }}}));
    ASSERT_TRUE(farm.ok());
    if (!row.up) world.config(hxtest::closed_farm_config());
    if (row.assigned > 0) assign("", row.post, row.flags);
    if (row.assigned == 2) _hx_dev_env(1);
    _hx_seq("12:frame", 0);
    HxWork work;
    work.name("frame");
    work.status(HxStatus(row.status));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int const result = hxreportwork(work);
    std::string const err = testing::internal::GetCapturedStderr();
    auto const lines = out_lines(testing::internal::GetCapturedStdout());
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(work.status().integervalue(), row.sent_status);
    if (row.line != nullptr) {
      EXPECT_EQ(count_lines(lines, row.line), 1);
    }
    if (row.err[0] != '\0') {
      EXPECT_EQ(err, row.err);
    }
    EXPECT_EQ(world.sleeps(), row.sleeps);
    std::vector<std::unique_ptr<HxMessage>> sent;
    for (auto& m : farm.requests())
      if (m->tag() == 602) sent.push_back(std::move(m));
    ASSERT_EQ(sent.size(), row.attempts);
    if (row.assigned == 1) {
      EXPECT_EQ(env("HX_FRAME_STATUS"), S(HxStatus(row.status).value()));
    }
    for (auto const& m : sent) {
      HxWork const* w = work_in(*m);
      ASSERT_NE(w, nullptr);
      EXPECT_EQ(w->pid(), 12);
      EXPECT_EQ(w->subid(), 3);
      EXPECT_EQ(w->seq(), 3);
      EXPECT_EQ(w->status().integervalue(), row.sent_status);
      EXPECT_EQ(S(w->host()), S(hxthishostname()));
    }
  }
}

// Development mode hands out the job's own items from the cursor, running,
// then complete; nothing is sent and no variable is set.
TEST(HxApiWork, DevelopmentRequests) {
  hxtest::JobWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::JobStateGuard state;
  world.config(hxtest::closed_farm_config());
  HxAssignment* a = hxtest::made_assignment(0, 0);
  for (char const* name : {"1-4", "5"}) {
    auto* w = new HxWork;
    w->name(name);
    a->job().agenda().append(w);
  }
  a->develop(true);
  _hx_set_assign(a);
  char const* const expected[] = {"1-4", "5", nullptr, nullptr};
  for (char const* name : expected) {
    HxWork work;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(hxrequestwork(work), 1);
    std::string const err = testing::internal::GetCapturedStderr();
    auto const lines = out_lines(testing::internal::GetCapturedStdout());
    if (name != nullptr) {
      EXPECT_EQ(err, "dev - requesting work.\ngot work: " + std::string(name) + "\n");
      EXPECT_EQ(S(work.name()), name);
      EXPECT_EQ(work.status().integervalue(), HxStatus::kRunning);
    } else {
      EXPECT_EQ(err, "dev - requesting work.\n");
      EXPECT_EQ(count_lines(lines, "dev - complete notification - job done."), 1);
      EXPECT_EQ(work.status().integervalue(), HxStatus::kComplete);
    }
  }
  EXPECT_TRUE(world.sleeps().empty());
}

// Without an assignment a request sends nothing and leaves the item complete.
TEST(HxApiWork, RequestWithoutAssignment) {
  hxtest::JobWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::JobStateGuard state;
  hxtest::FakeFarm farm(world, hxtest::ByTag());
  for (int dev : {0, 1}) {
    _hx_dev_env(dev);
    HxWork work;
    work.status(HxStatus(HxStatus::kRunning));
    testing::internal::CaptureStderr();
    EXPECT_EQ(hxrequestwork(work), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: couldn't obtain assignment\n");
    EXPECT_EQ(work.status().integervalue(), HxStatus::kComplete);
  }
  EXPECT_TRUE(farm.requests().empty());
}

// A job report that the worker confirms: the record sent carries the
// assignment's ids and host whatever the caller's holds, which stays as it
// was; no assignment gives 0 and development mode 1, both sending nothing.
TEST(HxApiWork, ReportJobDelivered) {
  struct Row {
    char const* name;
    int assigned;  // 0 none, 1 normal, 2 development
    int result;
    char const* line;
  } const rows[] = {
      {"confirmed", 1, 1, "received confirmation from worker."},
      {"no assignment", 0, 0, "unable to report job...  assignment not available."},
      {"development", 2, 1, "dev - reporting status on job: complete"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::JobWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::JobStateGuard state;
    hxtest::FakeFarm farm(world, hxtest::ByTag().on(206, {{1, nullptr}}));
    if (row.assigned > 0) assign();
    if (row.assigned == 2) _hx_dev_env(1);
    HxSubjob subjob;
    subjob.id(77);
    subjob.pid(88);
    subjob.host("elsewhere");
    subjob.status(HxStatus(HxStatus::kComplete));
    testing::internal::CaptureStdout();
    EXPECT_EQ(hxreportjob(subjob), row.result);
    auto const lines = out_lines(testing::internal::GetCapturedStdout());
    EXPECT_EQ(count_lines(lines, row.line), 1);
    EXPECT_TRUE(world.sleeps().empty());
    EXPECT_EQ(subjob.id() * 100 + subjob.pid(), 7788);
    EXPECT_EQ(S(subjob.host()), "elsewhere");
    auto const requests = farm.requests();
    ASSERT_EQ(requests.size(), row.assigned == 1 ? 1u : 0u);
    if (requests.empty()) continue;
    EXPECT_EQ(requests[0]->tag(), 206);
    auto const* sent = dynamic_cast<HxSubjob const*>(requests[0]->content());
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(sent->pid(), 12);
    EXPECT_EQ(sent->id(), 3);
    EXPECT_EQ(S(sent->host()), "w1");
    EXPECT_EQ(sent->status().integervalue(), HxStatus::kComplete);
  }
}

// A world that also writes each pause on standard error as "<p:seconds>",
// so that a child process shows its pause sequence to the death test.
class ShownPauses : public hxtest::JobWorld {
 public:
  void sleepMillis(int64_t ms) override {
    std::string t = "<p:" + std::to_string(ms / 1000) + ">";
    std::fwrite(t.data(), 1, t.size(), stderr);
    std::fflush(stderr);
  }
};

// The ways a job report ends the process with status 1: the worker's order
// to shut down at once, and a worker that never confirms, after 64
// attempts whose pauses start at draw mod 5 + 1 seconds and double while
// below 600. Replies of other tags pause the same way as silence.
TEST(HxApiWorkDeathTest, ReportJobEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto pauses = [](int first) {
    std::string re = "^[^<]*";
    for (int i = 0, p = first; i < 64; ++i) {
      re += "<p:" + std::to_string(p) + ">[^<]*";
      if (p < 600) p *= 2;
    }
    return re + "the worker seems dead\\.\\.\\.  I'm exiting now\\. \n[^<]*$";
  };
  struct Row {
    char const* name;
    bool up;
    int tag;
    int draw;
    std::string expected;
  } const rows[] = {
      {"shutdown order", true, 203, 4, "^[^<]*received order to shutdown\\.\n[^<]*$"},
      {"silent from 5", false, 1, 4, pauses(5)},
      {"silent from 1", false, 1, 5, pauses(1)},
      {"errors from 3", true, 4, 2, pauses(3)},
      {"other tags", true, 2, 2, pauses(3)},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    ShownPauses world;
    world.draw = row.draw;
    hxtest::ApiWorldGuard guard(world);
    hxtest::JobStateGuard state;
    hxtest::FakeFarm farm(world, hxtest::ByTag().on(206, {{row.tag, nullptr}}));
    if (!row.up) world.config(hxtest::closed_farm_config());
    assign();
    EXPECT_EXIT(
        {
          hx_debug_filename("/dev/stderr", 0);
          hxreportjob(HxStatus(HxStatus::kComplete));
        },
        testing::ExitedWithCode(1), row.expected);
  }
}

// A world whose waits on the test's own thread are all interrupted by a
// signal (the fake farm's thread waits for real).
class SignalledWorld : public hxtest::JobWorld {
 public:
  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    if (pthread_equal(pthread_self(), test_thread) == 0) return HxWorld::poll(fds, count, timeout_ms);
    errno = EINTR;
    return -1;
  }
  pthread_t const test_thread = pthread_self();
};

// The interrupt check of the rows below: how often the test's thread asked
// it, and from which ask on it says yes (other threads always hear no).
std::atomic<int> g_asked{0};
std::atomic<int> g_yes_from{1};
pthread_t g_asking;
bool scripted_check() { return pthread_equal(pthread_self(), g_asking) != 0 && ++g_asked >= g_yes_from; }

void on_usr1(int) {}

// A signal whose check ends the request ends it: the thread is marked, so
// a retry loop stops at once (a report of work, 1440 attempts otherwise); a
// pause that a signal interrupts ends; a job report returns 0 and leaves
// the process running (run in a child, where ending the process is seen as
// its exit status).
TEST(HxApiWork, SignalsEndTheRequestNotTheProcess) {
  struct Row {
    char const* name;
    int yes_from;                      // the check's first yes
    std::function<std::string()> run;  // "" when it held
  } const rows[] = {
      {"the check's yes marks the thread and ends the retries", 1,
       [] {
         SignalledWorld world;
         hxtest::ApiWorldGuard guard(world);
         hxtest::JobStateGuard state;
         hxtest::FakeFarm farm(world, hxtest::ByTag());
         assign();
         HxWork work;
         work.name("frame");
         work.status(HxStatus(HxStatus::kComplete));
         testing::internal::CaptureStdout();
         int const result = hxreportwork(work);
         testing::internal::GetCapturedStdout();
         std::string out;
         if (result != 0) out += " result " + std::to_string(result);
         if (!hx_interrupted()) out += " thread not marked";
         if (!world.sleeps().empty()) out += " paused " + std::to_string(world.sleeps().size()) + " times";
         return out;
       }},
      {"a pause that a signal interrupts ends", 2,
       [] {
         // Signals every few milliseconds until the pause of 20 s returns:
         // the first ask says no, the next yes.
         struct sigaction sa {}, old{};
         sa.sa_handler = on_usr1;
         sigemptyset(&sa.sa_mask);
         sigaction(SIGUSR1, &sa, &old);
         std::atomic<bool> done{false};
         pthread_t const self = pthread_self();
         std::thread signaller([&] {
           while (!done) {
             pthread_kill(self, SIGUSR1);
             std::this_thread::sleep_for(std::chrono::milliseconds(5));
           }
         });
         auto const start = std::chrono::steady_clock::now();
         hx_pause_millis(20000);
         auto const took = std::chrono::steady_clock::now() - start;
         done = true;
         signaller.join();
         sigaction(SIGUSR1, &old, nullptr);
         std::string out;
         if (g_asked != 2) out += " asked " + std::to_string(g_asked.load()) + " times";
         if (!hx_interrupted()) out += " thread not marked";
         if (took > std::chrono::seconds(10)) out += " paused the whole time";
         return out;
       }},
      {"a job report returns 0 and the process goes on", 1,
       [] {
         int const code = hxtest::run_with_limit(RLIMIT_CORE, 0, [] {
           SignalledWorld world;
           hxtest::ApiWorldGuard guard(world);
           hxtest::JobStateGuard state;
           hxtest::FakeFarm farm(world, hxtest::ByTag().on(206, {{1, nullptr}}));
           assign();
           int const result = hxreportjob(HxStatus(HxStatus::kComplete));
           return result == 0 && hx_interrupted() && world.sleeps().empty() ? 42 : 10 + result;
         });
         return code == 42 ? std::string() : " child ended with " + std::to_string(code);
       }},
  };
  for (Row const& row : rows) {
    g_asked = 0;
    g_yes_from = row.yes_from;
    g_asking = pthread_self();
    hx_set_interrupt_check(&scripted_check);
    std::string const failed = row.run();
    hx_set_interrupt_check(nullptr);
    hx_interrupted(false);
    EXPECT_EQ(failed, "") << row.name;
  }
}

}  // namespace

#include "api/HxApiEvents.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "api/HxApiAssign.h"
#include "api/HxApiState.h"
#include "core/HxError.h"
#include "model/job/HxPost.h"
#include "model/job/HxVariable.h"
#include "model/job/HxVariableId.h"
#include "net/HxClient.h"
#include "tests/api/JobProcessTestUtil.h"

namespace {

using hxtest::S;

std::string farms_config(hxtest::FakeFarm const& supervisor, hxtest::FakeFarm const& worker) {
  std::string const s = std::to_string(supervisor.port());
  return "hx_supervisor = 127.0.0.1\nsupervisor_port = " + s + "\nsupervisor_sub_port = " + s +
         "\nworker_port = " + std::to_string(worker.port()) + "\n";
}

HxVariable* variable(char const* value) {
  auto* v = new HxVariable(5);
  v->name("n");
  v->value(value);
  v->cls(1);
  return v;
}

// Set, get and delete by class: job and global variables at the
// supervisor, host and scoped ones at the local worker, deletes always at
// the supervisor; a pid below 0 becomes the job's; any other class sends
// nothing (set alone says so). Only a variable counts as an answer to get.
TEST(HxApiEvents, VariablesRoutedByClass) {
  enum Op { kSet, kGet, kDelete };
  enum Dest { kNone, kSup, kWorker };
  struct Row {
    Op op;
    int cls;
    Dest dest;
    int result;
    char const* out;
    bool error_reply;
  } const rows[] = {
      {kSet, 1, kSup, 1, "", false},      {kSet, 2, kSup, 1, "", false},
      {kSet, 256, kWorker, 1, "", false}, {kSet, 257, kWorker, 1, "", false},
      {kSet, 3, kNone, 0, "unidentified type!!!\n", false},
      {kSet, 1, kSup, 1, "", true},  // the reply's tag is not read
      {kGet, 1, kSup, 1, "", false},      {kGet, 2, kSup, 1, "", false},
      {kGet, 256, kWorker, 1, "", false}, {kGet, 257, kWorker, 1, "", false},
      {kGet, 3, kNone, 0, "", false},     {kGet, 256, kWorker, 0, "", true},
      {kDelete, 1, kSup, 1, "", false},   {kDelete, 2, kSup, 1, "", false},
      {kDelete, 256, kSup, 1, "", false}, {kDelete, 257, kSup, 1, "", false},
      {kDelete, 3, kNone, 0, "", false},
  };
  hxtest::JobWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::JobStateGuard state;
  std::atomic<Row const*> current{nullptr};
  auto reply = [&current](char const* value) {
    return [&current, value](HxMessage&, HxMessage& rep) {
      if (current.load()->error_reply) return hxtest::answer(rep, 4, new HxError(3));
      return hxtest::answer(rep, 1, variable(value));
    };
  };
  hxtest::FakeFarm sup(world, reply("from supervisor"));
  hxtest::FakeFarm worker(world, reply("from worker"));
  world.config(farms_config(sup, worker));
  _hx_set_assign(hxtest::made_assignment(12, 3));
  size_t seen_sup = 0, seen_worker = 0;
  for (Row const& row : rows) {
    SCOPED_TRACE(std::to_string(row.op) + "/" + std::to_string(row.cls));
    current = &row;
    int result = -1;
    testing::internal::CaptureStdout();
    if (row.op == kSet) {
      HxVariable var;
      var.cls(row.cls);
      var.name("frames");
      var.value("10");
      result = hxsetvariable(var);
      EXPECT_EQ(var.pid(), 12);
    } else {
      HxVariableId id(-1, "frames");
      id.cls(row.cls);
      HxVariable out;
      result = row.op == kGet ? hxgetvariable(id, out) : hxdeletevariable(id);
      EXPECT_EQ(id.pid(), 12);
      if (row.op == kGet) {
        EXPECT_EQ(S(out.value()), !result ? "" : row.dest == kSup ? "from supervisor" : "from worker");
      }
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.out);
    EXPECT_EQ(result, row.result);
    auto at_sup = sup.requests();
    auto at_worker = worker.requests();
    at_sup.erase(at_sup.begin(), at_sup.begin() + static_cast<long>(seen_sup));
    at_worker.erase(at_worker.begin(), at_worker.begin() + static_cast<long>(seen_worker));
    seen_sup += at_sup.size();
    seen_worker += at_worker.size();
    EXPECT_EQ(at_sup.size(), row.dest == kSup ? 1u : 0u);
    EXPECT_EQ(at_worker.size(), row.dest == kWorker ? 1u : 0u);
    for (auto const* list : {&at_sup, &at_worker}) {
      for (auto const& m : *list) {
        EXPECT_EQ(m->tag(), 900 + (row.op == kSet ? 1 : row.op == kGet ? 0 : 2));
        int pid = -1;
        if (auto const* v = dynamic_cast<HxVariable const*>(m->content())) pid = v->pid();
        if (auto const* v = dynamic_cast<HxVariableId const*>(m->content())) pid = v->pid();
        EXPECT_EQ(pid, 12);
      }
    }
  }
}

// Posts and triggers: what is sent, the caller's list left as it was, and
// only a confirmation counting for a trigger.
TEST(HxApiEvents, PostsAndTriggers) {
  struct Row {
    bool up;
    int tag;
    int result;
    char const* err;
  } const rows[] = {
      {true, 1, 1, ""},
      {true, 4, 0, "ERROR: couldn't execute event(s).\n"},
      {true, 3, 0, "ERROR: couldn't execute event(s).\n"},
      {false, 1, 0, ""},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.tag * 10 + row.up);
    hxtest::JobWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, hxtest::ByTag().on(803, {{row.tag, nullptr}}));
    if (!row.up) world.config(hxtest::closed_farm_config());
    testing::internal::CaptureStderr();
    EXPECT_EQ(hxtrigger("render.done"), row.result);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.err);
    HxPostList posts;
    auto* p = new HxPost;
    p->triggers("a.b");
    posts.append(p);
    EXPECT_EQ(hxsubmitpost(posts), row.up ? 1 : 0);
    ASSERT_EQ(posts.length(), 1);
    EXPECT_EQ(S(posts.get(0)->triggers()), "a.b");
    auto const requests = farm.requests();
    ASSERT_EQ(requests.size(), row.up ? 2u : 0u);
    if (!row.up) continue;
    EXPECT_EQ(requests[0]->tag(), 803);
    auto const* names = dynamic_cast<HxStringList const*>(requests[0]->content());
    ASSERT_NE(names, nullptr);
    ASSERT_EQ(names->length(), 1);
    EXPECT_EQ(S(*names->get(0)), "render.done");
    EXPECT_EQ(requests[1]->tag(), 1100);
    auto const* sent = dynamic_cast<HxPostList const*>(requests[1]->content());
    ASSERT_NE(sent, nullptr);
    ASSERT_EQ(sent->length(), 1);
    EXPECT_EQ(S(sent->get(0)->triggers()), "a.b");
  }
}

// A world for the wait: the mediator's long waits (on its UDP port) last a
// few milliseconds and move the clock on by one second, or fail. Only the
// passes that end empty (or fail) are counted: a datagram that reaches the
// port meanwhile, from another test's peer on a loaded machine, ends a pass
// early without moving the clock, and so adds a pass that is not one of the
// caller's seconds.
class WaitWorld : public hxtest::JobWorld {
 public:
  WaitWorld() : clock_(hxtest::JobWorld::now()) {}
  int64_t now() override { return clock_.load(); }
  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    int type = 0;
    socklen_t len = sizeof type;
    bool mediator = count == 1 && timeout_ms >= 1000 &&
                    getsockopt(fds[0].fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_DGRAM;
    if (!mediator) return HxWorld::poll(fds, count, timeout_ms);
    longest = std::max(longest.load(), timeout_ms);
    if (fail) {
      ++passes;
      errno = EBADF;
      return -1;
    }
    int r = HxWorld::poll(fds, count, 5);
    if (r == 0) {
      ++passes;
      clock_ += 1;
    }
    return r;
  }
  std::atomic<int> passes{0};
  std::atomic<int> longest{0};  // the longest wait a pass asked for, in ms
  bool fail = false;

 private:
  std::atomic<int64_t> clock_;
};

// The wait: registration with the port and the job, a post delivered to
// the mediator ending it, the time-out on the world's clock (passes until
// more than that many seconds went by), an unreachable supervisor, and a
// failing wait ending in 0 after the unregistration. A pass never waits
// longer than the caller's time-out has left.
TEST(HxApiEvents, WaitFor) {
  struct Row {
    char const* name;
    bool up;
    bool assigned;
    bool deliver;
    bool fail;
    int timeout;
    int result;
    int passes;
    int longest;               // the longest wait of a pass, ms
    char const* unsubscribed;  // the triggers of the 1102's post; null: none sent
  } const rows[] = {
      {"post arrives", true, true, true, false, 0, 1, -1, 30000, "render.done"},
      {"time-out 5", true, false, false, false, 5, 1, 6, 6000, ""},
      {"time-out 1", true, false, false, false, 1, 1, 2, 2000, ""},
      {"time-out beyond a pass", true, false, false, false, 100, 1, 101, 30000, ""},
      {"wait fails", true, true, false, true, 0, 0, 1, 30000, ""},
      {"unreachable", false, true, false, false, 5, 0, 0, 0, nullptr},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    WaitWorld world;
    world.fail = row.fail;
    hxtest::ApiWorldGuard guard(world);
    hxtest::JobStateGuard state;
    bool const deliver = row.deliver;
    hxtest::FakeFarm farm(world, [deliver](HxMessage& request, HxMessage& reply) {
      auto* posts = dynamic_cast<HxPostList*>(request.content());
      if (request.tag() == 1100 && deliver && posts != nullptr && posts->length() == 1) {
        // The answer of the supervisor: the post, by datagram to its port.
        HxMessage event(1101);
        auto* post = new HxPost;
        post->id(41);
        post->triggers("render.done");
        event.content(post);
        HxClient client;
        client.telegram("127.0.0.1", posts->get(0)->port(), event);
      }
      return hxtest::answer(reply, 1);
    });
    if (!row.up) world.config(hxtest::closed_farm_config());
    if (row.assigned) _hx_set_assign(hxtest::made_assignment(12, 3));
    HxString triggers("render.*");
    // The library's lines are left out; the verdict is given outside them.
    testing::internal::CaptureStdout();
    int const result = hxwaitfor(triggers, row.timeout);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, row.result);
    if (row.passes >= 0) {
      EXPECT_EQ(world.passes.load(), row.passes);
      EXPECT_EQ(world.longest.load(), row.longest);
    }
    auto const requests = farm.requests();
    ASSERT_EQ(requests.size(), row.up ? 2u : 0u);
    if (!row.up) continue;
    EXPECT_EQ(requests[0]->tag(), 1100);
    auto const* posts = dynamic_cast<HxPostList const*>(requests[0]->content());
    ASSERT_NE(posts, nullptr);
    ASSERT_EQ(posts->length(), 1);
    EXPECT_EQ(posts->get(0)->pid(), row.assigned ? 12 : -1);
    EXPECT_GT(posts->get(0)->port(), 0);
    EXPECT_EQ(S(posts->get(0)->triggers()), "render.*");
    EXPECT_EQ(requests[1]->tag(), 1102);
    auto const* last = dynamic_cast<HxPost const*>(requests[1]->content());
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(S(last->triggers()), row.unsubscribed);
    EXPECT_EQ(last->id(), row.deliver ? 41 : -1);
  }
}

// No descriptor left for the mediator's port: 0, nothing registered, and
// the process goes on.
TEST(HxApiEventsDeathTest, WaitForWithoutAPort) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  WaitWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeFarm farm(world, hxtest::ByTag());
  auto without_port = [&farm] {
    HxString triggers("x");
    // Once with descriptors to spare, and a line in the log, so that the
    // undefined-behaviour checker has seen the classes involved before it
    // too is left without descriptors.
    if (hxwaitfor(triggers, 1) != 1) _exit(8);
    _hx_debug_line("descriptors run out now");
    rlimit none;
    none.rlim_cur = none.rlim_max = 3;
    setrlimit(RLIMIT_NOFILE, &none);
    int const result = hxwaitfor(triggers, 1);
    _exit(result == 0 && farm.requests().size() == 2 ? 7 : 9);
  };
  EXPECT_EXIT(without_port(), testing::ExitedWithCode(7), "");
}

}  // namespace

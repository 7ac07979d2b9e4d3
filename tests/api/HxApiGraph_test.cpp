#include "api/HxApiGraph.h"

#include <gtest/gtest.h>

#include <string>

#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "tests/api/ApiExchange.h"
#include "tests/api/ApiTestUtil.h"

namespace {

using hxtest::S;

// A port nobody listens on, in the world's configuration.
void point_nowhere(hxtest::ApiWorld& world) {
  int closed = 0;
  {
    FakePeer gone;
    closed = gone.tcpPort();
  }
  world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + std::to_string(closed) + "\n");
}

// Graph submission: every node's job is completed (ids of the enclosing job
// process, search path) before it goes; the reply's graph is copied; only
// tag 4 is an error; blank and foreign replies write their lines, which
// become the API error; an unreachable supervisor fails silently, naming
// itself in the API error.
TEST(HxSubmitGraph, CompletionAndReplies) {
  enum Kind { kEcho, kError, kBlank, kStrings, kDown };
  struct Row {
    int tag;
    Kind kind;
    int result;
    int error;
    char const* line;
  } const rows[] = {
      {1, kEcho, 1, 7, ""},
      {3, kEcho, 1, 7, ""},
      {4, kError, 0, 1234, ""},
      {1, kBlank, 0, 100000, "ERROR: data returned blank\n"},
      {1, kStrings, 0, 100000, "ERROR: list object returned invalid. - 55\n"},
      {1, kDown, 0, 100000, ""},
  };
  hxtest::TempDir home("hxhome");
  home.write(".hx.conf", "template_path = /t\n");
  hxtest::ScopedEnv env{{"HXJOBID", "77"}, {"HXPGRPID", nullptr}, {"HXPATH", "/g"}, {"HOME", home.path().c_str()}};
  for (Row const& row : rows) {
    SCOPED_TRACE(row.tag * 10 + row.kind);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, [&row](HxMessage& req, HxMessage& rep) {
      auto* graph = dynamic_cast<HxJobGraph*>(req.content());
      if (row.kind == kError) return hxtest::answer(rep, 4, new HxError(1234));
      if (row.kind == kBlank) return hxtest::answer(rep, row.tag);
      if (row.kind == kStrings) return hxtest::answer(rep, row.tag, new HxStringList);
      return hxtest::answer(rep, row.tag, new HxJobGraph(graph != nullptr ? *graph : HxJobGraph()));
    });
    if (row.kind == kDown) point_nowhere(world);
    HxJobGraph graph, submitted;
    for (int pid : {-1, 5}) {
      auto* node = new HxJobNode;
      node->job().pid(pid);
      graph.jobs().append(node);
    }
    graph.links().append(new HxJobLink);
    _hx_set_error(7);
    testing::internal::CaptureStderr();
    EXPECT_EQ(hxsubmitgraph(graph, submitted), row.result);
    std::string const err = testing::internal::GetCapturedStderr();
    if (row.kind != kDown) {
      EXPECT_EQ(err, row.line);
    }
    EXPECT_EQ(hxerror().integervalue(), row.error);
    if (row.error == 100000) {
      EXPECT_EQ(S(hxerror().value()), row.kind == kDown ? "unable to contact supervisor." : hxtest::cause_of(err));
    }
    EXPECT_EQ(graph.jobs().get(0)->job().pid(), 77);
    EXPECT_EQ(graph.jobs().get(1)->job().pid(), 5);
    EXPECT_EQ(S(graph.jobs().get(0)->job().path()), "/g:/t");
    EXPECT_EQ(submitted.jobs().length(), row.result == 1 ? 2 : 0);
    EXPECT_EQ(submitted.links().length(), row.result == 1 ? 1 : 0);
    if (row.kind == kDown) continue;
    auto got = farm.requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]->tag(), kHxReqSubmitGraph);
    auto* sent = dynamic_cast<HxJobGraph*>(got[0]->content());
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(sent->jobs().get(0)->job().pid(), 77);
  }
}

// Callbacks (list family, silent when unreachable) and the worker
// configuration upload (only a refusal or no supervisor gives 0; nothing is
// written; the API error stays but for an unreachable supervisor).
TEST(HxSubmitGraph, CallbacksAndWorkerConfig) {
  struct Row {
    bool callbacks;
    int tag;
    bool down;
    int result;
    int error;
  } const rows[] = {
      {true, 1, false, 1, 7},  {true, 4, false, 0, 1234}, {true, 1, true, 0, 100000},
      {false, 1, false, 1, 7}, {false, 3, false, 0, 7},   {false, 4, false, 1, 7},
      {false, 1, true, 0, 100000},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.callbacks * 100 + row.tag * 10 + row.down);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, [&row](HxMessage& req, HxMessage& rep) {
      if (row.tag == 4) return hxtest::answer(rep, 4, new HxError(1234));
      auto* list = dynamic_cast<HxCallbackList*>(req.content());
      return hxtest::answer(rep, row.tag, list != nullptr ? new HxCallbackList(*list) : nullptr);
    });
    if (row.down) point_nowhere(world);
    _hx_set_error(7);
    testing::internal::CaptureStderr();
    HxCallbackList callbacks, submitted;
    callbacks.append(new HxCallback);
    HxConfigHash config;
    int const got = row.callbacks ? hxsubmitcallback(callbacks, submitted) : hxsendworkerconfig(config);
    std::string const err = testing::internal::GetCapturedStderr();
    if (!row.down) {
      EXPECT_EQ(err, "");
    }
    EXPECT_EQ(got, row.result);
    EXPECT_EQ(hxerror().integervalue(), row.error);
    EXPECT_EQ(callbacks.length(), 1);
    EXPECT_EQ(submitted.length(), row.callbacks && row.result == 1 ? 1 : 0);
    if (row.down) continue;
    auto requests = farm.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]->tag(), row.callbacks ? kHxReqSubmitCallback : kHxReqSendWorkerConfig);
  }
}

}  // namespace

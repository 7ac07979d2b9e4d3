#include "api/HxApiRoad.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "api/HxApiCommand.h"
#include "api/HxApiEvents.h"
#include "api/HxApiPing.h"
#include "api/HxApiQuery.h"
#include "api/HxApiState.h"
#include "api/HxApiSubmit.h"
#include "config/HxConfig.h"
#include "core/HxList.h"
#include "model/job/HxCommand.h"
#include "model/job/HxJob.h"
#include "model/job/HxQuery.h"
#include "tests/api/ApiExchange.h"
#include "tests/api/FakeSupervisor.h"
#include "tests/api/ApiTestUtil.h"

namespace {

using hxtest::S;

enum class Dest { kSupervisor, kSub, kWorker };

bool carry(Dest dest, HxMessage& request, HxMessage& reply, char const* line) {
  switch (dest) {
    case Dest::kSupervisor:
      return _hx_api_supervisor(request, reply, line);
    case Dest::kSub:
      return _hx_api_subsupervisor(request, reply, 0, line);
    case Dest::kWorker:
      return _hx_api_worker("127.0.0.1", request, reply, line);
  }
  return false;
}

// Each destination against a fake farm and against nothing: the request
// arrives with its tag and the lent content, which comes back to the caller
// unchanged; a failed conversation writes the given line or none, and makes
// the API error name the destination (a delivered one leaves it alone).
TEST(HxApiRoad, DestinationsLentContentAndUnreachableLines) {
  struct Row {
    Dest dest;
    bool up;
    char const* line;
    char const* err;
    char const* error;  // the API error's text afterwards; null: left alone
  } const rows[] = {
      {Dest::kSupervisor, true, kHxNoSupervisorLine, "", nullptr},
      {Dest::kSub, true, kHxNoSupervisorLine, "", nullptr},
      {Dest::kWorker, true, "ERROR: unable to contact worker.", "", nullptr},
      {Dest::kSupervisor, false, kHxNoSupervisorLine, "ERROR: unable to contact supervisor.\n",
       "unable to contact supervisor."},
      {Dest::kSub, false, nullptr, "", "unable to contact supervisor."},
      {Dest::kWorker, false, "ERROR: unable to contact worker.", "ERROR: unable to contact worker.\n",
       "unable to contact worker."},
      {Dest::kWorker, false, nullptr, "", "unable to contact worker."},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.dest) * 10 + row.up);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, [](HxMessage& req, HxMessage& rep) {
      auto* names = dynamic_cast<HxStringList*>(req.content());
      return hxtest::answer(rep, 1, new HxStringList(names != nullptr ? *names : HxStringList()));
    });
    ASSERT_TRUE(farm.ok());
    if (!row.up) {
      int closed = 0;
      {
        FakePeer gone;
        closed = gone.tcpPort();
      }
      std::string const port = std::to_string(closed);
      world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + port + "\nsupervisor_sub_port = " + port +
                   "\nworker_port = " + port + "\n");
    }
    _hx_set_error(7);
    HxStringList names;
    names.append(new HxString("a"));
    HxMessage request(1403), reply;
    testing::internal::CaptureStderr();
    bool delivered;
    {
      HxLentContent lend(request, names);
      delivered = carry(row.dest, request, reply, row.line);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.err);
    EXPECT_EQ(delivered, row.up);
    EXPECT_EQ(request.content(), nullptr);
    ASSERT_EQ(names.length(), 1);
    EXPECT_EQ(S(*names.get(0)), "a");
    EXPECT_EQ(hxerror().integervalue(), row.up ? 7 : 100000);
    EXPECT_EQ(S(hxerror().value()), row.error != nullptr ? row.error : S(HxError(7).value()));
    if (!row.up) continue;
    auto got = farm.requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]->tag(), 1403);
    auto* echoed = dynamic_cast<HxStringList*>(reply.content());
    ASSERT_NE(echoed, nullptr);
    EXPECT_EQ(S(*echoed->get(0)), "a");
  }
}

enum class Peer { kNone, kRefused, kSilent, kGarbage };
enum class Fn { kJobInfo, kJobOrder, kKill, kWorkerConfig, kSubmit, kPing, kTrigger };

int call(Fn fn) {
  switch (fn) {
    case Fn::kJobInfo: {
      HxQuery q;
      HxJobList jobs;
      return hxjobinfo(q, jobs);
    }
    case Fn::kJobOrder: {
      HxQuery q;
      HxJobList jobs;
      return hxjoborder(q, jobs);
    }
    case Fn::kKill: {
      HxCommand c;
      c.jobids().append(new HxJobId(12));
      HxJobIdList ids;
      return hxkill(c, ids);
    }
    case Fn::kWorkerConfig: {
      HxConfig config;
      return hxworkerconfig("127.0.0.1", config);
    }
    case Fn::kSubmit: {
      HxJobList jobs, submitted;
      jobs.append(new HxJob);
      return hxsubmit(jobs, submitted, 0);
    }
    case Fn::kPing: {
      HxString out;
      return hxping(out, nullptr);
    }
    case Fn::kTrigger:
      return hxtrigger("frame_done");
  }
  return -1;
}

// Where the request road fails (no supervisor configured, the connection
// refused, no answer within the time-out, an answer that does not decode),
// each kind of request function writes on standard error and returns what
// it did before, and the API error names the cause in place of an earlier,
// unrelated one: the line without "ERROR: ", the line a silent function
// would have written, or the client's own error for a submission.
TEST(HxApiRoad, FailureNamesItsCause) {
  std::string const warn =
      "WARNING: hx_supervisor/hx_domain undefined in hx.conf or HX_SUPERVISOR/HX_DOMAIN undefined in  environment.\n";
  std::string const sup = "ERROR: unable to contact supervisor.\n";
  std::string const wrk = "ERROR: unable to contact worker.\n";
  std::string const late = "checkpoint(): select() timed out: Connection timed out\n";  // the connection's own
  struct Row {
    Peer peer;
    Fn fn;
    std::string err;
    char const* error;
  } const rows[] = {
      {Peer::kNone, Fn::kJobInfo, warn + sup, "unable to contact supervisor."},
      {Peer::kNone, Fn::kJobOrder, warn, "unable to contact supervisor."},
      {Peer::kNone, Fn::kKill, warn, "unable to contact supervisor."},
      {Peer::kNone, Fn::kSubmit, warn, "unable to contact supervisor."},
      {Peer::kNone, Fn::kPing, warn, "unable to contact supervisor."},
      {Peer::kNone, Fn::kTrigger, warn, "unable to contact supervisor."},
      {Peer::kRefused, Fn::kJobInfo, sup, "unable to contact supervisor."},
      {Peer::kRefused, Fn::kJobOrder, "", "unable to contact supervisor."},
      {Peer::kRefused, Fn::kKill, "", "unable to contact supervisor."},
      {Peer::kRefused, Fn::kWorkerConfig, wrk, "unable to contact worker."},
      {Peer::kRefused, Fn::kSubmit, "", "unable to connect to host"},
      {Peer::kRefused, Fn::kPing, "", "unable to contact supervisor."},
      {Peer::kSilent, Fn::kJobInfo, late + sup, "unable to contact supervisor."},
      {Peer::kSilent, Fn::kSubmit, late, "select read timeout"},
      {Peer::kGarbage, Fn::kJobInfo, sup, "unable to contact supervisor."},
      {Peer::kGarbage, Fn::kJobOrder, "", "unable to contact supervisor."},
      {Peer::kGarbage, Fn::kWorkerConfig, wrk, "unable to contact worker."},
      {Peer::kGarbage, Fn::kSubmit, "", "unable to contact supervisor."},
      {Peer::kGarbage, Fn::kTrigger, "", "unable to contact supervisor."},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.peer) * 10 + static_cast<int>(row.fn));
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    std::unique_ptr<FakePeer> peer;
    if (row.peer == Peer::kRefused) hxtest::unreachable(world);
    if (row.peer == Peer::kSilent || row.peer == Peer::kGarbage) {
      FakeStep step = FakeStep::of(row.peer == Peer::kSilent ? FakeStep::kSilence : FakeStep::kRaw);
      step.raw = "\x7f";
      peer.reset(new FakePeer({step}));
      ASSERT_TRUE(peer->ok());
      std::string const port = std::to_string(peer->tcpPort());
      world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + port + "\nworker_port = " + port + "\n");
    }
    // A real wait: the connection counts it in whole seconds (one here).
    hxsettimeout(row.peer == Peer::kSilent ? 300 : 0);
    _hx_set_error(kHxErrAccessDenied);  // an earlier, unrelated failure
    testing::internal::CaptureStderr();
    int const result = call(row.fn);
    std::string const err = testing::internal::GetCapturedStderr();
    hxsettimeout(0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(err, row.err);
    EXPECT_EQ(S(hxerror().value()), row.error);
  }
}

// Running out of memory on the road (here: packing a request far larger
// than the memory left) fails the call with the API error "out of memory";
// nothing escapes, and a submission's jobs stay whole. Each call runs in a
// child whose address space is bounded; the records are made before.
TEST(HxApiRoad, OutOfMemoryFailsTheCall) {
  if (hxtest::kShadowMemory) GTEST_SKIP() << "no address-space limit under a sanitizer";
  // Packing this text takes four times its size at once.
  HxString const huge = hxtest::H(std::string(32u << 20, 'a'));
  HxQuery query;
  query.filters().append(new HxFilter("name", huge));
  HxCommand command;
  command.jobids().append(new HxJobId(12));
  command.filters().append(new HxFilter("name", huge));
  HxJobList jobs;
  jobs.append(new HxJob);
  jobs.get(0)->name(huge);
  struct Row {
    char const* name;
    std::function<int()> call;
  } const rows[] = {
      {"query",
       [&] {
         HxJobList got;
         return hxjobinfo(query, got);
       }},
      {"command",
       [&] {
         HxJobIdList ids;
         return hxkill(command, ids);
       }},
      {"submission",
       [&] {
         HxJobList submitted;
         int const r = hxsubmit(jobs, submitted, 0);
         return jobs.length() == 1 && jobs.get(0)->name().length() == huge.length() ? r : 99;
       }},
      {"trigger", [&] { return static_cast<int>(hxtrigger(huge)); }},
  };
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    int const code = hxtest::run_with_memory_limit(64u << 20, [&] {
      _hx_set_error(kHxErrAccessDenied);
      int const result = row.call();
      if (result != 0) return 10 + result;
      return S(hxerror().value()) == "out of memory" ? 0 : 2;
    });
    EXPECT_EQ(code, 0);
  }
  EXPECT_EQ(supe.requests().size(), 0u);
}

}  // namespace

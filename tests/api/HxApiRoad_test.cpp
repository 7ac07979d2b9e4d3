#include "api/HxApiRoad.h"

#include <gtest/gtest.h>

#include "api/HxApiState.h"
#include "core/HxList.h"
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
// unchanged; a failed conversation writes the given line or none, and leaves
// the API error alone.
TEST(HxApiRoad, DestinationsLentContentAndUnreachableLines) {
  struct Row {
    Dest dest;
    bool up;
    char const* line;
    char const* err;
  } const rows[] = {
      {Dest::kSupervisor, true, kHxNoSupervisorLine, ""},
      {Dest::kSub, true, kHxNoSupervisorLine, ""},
      {Dest::kWorker, true, "ERROR: unable to contact worker.", ""},
      {Dest::kSupervisor, false, kHxNoSupervisorLine, "ERROR: unable to contact supervisor.\n"},
      {Dest::kSub, false, nullptr, ""},
      {Dest::kWorker, false, "ERROR: unable to contact worker.", "ERROR: unable to contact worker.\n"},
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
    EXPECT_EQ(hxerror().integervalue(), 7);
    if (!row.up) continue;
    auto got = farm.requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]->tag(), 1403);
    auto* echoed = dynamic_cast<HxStringList*>(reply.content());
    ASSERT_NE(echoed, nullptr);
    EXPECT_EQ(S(*echoed->get(0)), "a");
  }
}

}  // namespace

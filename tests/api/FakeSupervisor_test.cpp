#include "tests/api/FakeSupervisor.h"

#include <gtest/gtest.h>

#include "api/HxApiRoad.h"

namespace {

// One conversation with the fake: a request of this tag lending `content`.
std::unique_ptr<HxMessage> ask(int tag, HxPack* content) {
  HxMessage request;
  request.tag(tag);
  auto reply = std::make_unique<HxMessage>();
  if (content == nullptr) {
    EXPECT_TRUE(_hx_api_supervisor(request, *reply, nullptr));
    return reply;
  }
  HxLentContent lend(request, *content);
  EXPECT_TRUE(_hx_api_supervisor(request, *reply, nullptr));
  return reply;
}

// Queries select by filter and limit; commands change the stored jobs and
// work items and come back as a result (530) or as a bare id list (529).
TEST(FakeSupervisor, QueriesAndCommandsAtBothVersions) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  supe.addJob(12, "ann", "a", {"f1", "f2"});
  supe.addJob(13, "bob", "b");
  supe.addHost("hostA", "/x");

  HxQuery q;
  q.filters().append(new HxFilter("user", "bob"));
  auto r = ask(kHxReqJobInfo, &q);
  auto* jobs = dynamic_cast<HxJobList*>(r->content());
  ASSERT_NE(jobs, nullptr);
  ASSERT_EQ(jobs->length(), 1);
  EXPECT_EQ(jobs->get(0)->id(), 13);
  r = ask(kHxReqHostInfo, nullptr);
  ASSERT_NE(dynamic_cast<HxHostList*>(r->content()), nullptr);

  struct Row {
    int version, tag;
    char const* id;
    int type;            // content type of the reply
    char const* status;  // job 12's status, or work f1's for work rows
  } const rows[] = {
      {530, kHxReqBlock, "12", 188, "blocked"},  {529, kHxReqKill, "12", 18, "killed"},
      {530, kHxReqKillWork, "12:f1", 188, "killed"}, {529, kHxReqUnblockWork, "12:f1", 60, "pending"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.tag);
    supe.version(row.version);
    HxCommand c(row.tag);
    if (row.tag >= 600) c.workids().append(new HxWorkId(HxString(row.id)));
    else c.jobids().append(new HxJobId(HxString(row.id)));
    r = ask(row.tag, &c);
    EXPECT_EQ(r->version(), row.version);
    EXPECT_EQ(r->contenttype(), row.type);
    if (row.tag >= 600) EXPECT_EQ(supe.workStatus(12, "f1"), row.status);
    else EXPECT_EQ(std::string(supe.job(12).status().value().value()), row.status);
  }
  auto* result = dynamic_cast<HxResult*>(ask(kHxReqKillWork, nullptr)->content());
  EXPECT_EQ(result, nullptr);  // no command: an error reply
  EXPECT_EQ(supe.requests(kHxReqKill).size(), 1u);
}

}  // namespace

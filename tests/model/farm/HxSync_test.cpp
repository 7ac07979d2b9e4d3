#include "model/farm/HxSync.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "model/farm/HxDuty.h"
#include "model/job/JobTestUtil.h"

namespace {

TEST(HxDuty, ThreeRecordsSubjobFirstAndPreemptStaysHome) {
  HxDuty d;
  d.job().id(12);
  d.subjob().id(3);
  d.host().name("node1");
  d.preempt(1);
  std::vector<std::pair<int, int>> const expected = {{2, 4}, {1, 4}, {3, 4}};
  EXPECT_EQ(records(packed(d)), expected);
  expect_round_trip(d);
  HxDuty back;
  unpack(back, packed(d));
  EXPECT_EQ(back.preempt(), 0);
  EXPECT_EQ(back.job().id(), 12);
  EXPECT_EQ(back.subjob().id(), 3);
  EXPECT_EQ(S(back.host().name()), "node1");

  HxDuty copy;
  copy.copy(d);
  EXPECT_EQ(copy.preempt(), 1);
  EXPECT_EQ(packed(copy), packed(d));
  EXPECT_EQ(HxDuty(d).preempt(), 1);
  EXPECT_EQ(HxDuty().instance_type(), kHxInstanceNone);
  HxDutyList list;
  list.append(new HxDuty(d));
  expect_round_trip(list);
}

TEST(HxSync, RecordOrderDefaultsAndEmptyContainers) {
  HxSync s;
  EXPECT_EQ(s.serverid(), -1);
  EXPECT_EQ(s.maxjobid(), -1);
  EXPECT_EQ(s.content(), 0);
  EXPECT_EQ(s.mode(), 0);
  std::vector<std::pair<int, int>> const expected = {{1, 4},  {2, 4},  {10, 4}, {11, 4}, {12, 1}, {14, 1},
                                                     {15, 1}, {16, 4}, {17, 4}, {18, 4}, {20, 4}, {21, 1}};
  EXPECT_EQ(records(packed(s)), expected);
  // An empty list is a nested object holding its count 0.
  EXPECT_EQ(packed(s).substr(4, 20), hex("00 01 00 04 00 00 00 05 00 00 00 08 | 00 01 00 01 00 00 00 00"));
  HxSync back;
  back.jobs().append(new HxJob());
  back.serverid(5);
  unpack(back, packed(s));
  EXPECT_EQ(back.jobs().length(), 1);  // decoding appends to what a list holds
  EXPECT_EQ(back.serverid(), -1);
}

TEST(HxSync, DeepCopyOutlivesItsSource) {
  auto source = std::make_unique<HxSync>();
  for (int i = 0; i < 2; ++i) {
    auto* j = new HxJob();
    j->id(100 + i);
    source->jobs().append(j);
  }
  for (int i = 0; i < 3; ++i) {
    auto* h = new HxHost();
    h->name(HxString("node") + i);
    source->hosts().append(h);
  }
  auto* p = new HxPassword();
  p->user("bob");
  p->password("pw");
  source->passwords().append(p);
  auto* a = new HxAccess();
  a->name("bob");
  a->password("held");
  source->access().append(a);
  source->jobids().set(new HxJobId(7, 1), "k");
  source->lastupdate(HxTime(42));
  source->serverid(3);
  source->maxjobid(999);
  source->content(1);
  source->mode(2);
  expect_round_trip(*source);

  std::string const bytes = packed(*source);
  HxSync copy(*source);
  HxSync assigned;
  assigned = *source;
  source.reset();
  EXPECT_EQ(packed(copy), bytes);
  EXPECT_EQ(packed(assigned), bytes);
  ASSERT_EQ(copy.hosts().length(), 3);
  EXPECT_EQ(S(copy.hosts().get(2)->name()), "node2");
  EXPECT_EQ(S(copy.passwords().get(0)->password()), "pw");
  // An access record's copy leaves its password behind.
  EXPECT_EQ(S(copy.access().get(0)->password()), "");
  EXPECT_EQ(copy.jobids().get("k")->subid(), 1);
}

}  // namespace

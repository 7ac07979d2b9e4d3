#include "model/job/HxSubjob.h"

#include <gtest/gtest.h>

#include <climits>

#include "tests/model/job/WireRecords.h"

namespace {

HxSubjob sample() {
  HxSubjob s;
  s.id(3);
  s.pid(12);
  s.host("h");
  s.status(HxStatus(336));
  s.address(HxAddress(0x0A000001));
  s.data("d");
  s.result("r");
  s.retry(1);
  s.count(2);
  s.lastupdate(HxTime(5));
  s.seq(6);
  s.timestart(HxTime(7));
  s.timecomplete(HxTime(8));
  s.allocations("a,b", 1);
  s.timecumulative(9);
  return s;
}

char const* const kSampleBytes =
    "00 00 00 01"
    "00 01 00 01 00 00 00 03"
    "00 02 00 01 00 00 00 0C"
    "00 03 00 03 00 00 00 01 68"
    "00 04 00 04 00 00 00 02 00 00 00 08 00 01 00 01 00 00 01 50"
    "00 05 00 04 00 00 00 0D 00 00 00 08 00 01 00 01 0A 00 00 01"
    "00 07 00 03 00 00 00 01 64"
    "00 08 00 03 00 00 00 01 72"
    "00 09 00 04 00 00 00 9B 00 00 00 08 00 01 00 03 00 00 00 00"
    "00 0A 00 01 00 00 00 01"
    "00 0B 00 01 00 00 00 02"
    "00 06 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 05"  // last update, eleventh
    "00 0C 00 01 00 00 00 06"
    "00 0D 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 07"
    "00 0E 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 08"
    "00 0F 00 03 00 00 00 01 61"
    "00 10 00 01 00 00 00 09";

TEST(HxSubjobForm, ExactBytesAndBothRoundTrips) {
  HxSubjob s = sample();
  ASSERT_EQ(packed(s), hex(kSampleBytes));

  HxSubjob bin, xml;
  ASSERT_EQ(unpack(bin, packed(s)), 0);
  ASSERT_EQ(unpack_xml(xml, xml_of(s)), 0);
  for (HxSubjob* back : {&bin, &xml}) {
    EXPECT_EQ(packed(*back), hex(kSampleBytes));
    EXPECT_EQ(back->address().value(), 0x0A000001u);
    EXPECT_EQ(back->lastupdate().value(), 5);
  }
}

TEST(HxSubjobForm, NewSubjobAndMissingRecordsKeepDefaults) {
  HxSubjob fresh;
  EXPECT_EQ(fresh.id(), 0);
  EXPECT_EQ(fresh.pid(), -1);
  // Only the id arrives: the pid stays -1.
  HxSubjob s;
  ASSERT_EQ(unpack(s, hex("00 00 00 01 00 01 00 01 00 00 00 07")), 0);
  EXPECT_EQ(s.id(), 7);
  EXPECT_EQ(s.pid(), -1);
  // A nested record of the wrong type under the status tag drops the rest.
  HxSubjob bad;
  ASSERT_EQ(unpack(bad, hex("00 00 00 01"
                            "00 04 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 05"
                            "00 01 00 01 00 00 00 07")),
            0);
  EXPECT_EQ(bad.status().integervalue(), 0);
  EXPECT_EQ(bad.id(), 0);
}

// Each predicate answers as the status's predicate of the same name, for
// every named code and an unnamed active one.
TEST(HxSubjobOps, PredicatesFollowTheStatus) {
  for (int code : {0, 5, 16, 21, 32, 48, 261, 262, 265, 272, 293, 304, 320, 323, 325, 336, 999}) {
    HxSubjob s;
    s.status(HxStatus(code));
    HxStatus const st(code);
    SCOPED_TRACE(code);
#define HX_SAME(p) EXPECT_EQ(s.p(), st.p()) << #p;
    HX_SAME(active) HX_SAME(done) HX_SAME(assigned) HX_SAME(none) HX_SAME(pending) HX_SAME(suspended)
    HX_SAME(badlogin) HX_SAME(waiting) HX_SAME(running) HX_SAME(complete) HX_SAME(warning) HX_SAME(blocked)
    HX_SAME(failed) HX_SAME(killed)
#undef HX_SAME
  }
}

TEST(HxSubjobOps, SidIsASignedRemainderAndZeroWithoutOne) {
  struct Row {
    int pid, n, sid;
  } const rows[] = {{12, 5, 2}, {-7, 3, -1}, {7, -3, 1}, {12, 0, 0}, {INT_MIN, -1, 0}, {INT_MIN, 1, 0}, {5, -1, 0}};
  for (Row const& r : rows) {
    HxSubjob s;
    s.pid(r.pid);
    EXPECT_EQ(s.sid(r.n), r.sid) << r.pid << " % " << r.n;
  }
}

TEST(HxSubjobOps, JobSlotsCountTheHostProcessors) {
  struct Row {
    char const* allocations;
    int slots;
  } const rows[] = {{"", 0},
                    {"host.processors=4", 4},
                    {"host.memory=512", 0},
                    {"host.memory=512,host.processors=2", 2},
                    {"host.processors=2,host.processors=4", 4},
                    {"host.processor=4", 0},
                    {"Host.processors=4", 0}};
  for (Row const& r : rows) {
    HxSubjob s;
    s.allocations(r.allocations);
    EXPECT_EQ(s.jobSlots(), r.slots) << r.allocations;
  }
}

TEST(HxSubjobList, CopyTakesItemsOnlyAndTheFormHoldsNoStatus) {
  HxSubjobList from;
  from.append(new HxSubjob(sample()));
  from.append(new HxSubjob());
  from.status().value(336);
  from.tally().running(4);

  HxSubjobList to;
  to.append(new HxSubjob());
  to.status().value(16);
  to.copy(from);
  ASSERT_EQ(to.length(), 2);
  EXPECT_EQ(packed(*to.get(0)), hex(kSampleBytes));
  EXPECT_NE(to.get(0), from.get(0));
  EXPECT_EQ(to.status().integervalue(), 16);
  EXPECT_EQ(to.tally().running(), 0);

  // Neither form carries the list's own status: a decoded list has the default.
  HxSubjobList bin, xml;
  ASSERT_EQ(unpack(bin, packed(from)), 0);
  ASSERT_EQ(unpack_xml(xml, xml_of(from)), 0);
  for (HxSubjobList* back : {&bin, &xml}) {
    ASSERT_EQ(back->length(), 2);
    EXPECT_EQ(packed(*back->get(0)), hex(kSampleBytes));
    EXPECT_EQ(back->status().integervalue(), 0);
    EXPECT_EQ(back->tally().running(), 0);
  }
  EXPECT_EQ(jobtest::tags(from), (std::vector<int>{1, 10, 10}));
}

}  // namespace

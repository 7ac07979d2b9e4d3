#include "model/job/HxWork.h"

#include <gtest/gtest.h>

#include <climits>

#include "tests/model/job/WireRecords.h"

namespace {

HxWork sample() {
  HxWork w;
  w.name("f");
  w.subid(2);
  w.host("h");
  w.status(HxStatus(16));
  w.address(HxAddress(0x0A000001));
  w.pid(12);
  w.data("d");
  w.id(4);
  w.result("r");
  w.retry(1);
  w.retrydelay(30);
  w.count(2);
  w.dependency("xyz", 1);
  w.percent(50);
  w.lastupdate(HxTime(5));
  w.seq(6);
  w.timestart(HxTime(7));
  w.timecomplete(HxTime(8));
  w.timecumulative(9);
  return w;
}

char const* const kSampleBytes =
    "00 00 00 01"
    "00 01 00 03 00 00 00 01 66"
    "00 02 00 01 00 00 00 02"
    "00 03 00 03 00 00 00 01 68"
    "00 04 00 04 00 00 00 02 00 00 00 08 00 01 00 01 00 00 00 10"
    "00 05 00 04 00 00 00 0D 00 00 00 08 00 01 00 01 0A 00 00 01"
    "00 06 00 01 00 00 00 0C"
    "00 07 00 03 00 00 00 01 64"
    "00 08 00 01 00 00 00 04"
    "00 09 00 03 00 00 00 01 72"
    "00 0A 00 01 00 00 00 01"
    "00 13 00 01 00 00 00 1E"  // retry delay between retry and count
    "00 0B 00 01 00 00 00 02"
    "00 0C 00 03 00 00 00 01 78"
    "00 0D 00 01 00 00 00 32"
    "00 0E 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 05"
    "00 0F 00 01 00 00 00 06"
    "00 10 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 07"
    "00 11 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 08"
    "00 12 00 04 00 00 00 9B 00 00 00 08 00 01 00 03 00 00 00 00"
    "00 14 00 01 00 00 00 09";

TEST(HxWorkForm, ExactBytesAndBothRoundTrips) {
  HxWork w = sample();
  ASSERT_EQ(packed(w), hex(kSampleBytes));
  HxWork bin, xml;
  ASSERT_EQ(unpack(bin, packed(w)), 0);
  ASSERT_EQ(unpack_xml(xml, xml_of(w)), 0);
  for (HxWork* back : {&bin, &xml}) {
    EXPECT_EQ(packed(*back), hex(kSampleBytes));
    EXPECT_EQ(back->retrydelay(), 30);
    EXPECT_EQ(S(back->dependency()), "x");
  }
}

TEST(HxWorkForm, NewItemEncodesItsDefaultsAndReadsBackEqual) {
  HxWork fresh;
  std::vector<jobtest::Rec> recs = jobtest::records(packed(fresh));
  ASSERT_EQ(recs.size(), 20u);
  struct Row {
    int tag, value;
  } const ints[] = {{2, -1}, {6, -1}, {8, -1}, {10, 0}, {19, 0}, {11, 0}, {13, 0}, {15, 0}, {20, 0}};
  for (Row const& r : ints) {
    bool seen = false;
    for (jobtest::Rec const& rec : recs)
      if (rec.tag == r.tag) {
        seen = true;
        EXPECT_EQ(rec.kind, 1);
        EXPECT_EQ(rec.value, r.value) << "tag " << r.tag;
      }
    EXPECT_TRUE(seen) << "tag " << r.tag;
  }
  HxWork back;
  back.pid(99);
  ASSERT_EQ(unpack(back, packed(fresh)), 0);
  EXPECT_EQ(packed(back), packed(fresh));
}

TEST(HxWorkOps, WorkIdAlwaysHoldsTheSeparator) {
  struct Row {
    int pid;
    char const* name;
    char const* text;
  } const rows[] = {{-1, "", "-1:"}, {7, "", "7:"}, {12, "frame0001", "12:frame0001"}, {3, "a:b", "3:a:b"}};
  for (Row const& r : rows) {
    HxWork w;
    w.pid(r.pid);
    w.name(r.name);
    EXPECT_EQ(S(w.workid()), r.text);
  }
}

TEST(HxWorkOps, PredicatesAndSid) {
  for (int code : {0, 5, 16, 21, 32, 48, 261, 262, 265, 272, 293, 304, 320, 323, 325, 336, 999}) {
    HxWork w;
    w.status(HxStatus(code));
    HxStatus const st(code);
    SCOPED_TRACE(code);
#define HX_SAME(p) EXPECT_EQ(w.p(), st.p()) << #p;
    HX_SAME(active) HX_SAME(assigned) HX_SAME(killed) HX_SAME(running) HX_SAME(failed) HX_SAME(suspended)
    HX_SAME(complete) HX_SAME(warning) HX_SAME(done) HX_SAME(pending) HX_SAME(blocked) HX_SAME(waiting)
    HX_SAME(none)
#undef HX_SAME
  }
  struct Sid {
    int pid, n, sid;
  } const sids[] = {{12, 5, 2}, {-7, 3, -1}, {12, 0, 0}, {INT_MIN, -1, 0}};
  for (Sid const& r : sids) {
    HxWork w;
    w.pid(r.pid);
    EXPECT_EQ(w.sid(r.n), r.sid);
  }
}

TEST(HxWorkContainers, ListCopyTakesItemsOnlyAndHashKeepsItsKeys) {
  HxWorkList from;
  for (int i = 0; i < 3; ++i) from.append(new HxWork(sample()));
  from.status().value(320);
  from.tally().pending(3);
  HxWorkList to;
  for (int i = 0; i < 5; ++i) to.append(new HxWork());
  to.tally().complete(5);
  to.copy(from);
  ASSERT_EQ(to.length(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(packed(*to.get(i)), hex(kSampleBytes));
    EXPECT_NE(to.get(i), from.get(i));
  }
  EXPECT_EQ(to.status().integervalue(), 0);
  EXPECT_EQ(to.tally().complete(), 5);
  EXPECT_EQ(to.tally().pending(), 0);

  HxWorkHash hash;
  hash.set(new HxWork(sample()), "12:f");
  hash.set(new HxWork(), "7:");
  HxWorkHash bin, xml;
  ASSERT_EQ(unpack(bin, packed(hash)), 0);
  ASSERT_EQ(unpack_xml(xml, xml_of(hash)), 0);
  for (HxWorkHash* back : {&bin, &xml}) {
    ASSERT_EQ(back->count(), 2);
    ASSERT_NE(back->get("12:f"), nullptr);
    EXPECT_EQ(packed(*back->get("12:f")), hex(kSampleBytes));
  }
  EXPECT_EQ(hash.type(), 70);
  EXPECT_EQ(S(hash.typeXML()), "work_hash");
}

}  // namespace

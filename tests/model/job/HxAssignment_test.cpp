#include "model/job/HxAssignment.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "tests/model/job/PinnedClock.h"
#include "tests/model/job/WireRecords.h"

namespace {

HxJobStats stats(int threads, int memory, int swap) {
  HxJobStats s;
  s.jobid(12);
  s.subid(3);
  s.maxthreads(threads);
  s.maxmemory(memory);
  s.maxswap(swap);
  s.start(HxTime(1000));
  s.end(HxTime(1090));
  s.host("h1");
  return s;
}

HxAssignment filled() {
  HxAssignment a;
  a.job().id(12);
  a.job().label("L");
  a.subjob().id(3);
  a.procid(100);
  a.threadid(101);
  a.jobstats(stats(1, 2, 3));
  a.outpos(4);
  a.errpos(5);
  auto* w = new HxWork();
  w->name("f1");
  a.work().set(w, HxString("12:f1"));
  a.develop(true);
  a.timestart().value(77);
  auto* v = new HxVariable();
  a.variable().set(v, HxString("v"));
  a.serveraddress(HxAddress(0x7F000001));
  a.outstartpos(6);
  a.errstartpos(7);
  a.pathmap().addToDirectMap(HxString("/a"), HxString("/b"));
  a.automounted("auto");
  a.order(8);
  return a;
}

TEST(HxAssignmentForm, FieldsInOrderAndBothRoundTrips) {
  HxAssignment a = filled();
  EXPECT_EQ(jobtest::tags(a), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}));
  expect_round_trip(a);
  std::string const xml = xml_of(a);
  EXPECT_NE(xml.find("<stats>"), std::string::npos);
  EXPECT_EQ(xml.find("<job_stats>"), std::string::npos);
  HxAssignmentList list;
  list.append(new HxAssignment(a));
  expect_round_trip(list);
}

TEST(HxAssignmentCopy, LeavesOutWorkVariablesStartAndWhatIsNotSent) {
  HxAssignment fresh;
  EXPECT_TRUE(fresh.missing());
  EXPECT_FALSE(fresh.started());
  EXPECT_FALSE(fresh.verified());
  EXPECT_EQ(fresh.port(), 0);

  HxAssignment from = filled();
  from.missing(false);
  from.started(true);
  from.verified(true);
  from.port(9);
  from.host("h");
  from.sid("s");
  from.lastpost().value(3);
  HxAssignment to(from);
  EXPECT_EQ(to.work().count(), 0);
  EXPECT_EQ(to.variable().count(), 0);
  EXPECT_EQ(to.timestart().value(), 0);
  EXPECT_TRUE(to.missing());
  EXPECT_FALSE(to.started());
  EXPECT_FALSE(to.verified());
  EXPECT_EQ(to.port(), 0);
  EXPECT_EQ(to.host().length(), 0);
  EXPECT_EQ(to.sid().length(), 0);
  EXPECT_EQ(to.lastpost().value(), 0);
  // What it does take is every other field that travels.
  to.work().set(new HxWork(*from.work().get(HxString("12:f1"))), HxString("12:f1"));
  to.variable().set(new HxVariable(), HxString("v"));
  to.timestart().value(77);
  EXPECT_EQ(packed(to), packed(from));
  EXPECT_EQ(to.job().label(), from.job().label());
}

TEST(HxJobStatsText, DataLineAndTally) {
  jobtest::PinnedClock clock;  // UTC
  HxJobStats none;
  EXPECT_EQ(S(none.data()), "-1.-1\tstart: [None] 0\tend: [None] 0\ttime: [0 s] 0\thost: \tthread: 0\tmem: 0\tswap: 0\n");
  EXPECT_EQ(S(stats(4, 512, 64).data()),
            "12.3\tstart: [Jan 1, 2000 5:16:40] 1000\tend: [Jan 1, 2000 5:18:10] 1090\ttime: [90 s] 90\t"
            "host: h1\tthread: 4\tmem: 512\tswap: 64\n");
  struct Row {
    int start, end;
    char const* time;
  } const rows[] = {{0, 119, "[119 s] 119"},
                    {0, 120, "[2.0 m] 120"},
                    {0, 7199, "[119.9 m] 7199"},
                    {0, 7200, "[2.0 h] 7200"},
                    {100, 0, "[-100 s] -100"},
                    {INT_MIN, INT_MAX, "[1193046.4 h] 4294967295"},
                    {INT_MAX, INT_MIN, "[-4294967295 s] -4294967295"}};
  for (Row const& r : rows) {
    HxJobStats s;
    s.start(HxTime(r.start));
    s.end(HxTime(r.end));
    std::string const line = S(s.data());
    EXPECT_NE(line.find(std::string("\ttime: ") + r.time + "\t"), std::string::npos) << line;
  }

  struct Tally {
    int threads, memory, swap;
    int want_threads, want_memory, want_swap;
  } const tallies[] = {{1, 2, 3, 4, 512, 64}, {4, 1024, 64, 4, 1024, 64}, {9, 9, 99, 9, 512, 99}, {-1, -1, -1, 4, 512, 64}};
  for (Tally const& t : tallies) {
    HxJobStats s = stats(4, 512, 64);
    HxJobStats other = stats(t.threads, t.memory, t.swap);
    other.jobid(1);
    other.host("other");
    s.tally(other);
    EXPECT_EQ(s.maxthreads(), t.want_threads);
    EXPECT_EQ(s.maxmemory(), t.want_memory);
    EXPECT_EQ(s.maxswap(), t.want_swap);
    EXPECT_EQ(s.jobid(), 12);
    EXPECT_EQ(S(s.host()), "h1");
  }
  HxJobStats s = stats(4, 512, 64);
  EXPECT_EQ(packed(s), hex("00 00 00 01"
                           "00 01 00 01 00 00 00 0C 00 02 00 01 00 00 00 03 00 03 00 01 00 00 00 04"
                           "00 04 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 03 E8"
                           "00 05 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 04 42"
                           "00 06 00 01 00 00 02 00 00 07 00 01 00 00 00 40"
                           "00 08 00 03 00 00 00 02 68 31"));
  expect_round_trip(s);
}

TEST(HxReportForm, SubjobBeforeStatsAndDecodedInThatOrder) {
  HxReport r;
  r.subjob().id(3);
  r.jobstats(stats(1, 2, 3));
  r.outlog().data("out");
  r.outlog().id(9);
  r.errlog().data("err");
  EXPECT_EQ(jobtest::tags(r), (std::vector<int>{2, 1, 3, 4}));
  expect_round_trip(r);
  std::string const xml = xml_of(r);
  EXPECT_LT(xml.find("<subjob>"), xml.find("<job_stats>"));
  EXPECT_NE(xml.find("<out_log>"), std::string::npos);
  EXPECT_NE(xml.find("<err_log>"), std::string::npos);
  HxReport copy;
  copy = r;
  EXPECT_EQ(packed(copy), packed(r));
  EXPECT_EQ(copy.outlog().id(), -1);  // a log's copy leaves its id
}

TEST(HxRequestForm, SatisfiedIsCopiedButNeverSent) {
  HxRequest r;
  r.reservation().fullname(HxString("host.memory=512"));
  r.subjob().id(4);
  r.satisfied(true);
  EXPECT_EQ(jobtest::tags(r), (std::vector<int>{1, 2}));
  expect_round_trip(r);
  HxRequest back;
  ASSERT_EQ(unpack(back, packed(r)), 0);
  EXPECT_FALSE(back.satisfied());
  HxRequest copy;
  copy.copy(r);
  EXPECT_TRUE(copy.satisfied());
  HxRequestList list;
  list.append(new HxRequest(r));
  HxRequestList list2;
  list2.copy(list);
  EXPECT_TRUE(list2.get(0)->satisfied());
  expect_round_trip(list);
}

}  // namespace

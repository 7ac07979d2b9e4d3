#include "model/job/HxHistory.h"

#include <gtest/gtest.h>

#include <string>

#include "model/job/HxJobLimits.h"
#include "model/job/HxLog.h"
#include "tests/model/job/PinnedClock.h"
#include "tests/model/job/WireRecords.h"

namespace {

using hxtest::TempDir;

TEST(HxHistoryForm, StampBeforeCommentInBothForms) {
  HxHistory h;
  h.jobid(12);
  h.subid(3);
  h.stamp(HxTime(5));
  h.comment("c");
  h.workid("12:f");
  EXPECT_EQ(packed(h), hex("00 00 00 01"
                           "00 01 00 01 00 00 00 0C"
                           "00 02 00 01 00 00 00 03"
                           "00 04 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 05"
                           "00 03 00 03 00 00 00 01 63"
                           "00 05 00 03 00 00 00 04 31 32 3A 66"));
  expect_round_trip(h);
  std::string const xml = xml_of(h);
  EXPECT_LT(xml.find("<stamp>"), xml.find("<comment>"));
  HxHistoryList list;
  list.append(new HxHistory(h));
  expect_round_trip(list);
}

TEST(HxHistoryLine, BuildersWriteSixFieldsAndBlankWhatWouldBreakThem) {
  jobtest::PinnedClock clock;
  std::string const head = "[Mar 3, 2024 9:05:07]\t762753907\t";
  struct Row {
    HxString line;
    std::string want;
  } const rows[] = {
      {HxHistory::data(12, HxString("started"), HxString("ok")), "job\t12\t-1\tstarted (ok)\n"},
      {HxHistory::data(12, 3, HxString("done"), HxString("ok")), "subjob\t12\t3\tdone (ok)\n"},
      {HxHistory::data(12, HxString("12:f1"), HxString("done"), HxString("")), "work\t12\t12:f1\tdone ()\n"},
      // TABs in text and comment stay; line feeds anywhere and TABs in the work id become blanks.
      {HxHistory::data(12, HxString("a\tb"), HxString("c\td")), "job\t12\t-1\ta\tb (c\td)\n"},
      {HxHistory::data(12, 3, HxString("a\nb"), HxString("x\n12\t3\tforged")), "subjob\t12\t3\ta b (x 12\t3\tforged)\n"},
      {HxHistory::data(12, HxString("1\t2\n3"), HxString("t"), HxString("c\r")), "work\t12\t1 2 3\tt (c\r)\n"},
  };
  for (Row const& r : rows) EXPECT_EQ(S(r.line), head + r.want);
}

TEST(HxHistoryRead, FourReadersOverOneFile) {
  jobtest::PinnedClock clock;
  TempDir dir;
  HxString const base = hxtest::H(dir.path());
  HxLog::jobbuilddir(base, 12);
  std::string text = S(HxHistory::data(12, HxString("queued"), HxString("by ann"))) +
                     S(HxHistory::data(12, 3, HxString("done"), HxString("ok"))) + "\n" +
                     S(HxHistory::data(12, HxString("12:f1"), HxString("a\tb"), HxString("x\ny"))) +
                     S(HxHistory::data(12, 0, HxString("start"), HxString(""))) +
                     "[x]\t5\tjob\t99\t-1\ttext\r\n" + "odd line\n" + "[y]\t6\twork\t12\t3:z\tlast";
  dir.write("job/0/12/12.hst", text);

  struct Entry {
    int job, sub;
    char const* work;
    char const* comment;
    int stamp;
  };
  int const now = jobtest::PinnedClock::kValue;
  auto check = [&](HxHistoryList const& list, std::vector<Entry> const& want) {
    ASSERT_EQ(list.length(), static_cast<int>(want.size()));
    for (size_t i = 0; i < want.size(); ++i) {
      HxHistory const& h = *list.get(static_cast<int>(i));
      SCOPED_TRACE(i);
      EXPECT_EQ(h.jobid(), want[i].job);
      EXPECT_EQ(h.subid(), want[i].sub);
      EXPECT_EQ(S(h.workid()), want[i].work);
      EXPECT_EQ(S(h.comment()), want[i].comment);
      EXPECT_EQ(h.stamp().value(), want[i].stamp);
    }
  };
  HxHistoryList all;
  all.append(new HxHistory());  // nothing is cleared first
  HxHistory::query(base, 12, all);
  check(all, {{-1, -1, "", "", 0},
              {12, -1, "", "queued (by ann)", now},
              {12, 3, "", "done (ok)", now},
              {12, -1, "12:f1", "a\tb (x y)", now},
              {12, 0, "", "start ()", now},
              {99, -1, "", "text\r", 5},
              {0, -1, "", "", 0},
              {12, -1, "3:z", "last", 6}});

  HxHistoryList sub3, sub0, none, work;
  HxHistory::query(base, 12, 3, sub3);
  check(sub3, {{12, 3, "", "done (ok)", now}, {12, 3, "", "last", 6}});
  HxHistory::query(base, 12, 0, sub0);
  check(sub0, {{12, 0, "", "start ()", now}});
  HxHistory::query(base, 12, -1, none);
  check(none, {});
  HxHistory::query(base, 12, HxString("12:f1"), work);
  check(work, {{12, -1, "12:f1", "a\tb (x y)", now}});

  HxHistoryList missing;
  HxHistory::query(base, 13, missing);
  EXPECT_EQ(missing.length(), 0);
}

TEST(HxHistoryRead, HostHistoriesAndRefusedHostNames) {
  TempDir dir;
  HxString const base = hxtest::H(dir.path());
  HxHistoryList list;
  HxHistory::queryHost(base, HxString("h1"), list);
  EXPECT_EQ(list.length(), 0);
  HxLog::hostbuilddir(base, HxString("h1"));
  dir.write("host/h1/h1.hst", "[t]\t7\tsubjob\t4\t2\tran (ok)\n");
  HxHistory::queryHost(base, HxString("h1"), list);
  ASSERT_EQ(list.length(), 1);
  EXPECT_EQ(list.get(0)->jobid(), 4);
  EXPECT_EQ(list.get(0)->subid(), 2);
  // A file reached by a name that leaves the host directory is not read.
  dir.write("h1.hst", "[t]\t7\tjob\t4\t-1\tx\n");
  dir.write("...hst", "[t]\t7\tjob\t4\t-1\tx\n");
  for (char const* bad : {"..", "h1/../../h1", "a/b"}) HxHistory::queryHost(base, HxString(bad), list);
  EXPECT_EQ(list.length(), 1);
}

TEST(HxHistoryRead, OneReadAppendsABoundedNumberOfEntries) {
  std::string text;
  text.reserve((kHxMaxHistoryEntries + 3) * 2);
  for (int i = 0; i < kHxMaxHistoryEntries + 3; ++i) text += "a\n";
  HxHistoryList list;
  HxHistory::_read(hxtest::H(text), 0, 0, HxString(), list);
  EXPECT_EQ(list.length(), kHxMaxHistoryEntries);
}

}  // namespace

#include "model/job/HxLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "core/HxFile.h"
#include "core/HxRegEx.h"
#include "model/job/HxCommand.h"
#include "tests/model/job/PinnedClock.h"
#include "tests/model/job/WireRecords.h"

namespace {

using hxtest::TempDir;

bool isdir(std::string const& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(HxLogForm, HostBeforeClsAndA64BitFullSize) {
  HxLog log;
  log.jobid(7);
  log.subid(2);
  log.data("ab");
  log.host("h");
  log.cls(1);
  log.workid(9);
  log.workname("f1");
  log.pos(3);
  log.fullsize(0x100000000LL);
  log.id(5);
  log.logtype(6);
  std::string const bytes = hex(
      "00 00 00 01"
      "00 01 00 01 00 00 00 07"
      "00 02 00 01 00 00 00 02"
      "00 03 00 03 00 00 00 02 61 62"
      "00 05 00 03 00 00 00 01 68"
      "00 04 00 01 00 00 00 01"
      "00 06 00 01 00 00 00 09"
      "00 07 00 03 00 00 00 02 66 31"
      "00 08 00 01 00 00 00 03"
      "00 09 00 07 00 00 00 01 00 00 00 00");
  EXPECT_EQ(packed(log), bytes);
  expect_round_trip(log);
  std::string const xml = xml_of(log);
  EXPECT_LT(xml.find("<data>"), xml.find("<host>"));
  EXPECT_LT(xml.find("<host>"), xml.find("<cls>"));

  // A copy takes the nine fields that travel, never id and logtype.
  HxLog copy;
  copy.id(1);
  copy.logtype(2);
  copy = log;
  EXPECT_EQ(packed(copy), bytes);
  EXPECT_EQ(copy.id(), 1);
  EXPECT_EQ(copy.logtype(), 2);
  HxLog constructed(log);
  EXPECT_EQ(constructed.id(), -1);
  EXPECT_EQ(constructed.logtype(), -1);
  EXPECT_EQ(S(log.uniquename()), "9:7:2:f1");
  EXPECT_EQ(HxLog().workid(), -1);
}

TEST(HxLogTree, PathsOfEveryOperation) {
  HxString const B("B");
  struct Row {
    HxString got;
    char const* want;
  } const rows[] = {
      {HxLog::joblogdir(B), "B/job"},
      {HxLog::joblogbasedir(B, 999), "B/job/0"},
      {HxLog::joblogdir(B, 999), "B/job/0/999"},
      {HxLog::joblogdir(B, 1000), "B/job/1000/1000"},
      {HxLog::joblogdir(B, 1999), "B/job/1000/1999"},
      {HxLog::joblogdir(B, -1), "B/job/0/-1"},
      {HxLog::joblogdir(B, -1500), "B/job/-1000/-1500"},
      {HxLog::joblogdir(B, INT_MIN), "B/job/-2147483000/-2147483648"},
      {HxLog::pgrplogdir(B), "B/pgrp"},
      {HxLog::pgrplogbasedir(B, 2500), "B/pgrp/2000"},
      {HxLog::pgrplogdir(B, 2500), "B/pgrp/2000/2500"},
      {HxLog::hostlogdir(B), "B/host"},
      {HxLog::hostlogdir(B, HxString("h1")), "B/host/h1"},
      {HxLog::userlogdir(B), "B/user"},
      {HxLog::userlogdir(B, HxString("ann")), "B/user/ann"},
      {HxLog::joblogfile(B, 1234, 3, 1), "B/job/1000/1234/1234_3.out"},
      {HxLog::joblogfile(B, 1234, 3, 2), "B/job/1000/1234/1234_3.err"},
      {HxLog::joblogfile(B, 1234, 3, 3), "B/job/1000/1234/1234_3.sts"},
      {HxLog::joblogfile(B, 1234, 8), "B/job/1000/1234/1234.hst"},
      {HxLog::joblogfile(B, 1234, 3, 15), "B/job/1000/1234/1234.map"},
      {HxLog::joblogfile(B, 7, 2, 8), "B/job/0/7/7.hst"},
      {HxLog::joblogfile(B, 7, 2, 4), "B/job/0/7/7_2."},
      {HxLog::joblogfile(B, 7, 2, 16), "B/job/0/7/7_2."},
      {HxLog::joblogfile(B, 7, 2, 0), "B/job/0/7/7_2."},
      {HxLog::joblogfile(B, 7, 2, 12), "B/job/0/7/7."},
      {HxLog::joblogfile(B, 7, 2, 14), "B/job/0/7/7.mail"},
      {HxLog::joblogfile(B, 7, 2, 24), "B/job/0/7/7."},
      {HxLog::joblogfile(B, 7, -1, -1), "B/job/0/7/7."},
      {HxLog::joblogfile(B, 7, -1, HxString("log")), "B/job/0/7/7_-1.log"},
      {HxLog::hostlogfile(B, HxString("h1"), 208), "B/host/h1/h1.hst"},
      {HxLog::hostlogfile(B, HxString("h1"), 8), "B/host/h1/h1."},
      {HxLog::hostlogfile(B, HxString("h1"), 108), "B/host/h1/h1."},
      {HxLog::userlogfile(B, HxString("ann"), 108), "B/user/ann/ann.hst"},
      {HxLog::userlogfile(B, HxString("ann"), 208), "B/user/ann/ann."},
      // Names that lead out of their directory name nothing.
      {HxLog::hostlogdir(B, HxString("..")), ""},
      {HxLog::hostlogfile(B, HxString("a/b"), 208), ""},
      {HxLog::hostlogfile(B, HxString("/etc"), 208), ""},
      {HxLog::userlogdir(B, hxtest::H(std::string("a\0b", 3))), ""},
      {HxLog::userlogfile(B, HxString(".."), 108), ""},
      {HxLog::hostlogdir(B, HxString("..x")), "B/host/..x"},
  };
  for (Row const& r : rows) EXPECT_EQ(S(r.got), r.want);
  EXPECT_EQ(S(HxLog::logext(-1)), "");
}

TEST(HxLogTree, BuildOperationsMakeTheirLevelsOnly) {
  TempDir dir;
  HxString const base = hxtest::H(dir.path());
  HxLog::jobbuilddir(base, 1234);
  HxLog::pgrpbuilddir(base, 5);
  HxLog::hostbuilddir(base, HxString("h1"));
  HxLog::userbuilddir(base, HxString("ann"));
  for (char const* sub : {"/job/1000/1234", "/pgrp/0/5", "/host/h1", "/user/ann"}) EXPECT_TRUE(isdir(dir.path() + sub)) << sub;
  struct stat st;
  ASSERT_EQ(::stat((dir.path() + "/job/1000").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u);
  EXPECT_TRUE(HxLog::islocal(base, 1234));
  EXPECT_FALSE(HxLog::islocal(base, 1235));

  // Refused names make nothing, not even the host or user level.
  TempDir other;
  HxString const b2 = hxtest::H(other.path());
  for (char const* bad : {"..", "../x", "x/.."}) {
    HxLog::hostbuilddir(b2, HxString(bad));
    HxLog::userbuilddir(b2, HxString(bad));
  }
  EXPECT_FALSE(isdir(other.path() + "/host"));
  EXPECT_FALSE(isdir(other.path() + "/user"));
  // A missing base is not created.
  HxLog::jobbuilddir(hxtest::H(other.path() + "/none"), 1);
  EXPECT_FALSE(isdir(other.path() + "/none"));

  HxCommand cmd;
  EXPECT_FALSE(HxLog::islocal(base, cmd));
  cmd.jobids().append(new HxJobId(1235));
  EXPECT_FALSE(HxLog::islocal(base, cmd));
  cmd.jobids().append(new HxJobId(1234));
  EXPECT_TRUE(HxLog::islocal(base, cmd));
}

TEST(HxLogMap, ReadmapTakesTheFirstLineOfFourFields) {
  struct Row {
    char const* text;
    char const* work;
    int sub;
  } const rows[] = {
      {"7\t0\t1\tf1\n7\t1\t2\tf1\n", "f1", 0},
      {"7\t5\t1\tf2\n7\t1\t2\tf1\n", "f1", 1},
      {"7\t3\t1\tf1\r\n", "f1", 3},
      {"7\t3\r\t1\tf\r1", "f1", 3},
      {"7\t3\tf1\n", "f1", -1},
      {"7\t3\t1\tf1\textra\n", "f1", 3},
      {"7\t3\t1\t\n", "", -1},
      {"7\t3\t1\t\t\n", "", 3},
      {"7\tx\t1\tf1\n", "f1", 0},
      {"7\t4\t1\tF1\n", "f1", -1},
      {"7\t4\t1\tf1 \n", "f1", -1},
      {"\n\n7\t9\t1\tf1", "f1", 9},
      {"", "f1", -1},
  };
  for (Row const& r : rows) EXPECT_EQ(HxLog::_readmap(HxString(r.text), HxString(r.work)), r.sub) << r.text;

  TempDir dir;
  HxString const base = hxtest::H(dir.path());
  EXPECT_EQ(HxLog::readmap(base, 7, HxString("f1")), -1);
  HxLog::jobbuilddir(base, 7);
  HxLog::writemap(base, 7, 4, 11, HxString("f1"));
  HxLog::writemap(base, 7, 2, 12, HxString("f2"));
  EXPECT_EQ(dir.read("job/0/7/7.map"), "7\t4\t11\tf1\n7\t2\t12\tf2\n");
  EXPECT_EQ(HxLog::readmap(base, 7, HxString("f2")), 2);
}

// The line recogniser against the regular expression it stands for.
TEST(HxLogSection, WorkLineAgreesWithTheExpression) {
  char const* const lines[] = {
      "got work: 12:f1 - started\n",
      "got work:12:f1 -\n",
      "got work:\t 3:a b  - x - y\n",
      "got work: 3:f1-\n",
      "got work: 3:f1 \n",
      "got work: :f1 - x\n",
      "got work: x3:f1 - x\n",
      "Got work: 3:f1 - x\n",
      "log got work: 1:got work: 2:f - x\n",
      "got work: 1:z got work: 2:f - x\n",
      "got work: 1: - x\n",
      "got work: 1:  - x\n",
      "got work: 1:a\r -\n",
      "got work: 1:a\n -",
      "got work: 1:a \n-",
      "got work: 1:a\v-",
      "got work: 1\n:a -",
      "got work: 1:a\0b -",
      "got work:",
      "got work: 1",
      "got work: 1:",
      "",
  };
  HxRegEx re(HxString("got work:\\s*\\d+:(.+)\\s+-"));
  for (char const* l : lines) {
    std::string const line = l == lines[17] ? std::string(l, 18) : std::string(l);
    HxStringList groups;
    bool const want = re.match(hxtest::H(line), groups);
    char const* name = nullptr;
    int length = 0;
    bool const got = HxLog::_workline(line.data(), static_cast<int>(line.size()), &name, &length);
    ASSERT_EQ(got, want) << line;
    if (got) {
      EXPECT_EQ(std::string(name, static_cast<size_t>(length)), S(*groups.get(0))) << line;
    }
  }
}

TEST(HxLogSection, FilterTakesTheItemsLinesUpToTheLimit) {
  TempDir dir;
  std::string const text =
      "boot\n"
      "got work: 1:f1 - start\n"
      "a1\na2\na3\na4\n"
      "got work: 2:f2 - start\n"
      "b1\n"
      "got work: 1:f1 - again\n"
      "c1";
  dir.write("s.out", text);
  struct Row {
    char const* work;
    long long limit;
    char const* want;
  } const rows[] = {
      {"f1", 2, "got work: 1:f1 - start\na1\n"},
      {"f1", 0, "got work: 1:f1 - start\na1\na2\na3\na4\ngot work: 1:f1 - again\nc1"},
      {"f1", -1, "got work: 1:f1 - start\na1\na2\na3\na4\ngot work: 1:f1 - again\nc1"},
      {"f1", 6, "got work: 1:f1 - start\na1\na2\na3\na4\ngot work: 1:f1 - again\n"},
      {"f2", 100, "got work: 2:f2 - start\nb1\n"},
      {"f3", 100, ""},
      {"f", 100, ""},
  };
  for (Row const& r : rows) {
    HxLog log;
    int const n = log.loaddata(dir.hxfile("s.out"), HxString(r.work), 5, r.limit);
    EXPECT_EQ(S(log.data()), r.want) << r.work << " " << r.limit;
    EXPECT_EQ(n, log.data().length());
    EXPECT_EQ(log.pos(), 5);
    EXPECT_EQ(log.fullsize(), static_cast<long long>(text.size()));
  }
}

TEST(HxLogSection, WorkConstructorFindsTheSubjobThroughTheMap) {
  TempDir dir;
  HxString const base = hxtest::H(dir.path());
  HxLog::jobbuilddir(base, 7);
  HxLog::writemap(base, 7, 3, 1, HxString("f1"));
  dir.write("job/0/7/7_3.out", "got work: 1:f1 - go\nline\n");
  HxLog log(base, 7, HxString("f1"), 1, 0, -1);
  EXPECT_EQ(log.subid(), 3);
  EXPECT_EQ(log.cls(), 1);
  EXPECT_EQ(S(log.workname()), "f1");
  EXPECT_EQ(S(log.data()), "got work: 1:f1 - go\nline\n");
  HxLog missing(base, 7, HxString("f9"), 1, 0, -1);
  EXPECT_EQ(missing.subid(), -1);
  EXPECT_EQ(missing.data().length(), 0);
  EXPECT_EQ(missing.fullsize(), 0);
}

TEST(HxLogRead, ConstructorsAndPositionedLoads) {
  TempDir dir;
  HxString const base = hxtest::H(dir.path());
  HxLog::jobbuilddir(base, 7);
  dir.write("job/0/7/7_0.out", "0123456789");
  struct Row {
    int sub, pos;
    long long count;
    char const* want;
  } const rows[] = {{0, 0, -1, "0123456789"}, {0, 2, 3, "234"}, {0, -3, -1, "789"}, {-2, 8, 10, "89"}, {0, 20, -1, ""}};
  for (Row const& r : rows) {
    HxLog log(base, 7, r.sub, 1, r.pos, r.count);
    EXPECT_EQ(S(log.data()), r.want) << r.pos;
    EXPECT_EQ(log.subid(), 0);
    EXPECT_EQ(log.pos(), r.pos);
    EXPECT_EQ(log.fullsize(), 10);
  }
  HxLog whole(dir.hxfile("job/0/7/7_0.out"));
  EXPECT_EQ(S(whole.data()), "0123456789");
  HxLog none(base, 7, 1, 1, 0, -1);
  EXPECT_EQ(none.data().length(), 0);
  EXPECT_EQ(none.fullsize(), 0);
  EXPECT_EQ(none.loaddata(dir.hxfile("nothing"), 0, -1), -1);
}

TEST(HxLogList, LoadTakesTheJobsSubjobLogsOfOneType) {
  TempDir dir;
  HxString const base = hxtest::H(dir.path());
  HxLog::jobbuilddir(base, 7);
  for (char const* f : {"7_0.out", "7_1.err", "7.map", "70_0.out", "7_x.out", "7_99999999999.out", "7_2.outs"})
    dir.write(std::string("job/0/7/") + f, f);
  HxLogList out;
  out.load(base, 7, 1);
  ASSERT_EQ(out.length(), 1);
  EXPECT_EQ(out.get(0)->subid(), 0);
  EXPECT_EQ(S(out.get(0)->data()), "7_0.out");
  HxLogList per_job;
  per_job.load(base, 7, 15);
  per_job.load(base, 8, 1);
  EXPECT_EQ(per_job.length(), 0);

  struct Row {
    char const* name;
    int job;
    bool ok;
    int sub;
    char const* ext;
  } const rows[] = {
      {"7_3.out", 7, true, 3, "out"},   {"007-3xerr", 7, true, 3, "err"}, {"7_3.", 7, false, 0, ""},
      {"7_3", 7, false, 0, ""},         {"7_.out", 7, false, 0, ""},      {"7", 7, false, 0, ""},
      {"7.hst", 7, false, 0, ""},       {"8_3.out", 7, false, 0, ""},     {"_3.out", 0, false, 0, ""},
      {"2147483647_2147483647.o", INT_MAX, true, INT_MAX, "o"},
      {"2147483648_1.out", 0, false, 0, ""}, {"7_2147483648.out", 7, false, 0, ""},
      {"99999999999999999999_1.out", -1, false, 0, ""}, {"7_3.a.b", 7, true, 3, "a.b"},
  };
  for (Row const& r : rows) {
    int sub = 0;
    HxString ext;
    EXPECT_EQ(HxLogList::_matchname(HxString(r.name), r.job, &sub, &ext), r.ok) << r.name;
    if (r.ok) {
      EXPECT_EQ(sub, r.sub) << r.name;
      EXPECT_EQ(S(ext), r.ext) << r.name;
    }
  }
}

TEST(HxLogList, CommandLoadsWithFiltersLimitAndNote) {
  TempDir dir;
  HxString const base = hxtest::H(dir.path());
  HxLog::jobbuilddir(base, 7);
  std::string big(150, 'x');
  dir.write("job/0/7/7_0.out", big);
  dir.write("job/0/7/7_2.out", "0123456789");
  HxLog::writemap(base, 7, 2, 1, HxString("f1"));
  dir.write("job/0/7/7_2.err", "got work: 1:f1 - a\n1\n2\n3\n");

  struct Row {
    char const* pos;
    char const* len;
    int limit;
    int sub;
    char const* want;
  } const rows[] = {
      {nullptr, nullptr, -1, 2, "0123456789"},
      {"3", nullptr, -1, 2, "3456789"},
      {"3", "2", -1, 2, "34"},
      {"-4", "-1", -1, 2, "6789"},
      {nullptr, "5", 3, 2, "0123\nnote\n"},
      {nullptr, "2", 3, 2, "01"},
      {nullptr, nullptr, 10, 2, "0123456789"},
      {nullptr, nullptr, INT_MAX, 2, "0123456789"},
      {nullptr, nullptr, 0, 2, "0123456789"},
  };
  for (Row const& r : rows) {
    HxCommand cmd;
    cmd.filters().append(new HxFilter(HxString("pos"), HxString("99")));
    if (r.pos) cmd.filters().append(new HxFilter(HxString("pos"), HxString(r.pos)));
    else cmd.filters().append(new HxFilter(HxString("pos"), HxString("0")));
    if (r.len) cmd.filters().append(new HxFilter(HxString("len"), HxString(r.len)));
    cmd.filters().append(new HxFilter(HxString("len")));  // no field: passed over
    cmd.jobids().append(new HxJobId(7, r.sub));
    HxLogList out;
    out.load(base, cmd, HxString("note"), r.limit, 1);
    ASSERT_EQ(out.length(), 1);
    EXPECT_EQ(S(out.get(0)->data()), r.want) << (r.pos ? r.pos : "-") << " " << (r.len ? r.len : "-") << " " << r.limit;
  }

  // Limit 100 without "len": 101 bytes come back, and the note follows them.
  HxCommand cmd;
  cmd.jobids().append(new HxJobId(7, -2));
  cmd.jobids().append(nullptr);
  cmd.workids().append(new HxWorkId(7, HxString("f1")));
  cmd.workids().append(new HxWorkId(7));
  HxLogList out;
  out.load(base, cmd, HxString("cut"), 100, 1);
  ASSERT_EQ(out.length(), 2);
  EXPECT_EQ(out.get(0)->data().length(), 0);  // the map names subjob 2, which has no .out section
  EXPECT_EQ(S(out.get(1)->data()), std::string(101, 'x') + "\ncut\n");
  EXPECT_EQ(out.get(1)->subid(), 0);

  // Work ids count lines: limit 2 reads 3 lines, and a text longer than 2 bytes gets the note.
  HxLogList errs;
  HxCommand wc;
  wc.workids().append(new HxWorkId(7, HxString("f1")));
  errs.load(base, wc, HxString("n"), 2, 2);
  ASSERT_EQ(errs.length(), 1);
  EXPECT_EQ(S(errs.get(0)->data()), "got work: 1:f1 - a\n1\n2\n\nn\n");
  EXPECT_EQ(errs.get(0)->subid(), 2);
}

TEST(HxLogText, UniqueNamesAndTheRetryBanner) {
  // One counter for both classes: no name is handed out twice.
  std::string const pid = std::to_string(::getpid());
  std::string const a = S(HxLog::uniquefile()), b = S(HxFile::uniquefile()), c = S(HxLog::uniquefile());
  std::string const prefix = "tarv" + pid + "u";
  ASSERT_EQ(a.compare(0, prefix.size(), prefix), 0);
  int const n = std::atoi(a.c_str() + prefix.size());
  EXPECT_EQ(b, prefix + std::to_string(n + 1) + ".tmp");
  EXPECT_EQ(c, prefix + std::to_string(n + 2) + ".tmp");

  jobtest::PinnedClock clock;
  EXPECT_EQ(S(HxLog::separate(1, 2)),
            "\n=================  tarv! - retry/requeue on Mar 3, 2024 9:05:07  ===================\n\n");
}

}  // namespace

#include "core/HxTime.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "core/HxWorld.h"
#include "core/HxUser.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::S;

// Unix times used below.
constexpr int64_t kMar3_2024_090507 = 1709456707;  // Sun Mar 3, 2024 9:05:07 UTC

class TestWorld : public HxWorld {
 public:
  int64_t now() override { return when; }
  void sleepMillis(int64_t millis) override { slept += millis; }
  HxString tempDir() override { return HxString(dir.c_str()); }
  int64_t when = kMar3_2024_090507;
  int64_t slept = 0;
  std::string dir;
};

// Pins the time zone, the clock and the temporary directory; starts every
// test with the clock difference not yet loaded.
class TimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char const* tz = std::getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) old_tz_ = tz;
    zone("UTC");
    ASSERT_FALSE(tmp_.path().empty());
    world_.dir = tmp_.path();
    hx_set_world(&world_);
    HxTime::_resetClock();
  }
  void TearDown() override {
    HxTime::_resetClock();
    hx_set_world(nullptr);
    if (had_tz_)
      ::setenv("TZ", old_tz_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  static void zone(char const* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  std::string offsetFile() const { return S(HxTime::offsetPath()); }
  void writeOffset(std::string const& text) const {
    std::ofstream out(offsetFile());
    out << text;
  }
  static HxTime unix(int64_t t) { return HxTime(static_cast<int>(t), HxTime::HX_TIME_UNIX); }

  hxtest::TempDir tmp_{"hxtimetest"};
  TestWorld world_;
  bool had_tz_ = false;
  std::string old_tz_;
};

// ---- text form ----

TEST_F(TimeTest, AsciiPadsMinutesAndSecondsOnly) {
  EXPECT_EQ(S(HxTime().ascii()), "None");
  EXPECT_EQ(S(unix(946702800).ascii()), "None");
  EXPECT_EQ(unix(946702800).value(), 0);
  EXPECT_EQ(S(unix(kMar3_2024_090507).ascii()), "Mar 3, 2024 9:05:07");
  EXPECT_EQ(S(unix(1704067200).ascii()), "Jan 1, 2024 0:00:00");
  EXPECT_EQ(S(unix(1735689599).ascii()), "Dec 31, 2024 23:59:59");
  EXPECT_EQ(S(HxTime(1).ascii()), "Jan 1, 2000 5:00:01");
  EXPECT_EQ(S(HxTime(-1).ascii()), "Jan 1, 2000 4:59:59");
  zone("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(S(unix(kMar3_2024_090507).ascii()), "Mar 3, 2024 4:05:07");
  EXPECT_EQ(S(HxTime(1).ascii()), "Jan 1, 2000 0:00:01");
}

TEST_F(TimeTest, ValuesAndUnixValues) {
  HxTime t(100);
  EXPECT_EQ(t.unixvalue(), 946702900);
  t.unixvalue(946702790);
  EXPECT_EQ(t.value(), -10);
  EXPECT_EQ(HxTime(5, HxTime::HX_TIME_SYSTEM).value(), 5);
  EXPECT_EQ(HxTime().unixvalue(), 946702800);
  // Far ends of the 32-bit value do not overflow.
  HxTime late(2147483647);
  EXPECT_EQ(S(late.ascii()), "Jan 19, 2068 8:14:07");
}

TEST_F(TimeTest, WeekdayAndHour) {
  char const* days[] = {"Sun", "Mon", "Tues", "Wed", "Thurs", "Fri", "Sat"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(S(unix(kMar3_2024_090507 + i * 86400).day()), days[i]);
  EXPECT_EQ(unix(kMar3_2024_090507).hour(), 9);
  zone("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(unix(kMar3_2024_090507).hour(), 4);
}

TEST_F(TimeTest, TokenizerSplitsOnBlanksCommasAndColons) {
  HxStringList tokens;
  tokens.append(new HxString("kept"));
  hx_time_tokenize(" Mar\t3,2024\r\n9:05::07 ", tokens);
  EXPECT_EQ(S(tokens.join("|")), "kept|Mar|3|,|2024|9|:|05|:|:|07");
}

TEST_F(TimeTest, ParserTakesTheTextForm) {
  HxTime t;
  t.ascii_utc("Jan 1, 2000 5:00:00");
  EXPECT_EQ(t.value(), 0);
  t.ascii("Mar 3, 2024 9:05:07");
  EXPECT_EQ(t.unixvalue(), kMar3_2024_090507);
  t.ascii("Mar 3, 2024");
  EXPECT_EQ(S(t.ascii()), "Mar 3, 2024 0:00:00");
  t.ascii("Mar 3, 2024 9");
  EXPECT_EQ(S(t.ascii()), "Mar 3, 2024 9:00:00");
  t.ascii("March 3, 2024 1:02:03");
  EXPECT_EQ(S(t.ascii()), "Jan 3, 2024 1:02:03");
  t.ascii("Jan 32, 2024");
  EXPECT_EQ(S(t.ascii()), "Feb 1, 2024 0:00:00");
}

TEST_F(TimeTest, ParserLeavesTheValueOnBadText) {
  HxTime t(1234);
  for (char const* bad : {"Mar 3 2024 9:05:07", "Mar 3,", "", "Mar, 3, 2024", "Mar 3, 99999999999",
                          "Mar 3, 2147483647", "Mar 3, -2147483648", "Jan 1, 1800",
                          "Mar 3, x2024"}) {
    t.ascii(bad);
    EXPECT_EQ(t.value(), 1234) << bad;
    t.ascii_utc(bad);
    EXPECT_EQ(t.value(), 1234) << bad;
  }
}

TEST_F(TimeTest, LocalTextReadsBackInSummerAndWinter) {
  zone("EST5EDT,M3.2.0,M11.1.0");
  HxTime t;
  t.ascii("Jul 1, 2024 12:00:00");
  EXPECT_EQ(S(t.ascii()), "Jul 1, 2024 12:00:00");
  EXPECT_EQ(t.unixvalue(), 1719849600);  // 16:00 UTC
  t.ascii("Jan 15, 2024 12:00:00");
  EXPECT_EQ(t.unixvalue(), 1705338000);  // 17:00 UTC
  HxTime u;
  u.ascii_utc("Jul 1, 2024 12:00:00");
  EXPECT_EQ(u.unixvalue(), 1719835200);
}

// ---- durations ----

TEST_F(TimeTest, CounterCutsTheTenths) {
  struct {
    int v;
    char const* text;
  } const cases[] = {{-5, "-5 s"},      {0, "0 s"},        {119, "119 s"},     {120, "2.0 m"},
                     {179, "2.9 m"},    {7199, "119.9 m"}, {7200, "2.0 h"},    {9000, "2.5 h"},
                     {10799, "2.9 h"},  {360000, "100.0 h"}};
  for (auto const& c : cases) EXPECT_EQ(S(HxTime(c.v).counter()), c.text) << c.v;
}

// ---- record forms ----

TEST_F(TimeTest, RecordForms) {
  HxTime t(0x01020304);
  t.pack();
  EXPECT_EQ(std::string(t.packContents(), static_cast<size_t>(t.packSize())),
            std::string("\x00\x00\x00\x01\x00\x01\x00\x01\x01\x02\x03\x04", 12));
  HxTime back;
  ASSERT_EQ(back.unpack(t.packContents(), t.packSize()), 0);
  EXPECT_EQ(back.value(), 0x01020304);
  HxTime neg(-7);
  neg.packXML();
  EXPECT_EQ(std::string(neg.packContents(), static_cast<size_t>(neg.packSize())),
            "<version>1</version>\n<object type = 'time'>\n\t<value>-7</value>\n</object>");
  EXPECT_EQ(t.type(), 33);
}

// ---- the clock and its correction ----

TEST_F(TimeTest, OffsetFileNamesTheUser) {
  EXPECT_EQ(offsetFile(), world_.dir + "/time_" + S(hx_current_user()) + ".tmp");
}

TEST_F(TimeTest, SetToNowAddsTheDifferenceReadOnce) {
  writeOffset("15");
  HxTime local;
  EXPECT_EQ(local.setToLocalClock(), static_cast<int>(kMar3_2024_090507 - 946702800));
  HxTime now;
  now.setToNow();
  EXPECT_EQ(now.value(), local.value() + 15);
  EXPECT_EQ(HxTime::diff(), 15);
  // Read once per process: a later change of the file is not seen.
  writeOffset("-40");
  world_.when += 10;
  now.setToNow();
  EXPECT_EQ(now.value(), local.value() + 25);
}

TEST_F(TimeTest, MissingOrJunkOffsetFileCountsAsZero) {
  for (char const* text : {"", "abc", "99999999999", "\n"}) {
    HxTime::_resetClock();
    writeOffset(text);
    HxTime now;
    now.setToNow();
    EXPECT_EQ(HxTime::diff(), 0) << text;
  }
  std::remove(offsetFile().c_str());
  HxTime::_resetClock();
  HxTime now;
  now.setToNow();
  EXPECT_EQ(now.value(), static_cast<int>(kMar3_2024_090507 - 946702800));
  writeOffset(" -3");
  HxTime::_resetClock();
  now.setToNow();
  EXPECT_EQ(HxTime::diff(), -3);
}

TEST_F(TimeTest, OffsetFileThatIsNotOursIsIgnored) {
  // A link planted under the predictable name.
  std::string target = world_.dir + "/elsewhere";
  {
    std::ofstream out(target);
    out << "500";
  }
  ASSERT_EQ(::symlink(target.c_str(), offsetFile().c_str()), 0);
  HxTime now;
  now.setToNow();
  EXPECT_EQ(HxTime::diff(), 0);
  // Not a regular file.
  std::remove(offsetFile().c_str());
  ASSERT_EQ(::mkfifo(offsetFile().c_str(), 0600), 0);
  EXPECT_EQ(HxTime::readOffsetFile(HxTime::offsetPath()), 0);
  std::remove(offsetFile().c_str());
  ASSERT_EQ(::mkdir(offsetFile().c_str(), 0700), 0);
  EXPECT_EQ(HxTime::readOffsetFile(HxTime::offsetPath()), 0);
  ::rmdir(offsetFile().c_str());
  // Owned by somebody else.
  writeOffset("500");
  EXPECT_EQ(HxTime::readOffsetFile(HxTime::offsetPath()), 500);
  if (::getuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  ASSERT_EQ(::chown(offsetFile().c_str(), 54321, 54321), 0);
  EXPECT_EQ(HxTime::readOffsetFile(HxTime::offsetPath()), 0);
}

TEST_F(TimeTest, ReferenceNeverReadsTheFile) {
  writeOffset("15");
  HxTime::setAsReference();
  EXPECT_TRUE(HxTime::_isReference());
  HxTime a, b;
  a.setToNow();
  b.setToLocalClock();
  EXPECT_EQ(a.value(), b.value());
  EXPECT_EQ(HxTime::diff(), 0);
  a.syncToDatabase(HxTime(b.value() + 1000));
  EXPECT_EQ(HxTime::diff(), 0);
}

TEST_F(TimeTest, SyncToDatabaseFollowsTheGivenTime) {
  writeOffset("15");
  HxTime local;
  local.setToLocalClock();
  HxTime target(local.value() + 100);
  HxTime t;
  t.syncToDatabase(target);
  EXPECT_EQ(HxTime::diff(), 100);
  world_.when += 60;
  t.setToNow();
  EXPECT_EQ(t.value(), target.value() + 60);
}

TEST_F(TimeTest, SleepsGoThroughTheWorld) {
  HxTime::sleep_seconds(3);
  HxTime::sleep_milliseconds(250);
  HxTime::sleep_milliseconds(-1);
  EXPECT_EQ(world_.slept, 3250);
}

// ---- threads ----

TEST_F(TimeTest, SimultaneousSyncsWithTheSameTimeAgree) {
  // Two threads correcting the clock to the same time at once end with the
  // one difference, never with it applied twice.
  HxTime local;
  local.setToLocalClock();
  HxTime const target(local.value() + 100);
  for (int round = 0; round < 400; ++round) {
    HxTime::_setDiff(0);
    std::atomic<int> ready{0};
    auto sync = [&] {
      ready.fetch_add(1);
      while (ready.load() < 2) {
      }
      HxTime t;
      t.syncToDatabase(target);
    };
    std::thread a(sync), b(sync);
    a.join();
    b.join();
    ASSERT_EQ(HxTime::diff(), 100) << "round " << round;
  }
}

// A world whose temporary directory is asked for while the offset file's
// path is built, and that holds the asking thread there until released.
class GateWorld : public TestWorld {
 public:
  HxString tempDir() override {
    std::unique_lock<std::mutex> hold(lock);
    reached = true;
    changed.notify_all();
    changed.wait_for(hold, std::chrono::seconds(10), [this] { return released; });
    return HxString(dir.c_str());
  }
  std::mutex lock;
  std::condition_variable changed;
  bool reached = false;
  bool released = false;
};

TEST_F(TimeTest, OffsetFileIsReadWithoutHoldingTheClock) {
  // Finding the user for the file's name may write to the debug log, whose
  // lock a thread can hold while it reads the clock: the clock must stay
  // free meanwhile, or the two threads wait for each other for ever.
  GateWorld gate;
  gate.dir = tmp_.path();
  hx_set_world(&gate);
  std::thread first([] {
    HxTime t;
    t.setToNow();
  });
  {
    std::unique_lock<std::mutex> hold(gate.lock);
    gate.changed.wait(hold, [&] { return gate.reached; });
  }
  auto other = std::async(std::launch::async, [] { return HxTime::diff(); });
  bool free = other.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  {
    std::lock_guard<std::mutex> hold(gate.lock);
    gate.released = true;
    gate.changed.notify_all();
  }
  first.join();
  other.get();
  hx_set_world(&world_);
  EXPECT_TRUE(free);
}

}  // namespace

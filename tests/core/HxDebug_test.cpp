#include "core/HxDebug.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/HxWorld.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::S;
using hxtest::H;

class FixedClock : public HxWorld {
 public:
  int64_t now() override { return when; }
  int64_t when = 0;
};

std::string host_name() {
  char b[1024] = {0};
  ::gethostname(b, 1023);
  return b;
}

std::string prefix_at(char const* stamp) {
  return std::string("[") + stamp + "] " + host_name() + "[" + std::to_string(::getpid()) + "]: ";
}

class DebugTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char const* tz = std::getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) old_tz_ = tz;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    hx_set_world(&clock_);
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    hx_debug_filename("", 0);
    hx_set_world(nullptr);
    if (had_tz_) {
      ::setenv("TZ", old_tz_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

  // One message in the callers' pattern.
  static void message(std::string const& text) {
    HxDebug& d = *hx_debug_obj();
    d.lock();
    d.mark() << H(text) << '\n';
    d.unlock();
  }
  std::string read(std::string const& name) const {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  FixedClock clock_;
  hxtest::TempDir tmp_{"hxdebugtest"};
  std::string dir_ = tmp_.path();
  bool had_tz_ = false;
  std::string old_tz_;
};

TEST_F(DebugTest, PrefixGoesToStandardOutputWithoutAFile) {
  clock_.when = 1709456707;  // 3 March 2024 09:05:07 UTC
  testing::internal::CaptureStdout();
  message("x");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, prefix_at("Mar 3, 2024 9:05:07") + "x\n");
}

TEST_F(DebugTest, PrefixPadsMinutesAndSecondsOnly) {
  clock_.when = 1704067199;  // 31 December 2023 23:59:59
  testing::internal::CaptureStdout();
  message("a");
  clock_.when = 946684800;  // 1 January 2000 00:00:00
  message("b");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, prefix_at("Dec 31, 2023 23:59:59") + "a\n" + prefix_at("Jan 1, 2000 0:00:00") + "b\n");
}

TEST_F(DebugTest, ValuesAreWrittenInTheirPlainForms) {
  testing::internal::CaptureStdout();
  HxDebug& d = *hx_debug_obj();
  d.lock();
  d << -12 << ' ' << 4000000000u << ' ' << -9000000000LL << ' ' << 1.5f << ' ' << 0.1f << ' '
    << 123456789.0f << ' ' << 2.25 << ' ' << -7L << ' ' << sizeof(int) << ' ' << "txt" << ' ' << static_cast<char const*>(nullptr) << HxString("hx") << '\n';
  d.unlock();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "-12 4000000000 -9000000000 1.5 0.1 1.23457e+08 2.25 -7 4 txt hx\n");
}

TEST_F(DebugTest, SingleFileIsAppendedToMessageByMessage) {
  std::string log = dir_ + "/single.log";
  hx_debug_filename(H(log), 0);
  EXPECT_EQ(hx_debug_obj()->mode(), 0);
  clock_.when = 1709456707;
  message("one");
  // Between messages the file is closed: it can be replaced meanwhile.
  std::filesystem::rename(log, dir_ + "/rotated.log");
  message("two");
  EXPECT_EQ(read("rotated.log"), prefix_at("Mar 3, 2024 9:05:07") + "one\n");
  EXPECT_EQ(read("single.log"), prefix_at("Mar 3, 2024 9:05:07") + "two\n");
}

TEST_F(DebugTest, WeeklyFileIndexIsDayOfYearOverSeven) {
  std::string base = dir_ + "/log";
  hx_debug_filename(H(base), 1);
  struct {
    int64_t when;
    char const* file;
  } cases[] = {
      {1672574400, "log.0"},   // 1 January 2023
      {1673132400, "log.0"},   // 7 January 2023, 23:00
      {1673136000, "log.1"},   // 8 January 2023
      {1704067199, "log.52"},  // 31 December 2023, day 364
      {1735639200, "log.52"},  // 31 December 2024, day 365 of a leap year
  };
  for (auto const& c : cases) {
    clock_.when = c.when;
    message(c.file);
  }
  auto lines = [](std::string const& t) { return std::count(t.begin(), t.end(), '\n'); };
  std::string w0 = read("log.0"), w1 = read("log.1"), w52 = read("log.52");
  EXPECT_NE(w0.find("log.0\n"), std::string::npos);
  EXPECT_EQ(lines(w0), 2);
  EXPECT_NE(w1.find("log.1\n"), std::string::npos);
  EXPECT_EQ(lines(w1), 1);
  EXPECT_EQ(lines(w52), 2);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/log.53"));
  EXPECT_FALSE(std::filesystem::exists(base));
}

TEST_F(DebugTest, WeekIsFixedWhenTheFileOpens) {
  std::string base = dir_ + "/w";
  hx_debug_filename(H(base), 1);
  HxDebug& d = *hx_debug_obj();
  clock_.when = 1673132400;  // week 0
  d.lock();
  d.mark() << "start ";
  clock_.when = 1673136000;  // week 1 begins in the middle of the message
  d << "end" << '\n';
  d.unlock();
  EXPECT_NE(read("w.0").find("start end\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(base + ".1"));
}

TEST_F(DebugTest, OtherModesAndEmptyNamesWriteToStandardOutput) {
  hx_debug_filename(H(dir_ + "/m"), 2);
  testing::internal::CaptureStdout();
  message("two");
  hx_debug_filename("", 0);
  message("empty");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("two\n"), std::string::npos);
  EXPECT_NE(out.find("empty\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(DebugTest, UnwritableFileSwallowsTheMessageAndIsTriedAgain) {
  std::string log = dir_ + "/later/x.log";
  hx_debug_filename(H(log), 0);
  testing::internal::CaptureStdout();
  message("lost");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");
  std::filesystem::create_directories(dir_ + "/later");
  message("kept");
  std::string text = read("later/x.log");
  EXPECT_EQ(text.find("lost"), std::string::npos);
  EXPECT_NE(text.find("kept\n"), std::string::npos);
}

TEST_F(DebugTest, ThreadsWriteWholeLines) {
  std::string log = dir_ + "/threads.log";
  hx_debug_filename(H(log), 0);
  constexpr int kThreads = 8, kLines = 200;
  std::vector<std::thread> pool;
  for (int t = 0; t < kThreads; ++t) {
    pool.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        HxDebug& d = *hx_debug_obj();
        d.lock();
        d.mark() << "thread " << t << " line " << i << " of " << kLines << '\n';
        d.unlock();
      }
    });
  }
  for (auto& th : pool) th.join();
  std::istringstream in(read("threads.log"));
  std::string line, head = prefix_at("Jan 1, 1970 0:00:00");
  int count = 0;
  std::vector<int> next(kThreads, 0);
  while (std::getline(in, line)) {
    ++count;
    ASSERT_EQ(line.compare(0, head.size(), head), 0) << line;
    int t = -1, i = -1, of = -1;
    ASSERT_EQ(std::sscanf(line.c_str() + head.size(), "thread %d line %d of %d", &t, &i, &of), 3) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(i, next[t]++);  // each thread's lines whole and in order
  }
  EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(DebugTest, VerbosityMask) {
  EXPECT_EQ(static_cast<unsigned>(hx_debug_verb()), 0xFFFFEFFFu);
  hx_debug_verbosity(0x2000);
  EXPECT_EQ(hx_debug_verb(), 0x2000);
  hx_debug_verbosity(static_cast<int>(0xFFFFEFFFu));
}

TEST_F(DebugTest, LogfilesListsExistingWeeksInOrder) {
  std::string base = dir_ + "/log";
  for (int n : {52, 0, 7, 53}) std::ofstream(base + "." + std::to_string(n)) << "x";
  std::filesystem::create_directories(base + ".3");  // a directory is not a log file
  HxStringList files;
  files.append(new HxString("first"));
  hx_debug_logfiles(H(base), files);
  ASSERT_EQ(files.length(), 4);
  EXPECT_EQ(S(*files.get(0)), "first");
  EXPECT_EQ(S(*files.get(1)), base + ".0");
  EXPECT_EQ(S(*files.get(2)), base + ".7");
  EXPECT_EQ(S(*files.get(3)), base + ".52");
}

}  // namespace

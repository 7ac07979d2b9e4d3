// Many threads inside the library at once, as the Python module lets them
// be: 64 threads make 1,000 calls each across the debug log, the clock
// correction, the live environment, the client configuration, regular
// expressions, RSA with the built-in key, the package functions, the
// built-in defaults and host name look-ups. Every result is checked; a lock taken in the wrong
// order shows as a hang, a race as a wrong result (or, under
// ThreadSanitizer, as a report). The same load runs once more under a user
// id without a password entry, where looking up the user writes to the log.
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <pwd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/HxClientConfig.h"
#include "config/HxDefaults.h"
#include "config/HxEnv.h"
#include "core/HxAddress.h"
#include "core/HxDebug.h"
#include "core/HxRegEx.h"
#include "core/HxTime.h"
#include "core/HxWorld.h"
#include "core/pack/HxPackage.h"
#include "crypto/HxRsa.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::S;

constexpr int kThreads = 64;
constexpr int kCalls = 1000;
constexpr int64_t kNow = 1709456707;  // Mar 3, 2024 9:05:07 UTC

// The world is asked from every thread: it only returns what it was given.
class StressWorld : public HxWorld {
 public:
  int64_t now() override { return kNow; }
  void sleepMillis(int64_t) override {}
  HxString tempDir() override { return HxString(dir.c_str()); }
  HxString clientConfigPath() override { return HxString(config.c_str()); }
  std::string dir;
  std::string config;
};

// The first failure seen by any thread.
class Failures {
 public:
  void add(std::string const& what) {
    std::lock_guard<std::mutex> hold(lock_);
    if (first_.empty()) first_ = what;
    ++count_;
  }
  std::string report() const { return count_ == 0 ? "" : std::to_string(count_) + " failures, first: " + first_; }

 private:
  std::mutex lock_;
  std::string first_;
  int count_ = 0;
};

// Runs the load in this process; the empty text when every call gave what
// it should.
std::string RunLoad(std::string const& dir) {
  StressWorld world;
  world.dir = dir;
  world.config = dir + "/hx.conf";
  std::ofstream(world.config) << "hx_region = north\nclient_timeout = 42\n";
  hx_set_world(&world);
  std::string const log = dir + "/stress.log";
  hx_debug_filename(HxString(log.c_str()), 0);
  ::setenv("TZ", "UTC", 1);
  HxEnv::setEnv("HX_STRESS_FIXED", "fixed");
  HxTime::_resetClock();

  HxRsaPublicKey key;
  key.n.hex("7c41e09a5b3d28f61e0c97a4d3b52816f07e9c2a4b6d81f35e2c0a97b4d61e38");
  key.e.hex("00011f07");
  std::string const cipher = "2d80a78aef7825c0182493650a7b7ee2186347ddad913a4ebea2c1812a9cf9c0";
  HxTime const target(static_cast<int>(kNow - HX_TIME_EPOCH_OFFSET) + 100);

  Failures failures;
  auto check = [&failures](bool ok, int t, int i, char const* what) {
    if (!ok) failures.add(std::string(what) + " (thread " + std::to_string(t) + ", call " + std::to_string(i) + ")");
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        switch ((t + i) % 9) {
          case 0: {
            // A time-stamped line: the log lock is held while the clock is read.
            HxDebug& d = *hx_debug_obj();
            d.lock();
            HxTime now;
            now.setToNow();
            d.mark() << "stress " << t << ' ' << i << ' ' << now << '\n';
            d.unlock();
            break;
          }
          case 1: {
            if (i % 50 == 1) HxTime::_resetClock();  // the offset file is read again
            HxTime now;
            now.setToNow();
            if (i % 7 == 1) now.syncToDatabase(target);
            int diff = HxTime::diff();
            check(diff == 0 || diff == 100, t, i, "clock difference");
            break;
          }
          case 2: {
            HxTime parsed;
            parsed.ascii("Mar 3, 2024 9:05:07");
            check(parsed.unixvalue() == kNow, t, i, "local time parse");
            check(S(parsed.ascii()) == "Mar 3, 2024 9:05:07", t, i, "local time text");
            break;
          }
          case 3: {
            check(S(HxEnv::valueEnv("HX_STRESS_FIXED")) == "fixed", t, i, "valueEnv");
            if (i % 100 == 3) {
              // A new name each time: every buffer stays in the environment.
              HxEnv::setEnv(HxString(("HX_STRESS_" + std::to_string(t) + "_" + std::to_string(i)).c_str()), "v");
            }
            if (i % 100 == 12) {
              HxEnv env;
              env.setToEnv();
              check(S(env.value("HX_STRESS_FIXED")) == "fixed", t, i, "environment capture");
            }
            break;
          }
          case 4: {
            HxClientConfig cfg;
            check(S(cfg.hx_region()) == "north", t, i, "client configuration");
            break;
          }
          case 5: {
            HxRegEx re("^s(t+)r");
            HxStringList groups;
            check(re.match("sttress", groups) && groups.length() == 1 && S(*groups.get(0)) == "tt", t, i, "regex");
            break;
          }
          case 6:
            check(S(key.encrypt(HxString("caf\xe9"))) == cipher, t, i, "RSA");
            break;
          case 7: {
            _hx_package_pack* node = hx_package_new();
            hx_package_set_value(node, "value");
            std::string text = hx_package_compact(node);
            _hx_package_pack* back = hx_package_expand(text.c_str());
            check(back != nullptr && std::string(hx_package_get_value(back)) == "value", t, i, "package");
            hx_package_destroy(back);
            hx_package_destroy(node);
            break;
          }
          default:
            check(S(hx_default_string(304)) == "/tmp" && hx_default_int(305) == 8, t, i, "defaults");
            check(HxAddress::hostname("127.0.0.1").value() == 0x7f000001u, t, i, "host name look-up");
            break;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  hx_debug_filename("", 0);
  hx_set_world(nullptr);
  HxTime::_resetClock();

  // Every time-stamped line arrived whole.
  std::ifstream in(log);
  int lines = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find("stress ") != std::string::npos) {
      ++lines;
      if (line.find("Mar 3, 2024 9:0") == std::string::npos) failures.add("log line: " + line);
    }
  int expected = 0;
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kCalls; ++i) expected += (t + i) % 9 == 0;
  if (lines != expected) failures.add("log lines: " + std::to_string(lines) + " of " + std::to_string(expected));
  return failures.report();
}

TEST(Stress, SixtyFourThreadsAThousandCallsEach) {
  hxtest::TempDir dir("hxstress");
  ASSERT_FALSE(dir.path().empty());
  EXPECT_EQ(RunLoad(dir.path()), "");
}

// A user id that the password database does not know, or -1.
uid_t UnknownUid() {
  for (uid_t uid = 54321; uid < 54400; ++uid)
    if (getpwuid(uid) == nullptr) return uid;
  return static_cast<uid_t>(-1);
}

// Becomes that user: as root by setuid, otherwise in a new user namespace
// that maps it to our own id. False when neither works here.
bool BecomeUnknownUser(uid_t uid) {
  if (geteuid() == 0) return setgroups(0, nullptr) == 0 && setgid(uid) == 0 && setuid(uid) == 0;
  uid_t outer = getuid();
  gid_t outer_gid = getgid();
  if (unshare(CLONE_NEWUSER) != 0) return false;
  std::ofstream("/proc/self/setgroups") << "deny";
  std::ofstream("/proc/self/uid_map") << uid << ' ' << outer << " 1\n";
  std::ofstream("/proc/self/gid_map") << uid << ' ' << outer_gid << " 1\n";
  return getuid() == uid;
}

TEST(Stress, UnderAUserWithoutAPasswordEntry) {
  uid_t uid = UnknownUid();
  if (uid == static_cast<uid_t>(-1)) GTEST_SKIP() << "no unknown user id";
  hxtest::TempDir dir("hxstress");
  ASSERT_FALSE(dir.path().empty());
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A hang (two locks taken in opposite orders) ends the child.
    alarm(60);
    if (!BecomeUnknownUser(uid)) _exit(77);
    if (getpwuid(getuid()) != nullptr) _exit(78);
    std::string failed = RunLoad(dir.path());
    if (!failed.empty()) {
      std::fprintf(stderr, "%s\n", failed.c_str());
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the load did not end (signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot switch to a user id here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

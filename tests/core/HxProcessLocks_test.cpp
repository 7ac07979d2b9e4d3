#include "core/HxProcessLocks.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "api/HxApiState.h"
#include "config/HxClientConfig.h"
#include "config/HxDefaults.h"
#include "config/HxEnv.h"
#include "core/HxDebug.h"
#include "core/HxProcessEnv.h"
#include "core/HxTime.h"
#include "core/HxUser.h"
#include "core/HxWorld.h"
#include "model/farm/HxHost.h"
#include "model/farm/HxProperty.h"
#include "model/farm/HxResource.h"
#include "model/job/HxJob.h"

namespace {

// A job with an agenda item and a subjob, in its binary form: records of
// several classes nested.
std::string job_bytes() {
  HxJob job;
  job.name("shot");
  job.agenda().append(new HxWork);
  job.subjobs().append(new HxSubjob);
  job.pack();
  return std::string(job.packContents(), static_cast<size_t>(job.packSize()));
}

// A library call that takes one of the process's locks.
struct Row {
  char const* name;
  std::function<void()> call;
};

std::vector<Row> rows() {
  return {
      {"debug log",
       [] {
         HxDebug& d = *hx_debug_obj();
         d.lock();
         d.mark() << "INFO: line " << 1 << '\n';
         d.unlock();
       }},
      {"MAC addresses",
       [] {
         HxString failed;
         hx_host_mac_addresses(failed);
       }},
      {"user name", [] { hx_current_user(); }},
      {"clock", [] { HxTime::diff(); }},
      {"installation directory", [] { hx_default_get_hxdir(); }},
      {"client configuration", [] { HxClientConfig().client_timeout(); }},
      {"API state",
       [] {
         hxerror();
         hxsetsupervisor(hxgetsupervisor());
         hxgettimeout();
       }},
      {"random", [] { hx_world().random(); }},
      {"environment, shared", [] { HxEnv::valueEnv("HX_FORK_TEST"); }},
      {"environment, alone", [] { HxEnv::setEnv("HX_FORK_TEST", "1"); }},
      {"record decoding",
       [] {
         // One time record: field 1, an int.
         char const bytes[] = {0, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 5};
         HxTime t;
         t.unpack(bytes, sizeof bytes);
       }},
      {"job decoding",
       [bytes = job_bytes()] {
         HxJob job;
         job.unpack(bytes.data(), static_cast<int>(bytes.size()));
       }},
      {"MAC address text", [] { hx_mac_address_blank(); }},
      {"property class", [] { HxProperty().clsstring("host"); }},
      {"resource value", [] { HxResource().fullname("host.cpu=-1/4"); }},
      {"host version", [] {
         HxHost h;
         h.properties("host.tarv_version=1");
       }},
      {"local time",
       [] {
         tm t{};
         t.tm_year = 120;
         t.tm_mday = 1;
         hx_mktime(&t);
       }},
  };
}

// What the forking thread itself holds at the fork.
enum class Holding { kNothing, kDebugMessage };

// Forks while threads call every row; each child calls every row and ends.
// Gives the first row a child hung in (naming the fork), or "".
std::string fork_while_calling(int forks, Holding holding) {
  std::vector<Row> const table = rows();
  // The C library loads its name service at its first user look-up, under
  // locks of its own that a child forked meanwhile finds taken (see
  // core/HxProcessLocks.h): that look-up is made here, before any thread
  // runs, so that only the library's own objects are new.
  passwd entry;
  passwd* found = nullptr;
  char names[16384];
  getpwuid_r(getuid(), &entry, names, sizeof names, &found);
  std::atomic<bool> go{false};
  std::atomic<bool> stop{false};
  std::atomic<size_t> ready{0};
  std::vector<std::thread> threads;
  for (Row const& row : table) {
    for (int n = 0; n < 2; ++n)
      threads.emplace_back([&go, &stop, &ready, &row] {
        ready.fetch_add(1);
        while (!go.load()) std::this_thread::yield();
        // Each call gives way after it: on a loaded machine the forking
        // thread then still finds its turn at the locks among a pack of
        // callers, and the test stays as quick as on an idle one.
        while (!stop.load()) {
          row.call();
          std::this_thread::yield();
        }
      });
  }
  // All threads start together and the forks follow at once: in a process
  // that has not made these calls before, the first forks come while the
  // threads are inside their first calls.
  while (ready.load() < threads.size()) std::this_thread::yield();
  go.store(true);
  std::string hung;
  for (int f = 0; f < forks && hung.empty(); ++f) {
    int out[2];
    if (pipe(out) != 0) {
      hung = "no pipe";
      break;
    }
    if (holding == Holding::kDebugMessage) hx_debug_obj()->lock();
    pid_t const child = fork();
    if (child == 0) {
      close(out[0]);
      // The forking thread's own hold goes on in the child and ends there.
      if (holding == Holding::kDebugMessage) {
        *hx_debug_obj() << "INFO: the forking thread's message\n";
        hx_debug_obj()->unlock();
      }
      // Each row's number goes out before the row runs: the last one the
      // parent reads is the one a hung child is in.
      for (unsigned char i = 0; i < table.size(); ++i) {
        if (write(out[1], &i, 1) != 1) _exit(3);
        table[i].call();
      }
      _exit(0);
    }
    if (holding == Holding::kDebugMessage) hx_debug_obj()->unlock();
    close(out[1]);
    if (child < 0) {
      close(out[0]);
      hung = "no fork";
      break;
    }
    // A child has ten seconds, far beyond the milliseconds it needs even on
    // a loaded machine.
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    pid_t got = 0;
    while ((got = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (got != child) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      unsigned char buf[64];
      int last = -1;
      for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) last = buf[n - 1];
      hung = "fork " + std::to_string(f) + ": " + (last >= 0 ? table[static_cast<size_t>(last)].name : "before any row");
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      hung = "fork " + std::to_string(f) + ": child ended with status " + std::to_string(status);
    }
    close(out[0]);
  }
  stop.store(true);
  for (std::thread& t : threads) t.join();
  return hung;
}

// The sanitizers' runtimes bring allocators of their own, whose locks a
// child inherits as other threads held them at the fork: AddressSanitizer's
// takes none for a fork, ThreadSanitizer's takes those of its bookkeeping but
// not its allocator's. A child forked while another thread refills its cache
// of a size class hangs at its own next refill of that class (seen under
// AddressSanitizer: a child stopped in the allocator's region lock, in
// SizeClassAllocator64::GetFromAllocator, below a library string's
// allocation). Both tests below fork while threads allocate: the normal build
// runs them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerAllocator = true;
#else
constexpr bool kSanitizerAllocator = false;
#endif

class HxProcessLocksTest : public ::testing::Test {
 protected:
  void SetUp() override { hx_debug_filename(log_.hxfile("log"), 0); }
  void TearDown() override { hx_debug_filename("", 0); }
  hxtest::TempDir log_{"hxforklocks"};
};

}  // namespace

// A process-wide object is built by its first call, once per process. Each
// row here starts the test program afresh, so that its forks come while the
// threads make their first calls: a child that inherits an object half built
// by a thread that no longer exists waits for it for ever.
TEST_F(HxProcessLocksTest, ChildrenForkedWhileThreadsMakeTheirFirstCallsFindEveryObjectBuilt) {
  if (kSanitizerAllocator) GTEST_SKIP() << "the sanitizer's allocator leaves its locks held in a forked child";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int run = 0; run < 16; ++run) {
    EXPECT_EXIT(
        {
          std::string const hung = fork_while_calling(3, Holding::kNothing);
          std::fprintf(stderr, "%s\n", hung.c_str());
          std::_Exit(hung.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << "fresh process " << run;
  }
}

// Without the locks taken before the fork, a child often inherits one held
// by a thread that no longer exists and hangs on its first call.
TEST_F(HxProcessLocksTest, ChildrenForkedWhileThreadsCallFindEveryLockUsable) {
  if (kSanitizerAllocator) GTEST_SKIP() << "the sanitizer's allocator leaves its locks held in a forked child";
  struct Case {
    char const* what;
    Holding holding;
  } const cases[] = {
      {"nothing held", Holding::kNothing},
      {"forking in a debug message", Holding::kDebugMessage},
  };
  for (Case const& c : cases) EXPECT_EQ(fork_while_calling(40, c.holding), "") << c.what;
}

TEST(HxProcessLocks, ALockIsTakenAgainByItsHolderAndHeldUntilItsLastRelease) {
  hx_process_lock(HxProcessLock::kApiState);
  hx_process_lock(HxProcessLock::kApiState);
  hx_process_unlock(HxProcessLock::kApiState);
  EXPECT_TRUE(hx_process_lock_held(HxProcessLock::kApiState));
  std::atomic<bool> taken{false};
  std::thread other([&taken] {
    HxProcessLockHold hold(HxProcessLock::kApiState);
    taken = true;
  });
  // Counted, not timed: the other thread is still waiting after this one
  // has yielded many times.
  for (int i = 0; i < 1000; ++i) std::this_thread::yield();
  EXPECT_FALSE(taken.load());
  hx_process_unlock(HxProcessLock::kApiState);
  other.join();
  EXPECT_TRUE(taken.load());
  EXPECT_FALSE(hx_process_lock_held(HxProcessLock::kApiState));
}

#ifndef NDEBUG
TEST(HxProcessLocksDeathTest, TakingAnEarlierLockWhileHoldingALaterOneIsRefused) {
  EXPECT_DEATH(
      {
        HxProcessLockHold later(HxProcessLock::kApiState);
        HxProcessLockHold earlier(HxProcessLock::kDebugLog);
      },
      "out of their order");
}
#endif

#include "api/HxApiSystem.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "TestUtil.h"
#include "core/HxInterrupt.h"

namespace {

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome run(char const* shell, unsigned char login, char const* command) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int code = hxsystem(HxString(shell), login, HxString(command));
  std::string err = testing::internal::GetCapturedStderr();
  std::string out = testing::internal::GetCapturedStdout();
  return {code, out, err};
}

TEST(HxSystem, OutcomesLinesAndExitCodeVariable) {
  struct Row {
    char const* shell;
    unsigned char login;
    char const* command;
    int code;
    char const* out;
    char const* err;
  };
  Row const rows[] = {
      {"", 0, "exit 3", 3, "INFO: Using shell: /bin/sh\nCOMMAND: exit 3\n", "ERROR: non-zero child exit status: 3\n"},
      {"/bin/bash", 1, "echo $0", 0, "INFO: Using shell: /bin/bash\nCOMMAND: echo $0\n-bash\nINFO: execution successful.\n", ""},
      {"/bin/bash", 0, "echo $0", 0, "INFO: Using shell: /bin/bash\nCOMMAND: echo $0\nbash\nINFO: execution successful.\n", ""},
      {"", 0, "", 0, "INFO: Using shell: /bin/sh\nCOMMAND: \nINFO: execution successful.\n", ""},
      {"", 0, "kill -9 $$", -1, "INFO: Using shell: /bin/sh\nCOMMAND: kill -9 $$\n", "ERROR: child terminated by a signal(9)\n"},
      {"/no/such/shell", 0, "true", 1, "INFO: Using shell: /no/such/shell\nCOMMAND: true\n",
       "ERROR: problem encountered - : No such file or directory\nERROR: non-zero child exit status: 1\n"},
      {"", 0, "echo out; echo err >&2; exit 255", 255, "INFO: Using shell: /bin/sh\nCOMMAND: echo out; echo err >&2; exit 255\nout\n",
       "err\nERROR: non-zero child exit status: 255\n"},
  };
  for (Row const& r : rows) {
    SCOPED_TRACE(r.command);
    if (r.shell[0] != '\0' && r.code != 1 && access(r.shell, X_OK) != 0) continue;
    ::setenv("HX_SYSTEM_EXIT_CODE", "stale", 1);
    Outcome o = run(r.shell, r.login, r.command);
    EXPECT_EQ(r.code, o.code);
    EXPECT_EQ(r.out, o.out);
    EXPECT_EQ(r.err, o.err);
    char const* kept = ::getenv("HX_SYSTEM_EXIT_CODE");
    ASSERT_NE(nullptr, kept);
    EXPECT_EQ(std::to_string(r.code), kept);
  }
  EXPECT_EQ(0, hxsystem(HxString("true")));
  EXPECT_EQ(4, hxsystem(HxString("/bin/sh"), HxString("exit 4")));
  EXPECT_EQ(-1, _hxsystem_win32(HxString(""), 0, HxString("true")));
}

// Lines the caller printed before the command come before the command's own
// output, once, even when standard output is a buffered file.
TEST(HxSystem, CallerLinesKeepTheirPlace) {
  testing::internal::CaptureStdout();
  std::printf("before\n");
  int code = hxsystem(HxString("echo child"));
  std::printf("after\n");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0, code);
  EXPECT_EQ("before\nINFO: Using shell: /bin/sh\nCOMMAND: echo child\nchild\nINFO: execution successful.\nafter\n", out);
}

volatile sig_atomic_t g_alarms = 0;
void on_alarm(int) { g_alarms = g_alarms + 1; }

// A signal caught during the wait does not end the wait.
TEST(HxSystem, SignalDuringTheWait) {
  struct sigaction sa {}, old{};
  sa.sa_handler = on_alarm;
  sa.sa_flags = 0;  // no restart: waitpid sees EINTR
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(0, sigaction(SIGALRM, &sa, &old));
  itimerval tick{{0, 20000}, {0, 20000}}, off{};
  ASSERT_EQ(0, setitimer(ITIMER_REAL, &tick, nullptr));
  Outcome o = run("", 0, "sleep 0.3; exit 7");
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_GT(g_alarms, 0);
  EXPECT_EQ(7, o.code);
  EXPECT_EQ("ERROR: non-zero child exit status: 7\n", o.err);
}

// An interrupt check that says yes from its `g_yes_from`-th ask on.
std::atomic<int> g_asks{0};
std::atomic<int> g_yes_from{1};
bool check_from() { return ++g_asks >= g_yes_from; }

// A signal whose check ends the request ends the command too, during the
// wait or before it, also one that ignores SIGTERM (killed after the grace
// time): -1 soon, and the child reaped (no child of this process is left).
// A request already ended starts no command.
TEST(HxSystem, InterruptEndsTheCommand) {
  struct Row {
    char const* name;
    char const* command;
    int yes_from;  // the check's first yes; 0: the thread is marked already
    int started;   // whether the child wrote its first lines: 1, 0, -1 either
  } const rows[] = {
      {"during the wait", "exec sleep 25", 3, 1},
      {"before the wait", "exec sleep 25", 1, -1},
      {"SIGTERM ignored", "trap '' TERM; exec sleep 25", 3, 1},
      {"already ended", "exec sleep 25", 0, 0},
  };
  struct sigaction sa {}, old{};
  sa.sa_handler = on_alarm;
  sa.sa_flags = 0;  // no restart: waitpid sees EINTR
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(0, sigaction(SIGALRM, &sa, &old));
  for (Row const& r : rows) {
    g_asks = 0;
    g_yes_from = r.yes_from;
    hx_set_interrupt_check(&check_from);
    if (r.yes_from == 0) hx_interrupted(true);
    itimerval tick{{0, 20000}, {0, 20000}}, off{};
    setitimer(ITIMER_REAL, &tick, nullptr);
    auto const start = std::chrono::steady_clock::now();
    Outcome o = run("", 0, r.command);
    auto const took = std::chrono::steady_clock::now() - start;
    setitimer(ITIMER_REAL, &off, nullptr);
    hx_set_interrupt_check(nullptr);
    hx_interrupted(false);
    EXPECT_EQ(-1, o.code) << r.name;
    EXPECT_LT(took, std::chrono::seconds(15)) << r.name;
    if (r.started >= 0) {
      EXPECT_EQ(r.started == 1, o.out.find("COMMAND: ") != std::string::npos) << r.name << ": " << o.out;
    }
    int status = 0;
    errno = 0;
    EXPECT_EQ(-1, ::waitpid(-1, &status, WNOHANG)) << r.name;
    EXPECT_EQ(ECHILD, errno) << r.name;
    EXPECT_STREQ("-1", ::getenv("HX_SYSTEM_EXIT_CODE")) << r.name;
  }
  sigaction(SIGALRM, &old, nullptr);
}

volatile sig_atomic_t g_armed = 0;
void exit_handler() {
  if (g_armed) {
    static char const kLine[] = "EXIT HANDLER RAN\n";
    (void)!::write(1, kLine, sizeof kLine - 1);
  }
}

// The child whose exec failed leaves without the parent's exit handlers.
TEST(HxSystem, FailedExecRunsNoExitHandler) {
  static bool registered = (std::atexit(exit_handler) == 0);
  ASSERT_TRUE(registered);
  g_armed = 1;
  Outcome o = run("/no/such/shell", 0, "true");
  g_armed = 0;
  EXPECT_EQ(1, o.code);
  EXPECT_EQ("INFO: Using shell: /no/such/shell\nCOMMAND: true\n", o.out);
}

}  // namespace

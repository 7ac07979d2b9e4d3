#include "api/HxApiSystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
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
// wait, also one that ignores SIGTERM (killed after the grace time): -1
// soon, and the child reaped (no child of this process is left). A check
// that ends the request when asked after the fork, and a request already
// ended, start no command.
TEST(HxSystem, InterruptEndsTheCommand) {
  struct Row {
    char const* name;
    char const* command;
    int yes_from;  // the check's first yes; 0: the thread is marked already
    int started;   // whether the child wrote its first lines
  } const rows[] = {
      {"during the wait", "exec sleep 25", 3, 1},
      {"at the start", "exec sleep 25", 1, 0},
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
    EXPECT_EQ(r.started == 1, o.out.find("COMMAND: ") != std::string::npos) << r.name << ": " << o.out;
    int status = 0;
    errno = 0;
    EXPECT_EQ(-1, ::waitpid(-1, &status, WNOHANG)) << r.name;
    EXPECT_EQ(ECHILD, errno) << r.name;
    EXPECT_STREQ("-1", ::getenv("HX_SYSTEM_EXIT_CODE")) << r.name;
  }
  sigaction(SIGALRM, &old, nullptr);
}

// The calls below run in a child process that leads a session of its own
// (so it is no terminal's job), with standard output and error on a pipe
// that this process reads to its end: a process of the command left
// running after the call would hold the pipe open. What the child saw
// comes back as its exit code and on the pipe.
struct Child {
  int exit = -1;      // the child's exit code; 128 + signal; -1 still running
  std::string out;    // what it and its command wrote
  double eof_after;   // seconds from the child's end to the pipe's end
};

// Runs fn in such a child. The pipe must reach its end within eof_bound
// seconds of the child's end; the child must end within a minute. Whatever
// is left of the child's session is killed in the end.
Child run_in_session(std::function<int()> const& fn, double eof_bound) {
  Child got;
  std::fflush(nullptr);
  int out[2];
  if (::pipe(out) != 0) return got;
  pid_t const child = ::fork();
  if (child < 0) return got;
  if (child == 0) {
    ::close(out[0]);
    ::setsid();
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    ::close(out[1]);
    int const code = fn();
    std::fflush(nullptr);
    ::_exit(code);
  }
  ::close(out[1]);
  auto const start = std::chrono::steady_clock::now();
  auto ended = start;
  bool reaped = false, eof = false;
  auto since = [](std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
  };
  while (!(reaped && eof)) {
    if (!reaped) {
      int status = 0;
      if (::waitpid(child, &status, WNOHANG) == child) {
        reaped = true;
        ended = std::chrono::steady_clock::now();
        got.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (since(start) > 60) {
        ::kill(-child, SIGKILL);
        ::waitpid(child, &status, 0);
        reaped = true;
        ended = std::chrono::steady_clock::now();
      }
    }
    if (reaped && !eof && since(ended) > eof_bound) break;
    pollfd p{out[0], POLLIN, 0};
    if (!eof && ::poll(&p, 1, 20) > 0) {
      char buf[512];
      ssize_t const n = ::read(out[0], buf, sizeof buf);
      if (n > 0) got.out.append(buf, static_cast<size_t>(n));
      if (n == 0) eof = true;
    } else if (eof) {
      ::poll(nullptr, 0, 20);
    }
  }
  got.eof_after = eof ? since(ended) : -1;
  ::close(out[0]);
  // Left over only when a row fails: the command's processes, in the
  // child's group or in the command's own (named by the line of its end).
  ::kill(-child, SIGKILL);
  size_t const at = got.out.find("child(");
  if (at != std::string::npos) {
    int const pgid = std::atoi(got.out.c_str() + at + 6);
    if (pgid > 1) ::kill(-pgid, SIGKILL);
  }
  return got;
}

// Reads the start of a file of /proc into buf (NUL-terminated); false when
// it is empty or cannot be read.
bool read_proc(char const* path, char (&buf)[64]) {
  int const fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t const n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  return true;
}

// Whether the only child of this single-threaded process (the shell) has a
// child that runs a program of its own (no longer a copy of the shell that
// has yet to exec, which would not run the shell's traps).
bool shell_started_one() {
  char path[96];
  char buf[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d/children", static_cast<int>(::getpid()));
  if (!read_proc(path, buf)) return false;
  int const shell = std::atoi(buf);
  std::snprintf(path, sizeof path, "/proc/%d/task/%d/children", shell, shell);
  if (!read_proc(path, buf)) return false;
  int const started = std::atoi(buf);
  std::snprintf(path, sizeof path, "/proc/%d/comm", started);
  return read_proc(path, buf) && std::strcmp(buf, "sh\n") != 0;
}

// The only child of this single-threaded process, or 0.
int only_child() {
  char path[96];
  char buf[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d/children", static_cast<int>(::getpid()));
  return read_proc(path, buf) ? std::atoi(buf) : 0;
}

void on_tick(int) {}

// A command as users write it (a shell that forks for it) whose request a
// signal ends: nothing the command started is left, however it was
// written, also a part that ignores SIGTERM once its shell is gone; a TERM
// trap has 2 s of clock time to clean up, even under a 1 ms interval
// timer; a request ended before the command starts never starts it; a
// caller that dies before it lets the command start leaves no child.
TEST(HxSystem, InterruptEndsAllTheCommandStarted) {
  enum When { kStarted, kReady, kPending, kMarked, kDies };
  struct Row {
    char const* name;
    char const* command;  // $HX_TEST_DIR: the row's directory
    long tick_usec;       // the interval timer in the calling process
    When when;            // kStarted: the check says yes once the shell
                          // started a process; kReady: once the command
                          // made $HX_TEST_DIR/ready; kPending: at its first
                          // ask; kMarked: the thread is marked before the
                          // call; kDies: the caller kills itself (SIGKILL)
                          // at the first ask
    bool ignore_term;     // SIGTERM ignored in the caller (so in the command)
    bool marker;          // whether the command leaves $HX_TEST_DIR/marker
  } const rows[] = {
      {"lone command", "sleep 37", 20000, kStarted, false, false},
      {"compound command", "sleep 30; : > \"$HX_TEST_DIR/marker\"", 20000, kStarted, false, false},
      {"background and wait", "sleep 30 & sleep 30; wait", 20000, kStarted, false, false},
      {"a background part that ignores SIGTERM", "(trap '' TERM; : > \"$HX_TEST_DIR/ready\"; sleep 30) & wait", 20000,
       kReady, false, false},
      {"TERM trap under a 1 ms timer", "trap 'sleep 0.5; : > \"$HX_TEST_DIR/marker\"; exit 3' TERM; sleep 30", 1000,
       kStarted, false, true},
      {"signal before the start", ": > \"$HX_TEST_DIR/marker\"", 20000, kPending, true, false},
      {"request already ended", ": > \"$HX_TEST_DIR/marker\"", 20000, kMarked, true, false},
      {"the caller dies before the start", ": > \"$HX_TEST_DIR/marker\"", 20000, kDies, false, false},
  };
  for (Row const& r : rows) {
    hxtest::TempDir dir("hxsystem");
    ASSERT_FALSE(dir.path().empty());
    Child const c = run_in_session(
        [&] {
          ::setenv("HX_TEST_DIR", dir.path().c_str(), 1);
          if (r.ignore_term) ::signal(SIGTERM, SIG_IGN);
          struct sigaction sa {};
          sa.sa_handler = on_tick;
          sa.sa_flags = 0;  // no restart: the waits see EINTR
          sigemptyset(&sa.sa_mask);
          sigaction(SIGALRM, &sa, nullptr);
          static When when;
          static std::string ready;
          when = r.when;
          ready = dir.file("ready");
          hx_set_interrupt_check(+[] {
            if (when == kDies) {
              // Named for the clean-up, should the child be left.
              std::printf("child(%d)\n", only_child());
              std::fflush(stdout);
              ::kill(::getpid(), SIGKILL);
            }
            if (when == kReady) return ::access(ready.c_str(), F_OK) == 0;
            return when != kStarted || shell_started_one();
          });
          if (r.when == kMarked) hx_interrupted(true);
          itimerval tick{{0, r.tick_usec}, {0, r.tick_usec}}, off{};
          setitimer(ITIMER_REAL, &tick, nullptr);
          int const code = hxsystem(HxString(r.command));
          setitimer(ITIMER_REAL, &off, nullptr);
          return code == -1 ? 0 : 1;
        },
        15);
    std::string const in = std::string(r.name) + ": " + c.out;
    EXPECT_EQ(r.when == kDies ? 128 + SIGKILL : 0, c.exit) << in;
    EXPECT_GE(c.eof_after, 0) << in << "\n(a process of the command held the output 15 s after the call)";
    EXPECT_EQ(r.marker, ::access(dir.file("marker").c_str(), F_OK) == 0) << in;
    bool const started = r.when == kStarted || r.when == kReady;
    EXPECT_EQ(started, c.out.find("COMMAND: ") != std::string::npos) << in;
    EXPECT_EQ(started, c.out.find("ERROR: interrupted; child(") != std::string::npos) << in;
  }
}

// The command leads a process group of its own, unless the caller is the
// foreground job of its terminal: there it stays in the caller's group, so
// that it may read the terminal and the terminal's Ctrl-C reaches it. The
// group is the child's already when the check is asked after the fork
// (made by the parent too, not only by the child, which may not have run
// yet), so that a signal then ends the whole command: five times.
TEST(HxSystem, CommandGroup) {
  struct Row {
    char const* name;
    bool terminal;  // the caller gets a terminal, whose foreground job it is
    bool own;       // whether the command leads a group of its own
  } const rows[] = {
      {"no terminal", false, true},
      {"foreground job of a terminal", true, false},
  };
  for (Row const& r : rows) {
    Child const c = run_in_session(
        [&] {
          if (r.terminal) {
            int const master = ::posix_openpt(O_RDWR | O_NOCTTY);
            if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return 2;
            // The first terminal a session leader opens becomes its own.
            if (::open(::ptsname(master), O_RDWR) < 0) return 3;
          }
          std::printf("caller=%d\n", static_cast<int>(::getpgrp()));
          hx_set_interrupt_check(+[] {
            int const child = only_child();
            std::printf("asked: child=%d group=%d\n", child, static_cast<int>(::getpgid(child)));
            return false;
          });
          int code = 0;
          for (int i = 0; i < 5; ++i)
            code |= hxsystem(HxString("read pid comm state ppid pgrp rest < /proc/$$/stat; echo \"shell=$$ group=$pgrp\""));
          return code;
        },
        15);
    std::string const in = std::string(r.name) + ": " + c.out;
    ASSERT_EQ(0, c.exit) << in;
    int caller_group = 0, asked = 0;
    std::sscanf(c.out.c_str(), "caller=%d", &caller_group);
    for (size_t at = c.out.find("asked: "); at != std::string::npos; at = c.out.find("asked: ", at + 1)) {
      int child = 0, group = -1;
      ASSERT_EQ(2, std::sscanf(c.out.c_str() + at, "asked: child=%d group=%d", &child, &group)) << in;
      EXPECT_EQ(r.own ? child : caller_group, group) << in;
      ++asked;
    }
    EXPECT_GE(asked, 5) << in;
    int caller = 0, shell = 0, group = 0;
    size_t const at = c.out.rfind("shell=");
    ASSERT_EQ(1, std::sscanf(c.out.c_str(), "caller=%d", &caller)) << in;
    ASSERT_NE(std::string::npos, at) << in;
    ASSERT_EQ(2, std::sscanf(c.out.c_str() + at, "shell=%d group=%d", &shell, &group)) << in;
    EXPECT_EQ(r.own ? shell : caller, group) << in;
  }
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

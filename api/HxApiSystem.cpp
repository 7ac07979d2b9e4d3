#include "api/HxApiSystem.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include "config/HxEnv.h"
#include "core/HxFile.h"
#include "core/HxInterrupt.h"
#include "core/HxWorld.h"
#include "net/HxConnection.h"

namespace {

// Writes all of text to a descriptor; used in the child, where only
// async-signal-safe calls may run (another thread of the parent may have held
// the stdio or allocator locks at the fork).
void write_all(int fd, char const* text, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, text, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text += w;
    n -= static_cast<size_t>(w);
  }
}

// The description of an error number without touching the locale machinery,
// so that the child may call it after a failed exec.
char const* error_text(int err) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
  char const* text = ::strerrordesc_np(err);
  return text != nullptr ? text : "Unknown error";
#else
  return ::strerror(err);
#endif
}

// A command that the request no longer waits for is asked to end
// (SIGTERM) and given this long, on the monotonic clock, before it is
// killed; its end is looked for at this step.
constexpr int64_t kEndGraceMillis = 2000;
constexpr int64_t kEndStepMillis = 5;

int64_t monotonic_millis() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Sleeps until the monotonic clock reads at_millis; a signal cuts it short.
void sleep_until(int64_t at_millis) {
  timespec at{static_cast<time_t>(at_millis / 1000), static_cast<long>(at_millis % 1000) * 1000000L};
  ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
}

// Whether the process is the foreground job of its controlling terminal.
// No terminal: not.
bool terminal_foreground() {
  int const fd = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  bool const foreground = ::tcgetpgrp(fd) == ::getpgrp();
  ::close(fd);
  return foreground;
}

pid_t wait_once(pid_t pid, int& status, int options) {
  pid_t got;
  do {
    got = ::waitpid(pid, &status, options);
  } while (got < 0 && errno == EINTR);
  return got;
}

// Ends a child whose request a signal ended, and reaps it: SIGTERM, then
// SIGKILL once the grace time has passed. With group set the child leads a
// process group of its own, which gets both signals: the command ends with
// everything it started, and the grace lasts until the whole group is gone
// (a group whose members are left as zombies that nobody reaps is killed at
// the end of the grace, which does them no harm). Without it (the command
// shares the group of a terminal's foreground job) the signals go to the
// shell alone.
void end_child(pid_t pid, bool group, int& status) {
  pid_t const target = group ? -pid : pid;
  ::kill(target, SIGTERM);
  int64_t const deadline = monotonic_millis() + kEndGraceMillis;
  bool reaped = false;
  for (;;) {
    if (!reaped) reaped = wait_once(pid, status, WNOHANG) != 0;
    // The group outlives its reaped leader while members are left; its id
    // is not given to a new process before it is gone.
    if (reaped && (!group || (::kill(-pid, 0) != 0 && errno == ESRCH))) return;
    int64_t const now = monotonic_millis();
    if (now >= deadline) break;
    sleep_until(std::min(now + kEndStepMillis, deadline));
  }
  ::kill(target, SIGKILL);
  if (!reaped) wait_once(pid, status, 0);
}

// The child's end as a descriptor (pidfd_open, since Linux 5.3), close-on-
// exec; -1 where the kernel gives none.
int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

// Without such a descriptor the child's end is looked for at steps that
// double up to this long.
constexpr int64_t kEndLookMillis = 50;

// Waits for the child as every wait of the library does (core/HxInterrupt.h):
// a signal, and on a watched thread each slice, asks the check. When it ends
// the request, the child is ended too: -1 with errno EINTR once it is reaped.
pid_t wait_child(pid_t pid, bool group, int& status) {
  int const fd = open_pidfd(pid);
  if (fd >= 0) {
    pollfd p{fd, POLLIN, 0};
    int const r = hx_poll(&p, 1, -1);
    bool const ended = r < 0 && errno == EINTR;
    ::close(fd);
    // The child ended (or its descriptor failed): reaped here.
    if (!ended) return wait_once(pid, status, 0);
  } else {
    for (int64_t step = 1;; step = std::min(step * 2, kEndLookMillis)) {
      pid_t const got = wait_once(pid, status, WNOHANG);
      if (got != 0) return got;
      hx_pause_millis(step);
      if (hx_interrupted()) break;
    }
  }
  end_child(pid, group, status);
  errno = EINTR;
  return -1;
}

void flush_all() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(stdout);
  std::fflush(stderr);
}

}  // namespace

int hxsystem(HxString command) { return hxsystem(HxString(""), 0, command); }

int hxsystem(HxString shell, HxString command) { return hxsystem(shell, 0, command); }

int hxsystem(HxString shell, unsigned char login, HxString command) {
  HxConnection::init();
  int code = _hxsystem_unix(shell, login, command);
  HxEnv::setEnv(HxString("HX_SYSTEM_EXIT_CODE"), HxString(code));
  return code;
}

int _hxsystem_unix(HxString shell, unsigned char login, HxString command) {
  // Everything the child needs is made here, before the fork: the child of a
  // threaded process may not allocate, use stdio or run exit handlers.
  std::string path = shell.length() >= 1 ? std::string(shell.value()) : std::string("/bin/sh");
  std::string name = (login ? "-" : "") + std::string(HxFile::filename(HxString(path.c_str())).value());
  std::string cmd(command.value());
  std::string lines = "INFO: Using shell: " + path + "\nCOMMAND: " + std::string(command.value(), command.length()) + "\n";
  char* argv[] = {name.data(), const_cast<char*>("-c"), cmd.data(), nullptr};
  static char const kExecFailed[] = "ERROR: problem encountered - : ";

  // A request that a signal ended starts no command.
  if (hx_interrupted()) return -1;
  // The command leads a process group of its own, so that ending it ends
  // all it started; but the foreground job of a terminal keeps the command
  // in its own group: in another the command would stop when it reads the
  // terminal, and miss the terminal's Ctrl-C (which reaches every member of
  // the foreground group).
  bool const group = !terminal_foreground();
  // The child runs the command only once the parent, after the fork, asked
  // the interrupt check and found the request still under way: it reads one
  // byte from this pipe first. The parent keeps the read end open until it
  // has written, so the write never meets a pipe without readers.
  int gate[2];
  if (::pipe2(gate, O_CLOEXEC) != 0) {
    std::fputs("ERROR: unable to create new process... exiting.\n", stderr);
    std::fflush(stderr);
    return -1;
  }
  // Lines still buffered in the parent would be lost or written twice, and
  // would come after the child's own output.
  flush_all();
  // The child's exec reads the environment table: no thread may be moving
  // it at the fork. The fork's own handlers see to that (a change of the
  // table holds a process lock they take, core/HxProcessLocks.h); holding
  // the environment's lock here would take it before the debug log's.
  pid_t const pid = ::fork();
  if (pid < 0) {
    ::close(gate[0]);
    ::close(gate[1]);
    std::fputs("ERROR: unable to create new process... exiting.\n", stderr);
    std::fflush(stderr);
    return -1;
  }
  if (pid == 0) {
    if (group) ::setpgid(0, 0);
    // The parent's end alone keeps the pipe open: a parent that dies before
    // it writes leaves the read below at its end, and the child exits.
    ::close(gate[1]);
    char go = 0;
    ssize_t r;
    do {
      r = ::read(gate[0], &go, 1);
    } while (r < 0 && errno == EINTR);
    if (r != 1) ::_exit(1);
    write_all(1, lines.data(), lines.size());
    ::execv(path.c_str(), argv);
    char const* why = error_text(errno);
    write_all(2, kExecFailed, sizeof kExecFailed - 1);
    write_all(2, why, ::strlen(why));
    write_all(2, "\n", 1);
    ::_exit(1);
  }
  // Made here too, so that the group exists before any signal to it,
  // whichever of the two runs first.
  if (group) ::setpgid(pid, pid);

  int status = 0;
  // Asked once the child exists, before it starts the command: a signal
  // that came since the call began (or the request's mark) ends it here.
  bool const ended = hx_check_interrupt();
  ssize_t w = 0;
  while (!ended && (w = ::write(gate[1], "1", 1)) < 0 && errno == EINTR) {
  }
  ::close(gate[0]);
  ::close(gate[1]);
  if (w != 1) {
    // The request ended before the command started (or the child could not
    // be told to start it): the child, which ran nothing, is killed and
    // reaped.
    ::kill(pid, SIGKILL);
    wait_once(pid, status, 0);
    if (ended) return -1;
    std::fputs("ERROR: unable to create new process... exiting.\n", stderr);
    std::fflush(stderr);
    return -1;
  }
  pid_t const got = wait_child(pid, group, status);

  int code;
  if (got < 0 && errno == EINTR) {
    // The request ended; the command was ended with it.
    std::fprintf(stderr, "ERROR: interrupted; child(%d) ended.\n", static_cast<int>(pid));
    code = -1;
  } else if (got < 0) {
    std::fprintf(stderr, "ERROR: problem with waitpid(%d).\n", static_cast<int>(pid));
    code = -1;
  } else if ((status & 0x7f) == 0x7f) {
    // Stopped; signal 0x13 is the report of a continued child, not a stop.
    int sig = (status >> 8) & 0xff;
    if (sig != 0x13) std::fprintf(stderr, "ERROR: process stopped by signal(%d)\n", sig);
    code = -1;
  } else if (WIFSIGNALED(status)) {
    std::fprintf(stderr, "ERROR: child terminated by a signal(%d)", WTERMSIG(status));
#ifdef WCOREDUMP
    if (WCOREDUMP(status)) std::fputs("... core dumped.", stderr);
#endif
    std::fputs("\n", stderr);
    code = -1;
  } else if (WEXITSTATUS(status) != 0) {
    code = WEXITSTATUS(status);
    std::fprintf(stderr, "ERROR: non-zero child exit status: %d\n", code);
  } else {
    std::fputs("INFO: execution successful.\n", stdout);
    code = 0;
  }
  flush_all();
  return code;
}

int _hxsystem_win32(HxString, unsigned char, HxString) { return -1; }

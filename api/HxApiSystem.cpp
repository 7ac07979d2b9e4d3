#include "api/HxApiSystem.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include "config/HxEnv.h"
#include "core/HxFile.h"
#include "core/HxInterrupt.h"
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
// (SIGTERM) and given this long to do so before it is killed.
constexpr int kEndGraceMillis = 2000;
constexpr int kEndStepMillis = 10;

// Ends a child whose request a signal ended, and reaps it: SIGTERM, a
// bounded wait, then SIGKILL. Gives what waitpid gave for it.
pid_t end_child(pid_t pid, int& status) {
  ::kill(pid, SIGTERM);
  for (int waited = 0; waited < kEndGraceMillis; waited += kEndStepMillis) {
    pid_t const got = ::waitpid(pid, &status, WNOHANG);
    if (got != 0 && !(got < 0 && errno == EINTR)) return got;
    timespec step{0, kEndStepMillis * 1000000L};
    ::nanosleep(&step, nullptr);
  }
  ::kill(pid, SIGKILL);
  pid_t got;
  do {
    got = ::waitpid(pid, &status, 0);
  } while (got < 0 && errno == EINTR);
  return got;
}

// Waits for the child. A signal whose check ends the request (during the
// wait, or before it began) ends the child too: -1 with errno EINTR once it
// is reaped.
pid_t wait_child(pid_t pid, int& status) {
  bool end = hx_check_before_waits() && hx_check_interrupt();
  while (!end) {
    pid_t const got = ::waitpid(pid, &status, 0);
    if (got >= 0 || errno != EINTR) return got;
    end = hx_check_interrupt();
  }
  end_child(pid, status);
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
  // Lines still buffered in the parent would be lost or written twice, and
  // would come after the child's own output.
  flush_all();
  // The child's exec reads the environment table: no thread may be moving
  // it at the fork. The fork's own handlers see to that (a change of the
  // table holds a process lock they take, core/HxProcessLocks.h); holding
  // the environment's lock here would take it before the debug log's.
  pid_t const pid = ::fork();
  if (pid < 0) {
    std::fputs("ERROR: unable to create new process... exiting.\n", stderr);
    std::fflush(stderr);
    return -1;
  }
  if (pid == 0) {
    write_all(1, lines.data(), lines.size());
    ::execv(path.c_str(), argv);
    char const* why = error_text(errno);
    write_all(2, kExecFailed, sizeof kExecFailed - 1);
    write_all(2, why, ::strlen(why));
    write_all(2, "\n", 1);
    ::_exit(1);
  }

  int status = 0;
  pid_t const got = wait_child(pid, status);

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

#include "core/HxUser.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "core/HxDebug.h"
#include "tests/TestUtil.h"

namespace {

TEST(HxUser, NameOfTheRealUser) {
  passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(hxtest::S(hx_current_user()), pw->pw_name);
}

// The lookup only reads the user database; the process's signal handling
// belongs to whoever sets up the transport.
TEST(HxUser, LookupLeavesSignalHandlingAlone) {
  struct sigaction dfl {}, saved {}, after {};
  dfl.sa_handler = SIG_DFL;
  ASSERT_EQ(sigaction(SIGPIPE, &dfl, &saved), 0);
  hx_current_user();
  ASSERT_EQ(sigaction(SIGPIPE, &saved, &after), 0);
  EXPECT_EQ(after.sa_handler, SIG_DFL);
}

TEST(HxUser, UnknownUserGivesEmptyNameAndTwoLogLines) {
  if (getuid() != 0) GTEST_SKIP() << "becoming a user without an entry needs root";
  hxtest::TempFile log("", "hxclientuser");
  char const* tmpl = log.name().c_str();
  ASSERT_EQ(chmod(tmpl, 0666), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The verbosity mask does not silence these lines.
    hx_debug_verbosity(0);
    hx_debug_filename(HxString(tmpl), 0);
    if (setgid(54321) != 0 || setuid(54321) != 0) _exit(2);
    _exit(hx_current_user().length() == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(tmpl);
  std::string first, second, rest;
  std::getline(in, first);
  std::getline(in, second);
  std::getline(in, rest);
  auto tail = [](std::string const& line) { return line.substr(line.find("]: ") + 3); };
  EXPECT_EQ(tail(first), "WARNING: pw database entry not found for uid[54321]");
  EXPECT_EQ(tail(second), "ERROR: couldn't validate user's login.");
  EXPECT_EQ(rest, "");
}

// A name found is kept for its uid; a failed lookup is not. Run in a child
// with a private mount table, as root: the user database is hidden by
// mounting an empty file over it, and the real uid moves between "daemon"
// (1, listed only in the file) and a uid without an entry, the effective
// uid staying root so that it can move back.
TEST(HxUser, NamesKeptPerUidFailuresNot) {
  if (getuid() != 0) GTEST_SKIP() << "hiding the user database and changing uid need root";
  passwd* daemon_entry = getpwuid(1);
  if (daemon_entry == nullptr || std::string(daemon_entry->pw_name) != "daemon") GTEST_SKIP() << "no user daemon (1)";
  struct Row {
    char const* what;
    bool hidden;  // the user database hidden
    uid_t uid;
    char const* expect;  // name, then the count of log lines so far
  } const rows[] = {
      {"database hidden: not found", true, 1, "|2"},
      {"database back: failure was not kept", false, 1, "daemon|2"},
      {"database hidden: the name was kept", true, 1, "daemon|2"},
      {"another uid: not the kept name", true, 54321, "|4"},
      {"again: failure was not kept", true, 54321, "|6"},
      {"back to the first uid", true, 1, "daemon|6"},
  };
  hxtest::TempFile log("", "hxuserlog");
  hxtest::TempFile empty("", "hxuserdb");
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(out[0]);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
    hx_debug_verbosity(0);
    hx_debug_filename(log.path(), 0);
    std::string got;
    for (auto const& row : rows) {
      if (row.hidden) {
        if (mount(empty.name().c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0) _exit(77);
      }
      if (setreuid(row.uid, static_cast<uid_t>(-1)) != 0) _exit(2);
      std::string const name = hxtest::S(hx_current_user());
      if (setreuid(0, static_cast<uid_t>(-1)) != 0) _exit(2);
      if (row.hidden) umount("/etc/passwd");
      std::string const text = log.read();
      got += name + "|" + std::to_string(std::count(text.begin(), text.end(), '\n')) + "\n";
    }
    (void)!write(out[1], got.data(), got.size());
    _exit(0);
  }
  close(out[1]);
  std::string got;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount table here";
  ASSERT_EQ(WEXITSTATUS(status), 0);
  std::string expect;
  for (auto const& row : rows) expect += std::string(row.expect) + "\n";
  EXPECT_EQ(got, expect);
}

}  // namespace

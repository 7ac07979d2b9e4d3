#include "core/HxUser.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace

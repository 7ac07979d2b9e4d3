#include "net/HxClient.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include "tests/TestUtil.h"

namespace {

// The name of the real user, after the transport's set-up, which leaves a
// write to a closed peer failing instead of ending the process.
TEST(HxClientUser, NameOfTheRealUserAfterTheTransportSetUp) {
  passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(hxtest::S(HxClient::currentuser()), pw->pw_name);
  struct sigaction now {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
}

}  // namespace

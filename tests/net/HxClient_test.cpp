#include "net/HxClient.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "tests/TestUtil.h"

namespace {

TEST(HxClientUser, NameOfTheRealUser) {
  passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(hxtest::S(HxClient::currentuser()), pw->pw_name);
}

}  // namespace

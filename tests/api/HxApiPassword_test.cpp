#include "api/HxApiPassword.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "api/HxApiState.h"
#include "core/HxError.h"
#include "model/farm/HxAdmin.h"
#include "tests/api/ApiExchange.h"

namespace {

using hxtest::Answer;
using hxtest::login_name;
using hxtest::S;

// Cipher texts worked out apart from the library (m^e mod n on each 16-byte
// block, zero-filled, first byte most significant; 64 hex digits a block).
TEST(HxApiPassword, CipherText) {
  struct Row {
    char const* text;
    char const* cipher;
  } const rows[] = {
      {"", ""},
      {"secret", "303a6c270772361fbcbd914de9c5465633f7739df1b74e5ced3eec6acde18d10"},
      {"a much longer password!",
       "573addbdaeaad95d8bf83954369e14d5dd2725894a41aafebe7ae0c94fa12329"
       "24c3281f28d07e98eade3691746a901c6ea38a6d5411bddfb42c8c12b7d1c318"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(S(hxencryptpassword(row.text)), row.cipher);
    EXPECT_EQ(S(hxencryptpassword(row.text)), row.cipher);
  }
}

// Both requests are silent: every outcome leaves standard error alone, and
// the API error too but for an unreachable supervisor, which it names; only
// a reply other than a refusal or an error succeeds.
TEST(HxApiPassword, UpdateAndCheck) {
  struct Row {
    char const* name;
    bool update;  // else check
    char const* user;
    char const* domain;
    char const* password;
    Answer answer;
    int result;
  } const rows[] = {
      {"update", true, "ann", "studio", "secret", {1}, 1},
      {"update other tag", true, "ann", "studio", "secret", {2}, 1},
      {"update refused", true, "ann", "studio", "secret", {3}, 0},
      {"update error", true, "ann", "studio", "secret", {4, [] { return new HxError(2055); }}, 0},
      {"update sender", true, "", "", "secret", {1}, 1},
      {"update empty password", true, "", "studio", "", {1}, 1},
      {"update unreachable", true, "ann", "studio", "secret", {1, {}, 530, false}, 0},
      {"check", false, "", "", "", {1}, 1},
      {"check other tag", false, "", "", "", {2}, 1},
      {"check refused", false, "", "", "", {3}, 0},
      {"check error", false, "", "", "", {4}, 0},
      {"check unreachable", false, "", "", "", {1, {}, 530, false}, 0},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    _hx_set_error(7);
    auto x = hxtest::exchange(world, row.answer, [&] {
      return row.update ? hxupdatepassword(row.user, row.domain, row.password) : hxcheckpassword();
    });
    EXPECT_EQ(x.result, row.result);
    EXPECT_EQ(x.err, "");
    if (!row.answer.reachable) {
      EXPECT_EQ(S(hxerror().value()), "unable to contact supervisor.");
      continue;
    }
    EXPECT_EQ(hxerror().integervalue(), 7);
    ASSERT_EQ(x.requests.size(), 1u);
    HxMessage const& sent = *x.requests[0];
    if (!row.update) {
      EXPECT_EQ(sent.tag(), 1032);
      EXPECT_EQ(sent.content(), nullptr);
      continue;
    }
    EXPECT_EQ(sent.tag(), 1011);
    auto const* order = dynamic_cast<HxAdminOrder const*>(sent.content());
    ASSERT_NE(order, nullptr);
    EXPECT_EQ(S(order->password()), S(hxencryptpassword(row.password)));
    EXPECT_EQ(S(order->username()), row.user[0] ? row.user : login_name());
    EXPECT_EQ(S(order->userdomain()), row.domain[0] ? row.domain : ".");
    HxAdminOrder fresh;
    EXPECT_EQ(order->action(), fresh.action());
    EXPECT_EQ(order->value(), fresh.value());
    EXPECT_EQ(order->userlist().length(), 0);
  }
}

}  // namespace

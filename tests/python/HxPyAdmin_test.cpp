#include <atomic>
#include <string>
#include <vector>

#include "api/ApiTestUtil.h"
#include "api/HxApiPassword.h"
#include "expr/HxValue.h"
#include "model/farm/HxAdmin.h"
#include "tests/python/PyTestUtil.h"

namespace {

using hxtest::py_exec;
using hxtest::py_repr;

using PyAdmin = hxtest::PyModuleTest;

std::string texts(HxStringList const& list) {
  std::string out;
  for (int i = 0; i < list.length(); ++i) out += std::string(i ? "," : "") + list.get(i)->value();
  return out;
}

// The order fields a test compares: action, value, method, group, user
// list, user name, domain, password, workers, lock, filters, sections.
std::string order_fields(HxPack const* content) {
  auto const* o = dynamic_cast<HxAdminOrder const*>(content);
  if (o == nullptr) return "<no order>";
  std::string sections;
  HxConfigHash const& config = o->config();
  for (int s = 0; s < config.size(); ++s)
    if (HxString* key = config._key(s)) sections += std::string(key->value()) + ";";
  return std::to_string(o->action()) + "|" + std::to_string(o->value()) + "|" + o->method().value() + "|" +
         o->group().value() + "|" + texts(o->userlist()) + "|" + o->username().value() + "|" +
         o->userdomain().value() + "|" + o->password().value() + "|" + texts(o->workers()) + "|" +
         o->lock().value() + "|" + std::to_string(o->filters().length()) + "|" + sections;
}

// Permission orders and the one-word command: what goes out and what the
// tag makes of it.
TEST_F(PyAdmin, PermissionsAndCommandWords) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  std::atomic<int> tag{1};
  hxtest::FakeFarm farm(world, [&](HxMessage&, HxMessage& reply) { return hxtest::answer(reply, tag.load()); });
  ASSERT_TRUE(farm.ok());
  struct Row {
    int tag;
    char const* call;
    char const* result;
    int type;
    char const* sent;  // order fields, or the word list
  } const rows[] = {
      {1, "_hx.setusers('set', 'bob', '', 5)", "True", 1000, "3|5|set||bob||||||0|"},
      {1, "_hx.setusers('unset', 'bob', 'lighting', 7)", "True", 1000, "4|7|unset|lighting|bob||||||0|"},
      {3, "_hx.setusers('set', 'bob', '', 5)", "False", 1000, "3|5|set||bob||||||0|"},
      {1, "_hx.admincommandstr('reset_supervisor')", "True", 1025, "reset_supervisor"},
      {3, "_hx.admincommandstr('reset_supervisor')", "False", 1025, "reset_supervisor"},
      {1, "_hx.setusers('set', 'bob', None, 5)", "<error TypeError", 0, ""},
      {1, "_hx.setusers('set', 'bob', '')", "<error TypeError", 0, ""},
      {1, "_hx.admincommandstr(5)", "<error TypeError", 0, ""},
  };
  size_t seen = 0;
  for (auto const& r : rows) {
    tag = r.tag;
    std::string got = py_repr(r.call);
    EXPECT_EQ(got.substr(0, std::strlen(r.result)), r.result) << r.call << " gave " << got;
    auto requests = farm.requests();
    if (r.type == 0) {
      EXPECT_EQ(requests.size(), seen) << r.call;
      continue;
    }
    ASSERT_EQ(requests.size(), seen + 1) << r.call;
    seen = requests.size();
    HxMessage const& m = *requests.back();
    EXPECT_EQ(m.tag(), r.type) << r.call;
    if (r.type == 1025) {
      auto const* words = dynamic_cast<HxStringList const*>(m.content());
      ASSERT_NE(words, nullptr);
      EXPECT_EQ(texts(*words), r.sent);
    } else {
      EXPECT_EQ(order_fields(m.content()), r.sent) << r.call;
    }
  }
}

// The order dictionary as it reaches the supervisor, and each reply's own
// result dictionary.
TEST_F(PyAdmin, AdminCommand) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  std::atomic<int> calls{0};
  std::atomic<bool> users{true};
  hxtest::FakeFarm farm(world, [&](HxMessage& request, HxMessage& reply) {
    if (request.tag() != 1040) return hxtest::answer(reply, 3);
    int n = ++calls;
    if (n == 3) return hxtest::answer(reply, 4);
    auto* result = new HxAdminResult;
    result->jobids().append(new HxJobId(100 + n));
    if (users) result->userlist().append(new HxString(("user" + std::to_string(n)).c_str()));
    return hxtest::answer(reply, 1, result);
  });
  ASSERT_TRUE(farm.ok());
  ASSERT_EQ(py_exec("order = {'action': 3, 'lock': 'L', 'filters': [{'name': 'user', 'fields': [{'value': 'a'}]}],\n"
                    "  'username': 'bob', 'userdomain': 7, 'password': None, 'group': 'g', 'method': 'set',\n"
                    "  'userlist': 'bob', 'workers': ['w1', 2], 'config': {'a': {'x': '1'}, 'b': 5},\n"
                    "  'value': 99}\n"
                    "r1 = _hx.admincommand(order)\nr2 = _hx.admincommand(order)\n"),
            "");
  EXPECT_EQ(py_repr("(r1, r2, r1 is r2)"),
            "({'jobids': ['101'], 'userlist': ['user1']}, {'jobids': ['102'], 'userlist': ['user2']}, False)");
  auto requests = farm.requests();
  ASSERT_EQ(requests.size(), 2u);
  // The value is not read from the dict; "userlist" as a lone str is one
  // name; the int section of "config" is skipped.
  EXPECT_EQ(order_fields(requests[0]->content()), "3|0|set|g|bob|bob|7||w1,2|L|1|a;");
  auto const* sent = dynamic_cast<HxAdminOrder const*>(requests[0]->content());
  ASSERT_NE(sent, nullptr);
  HxConfig* section = sent->config().get("a");
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(std::string(section->option("x").value()), "1");

  // An error reply, then a reply without users.
  EXPECT_EQ(py_repr("_hx.admincommand({'action': 5})"), "None");
  users = false;
  EXPECT_EQ(py_repr("_hx.admincommand({})"), "{'jobids': ['104']}");
  // No dict: nothing sent.
  EXPECT_EQ(py_repr("(_hx.admincommand(None), _hx.admincommand([1]))"), "(None, None)");
  EXPECT_EQ(py_repr("_hx.admincommand()").substr(0, 16), "<error TypeError");
  EXPECT_EQ(farm.requests().size(), 4u);
}

// Worker resources and properties: the administrator question first for
// updates, none for deletes; a delete without a list is a line and False.
TEST_F(PyAdmin, WorkerResourcesAndProperties) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  std::atomic<bool> admin{true};
  hxtest::FakeFarm farm(world, [&](HxMessage& request, HxMessage& reply) {
    if (request.tag() == 117) return hxtest::answer(reply, 1, new HxValue(admin ? "1" : "0"));
    return hxtest::answer(reply, 1);
  });
  ASSERT_TRUE(farm.ok());
  struct Row {
    bool admin;
    char const* call;
    char const* result;
    std::vector<int> types;
    char const* names;  // the list a delete sends
    char const* err;    // a line on standard error
  } const rows[] = {
      {true, "_hx.isadmin('bob')", "True", {117}, "", ""},
      {false, "_hx.isadmin('bob')", "False", {117}, "", ""},
      {true, "_hx.updateworkerresources('127.0.0.1', 'host.gpu=1/2')", "True", {117, 1034}, "", ""},
      {true, "_hx.updateworkerproperties('127.0.0.1', 'host.os=linux')", "True", {117, 1033}, "", ""},
      {false, "_hx.updateworkerproperties('127.0.0.1', 'host.os=linux')", "False", {117}, "", "is not a tarv admin"},
      {true, "_hx.deleteworkerresources('127.0.0.1', ['a', 1, 'b'])", "True", {1052}, "a,b", ""},
      {true, "_hx.deleteworkerproperties('127.0.0.1', [])", "True", {1051}, "", ""},
      {true, "_hx.deleteworkerproperties('127.0.0.1', 'ab')", "False", {}, "",
       "ERROR: 2nd argument to hx.deleteworkerresources() must be a list\n"},
      {true, "_hx.deleteworkerresources('127.0.0.1', ('a',))", "False", {}, "",
       "ERROR: 2nd argument to hx.deleteworkerresources() must be a list\n"},
      {true, "_hx.isadmin()", "<error TypeError", {}, "", ""},
      {true, "_hx.isadmin(5)", "<error TypeError", {}, "", ""},
      {true, "_hx.updateworkerresources('h')", "<error TypeError", {}, "", ""},
  };
  size_t seen = 0;
  for (auto const& r : rows) {
    admin = r.admin;
    testing::internal::CaptureStderr();
    std::string got = py_repr(r.call);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(got.substr(0, std::strlen(r.result)), r.result) << r.call << " gave " << got;
    EXPECT_NE(err.find(r.err), std::string::npos) << r.call << ": " << err;
    auto requests = farm.requests();
    ASSERT_EQ(requests.size(), seen + r.types.size()) << r.call;
    for (size_t i = 0; i < r.types.size(); ++i) EXPECT_EQ(requests[seen + i]->tag(), r.types[i]) << r.call;
    if (!r.types.empty() && r.types.back() >= 1051) {
      auto const* names = dynamic_cast<HxStringList const*>(requests.back()->content());
      ASSERT_NE(names, nullptr) << r.call;
      EXPECT_EQ(texts(*names), r.names);
    }
    seen = requests.size();
  }
}

// Passwords travel encrypted, with the given or the sending user; a refusal
// or an error reply fails.
TEST_F(PyAdmin, Passwords) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  std::atomic<int> tag{1};
  hxtest::FakeFarm farm(world, [&](HxMessage&, HxMessage& reply) { return hxtest::answer(reply, tag.load()); });
  ASSERT_TRUE(farm.ok());
  std::string const cipher = hxencryptpassword("pw").value();
  struct Row {
    int tag;
    char const* call;
    char const* result;
    int type;
    char const* user;  // "*": the sending user
    char const* domain;
  } const rows[] = {
      {1, "_hx.updatepassword('u', 'pw', 'd')", "1", 1011, "u", "d"},
      {4, "_hx.updatepassword('u', 'pw')", "0", 1011, "u", "*"},
      {3, "_hx.updatepassword('pw')", "0", 1011, "*", "*"},
      {1, "_hx.checkpassword()", "True", 1032, "", ""},
      {4, "_hx.checkpassword()", "False", 1032, "", ""},
      {3, "_hx.checkpassword()", "False", 1032, "", ""},
  };
  for (auto const& r : rows) {
    tag = r.tag;
    EXPECT_EQ(py_repr(r.call), r.result) << r.call;
    auto requests = farm.requests();
    ASSERT_FALSE(requests.empty());
    HxMessage const& m = *requests.back();
    ASSERT_EQ(m.tag(), r.type) << r.call;
    if (r.type != 1011) {
      EXPECT_EQ(m.content(), nullptr);
      continue;
    }
    auto const* o = dynamic_cast<HxAdminOrder const*>(m.content());
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(std::string(o->password().value()), cipher);
    EXPECT_EQ(std::string(o->username().value()), std::string(r.user) == "*" ? m.user().value() : r.user);
    EXPECT_EQ(std::string(o->userdomain().value()), std::string(r.domain) == "*" ? m.domain().value() : r.domain);
  }
}

}  // namespace

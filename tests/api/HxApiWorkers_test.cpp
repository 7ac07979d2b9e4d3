#include "api/HxApiWorkers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "api/HxApiState.h"
#include "core/HxError.h"
#include "expr/HxValue.h"
#include "model/farm/HxProperty.h"
#include "model/farm/HxResource.h"
#include "model/job/HxResult.h"
#include "tests/api/ApiExchange.h"

namespace {

using hxtest::Answer;
using hxtest::bytes_of;
using hxtest::login_name;
using hxtest::S;

std::string joined(HxHostnameList const& l) {
  std::string out;
  for (int i = 0; i < l.length(); ++i) out += (i ? "|" : "") + S(l.get(i)->host());
  return out;
}

HxResult* result_of_two() {
  auto* r = new HxResult;
  r->hostnames().append(new HxHostname("r1"));
  r->hostnames().append(new HxHostname("r2"));
  return r;
}

HxHostnameList* list_of_two() {
  auto* l = new HxHostnameList;
  l->append(new HxHostname("l1"));
  l->append(new HxHostname("l2"));
  return l;
}

// The four orders against each reply form and version: the hosts moved in
// order after the caller's, the lines, and the order lent back unchanged.
TEST(HxApiWorkers, Orders) {
  enum Kind { kShutdown, kReboot, kLock, kQueue };
  struct Row {
    char const* name;
    Kind kind;
    Answer answer;
    int result;
    char const* hosts;
    char const* err;
  } const rows[] = {
      {"shutdown 530", kShutdown, {1, result_of_two, 530}, 1, "keep|r1|r2", ""},
      {"shutdown 529", kShutdown, {1, list_of_two, 529}, 1, "keep|l1|l2", ""},
      {"shutdown 529 result", kShutdown, {1, result_of_two, 529}, 0, "keep",
       "ERROR: list object returned invalid. - 188\n"},
      {"shutdown 530 list", kShutdown, {1, list_of_two, 530}, 0, "keep",
       "ERROR: result object returned invalid. - 64\n"},
      {"shutdown error record", kShutdown, {4, [] { return new HxError(2055); }}, 0, "keep",
       "ERROR: result object returned invalid. - 175\n"},
      {"shutdown tag 4 result", kShutdown, {4, result_of_two}, 1, "keep|r1|r2", ""},
      {"shutdown empty result", kShutdown, {1, [] { return new HxResult; }}, 1, "keep", ""},
      {"shutdown blank", kShutdown, {1}, 0, "keep", ""},
      {"shutdown unreachable", kShutdown, {1, result_of_two, 530, false}, 0, "keep", ""},
      {"reboot 530", kReboot, {1, result_of_two}, 1, "keep|r1|r2", ""},
      {"reboot 529", kReboot, {1, list_of_two, 529}, 1, "keep|l1|l2", ""},
      {"lock", kLock, {1, result_of_two}, 1, "keep|r1|r2", ""},
      {"lock error", kLock, {4, result_of_two}, 0, "keep", ""},
      {"queue 529 result", kQueue, {1, result_of_two, 529}, 1, "keep|r1|r2", ""},
      {"queue 529 list", kQueue, {1, list_of_two, 529}, 0, "keep", "ERROR: result object returned invalid. - 64\n"},
      {"queue error", kQueue, {4, result_of_two}, 0, "keep", ""},
  };
  int const tags[] = {1031, 1030, 1026, 1019};
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    _hx_set_error(7);
    HxOrder order;
    order.lock("night");
    order.filters().append(new HxFilter("name", "render01"));
    std::string const before = bytes_of(order);
    HxHostnameList hosts;
    hosts.append(new HxHostname("keep"));
    auto x = hxtest::exchange(world, row.answer, [&]() -> int {
      switch (row.kind) {
        case kShutdown:
          return hxworkershutdown(order, hosts);
        case kReboot:
          return hxworkerreboot(order, hosts);
        case kLock:
          return hxworkerlock(order, hosts);
        case kQueue:
          return hxworkerqueue(order, hosts);
      }
      return -1;
    });
    EXPECT_EQ(x.result, row.result);
    EXPECT_EQ(x.err, row.err);
    EXPECT_EQ(joined(hosts), row.hosts);
    // A line is the API error too, and so is the unreachable supervisor.
    if (!row.answer.reachable) {
      EXPECT_EQ(S(hxerror().value()), "unable to contact supervisor.");
    } else if (row.err[0] != '\0') {
      EXPECT_EQ(S(hxerror().value()), hxtest::cause_of(row.err));
    } else {
      EXPECT_EQ(hxerror().integervalue(), 7);
    }
    EXPECT_EQ(bytes_of(order), before);
    if (!row.answer.reachable) continue;
    ASSERT_EQ(x.requests.size(), 1u);
    EXPECT_EQ(x.requests[0]->tag(), tags[row.kind]);
    auto* sent = dynamic_cast<HxOrder*>(x.requests[0]->content());
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(bytes_of(*sent), before);
  }
}

// One worker named three ways: the filter that selects it.
TEST(HxApiWorkers, LockFilterByHostForm) {
  struct Row {
    char const* host;
    char const* name;
    char const* value;
  } const rows[] = {
      {"00:1a:2B:3c:4d:5e", "macaddress", "00:1A:2B:3C:4D:5E"},
      {"10.0.0.1", "address", "167772161"},
      {"192.168.0.1", "address", "-1062731775"},
      {"127.255.255.255", "address", "2147483647"},
      {"128.0.0.0", "address", "-2147483648"},
      {"255.255.255.255", "address", "-1"},
      {"0.0.0.0", "address", "0"},
      {"10.0.0.256", "name", "10.0.0.256"},
      {"10.0.0", "name", "10.0.0"},
      {"render01", "name", "render01"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.host);
    HxFilter filter;
    _hx_worker_filter(row.host, filter);
    EXPECT_EQ(S(filter.name()), row.name);
    ASSERT_EQ(filter.fields().length(), 1);
    EXPECT_EQ(S(filter.fields().get(0)->value()), row.value);
    EXPECT_EQ(S(filter.sign()), "=");
  }
  // The whole order on the wire.
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  auto x = hxtest::exchange(world, {1, result_of_two}, [] { return hxworkerlock("lunch", "192.168.0.1"); });
  EXPECT_EQ(x.result, 1);
  ASSERT_EQ(x.requests.size(), 1u);
  EXPECT_EQ(x.requests[0]->tag(), 1026);
  auto* sent = dynamic_cast<HxOrder*>(x.requests[0]->content());
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(S(sent->lock()), "lunch");
  ASSERT_EQ(sent->filters().length(), 1);
  EXPECT_EQ(S(sent->filters().get(0)->name()), "address");
  EXPECT_EQ(S(sent->filters().get(0)->fields().get(0)->value()), "-1062731775");
}

TEST(HxApiWorkers, IsAdmin) {
  struct Row {
    char const* name;
    Answer answer;
    int result;
    char const* err;
  } const rows[] = {
      {"one", {1, [] { return new HxValue(HxString("1")); }}, 1, ""},
      {"one and a blank", {1, [] { return new HxValue(HxString("1 ")); }}, 0, ""},
      {"zero", {1, [] { return new HxValue(HxString("0")); }}, 0, ""},
      {"error reply", {4, [] { return new HxValue(HxString("1")); }}, 1, ""},
      {"error record", {4, [] { return new HxError(2055); }}, 0, "ERROR: list object returned invalid. - 175\n"},
      {"list", {1, [] { return new HxStringList; }}, 0, "ERROR: list object returned invalid. - 55\n"},
      {"blank", {1}, 0, "ERROR: data returned blank\n"},
      {"unreachable", {1, {}, 530, false}, 0, "ERROR: unable to contact supervisor.\n"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    auto x = hxtest::exchange(world, row.answer, [] { return hxisadmin("ann"); });
    EXPECT_EQ(x.result, row.result);
    EXPECT_EQ(x.err, row.err);
    if (!row.answer.reachable) continue;
    ASSERT_EQ(x.requests.size(), 1u);
    EXPECT_EQ(x.requests[0]->tag(), 117);
    auto* users = dynamic_cast<HxStringList*>(x.requests[0]->content());
    ASSERT_NE(users, nullptr);
    ASSERT_EQ(users->length(), 1);
    EXPECT_EQ(S(*users->get(0)), "ann");
  }
}

// A worker's resources and properties: the administrator question first
// (for updates only), then the request to the worker, judged by its tag.
TEST(HxApiWorkers, WorkerResourcesAndProperties) {
  HxStringList names;
  names.append(new HxString("gpu"));
  struct Row {
    char const* name;
    std::function<int()> call;
    char const* admin;  // the value the supervisor answers 117 with
    int worker_tag;
    int result;
    char const* sent;  // tags and the worker's content, in order
    bool refused;
  } const rows[] = {
      {"resources", [] { return hxworkerupdateresources("host.gpu=1/2,host.mem=0/8", "127.0.0.1"); }, "1", 1, 1,
       "117 1034:host.gpu=1/2,host.mem=0/8", false},
      {"resources swapped", [] { return hxupdateworkerresources("127.0.0.1", "host.gpu=2"); }, "1", 3, 1,
       "117 1034:host.gpu=0/2", false},
      {"resources error", [] { return hxworkerupdateresources("host.gpu=2", "127.0.0.1"); }, "1", 4, 0,
       "117 1034:host.gpu=0/2", false},
      {"resources not admin", [] { return hxworkerupdateresources("host.gpu=2", "127.0.0.1"); }, "0", 1, 0, "117",
       true},
      {"properties", [] { return hxworkerupdateproperties("host.site=north", "127.0.0.1"); }, "1", 1, 1,
       "117 1033:host.site=north", false},
      {"properties swapped", [] { return hxupdateworkerproperties("127.0.0.1", "global.a=b"); }, "1", 4, 0,
       "117 1033:global.a=b", false},
      {"properties not admin", [] { return hxupdateworkerproperties("127.0.0.1", "global.a=b"); }, "1 ", 1, 0,
       "117", true},
      {"delete resources", [&] { return hxdeleteworkerresources("127.0.0.1", names); }, "0", 1, 1, "1052:gpu",
       false},
      {"delete properties", [&] { return hxdeleteworkerproperties("127.0.0.1", names); }, "0", 4, 0, "1051:gpu",
       false},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, [&row](HxMessage& request, HxMessage& reply) {
      if (request.tag() == 117) return hxtest::answer(reply, 1, new HxValue(HxString(row.admin)));
      return hxtest::answer(reply, row.worker_tag);
    });
    testing::internal::CaptureStderr();
    int result = row.call();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(err, row.refused ? "ERROR: user[" + login_name() + "] is not a tarv admin\n" : "");
    std::string sent;
    for (auto const& m : farm.requests()) {
      sent += (sent.empty() ? "" : " ") + std::to_string(m->tag());
      if (auto* r = dynamic_cast<HxResourceList*>(m->content())) sent += ":" + S(r->convert());
      if (auto* p = dynamic_cast<HxPropertyList*>(m->content())) sent += ":" + S(p->convert());
      if (m->tag() != 117)
        if (auto* l = dynamic_cast<HxStringList*>(m->content())) sent += ":" + S(*l->get(0));
    }
    EXPECT_EQ(sent, row.sent);
  }
  EXPECT_EQ(names.length(), 1);
}

}  // namespace

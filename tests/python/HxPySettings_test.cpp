#include <atomic>
#include <cstring>
#include <string>

#include "api/ApiTestUtil.h"
#include "api/HxApiState.h"
#include "config/HxConfig.h"
#include "model/farm/HxAccess.h"
#include "model/farm/HxResource.h"
#include "model/job/HxAssignment.h"
#include "net/HxIntro.h"
#include "tests/python/PyTestUtil.h"

namespace {

using hxtest::py_exec;
using hxtest::py_repr;

using PySettings = hxtest::PyModuleTest;

// A fake that answers pings with a self-description and counts them.
struct PingFarm {
  explicit PingFarm(hxtest::ApiWorld& world)
      : farm(world, [this](HxMessage& request, HxMessage& reply) {
          ++pings;
          return hxtest::answer(reply, request.tag() == 400 ? 1 : 3, new HxIntro("fake 8.1"));
        }) {}
  std::atomic<int> pings{0};
  hxtest::FakeFarm farm;
};

// Every ping form reaches the fake through the world's configuration; the
// text is the address, (the MAC address,) and the self-description.
TEST_F(PySettings, PingsAgainstTheFake) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxsetsupervisor("");
  PingFarm fake(world);
  ASSERT_TRUE(fake.farm.ok());
  std::string const port = std::to_string(fake.farm.port());
  struct Row {
    std::string call;
    std::string want;  // the text with the MAC address cut out
  } const rows[] = {
      {"_hx.ping(None)", "'127.0.0.1 fake 8.1'"},
      {"_hx.ping('127.0.0.1')", "'127.0.0.1 fake 8.1'"},
      {"_hx.workerping('127.0.0.1')", "'127.0.0.1 fake 8.1'"},
      {"_hx.hostping('127.0.0.1', " + port + ")", "'127.0.0.1 fake 8.1'"},
  };
  for (auto const& r : rows) {
    ASSERT_EQ(py_exec("t = " + r.call + "\nw = t.split(' ')\nif len(w) == 4: del w[1]\n"), "") << r.call;
    EXPECT_EQ(py_repr("' '.join(w)"), r.want) << r.call;
  }
  EXPECT_EQ(fake.pings.load(), 4);
}

// Nothing answers: an empty text, no exception.
TEST_F(PySettings, PingOfNothingIsEmpty) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  int port = 0;
  {
    PingFarm gone(world);
    port = gone.farm.port();
  }
  EXPECT_EQ(py_repr("_hx.hostping('127.0.0.1', " + std::to_string(port) + ")"), "''");
  EXPECT_EQ(py_repr("_hx.workerping('127.0.0.1')"), "''");
}

// The time-out below 1 reads the configuration's client_timeout afresh.
TEST_F(PySettings, TimeoutFallsBackToTheConfiguration) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  world.config("client_timeout = 4321\n");
  EXPECT_EQ(py_repr("(_hx.settimeout(0), _hx.gettimeout(), _hx.settimeout(7), _hx.gettimeout())"),
            "(None, 4321, None, 7)");
  EXPECT_EQ(py_exec("_hx.settimeout(0)"), "");
}

// The local configuration as a dict in the file's option order.
TEST_F(PySettings, LocalConfig) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  world.config("b = 2\na = xy\n# c = 3\n");
  EXPECT_EQ(py_repr("_hx.localconfig()"), "{'b': '2', 'a': 'xy'}");
  world.config("");
  EXPECT_EQ(py_repr("_hx.localconfig()"), "{}");
}

// In a job process, one path (or more than two arguments) goes through the
// assignment's map; exactly two through the given one.
TEST_F(PySettings, ConvertPathThroughTheAssignment) {
  auto assignment = std::make_shared<HxAssignment>();
  assignment->pathmap().addToDirectMap("/proj", "/mnt/p");
  _hx_assignment(assignment);
  EXPECT_EQ(py_repr("(_hx.convertpath('/proj/a'), _hx.convertpath('/proj/a', 1, 2), _hx.convertpath('/proj/a', {}))"),
            "('/mnt/p/a', '/mnt/p/a', '/proj/a')");
  _hx_assignment(nullptr);
  EXPECT_EQ(py_repr("_hx.convertpath('/proj/a')"), "'/proj/a'");
}

}  // namespace

namespace {

// Farm-wide reads and changes against the fake: what goes out, what comes
// back, and the exceptions of lists that could not be fetched.
TEST_F(PySettings, ResourcesUsersAndConfigurations) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  std::atomic<bool> refuse{false};
  hxtest::FakeFarm farm(world, [&](HxMessage& request, HxMessage& reply) {
    if (refuse) return false;
    switch (request.tag()) {
      case 1020: {
        auto* list = new HxResourceList;
        list->append(new HxResource(2, "gpu", 8, 3));
        list->append(new HxResource(3, "nuke", 10, 1));
        list->append(new HxResource(2, "gpu", 4, 4));  // the later one wins
        return hxtest::answer(reply, 1, list);
      }
      case 1008: {
        auto* list = new HxAccessList;
        auto* bob = new HxAccess;
        bob->name("bob");
        bob->access(7);
        auto* group = new HxGroupAccess;
        group->name("light");
        group->access(5);
        bob->groupaccess().append(group);
        auto* ann = new HxAccess;
        ann->name("ann");
        ann->access(1);
        list->append(bob);
        list->append(ann);
        return hxtest::answer(reply, 1, list);
      }
      case 111: {
        auto* config = new HxConfig;
        config->option("supervisor_p_agenda_max", "5");
        return hxtest::answer(reply, 1, config);
      }
      default:
        return hxtest::answer(reply, 1);
    }
  });
  ASSERT_TRUE(farm.ok());
  struct Row {
    char const* call;
    char const* want;
  } const rows[] = {
      {"_hx.getresources()", "{'host.gpu': (4, 4), 'global.nuke': (1, 10)}"},
      {"_hx.updateresource('global.nuke', 3, 10)", "True"},
      {"_hx.getusers()", "{'bob': {'': 7, 'light': 5}, 'ann': {'': 1}}"},
      {"_hx.supervisorconfig()", "{'supervisor_p_agenda_max': '5'}"},
      {"_hx.workerconfig('127.0.0.1')", "{'supervisor_p_agenda_max': '5'}"},
      {"_hx.updateresource('global.nuke', '3', 10)", "<error TypeError"},
  };
  for (auto const& r : rows) EXPECT_EQ(py_repr(r.call).substr(0, std::strlen(r.want)), r.want) << r.call;
  // Used 3 and total 10 of the named resource on the wire.
  auto updates = farm.requests();
  HxResourceList const* sent = nullptr;
  for (auto const& m : updates)
    if (m->tag() == 1014) sent = dynamic_cast<HxResourceList const*>(m->content());
  ASSERT_NE(sent, nullptr);
  ASSERT_EQ(sent->length(), 1);
  EXPECT_EQ(std::string(sent->get(0)->resname().value()), "global.nuke");
  EXPECT_EQ(sent->get(0)->used(), 3);
  EXPECT_EQ(sent->get(0)->total(), 10);

  refuse = true;
  EXPECT_EQ(py_repr("_hx.getresources()"), "<error OSError: Unable to retrieve global resources>");
  EXPECT_EQ(py_repr("_hx.getusers()"), "<error OSError: Unable to retrieve user permission values>");
  EXPECT_EQ(py_repr("(_hx.supervisorconfig(), _hx.workerconfig('127.0.0.1'), _hx.updateresource('a.b', 1, 2))"),
            "({}, {}, False)");
}

// A trigger is one name in request 803; only a confirmation succeeds.
TEST_F(PySettings, Trigger) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  std::atomic<int> tag{1};
  hxtest::FakeFarm farm(world, [&](HxMessage&, HxMessage& reply) { return hxtest::answer(reply, tag.load()); });
  ASSERT_TRUE(farm.ok());
  EXPECT_EQ(py_repr("_hx.trigger('render_done')"), "1");
  tag = 4;
  EXPECT_EQ(py_repr("_hx.trigger('render_done')"), "0");
  auto requests = farm.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]->tag(), 803);
  auto const* names = dynamic_cast<HxStringList const*>(requests[0]->content());
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(std::string(names->get(0)->value()), "render_done");
}

// The supervisor's clock in Unix seconds: close to the local clock when the
// offset measured against the supervisor is small.
TEST_F(PySettings, CurrentTime) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeFarm farm(world, [](HxMessage&, HxMessage& reply) { return hxtest::answer(reply, 3); });
  ASSERT_EQ(py_exec("import time\nt = _hx.currenttime()\n"), "");
  EXPECT_EQ(py_repr("type(t) is int and abs(t - time.time()) < 120"), "True") << py_repr("(t, time.time())");
}

}  // namespace

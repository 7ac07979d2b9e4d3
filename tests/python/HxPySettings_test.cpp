#include <atomic>
#include <string>

#include "api/ApiTestUtil.h"
#include "api/HxApiState.h"
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

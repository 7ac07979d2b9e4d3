#include "core/HxWorld.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "core/HxList.h"

namespace {

std::vector<std::string> texts(HxStringList const& l) {
  std::vector<std::string> out;
  for (int i = 0; i < l.length(); ++i) out.emplace_back(l.get(i)->value());
  return out;
}

// A tree laid out as /sys/class/net with a routing table beside it.
class MacTree : public testing::Test {
 protected:
  void SetUp() override { mkdir((dir_ + "/net").c_str(), 0755); }
  void iface(std::string const& name, char const* type, char const* address) {
    std::string d = dir_ + "/net/" + name;
    mkdir(d.c_str(), 0755);
    std::ofstream(d + "/type") << type << "\n";
    std::ofstream(d + "/address") << address << "\n";
  }
  void routes(std::string const& text) {
    std::ofstream(dir_ + "/route") << "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
                                   << text;
  }
  std::vector<std::string> list(bool* ok = nullptr) {
    HxStringList out;
    HxString failed;
    bool r = hx_mac_addresses_from((dir_ + "/net").c_str(), (dir_ + "/route").c_str(), out, failed);
    if (ok) *ok = r;
    return texts(out);
  }
  hxtest::TempDir tmp_{"hxmactree"};
  std::string const dir_ = tmp_.path();
};

TEST_F(MacTree, EthernetOnlyDefaultRouteFirstThenByName) {
  iface("lo", "772", "00:00:00:00:00:00");
  iface("eth1", "1", "02:00:00:00:00:11");
  iface("eth0", "1", "02:00:00:00:00:10");
  iface("wlan0", "1", "00:00:00:00:00:00");
  iface("tun0", "65534", "");
  iface("ifb0", "1", "4e:8f:7e:aa:45:f8");
  struct Row {
    char const* name;
    std::string routes;
    std::vector<std::string> expect;
  } const rows[] = {
      {"no route table", "", {"02:00:00:00:00:10", "02:00:00:00:00:11", "4e:8f:7e:aa:45:f8"}},
      {"default via eth1",
       "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
       "eth1\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n",
       {"02:00:00:00:00:11", "02:00:00:00:00:10", "4e:8f:7e:aa:45:f8"}},
      {"two defaults, lower metric wins",
       "eth1\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
       "ifb0\t00000000\t010200C0\t0003\t0\t0\t5\t00000000\t0\t0\t0\n",
       {"4e:8f:7e:aa:45:f8", "02:00:00:00:00:10", "02:00:00:00:00:11"}},
      {"default route that is down",
       "eth1\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n",
       {"02:00:00:00:00:10", "02:00:00:00:00:11", "4e:8f:7e:aa:45:f8"}},
      {"default via a tunnel", "tun0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n",
       {"02:00:00:00:00:10", "02:00:00:00:00:11", "4e:8f:7e:aa:45:f8"}},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.routes.empty()) {
      std::remove((dir_ + "/route").c_str());
    } else {
      routes(row.routes);
    }
    bool ok = false;
    EXPECT_EQ(list(&ok), row.expect);
    EXPECT_TRUE(ok);
  }
}

TEST_F(MacTree, MissingTreeNamesTheFailedCall) {
  HxStringList out;
  out.append(new HxString("stale"));
  HxString failed;
  EXPECT_FALSE(hx_mac_addresses_from((dir_ + "/none").c_str(), (dir_ + "/route").c_str(), out, failed));
  EXPECT_EQ(std::string(failed.value()), "opendir()");
  EXPECT_EQ(out.length(), 0);
}

// A world whose interface list, clock and failure the test sets, counting
// the readings of the list.
class MacWorld : public HxWorld {
 public:
  int64_t clock = 1000000;
  std::string mac = "02:00:00:00:00:01";
  bool fails = false;
  int reads = 0;
  int64_t now() override { return clock; }
  bool macAddresses(HxStringList& out, HxString& failed) override {
    ++reads;
    out.clear();
    if (fails) {
      failed = "opendir()";
      return false;
    }
    out.append(new HxString(mac.c_str()));
    return true;
  }
};

// The list is kept until it is kHxMacRefreshSeconds old by the world's
// clock: a change is seen then and not before. A failed reading is not
// kept, a clock that went back reads again, and so does a world installed
// anew (even the same one: a test's next world may sit at the same address).
TEST(HxWorldMacs, KeptUntilOldEnoughFailuresNotKept) {
  int64_t const t0 = 1000000, n = kHxMacRefreshSeconds;
  struct Row {
    char const* what;
    int64_t clock;
    char const* mac;
    bool fails;
    bool reinstall;
    char const* expect;  // the first address, or the failed call
    int reads;
  } const rows[] = {
      {"first call reads", t0, "02:00:00:00:00:01", false, false, "02:00:00:00:00:01", 1},
      {"changed, too soon to see", t0 + n - 1, "02:00:00:00:00:02", false, false, "02:00:00:00:00:01", 1},
      {"old enough: read again", t0 + n, "02:00:00:00:00:02", false, false, "02:00:00:00:00:02", 2},
      {"failing, still kept", t0 + 2 * n - 1, "02:00:00:00:00:03", true, false, "02:00:00:00:00:02", 2},
      {"failing when old", t0 + 2 * n, "02:00:00:00:00:03", true, false, "fail opendir()", 3},
      {"failure not kept", t0 + 2 * n, "02:00:00:00:00:03", false, false, "02:00:00:00:00:03", 4},
      {"kept after the retry", t0 + 2 * n + 1, "02:00:00:00:00:04", false, false, "02:00:00:00:00:03", 4},
      {"clock went back", t0, "02:00:00:00:00:04", false, false, "02:00:00:00:00:04", 5},
      {"world installed again", t0, "02:00:00:00:00:05", false, true, "02:00:00:00:00:05", 6},
  };
  MacWorld world;
  hx_set_world(&world);
  for (auto const& row : rows) {
    SCOPED_TRACE(row.what);
    world.clock = row.clock;
    world.mac = row.mac;
    world.fails = row.fails;
    if (row.reinstall) hx_set_world(&world);
    HxString failed;
    std::shared_ptr<HxHostMacs const> macs = hx_host_mac_addresses(failed);
    std::string got = macs == nullptr ? "fail " + std::string(failed.value())
                                      : macs->listed.length() > 0 ? macs->listed.get(0)->value() : "";
    EXPECT_EQ(got, row.expect);
    EXPECT_EQ(world.reads, row.reads);
  }
  hx_set_world(nullptr);
}

}  // namespace

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

}  // namespace

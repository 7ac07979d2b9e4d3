#include "net/HxServer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/HxDebug.h"
#include "net/NetTestUtil.h"

namespace {

int const kLoopback = 0x7f000001;

// Records pauses instead of taking them, and runs a hook at each.
class PauseWorld : public NetWorld {
 public:
  std::vector<int64_t> sleeps;
  std::function<void()> on_sleep;
  void sleepMillis(int64_t ms) override {
    sleeps.push_back(ms);
    if (on_sleep) on_sleep();
  }
};

int connect_to(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = loopback(port);
  connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

TEST(HxServer, DefaultsNamesAndMemoryFigures) {
  PauseWorld world;
  world.macs = {"00:1c:42:9a:0b:7f", "02:00:00:00:00:02"};
  WorldGuard guard(world);
  HxServer s;
  EXPECT_EQ(s.type(), 85);
  EXPECT_EQ(s.timeout(), 30000);
  EXPECT_FALSE(s.active());
  EXPECT_EQ(s.length(), 0);
  char name[257] = {0};
  gethostname(name, 256);
  EXPECT_EQ(S(s.host()), name);
  EXPECT_EQ(S(s.macaddr().value()), "00:1C:42:9A:0B:7F");
  EXPECT_EQ(s.macaddrs().length(), 2);
  int const types[] = {1, 2, 3, 4, 5, 6, 7, 0};
  char const* const names[] = {"tcp", "udp", "unknown", "raw_tcp", "ssl_tcp", "multicast_udp", "ssl_raw_tcp", "unknown"};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(s.addport(0, 0, types[i]), i);
    EXPECT_EQ(S(s.porttype(i)), names[i]);
  }
  EXPECT_EQ(S(s.porttype(8)), "unknown");
  EXPECT_EQ(s.sock(99), -1);
  double vm = 0, rss = 0;
  process_mem_usage(vm, rss);
  EXPECT_EQ(vm, -1.0);
  EXPECT_EQ(rss, -1.0);
  world.mode = NetWorld::kTimeOut;
  EXPECT_EQ(s._ready(1), -2);  // no port open: the wait times out
  EXPECT_EQ(world.waits, std::vector<int>{30000});
}

TEST(HxServer, UdpPortServesOnItsOwnSocket) {
  HxServer s;
  ASSERT_EQ(s.openport(0, 0, 2), 1);
  EXPECT_TRUE(s.active());
  int const port = s.port(0);
  EXPECT_GT(port, 0);
  HxConnection client("127.0.0.1", port, 2, 30000);
  ASSERT_EQ(client.send("hello", 5), 5);
  std::unique_ptr<HxConnection> c(s.service(-1));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->type(), 2);
  EXPECT_EQ(c->sock(), s.sock(0));
  int length = 0;
  char* data = c->receive(length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(data, 5), "hello");
  delete[] data;
  // The reply goes back to the sender.
  EXPECT_EQ(c->send("back", 4), 4);
  data = client.receive(length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(data, 4), "back");
  delete[] data;
  c.reset();
  EXPECT_NE(fcntl(s.sock(0), F_GETFD), -1);  // still the server's
  EXPECT_EQ(s.openport(), 0);                // an open slot is not opened again
}

TEST(HxServer, ClassesDecideWhichReadyPortIsServed) {
  HxServer s;
  ASSERT_EQ(s.addport(kLoopback, 0, 0, 1, 2), 0);
  ASSERT_EQ(s.addport(kLoopback, 0, 0, 4, 1), 1);
  ASSERT_EQ(s.openport(), 1);
  int a = connect_to(s.port(0));
  int b = connect_to(s.port(1));
  EXPECT_EQ(s.ready(1), 1);
  EXPECT_EQ(s.ready(2), 1);
  EXPECT_EQ(s.ready(4), 0);
  struct Row {
    int mask;
    int served;
  } const rows[] = {{-1, 1}, {2, 0}, {2, -2}, {-1, -2}};
  for (auto const& row : rows) {
    SCOPED_TRACE(row.mask);
    PauseWorld world;
    if (row.served < 0) world.mode = NetWorld::kTimeOut;
    WorldGuard guard(world);
    std::unique_ptr<HxConnection> c(s.service(row.mask));
    if (row.served < 0) {
      EXPECT_EQ(c, nullptr);
      EXPECT_EQ(s.status(), -2);
      continue;
    }
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(s.status(), 0);
    EXPECT_EQ(c->type(), row.served == 1 ? 4 : 1);
    EXPECT_EQ(S(c->address().stringvalue()), "127.0.0.1");
    EXPECT_EQ(c->port(), local_port(row.served == 1 ? b : a));
  }
  close(a);
  close(b);
}

// The wait for a ready port has one deadline: signals that let the request
// go on resume it for what is left (a periodic one would otherwise hold it
// forever), a signal whose check ends the request fails it, also one that
// came before the wait (seen once a slice of it passed, on a watched thread
// only), and a negative time-out fails at once.
TEST(HxServer, WaitsOnceForTheTimeOutAcrossSignals) {
  HxServer s;
  ASSERT_EQ(s.openport(kLoopback, 0), 1);
  struct Row {
    char const* name;
    int timeout;
    int interrupts;  // waits that a signal interrupts first
    HxInterruptCheck check;
    bool watched;
    std::vector<int> waits;  // the time-outs asked of the world
    int result;
    char const* error;
    bool marked;
  } const rows[] = {
      {"signals that let it go on", 2500, 3, nullptr, true, {2500, 2200, 1900, 1600}, -2, "", false},
      {"checked signals that let it go on", 2500, 2, check_says_no, true, {1000, 1000, 1000, 900}, -2, "", false},
      {"past the deadline", 700, 3, nullptr, true, {700, 400, 100, 0}, -2, "", false},
      {"a signal that ends it", 2500, 2, check_says_yes, false, {2500}, -1,
       "select fail: Interrupted system call", true},
      {"a signal that came before it", 2500, 0, check_says_yes, true, {1000}, -1,
       "select fail: Interrupted system call", true},
      {"an unwatched thread waits at once", 2500, 0, check_says_no, false, {2500}, -2, "", false},
      {"a negative time-out", -1, 0, nullptr, true, {}, -1, "select fail: Invalid argument", false},
  };
  for (Row const& row : rows) {
    PauseWorld world;
    world.mode = NetWorld::kTimeOut;
    world.interrupt_next = row.interrupts;
    world.steady = 1000;
    // Each signal comes 300 ms into its wait.
    world.before_wait = [&] {
      if (world.interrupt_next > 0) world.steady += 300;
    };
    WorldGuard guard(world);
    CheckGuard check(row.check, row.watched);
    s.timeout(row.timeout);
    EXPECT_EQ(s._ready(1), row.result) << row.name;
    EXPECT_EQ(world.waits, row.waits) << row.name;
    EXPECT_EQ(s.status(), row.result == -1 ? -1 : -2) << row.name;
    if (row.result == -1) {
      EXPECT_EQ(S(s.error().value()), row.error) << row.name;
    }
    EXPECT_EQ(hx_interrupted(), row.marked) << row.name;
  }
}

TEST(HxServer, NoPortsPausesThroughTheSeam) {
  PauseWorld world;
  WorldGuard guard(world);
  HxServer s;
  EXPECT_EQ(s._ready(1), -2);
  EXPECT_EQ(s.status(), -2);
  EXPECT_EQ(world.sleeps, std::vector<int64_t>{1000});
  EXPECT_EQ(s.ready(-1), 0);
}

TEST(HxServer, BusyPortIsTriedAgainUntilFree) {
  int busy = listening_socket();
  int const port = local_port(busy);
  PauseWorld world;
  world.on_sleep = [&] {
    if (world.sleeps.size() == 2) close(busy);
  };
  WorldGuard guard(world);
  DebugLog log;
  HxServer s;
  EXPECT_EQ(s.openport(kLoopback, port), 1);
  EXPECT_EQ(world.sleeps, (std::vector<int64_t>{10000, 10000}));
  EXPECT_EQ(s.port(0), port);
  std::string const expect =
      "tcp bind fail: Address already in use: waiting for tcp socket to open up - port: " + std::to_string(port) + "\n";
  EXPECT_EQ(log.lines(), expect + expect);
}

// Binding a port below 1024 without privilege fails for good: no pause, the
// slot's socket stays in the table and is closed on release.
TEST(HxServer, OtherBindFailuresFailTheSlot) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (getuid() == 0 && setuid(65534) != 0) _exit(77);
    PauseWorld world;
    WorldGuard guard(world);
    HxServer s;
    if (s.openport(kLoopback, 1) != 0) _exit(77);  // privileged ports open to anyone here
    if (s.error().integervalue() != 1050 || S(s.error().value()) != "tcp bind fail: Permission denied") _exit(2);
    if (!world.sleeps.empty()) _exit(3);
    int fd = s.sock(0);
    if (fd < 0 || fcntl(fd, F_GETFD) == -1) _exit(4);
    s.release();
    if (fcntl(fd, F_GETFD) != -1) _exit(5);
    if (s.sock(0) != fd || s.openport() != 0) _exit(6);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "port 1 can be bound here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(HxServer, TableHolds128Slots) {
  HxServer s;
  for (int i = 0; i < HxServer::kSlots; ++i) ASSERT_EQ(s.addport(kLoopback, 0, 3), i);
  EXPECT_EQ(s.addport(kLoopback, 0, 1), -1);
  EXPECT_EQ(s.openport(kLoopback, 0, 2), 0);
  EXPECT_EQ(s.length(), 128);
  EXPECT_EQ(s.openport(), 1);  // type 3 slots are passed over
  EXPECT_FALSE(s.active());
}

TEST(HxServer, PortsAboveDescriptor1024) {
  rlimit lim;
  getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = std::min<rlim_t>(2048, lim.rlim_max);
  setrlimit(RLIMIT_NOFILE, &lim);
  std::vector<int> filler;
  for (int fd = dup(0); fd >= 0 && fd < 1100; fd = dup(0)) filler.push_back(fd);
  HxServer s;
  bool const opened = s.openport(kLoopback, 0) == 1;
  for (int fd : filler) close(fd);
  ASSERT_TRUE(opened);
  if (s.sock(0) < 1024) GTEST_SKIP() << "no descriptors above 1024 here";
  HxConnection client("127.0.0.1", s.port(0), 1, 30000);
  ASSERT_TRUE(client.active());
  std::unique_ptr<HxConnection> c(s.service(-1));
  ASSERT_NE(c, nullptr);
  ASSERT_GT(client.send("high", 4), 0);
  int length = 0;
  char* data = c->receive(length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(data, 4), "high");
  delete[] data;
}

}  // namespace

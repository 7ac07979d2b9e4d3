#include "net/HxConnection.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "net/ConnectionTestUtil.h"

using namespace std::string_literals;

namespace {

// ---- connecting --------------------------------------------------------------

TEST(HxConnectionConnect, ConnectsWithExactSocketTimeOuts) {
  int listener = listening_socket();
  NetWorld world;
  WorldGuard guard(world);
  HxConnection c("127.0.0.1", local_port(listener), 1, 1500);
  ASSERT_TRUE(c.active());
  ASSERT_EQ(world.waits.size(), 1u);
  EXPECT_EQ(world.waits[0], 1500);
  EXPECT_EQ(S(c.address().stringvalue()), "127.0.0.1");
  for (int option : {SO_SNDTIMEO, SO_RCVTIMEO}) {
    timeval tv{};
    socklen_t n = sizeof tv;
    getsockopt(c.sock(), SOL_SOCKET, option, &tv, &n);
    EXPECT_EQ(tv.tv_sec, 1);
    EXPECT_EQ(tv.tv_usec, 500000);
  }
  // Non-blocking, and not left open in a program the process runs.
  EXPECT_NE(fcntl(c.sock(), F_GETFL) & O_NONBLOCK, 0);
  EXPECT_NE(fcntl(c.sock(), F_GETFD) & FD_CLOEXEC, 0);
  int peer = accept(listener, nullptr, nullptr);
  ASSERT_GT(c.send("hello", 5), 0);
  EXPECT_EQ(world.waits.size(), 1u);  // the send had room: no wait
  HxConnection server(peer, 1, 1500);
  int length = 0;
  EXPECT_EQ(received(server, length), "hello");
  close(listener);
}

TEST(HxConnectionConnect, FailuresAndTheirNumbers) {
  int closed = bound_socket(SOCK_STREAM);  // bound, never listening
  int const refused_port = local_port(closed);
  int listener = listening_socket();
  struct Row {
    char const* host;
    int port;
    bool time_out;
    int error;
    char const* line;
    int timeout = 30000;
  } const rows[] = {
      {"127.0.0.1", refused_port, false, 35, "Connection refused"},
      {"127.0.0.1", local_port(listener), true, 35, "timed out"},
      {"127.0.0.1", 70000, false, 35, "Invalid argument"},
      {"", 80, false, 32, nullptr},
      {"no-such-host.invalid", 80, false, 32, nullptr},
      // A time-out the system refuses as a socket option.
      {"127.0.0.1", local_port(listener), false, 33, nullptr, -1500},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.host + std::string(":") + std::to_string(row.port));
    NetWorld world;
    world.mode = row.time_out ? NetWorld::kTimeOut : NetWorld::kReal;
    WorldGuard guard(world);
    DebugLog log;
    HxConnection c(row.host, row.port, 1, row.timeout);
    EXPECT_FALSE(c.active());
    EXPECT_EQ(c.sock(), -1);
    EXPECT_EQ(c.error().integervalue(), row.error);
    std::string expect = "connect() host[127.0.0.1] port[" + std::to_string(row.port) + "] ";
    EXPECT_EQ(log.lines(), row.line ? expect + row.line + "\n" : "");
    if (row.time_out) {
      EXPECT_EQ(world.waits, std::vector<int>{30000});
    }
  }
  close(closed);
  close(listener);
}

// ---- state ------------------------------------------------------------------

TEST(HxConnectionState, TypesNamesAndOwnership) {
  struct Row {
    int type;
    char const* name;
    bool owns;
  } const rows[] = {{1, "tcp", true},           {2, "udp", false},     {3, "unknown", false},
                    {4, "raw_tcp", true},        {5, "ssl_tcp", true},  {6, "unknown", false},
                    {7, "ssl_raw_tcp", true},    {8, "unknown", false}, {-1, "unknown", false}};
  for (auto const& row : rows) {
    SCOPED_TRACE(row.type);
    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    {
      HxConnection c(fds[0], row.type, 30000);
      EXPECT_EQ(S(c.stringtype()), row.name);
      EXPECT_TRUE(c.active());
      if (row.type != 1 && row.type != 2 && row.type != 4) {
        EXPECT_EQ(c.send("abc", 3), 0);  // moves nothing
        int length = 0;
        EXPECT_EQ(received(c, length), "<null>");
      }
      EXPECT_EQ(c.release(), 1);
      EXPECT_FALSE(c.active());
    }
    EXPECT_EQ(fcntl(fds[0], F_GETFD) == -1, row.owns);
    EXPECT_EQ(drain(fds[1]), "");
    if (!row.owns) close(fds[0]);
    close(fds[1]);
  }
}

TEST(HxConnectionState, DefaultsInactiveUseAndSerialNumbers) {
  HxConnection a;
  HxConnection b;
  EXPECT_EQ(b.assignid(), a.assignid() + 1);
  EXPECT_GE(a.assignid(), 1);
  EXPECT_EQ(a.type(), 1);
  EXPECT_EQ(a.timeout(), 30000);
  EXPECT_EQ(a.sock(), -1);
  EXPECT_FALSE(a.active());
  EXPECT_TRUE(a.address().blank());
  EXPECT_TRUE(a.primaryaddress().blank());
  int length = 0;
  EXPECT_EQ(a.send("x", 1), -1);
  EXPECT_EQ(S(a.error().value()), "couldn't use nonactive connection");
  EXPECT_EQ(received(a, length), "<null>");
  EXPECT_EQ(a.error().integervalue(), 3);
  HxConnection ssl("", 1, 5, 1000);
  EXPECT_EQ(ssl.error().integervalue(), 32);
  EXPECT_EQ(received(ssl, length), "<null>");
  EXPECT_EQ(ssl.error().integervalue(), 3);
  struct sigaction now {};
  sigaction(SIGPIPE, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
}

// ---- MAC addresses -------------------------------------------------------------

TEST(HxConnectionMac, ChoiceFromTheListedInterfaces) {
  struct Row {
    std::vector<std::string> listed;
    bool fails;
    char const* primary;
    std::vector<std::string> all;
    int rc;
    char const* err;
  } const rows[] = {
      {{"00:1c:42:9a:0b:7f"}, false, "00:1C:42:9A:0B:7F", {"00:1C:42:9A:0B:7F"}, 1, ""},
      {{}, false, "00:00:00:00:00:00", {}, 0, ""},
      {{"00:00:00:00:00:00"}, false, "00:00:00:00:00:00", {}, 1, ""},
      {{"00:00:00:00:00:00", "02:fc:00:00:00:01"}, false, "02:FC:00:00:00:01", {"02:FC:00:00:00:01"}, 1, ""},
      {{"aa:bb:cc:dd:ee:01", "aa:bb:cc:dd:ee:02"}, false, "AA:BB:CC:DD:EE:01",
       {"AA:BB:CC:DD:EE:01", "AA:BB:CC:DD:EE:02"}, 1, ""},
      {{}, true, "00:00:00:00:00:00", {}, 0, "primarymacaddress: opendir() failed\n"},
  };
  for (auto const& row : rows) {
    NetWorld world;
    world.macs = row.listed;
    world.mac_fails = row.fails;
    WorldGuard guard(world);
    testing::internal::CaptureStderr();
    HxMacAddress primary = HxConnection::primarymacaddress();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.err);
    EXPECT_EQ(S(primary.value()), row.primary);
    HxMacAddressList list;
    list.append(new HxMacAddress(HxString("11:22:33:44:55:66")));
    EXPECT_EQ(HxConnection::getAllMacAddresses(list), row.rc);
    std::vector<std::string> all;
    for (int i = 0; i < list.length(); ++i) all.push_back(S(list.get(i)->value()));
    EXPECT_EQ(all, row.all);
  }
}

}  // namespace

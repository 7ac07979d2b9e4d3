#include "net/HxConnection.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <net/route.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <string>

#include "net/ConnectionTestUtil.h"

using namespace std::string_literals;

namespace {

// ---- datagrams ---------------------------------------------------------------

struct UdpPeer {
  int fd = bound_socket(SOCK_DGRAM);
  int port = local_port(fd);
  ~UdpPeer() { close(fd); }
  std::string receive(sockaddr_in* from = nullptr) {
    char buf[70000];
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ssize_t got = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&a), &n);
    if (from) *from = a;
    return got < 0 ? "<error>" : std::string(buf, static_cast<size_t>(got));
  }
  void send_to(sockaddr_in const& to, std::string const& bytes) {
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr const*>(&to), sizeof to);
  }
};

TEST(HxConnectionDatagram, ExchangeOnLoopback) {
  UdpPeer peer;
  HxConnection c("127.0.0.1", peer.port, 2, 30000);
  EXPECT_FALSE(c.active());
  EXPECT_EQ(c.send("hello", 5), 5);
  EXPECT_TRUE(c.active());
  sockaddr_in from{};
  EXPECT_EQ(peer.receive(&from), "\x02\x00\x00\x00\x05hello"s);
  peer.send_to(from, "\x02\x00\x00\x00\x03" "abc"s);
  int length = 0;
  EXPECT_EQ(received(c, length), "abc");
  EXPECT_EQ(S(c.address().stringvalue()), "127.0.0.1");
  EXPECT_EQ(c.port(), peer.port);
  EXPECT_EQ(c.handled(), 8u);
}

TEST(HxConnectionDatagram, HostileDatagrams) {
  struct Row {
    char const* name;
    std::string bytes;
    int error;
    int length;
    std::string data;
  } const rows[] = {
      {"exactly the header", "\x02\x00\x00\x00\x01"s, 30, 0, "<null>"},
      {"announces 65530", "\x02"s + be32(65530) + "x", 29, -1, "<null>"},
      {"announces a top bit", "\x02"s + be32(0x80000001u) + "x", 30, 0, "<null>"},
      {"announces 0", "\x02"s + be32(0) + "x", 30, 0, "<null>"},
      {"shorter than announced", "\x02"s + be32(10) + "abcd", 30, 0, "<null>"},
      {"version 3", "\x03"s + be32(1) + "x", 31, 0, "<null>"},
      {"longer than announced", "\x02"s + be32(2) + "abcd", -1, 2, "ab"},
      {"largest on IPv4", "\x02"s + be32(65502) + std::string(65502, 'p'), -1, 65502, std::string(65502, 'p')},
      {"announces 65529, short", "\x02"s + be32(65529) + std::string(65502, 'p'), 30, 0, "<null>"},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    UdpPeer peer;
    HxConnection c("127.0.0.1", peer.port, 2, 30000);
    ASSERT_EQ(c.send("x", 1), 1);
    sockaddr_in from{};
    peer.receive(&from);
    peer.send_to(from, row.bytes);
    int length = 99;
    EXPECT_EQ(received(c, length), row.data);
    EXPECT_EQ(length, row.length);
    EXPECT_EQ(c.error().integervalue(), row.error);
    if (row.error == 31) {
      EXPECT_EQ(S(c.error().value()), "udp comm version doesn't match - version: 3");
    }
  }
}

TEST(HxConnectionDatagram, EmptyHostGoesToTheBroadcastAddressAndKeepsIt) {
  NetWorld world;  // its broadcast address is 127.0.0.1
  WorldGuard guard(world);
  UdpPeer peer;
  HxConnection c("", peer.port, 2, 30000);
  EXPECT_EQ(c.send("ping", 4), 4);
  EXPECT_EQ(peer.receive(), "\x02\x00\x00\x00\x04ping"s);
  EXPECT_EQ(S(c.address().stringvalue()), "127.0.0.1");
  int on = 0;
  socklen_t n = sizeof on;
  getsockopt(c.sock(), SOL_SOCKET, SO_BROADCAST, &on, &n);
  EXPECT_EQ(on, 1);
  // Setting a host blanks the address; an unresolvable one closes the socket.
  c.host("no-such-host.invalid");
  EXPECT_TRUE(c.address().blank());
  EXPECT_EQ(c.send("ping", 4), 0);
  EXPECT_EQ(c.error().integervalue(), 12);
  EXPECT_FALSE(c.active());
  EXPECT_EQ(c.sock(), -1);
}

// A real broadcast needs a network of our own: a child enters new user and
// network namespaces, brings loopback up and routes 255.255.255.255 there.
int broadcast_in_namespace() {
  uid_t uid = getuid();
  gid_t gid = getgid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return 77;
  auto put = [](char const* path, std::string const& text) {
    std::ofstream f(path);
    f << text;
    return static_cast<bool>(f.flush());
  };
  put("/proc/self/setgroups", "deny");
  if (!put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n")) return 77;
  put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n");
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq ifr{};
  std::strcpy(ifr.ifr_name, "lo");
  if (ioctl(s, SIOCGIFFLAGS, &ifr) != 0) return 77;
  ifr.ifr_flags |= IFF_UP;
  if (ioctl(s, SIOCSIFFLAGS, &ifr) != 0) return 77;
  rtentry route{};
  char dev[] = "lo";
  auto* dst = reinterpret_cast<sockaddr_in*>(&route.rt_dst);
  dst->sin_family = AF_INET;
  dst->sin_addr.s_addr = htonl(INADDR_BROADCAST);
  auto* mask = reinterpret_cast<sockaddr_in*>(&route.rt_genmask);
  mask->sin_family = AF_INET;
  mask->sin_addr.s_addr = htonl(INADDR_BROADCAST);
  route.rt_flags = RTF_UP | RTF_HOST;
  route.rt_dev = dev;
  if (ioctl(s, SIOCADDRT, &route) != 0) return 77;
  close(s);

  int rx = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(rx, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) return 2;
  HxConnection c("", local_port(rx), 2, 30000);
  if (c.send("hello", 5) != 5) return 3;
  if (S(c.address().stringvalue()) != "255.255.255.255") return 4;
  pollfd p{rx, POLLIN, 0};
  if (poll(&p, 1, 5000) != 1) return 5;
  char buf[64];
  ssize_t n = recv(rx, buf, sizeof buf, 0);
  if (std::string(buf, static_cast<size_t>(n > 0 ? n : 0)) != "\x02\x00\x00\x00\x05hello"s) return 6;
  return 0;
}

TEST(HxConnectionDatagram, RealBroadcastInAPrivateNetwork) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(broadcast_in_namespace());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private network namespace here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

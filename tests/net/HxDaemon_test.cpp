#include "net/HxDaemon.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/DaemonTestUtil.h"

namespace {

using hxtest::H;

// Keeps what the loop hands on.
struct Seen {
  int tag;
  int version;
  std::string mac;
  std::string peer;
};

class Recorder : public HxDaemon {
 public:
  std::vector<Seen> seen;
  int raw = 0;
  int reply_tag = -1;  // when set, each message is answered with this tag
  void eventhandler(int tag, HxMessage& msg, HxConnection& conn) override {
    seen.push_back({tag, msg.version(), S(msg.macaddress().value()), S(msg.address().stringvalue())});
    if (reply_tag >= 0) {
      HxMessage answer(reply_tag);
      reply(answer, conn);
    }
  }
  void connhandler(HxConnection&) override { ++raw; }
};

// A message without a version record: header, tag 100.
std::string const kUnversioned = std::string("\0\0\0\1\0\1\0\1\0\0\0\x64", 12);

struct LoopRow {
  char const* name;
  std::vector<Send> sends;
  int n;
  int count;
  std::vector<int> tags;
  std::vector<int> versions;
  long long budget = 0;  // a decode budget around the loop; 0: the default
};

TEST(HxDaemon, LoopCountsWhatItHandsOn) {
  DaemonWorld world;
  WorldGuard guard(world);
  std::vector<LoopRow> const rows = {
      {"three requests", {Send::tcp(100), Send::tcp(101), Send::udp(102)}, 3, 3, {100, 101, 102}, {530, 530, 530}},
      {"time-out after two", {Send::tcp(100), Send::udp(101)}, 3, 0, {100, 101}, {530, 530}},
      {"tag 0 is not counted", {Send::udp(0), Send::udp(7)}, 2, 1, {7}, {530}},
      {"bytes that do not unpack", {Send::bytes("\0\0\0\2junk"), Send::udp(9)}, 2, 1, {9}, {530}},
      {"no version field reads as 350", {Send::bytes(kUnversioned)}, 1, 1, {100}, {350}},
      {"older peer keeps its version", {Send::udp(100, 529)}, 1, 1, {100}, {529}},
      {"limit below 1 serves nothing", {Send::udp(5)}, 0, 0, {}, {}},
      {"limit below -1 serves nothing", {Send::udp(5)}, -2, 0, {}, {}},
      // 5,000 empty jobs in one datagram take 20 MB once made.
      {"request past the decode budget is not served",
       {Send::bytes(empty_records_message(100, 5, 1, 5000)), Send::udp(9)}, 2, 1, {9}, {530}, 1 << 20},
      {"the same request within the budget", {Send::bytes(empty_records_message(100, 5, 1, 5000))}, 1, 1, {100},
       {530}, 64 << 20},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    std::optional<HxDecodeBudget> budget;
    if (row.budget > 0) budget.emplace(row.budget);
    Recorder d;
    d.addport(kLoopback, 0, 1);
    ASSERT_EQ(d.openport(kLoopback, 0, 2), 1);
    d.timeout(0);
    Peers peers(d.port(0), d.port(1));
    for (auto const& s : row.sends) peers.send(s);
    EXPECT_EQ(d.eventloop(row.n), row.count);
    std::vector<int> tags, versions;
    for (auto const& s : d.seen) {
      tags.push_back(s.tag);
      versions.push_back(s.version);
      EXPECT_EQ(s.peer, "127.0.0.1");
    }
    EXPECT_EQ(tags, row.tags);
    EXPECT_EQ(versions, row.versions);
  }
}

TEST(HxDaemon, UnlimitedLoopEndsOnlyOnAFailedWait) {
  DaemonWorld world;
  WorldGuard guard(world);
  Recorder d;
  ASSERT_EQ(d.openport(kLoopback, 0, 2), 1);
  d.timeout(0);
  Peers peers(0, d.port(0));
  peers.send(Send::udp(11));
  int waits = 0;
  world.before_wait = [&] {
    if (++waits == 4) world.interrupt_next = 0, world.fail_next = true;
  };
  DebugLog log;
  EXPECT_EQ(d.eventloop(-1), -1);
  EXPECT_EQ(d.seen.size(), 1u);
  EXPECT_EQ(log.lines(), "ERROR: select fail: Bad file descriptor\n");
}

TEST(HxDaemon, RawConnectionsGoToTheConnectionHandler) {
  DaemonWorld world;
  WorldGuard guard(world);
  Recorder d;
  ASSERT_EQ(d.openport(kLoopback, 0, 4), 1);
  d.timeout(0);
  HxConnection c("127.0.0.1", d.port(0), 4, 1000);
  ASSERT_TRUE(c.active());
  EXPECT_EQ(d.eventloop(1), 1);
  EXPECT_EQ(d.raw, 1);
  EXPECT_TRUE(d.seen.empty());
}

struct DomainRow {
  char const* name;
  char const* flags;
  char const* tarv;
  bool udp;
  size_t handed;
  int reply;  // tag of the reply the sender gets; -1 none
  char const* log;
};

TEST(HxDaemon, RestrictedDomainRefusesMessagesWithoutOne) {
  std::vector<DomainRow> const rows = {
      {"tcp refused with tag 0", "restrict_domain", "", false, 0, 0,
       "WARNING: ignoring undefined domain communication - 127.0.0.1\n"},
      {"udp refused silently", "restrict_domain", "", true, 0, -1, ""},
      {"tcp with a domain served", "restrict_domain", "north", false, 1, 3, ""},
      {"no restriction", "0", "", false, 1, 3, ""},
      {"udp with a domain served", "restrict_domain", "north", true, 1, -1, ""},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    DaemonWorld world;
    world.config("client_flags = " + std::string(row.flags) + "\n");
    WorldGuard guard(world);
    DebugLog log;
    Recorder d;
    d.reply_tag = row.udp ? -1 : 3;
    ASSERT_EQ(d.openport(kLoopback, 0, row.udp ? 2 : 1), 1);
    d.timeout(0);
    Send s = row.udp ? Send::udp(100) : Send::tcp(100);
    s.tarv = row.tarv;
    Peers peers(row.udp ? 0 : d.port(0), row.udp ? d.port(0) : 0);
    peers.send(s);
    EXPECT_EQ(d.eventloop(1), static_cast<int>(row.handed));
    EXPECT_EQ(d.seen.size(), row.handed);
    EXPECT_EQ(peers.replyTag(), row.reply);
    EXPECT_EQ(log.lines(), row.log);
  }
}

TEST(HxDaemon, BlankMacAddressIsMadeFromThePeerAddress) {
  DaemonWorld world;
  WorldGuard guard(world);
  Recorder d;
  ASSERT_EQ(d.openport(kLoopback, 0, 2), 1);
  d.timeout(0);
  Peers peers(0, d.port(0));
  Send blank = Send::udp(1);
  Send zero = Send::udp(2);
  zero.mac = "00:00:00:00:00:00";
  Send own = Send::udp(3);
  own.mac = "0a:1b:2c:3d:4e:5f";
  peers.send(blank);
  peers.send(zero);
  peers.send(own);
  ASSERT_EQ(d.eventloop(3), 3);
  EXPECT_EQ(d.seen[0].mac, "EE:EE:7F:00:00:01");
  EXPECT_EQ(d.seen[1].mac, "EE:EE:7F:00:00:01");
  EXPECT_EQ(d.seen[2].mac, "0A:1B:2C:3D:4E:5F");
}

struct SizeRow {
  int limit;
  int count;  // of four queued datagrams: small, big, small, small
};

TEST(HxDaemon, SizeLimitEndsTheLoopAfterTheConnectionThatReachedIt) {
  DaemonWorld world;
  WorldGuard guard(world);
  Send probe = Send::udp(2);
  probe.user = std::string(1000, 'u');
  int const big = static_cast<int>(probe.payload().size());
  int const small = static_cast<int>(Send::udp(1).payload().size());
  std::vector<SizeRow> const rows = {{-1, 4}, {0, 1}, {small, 1}, {small + 1, 2}, {big, 2}, {big + 1, 4}};
  for (auto const& row : rows) {
    SCOPED_TRACE(row.limit);
    Recorder d;
    ASSERT_EQ(d.openport(kLoopback, 0, 2), 1);
    d.timeout(0);
    Peers peers(0, d.port(0));
    peers.send(Send::udp(1));
    peers.send(probe);
    peers.send(Send::udp(3));
    peers.send(Send::udp(4));
    HxDaemon::setSizeLimit(row.limit);
    EXPECT_EQ(d.eventloop(4), row.count);
    HxDaemon::setSizeLimit(-1);
  }
  EXPECT_EQ(HxDaemon::sizeLimit(), -1);
}

TEST(HxDaemon, ReplyStampsTheMacAddressAndSendsTheWholeMessage) {
  DaemonWorld world;
  WorldGuard guard(world);
  Recorder d;
  d.reply_tag = 5;
  ASSERT_EQ(d.openport(kLoopback, 0, 1), 1);
  d.timeout(0);
  Peers peers(d.port(0), 0);
  peers.send(Send::tcp(100));
  ASSERT_EQ(d.eventloop(1), 1);
  EXPECT_EQ(peers.replyBytes(),
            std::string("\0\0\0\1"
                        "\0\1\0\1\0\0\0\5"
                        "\0\2\0\3\0\0\0\0"
                        "\0\5\0\3\0\0\0\0"
                        "\0\6\0\4\0\0\0\x9b\0\0\0\x19"
                        "\0\1\0\3\0\0\0\x11"
                        "02:00:00:00:00:01"
                        "\0\4\0\1\0\0\0\0"
                        "\0\7\0\1\0\0\x02\x12"
                        "\0\x08\0\3\0\0\0\0"
                        "\0\x09\0\3\0\0\0\0",
                        97));
}

TEST(HxDaemon, ReplyOnAClosedConnectionFailsWithALine) {
  DaemonWorld world;
  WorldGuard guard(world);
  DebugLog log;
  Recorder d;
  HxConnection closed;
  HxMessage m(3);
  EXPECT_EQ(d.reply(m, closed), 0);
  EXPECT_EQ(m.packSize(), 0);
  EXPECT_EQ(log.lines(), "ERROR: unable to reply - couldn't use nonactive connection\n");
}

TEST(HxDaemon, RejectAnswersOnePendingClassTwoConnection) {
  DaemonWorld world;
  WorldGuard guard(world);
  Recorder d;
  ASSERT_GE(d.addport(kLoopback, 0, 0, 1, 2), 0);
  ASSERT_GE(d.addport(kLoopback, 0, 0, 2, 2), 0);
  ASSERT_EQ(d.openport(), 1);
  d.timeout(250);
  HxAddress peer;
  EXPECT_EQ(d.reject(peer), 0);  // nothing pending: no wait either
  EXPECT_EQ(d.timeout(), 250);
  EXPECT_EQ(world.waits.back(), 0);

  Peers tcp(d.port(0), 0);
  tcp.send(Send::tcp(100));
  EXPECT_EQ(d.reject(peer), 1);
  EXPECT_EQ(S(peer.stringvalue()), "127.0.0.1");
  EXPECT_EQ(tcp.replyTag(), 5);
  EXPECT_EQ(tcp.replyVersion(), 350);
  EXPECT_TRUE(d.seen.empty());

  Peers udp(0, d.port(1));
  udp.send(Send::udp(100));
  EXPECT_EQ(d.reject(peer), 0);
  EXPECT_EQ(udp.replyTag(), -1);
}

TEST(HxDaemon, PortThatDoesNotOpenIsLoggedAndReported) {
  DaemonWorld world;
  WorldGuard guard(world);
  DebugLog log;
  Recorder d;
  EXPECT_EQ(d.openport(kLoopback, 0, 3), 0);  // a port type that opens nothing
  EXPECT_FALSE(d.active());
  EXPECT_EQ(log.lines().rfind("ERROR: ", 0), 0u);
  Recorder ok;
  EXPECT_EQ(ok.openport(kLoopback, 0, 2), 1);
  EXPECT_EQ(ok.openport(0), 0);  // the first slot is open already
  EXPECT_TRUE(ok.active());
}

TEST(HxDaemon, DisplayListsPortsAndMacAddress) {
  DaemonWorld world;
  WorldGuard guard(world);
  Recorder d;
  d.addport(kLoopback, 0, 2);
  ASSERT_EQ(d.openport(kLoopback, 0, 1), 1);
  DebugLog log;
  d.display();
  EXPECT_EQ(log.lines(), "INFO: opened address: 127.0.0.1 port: " + std::to_string(d.port(0)) +
                             " type: udp.\nINFO: opened address: 127.0.0.1 port: " + std::to_string(d.port(1)) +
                             " type: tcp.\nINFO: mac address: 02:00:00:00:00:01\n");
}

struct RedirectRow {
  char const* name;
  std::string path;  // "@" stands for a file in the test's directory
  bool moved;
  char const* log;
};

TEST(HxDaemon, RedirectOutput) {
  hxtest::TempDir dir;
  std::vector<RedirectRow> const rows = {
      {"empty path", "", false, ""},
      {"stdout", "stdout", false, "INFO: pipe output to STDOUT\n"},
      {"stderr", "stderr", false, "INFO: pipe output to STDOUT\n"},
      {"a file", "@", true, ""},
      {"a file that cannot be opened", dir.file("none/out.log"), false, nullptr},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    std::string path = row.path == "@" ? dir.file("out.log") : row.path;
    std::string logged;
    {
      DebugLog log;
      StreamGuard streams;
      HxDaemon* d = new Recorder;
      d->redirectOutput(H(path), 5);
      std::printf("to stdout\n");
      std::fflush(stdout);
      std::fprintf(stderr, "to stderr\n");
      logged = log.lines();
      d->display();
      delete d;
    }
    hx_debug_filename("", 0);
    if (row.moved) {
      std::string text = dir.read("out.log");
      // Both streams and the debug log now end in the file.
      EXPECT_EQ(text.find("to stdout\nto stderr\n"), 0u);
      EXPECT_NE(text.find("INFO: mac address: "), std::string::npos);
      EXPECT_EQ(logged, "INFO: redirecting output to: '" + path + "'\n");
    } else if (row.log != nullptr) {
      EXPECT_EQ(logged, row.log);
    } else {
      EXPECT_EQ(logged, "INFO: redirecting output to: '" + path + "'\nERROR: unable to open log file: '" + path + "'\n");
    }
  }
}

struct TrimRow {
  int count;
  std::vector<int> left;  // generations still there; generation g was written at 1000 + 10 * g
};

TEST(HxDaemon, ManageLogsKeepsTheNewestGenerations) {
  hxtest::TempDir dir;
  std::vector<TrimRow> const rows = {
      {3, {2, 3, 4}}, {5, {0, 1, 2, 3, 4}}, {0, {}}, {-1, {0, 1, 2, 3, 4}}, {1, {4}}};
  for (auto const& row : rows) {
    SCOPED_TRACE(row.count);
    std::string base = dir.file("d.log");
    // Generation numbers do not follow age: 4 is the newest.
    int const order[] = {3, 0, 4, 1, 2};
    for (int g = 0; g < 5; ++g) {
      std::string name = base + "." + std::to_string(order[g]);
      dir.write("d.log." + std::to_string(order[g]), "x");
      utimbuf t{1000 + 10 * order[g], 1000 + 10 * order[g]};
      ASSERT_EQ(utime(name.c_str(), &t), 0);
    }
    {
      DebugLog log;
      StreamGuard streams;
      Recorder d;
      d.redirectOutput(H(base), row.count);
      d.manageLogs();
    }
    hx_debug_filename("", 0);
    std::vector<int> left;
    for (int g = 0; g < 5; ++g)
      if (access((base + "." + std::to_string(g)).c_str(), F_OK) == 0) left.push_back(g);
    EXPECT_EQ(left, row.left);
    for (int g = 0; g < 5; ++g) std::remove((base + "." + std::to_string(g)).c_str());
  }
  Recorder quiet;  // no log path: nothing to do
  quiet.manageLogs();
  EXPECT_EQ(S(quiet.logpath()), "");
}

TEST(HxDaemon, FileCompareOrdersNewestFirst) {
  hxtest::TempDir dir;
  dir.write("old", "");
  dir.write("new", "");
  utimbuf old_t{1000, 1000}, new_t{2000, 2000};
  utime(dir.file("old").c_str(), &old_t);
  utime(dir.file("new").c_str(), &new_t);
  HxString o = dir.hxfile("old"), n = dir.hxfile("new"), missing = dir.hxfile("missing");
  struct {
    HxString const* a;
    HxString const* b;
    int want;
  } const rows[] = {{&o, &n, 1}, {&n, &o, -1}, {&o, &o, 0}, {&missing, &o, 1}, {&o, &missing, -1}};
  for (auto const& r : rows) EXPECT_EQ(hx_daemon_filecmp(r.a, r.b), r.want);
}

}  // namespace

#include "net/HxClient.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <sys/wait.h>

#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/HxDebug.h"
#include "core/HxWorld.h"
#include "model/job/HxJob.h"
#include "net/HxIntro.h"
#include "tests/TestUtil.h"
#include "tests/core/pack/PackBytes.h"
#include "tests/net/FakePeer.h"
#include "tests/net/NetTestUtil.h"

namespace {

// The world of a client test: pauses are recorded, not slept; draws come
// from a script; socket waits pass through but are cut to `cap_ms` (the
// requested time-out is recorded for waits of the test's own thread); the
// configuration file is the test's; broadcasts go to 127.0.0.1. The fake
// peer's thread uses it too, so it is guarded, and it must outlive the
// peer: declare the world and its guard first, then the peer, then give the
// world the configuration that names the peer's port.
class ClientWorld : public HxWorld {
 public:
  ClientWorld() : file_("", "hxclientconf") {}
  void config(std::string const& text) { file_.write(text); }

  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    {
      std::lock_guard<std::mutex> hold(mu_);
      if (std::this_thread::get_id() == main_) {
        waits.push_back(timeout_ms);
        if (steady >= 0) steady += steady_tick;
      }
    }
    int const cap = cap_ms;
    return HxWorld::poll(fds, count, timeout_ms < 0 || timeout_ms > cap ? cap : timeout_ms);
  }
  void sleepMillis(int64_t millis) override {
    std::lock_guard<std::mutex> hold(mu_);
    sleeps.push_back(millis);
  }
  int random() override {
    std::lock_guard<std::mutex> hold(mu_);
    if (draws.empty()) return 0;
    int r = draws.front();
    draws.pop_front();
    return r;
  }
  int64_t now() override {
    std::lock_guard<std::mutex> hold(mu_);
    clock += tick;
    return clock;
  }
  // Real until a test sets `steady` (milliseconds); then it moves by
  // `steady_tick` at each wait of the test's own thread.
  int64_t steadyMicros() override {
    std::lock_guard<std::mutex> hold(mu_);
    return steady < 0 ? HxWorld::steadyMicros() : steady * 1000;
  }
  HxString clientConfigPath() override { return file_.path(); }
  HxString broadcastAddress() override { return broadcast; }
  bool macAddresses(HxStringList& out, HxString&) override {
    out.clear();
    out.append(new HxString("02:00:5e:10:00:01"));
    return true;
  }

  std::vector<int> waits;
  std::vector<int64_t> sleeps;
  std::deque<int> draws;
  std::atomic<int> cap_ms{3000};
  int64_t clock = 1000000;
  int64_t tick = 0;
  int64_t steady = -1;
  int64_t steady_tick = 0;
  HxString broadcast = "127.0.0.1";

 private:
  std::mutex mu_;
  std::thread::id main_ = std::this_thread::get_id();
  hxtest::TempFile file_;
};

std::string config_for(FakePeer const& peer) {
  return "hx_domain = farm\nhx_region = east\nclient_host_domain = lab.example\nworker_port = " +
         std::to_string(peer.tcpPort()) + "\n";
}

HxMessage unpacked(std::string const& bytes) {
  HxMessage m;
  unpack(m, bytes);
  return m;
}

int const kTopDraw = 0x7fffffff;  // the largest draw: 10 * r overflows 32 bits

TEST(HxClientUser, NameOfTheRealUserAfterTheTransportSetUp) {
  passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(S(HxClient::currentuser()), pw->pw_name);
  struct sigaction now {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
}

// What converse makes of each reply tag: 0 and 5 fail after a pause of 1 to
// 10 s drawn from the seam, 5 with a line and the rejected flag; any other
// tag is a reply for the caller.
TEST(HxClientConverse, ReplyTags) {
  struct Row {
    int tag;
    int draw;
    bool ok;
    std::vector<int64_t> sleeps;
    char const* log;
  } const rows[] = {
      {0, 0, false, {1000}, ""},
      {0, kTopDraw, false, {10000}, ""},
      {5, 1 << 30, false, {6000}, "ERROR: max connections reached for 127.0.0.1 - connection rejected.\n"},
      {3, 0, true, {}, ""},
      {4, 0, true, {}, ""},
      {7, 0, true, {}, ""},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.tag);
    ClientWorld world;
    WorldGuard guard(world);
    FakePeer peer({FakeStep::reply(row.tag)});
    ASSERT_TRUE(peer.ok());
    world.config(config_for(peer));
    world.draws = {row.draw};
    DebugLog log;
    HxClient client;
    HxMessage request(100), reply;
    EXPECT_EQ(client.converse("127.0.0.1", peer.tcpPort(), request, reply), row.ok);
    EXPECT_EQ(reply.tag(), row.tag);
    EXPECT_EQ(S(reply.address().stringvalue()), "127.0.0.1");
    EXPECT_EQ(client.rejected(), row.tag == 5);
    EXPECT_EQ(S(client.lastcontact()), "127.0.0.1");
    EXPECT_EQ(world.sleeps, row.sleeps);
    EXPECT_EQ(log.lines(), row.log);
  }
}

// The request on the wire: tag, the sender's user, the configured host
// domain, the primary MAC address, content, version, then the client's own
// domain (or the configured one) and the region.
TEST(HxClientConverse, StampedFieldsOnTheWire) {
  ClientWorld world;
  WorldGuard guard(world);
  FakePeer peer;
  ASSERT_TRUE(peer.ok());
  world.config(config_for(peer));
  std::string const user = S(HxClient::currentuser());
  auto be = [](size_t n) { return std::string{0, 0, static_cast<char>(n >> 8), static_cast<char>(n)}; };
  auto wire = [&](char const* tarv) {
    return hex("00 00 00 01 00 01 00 01 00 00 01 90 00 02 00 03") + be(user.size()) + user +
           hex("00 05 00 03 00 00 00 0B") + "lab.example" +
           hex("00 06 00 04 00 00 00 9B 00 00 00 19 00 01 00 03 00 00 00 11") + "02:00:5E:10:00:01" +
           hex("00 04 00 01 00 00 00 AA 00 03 00 04 00 00 00 AA 00 00 00 09 00 01 00 03 00 00 00 01") + "i" +
           hex("00 07 00 01 00 00 02 12 00 08 00 03") + be(std::string(tarv).size()) + tarv +
           hex("00 09 00 03 00 00 00 04") + "east";
  };
  HxIntro intro(HxString("i"));
  HxClient client;
  HxMessage request(400), reply;
  request.content(&intro);
  ASSERT_TRUE(client.converse("127.0.0.1", peer.tcpPort(), request, reply));
  client.setDomain("own");
  ASSERT_TRUE(client.transmit("127.0.0.1", peer.tcpPort(), request));
  ASSERT_TRUE(client.telegram("127.0.0.1", peer.udpPort(), request));
  ASSERT_TRUE(client.broadcast(peer.udpPort(), request));
  request.content(nullptr);
  ASSERT_TRUE(peer.await(4));
  std::vector<std::string> const got = peer.requests();
  EXPECT_EQ(got[0], wire("farm"));
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(got[i], wire("own")) << i;
}

// Failures before a reply: each with its line and the connection's error.
// An empty host fails silently without trying, but clears the refusal that
// an earlier converse set.
TEST(HxClientConverse, FailuresBeforeAReply) {
  ClientWorld world;
  WorldGuard guard(world);
  FakePeer peer({FakeStep::of(FakeStep::kClose)});
  FakePeer refuser({FakeStep::reply(5)});
  ASSERT_TRUE(peer.ok() && refuser.ok());
  world.config(config_for(peer));
  int const closed_port = [] {
    HxServer s;
    s.openport(0x7f000001, 0, 1);
    return s.port(0);
  }();
  struct Row {
    int port;
    char const* line;
  } const rows[] = {
      {peer.tcpPort(), "ERROR: unable to receive from 127.0.0.1 - blank message.\n"},
      {closed_port, "ERROR: unable to establish tcp connection with 127.0.0.1 - unable to connect to host"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.line);
    DebugLog log;
    HxClient client;
    HxMessage request(100), reply;
    EXPECT_FALSE(client.converse("127.0.0.1", row.port, request, reply));
    EXPECT_NE(log.lines().find(row.line), std::string::npos) << log.lines();
    EXPECT_NE(client.error().integervalue(), 0);
  }

  DebugLog log;
  HxClient client;
  HxMessage request(100), reply;
  EXPECT_FALSE(client.converse("127.0.0.1", refuser.tcpPort(), request, reply));
  ASSERT_TRUE(client.rejected());
  std::string const before = log.lines();
  EXPECT_FALSE(client.converse("", refuser.tcpPort(), request, reply));
  EXPECT_FALSE(client.rejected());
  EXPECT_EQ(S(client.lastcontact()), "127.0.0.1");
  EXPECT_EQ(log.lines(), before);
  EXPECT_EQ(refuser.requests().size(), 1u);
}

// A reply that does not decode, after a good one into the same message,
// counts as tag 0: nothing of the earlier reply survives but the version the
// caller set.
TEST(HxClientConverse, UndecodableReplyAfterAGoodOne) {
  FakeStep good = FakeStep::reply(4);
  good.content = [] { return new HxIntro(HxString("first")); };
  FakeStep bad = FakeStep::of(FakeStep::kRaw);
  bad.raw = hex("00 00 00 02 00 01 00 01 00 00 00 04");  // a wrong header
  ClientWorld world;
  WorldGuard guard(world);
  FakePeer peer({good, bad});
  ASSERT_TRUE(peer.ok());
  world.config(config_for(peer));
  HxClient client;
  HxMessage request(100), reply;
  reply.version(350);
  ASSERT_TRUE(client.converse("127.0.0.1", peer.tcpPort(), request, reply));
  ASSERT_NE(reply.content(), nullptr);
  EXPECT_EQ(reply.version(), 530);
  reply.version(350);
  EXPECT_FALSE(client.converse("127.0.0.1", peer.tcpPort(), request, reply));
  EXPECT_EQ(reply.tag(), 0);
  EXPECT_EQ(reply.content(), nullptr);
  EXPECT_EQ(reply.contenttype(), 0);
  EXPECT_EQ(reply.version(), 350);
  EXPECT_EQ(world.sleeps, std::vector<int64_t>{1000});
}

// A reply whose frame trickles in, a byte now and then, fails when the
// frame's deadline (twice the time-out) has passed, exactly as a reply that
// never comes fails when its step times out: error 42, the wait's line on
// standard error and the client's line in the debug log.
TEST(HxClientConverse, ReplyThatDripsTimesOutAsASilentOne) {
  for (bool const drips : {false, true}) {
    SCOPED_TRACE(drips ? "dripping peer" : "silent peer");
    ClientWorld world;
    WorldGuard guard(world);
    // A wait of the silent peer really lasts 30 ms and is then seen as its
    // whole step. The dripping peer's next byte comes within a millisecond
    // on an idle machine, but a loaded one can hold its thread back far
    // longer: its waits may last a minute, so that only bytes end them and
    // only the clock the test moves ends the frame. Set before the peers'
    // threads start: they read the clock too.
    world.cap_ms = drips ? 60000 : 30;
    world.steady = 0;
    world.steady_tick = 1000;
    // A header announcing 100,000 bytes, then a byte every millisecond.
    std::string const frame = "\x02" + be32(100000) + be32(100000) + std::string(100000, 'z');
    std::unique_ptr<WritingPeer> dripper(drips ? new WritingPeer(frame, 1, std::chrono::milliseconds(1)) : nullptr);
    FakePeer silent({FakeStep::of(FakeStep::kSilence)});
    ASSERT_TRUE(silent.ok());
    DebugLog log;
    HxClient client;
    client.conversetimeout(10000);
    HxMessage request(100), reply;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(client.converse("127.0.0.1", drips ? dripper->port() : silent.tcpPort(), request, reply));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "checkpoint(): select() timed out: Connection timed out\n");
    EXPECT_EQ(client.error().integervalue(), 42);
    EXPECT_EQ(log.lines(), "ERROR: unable to receive from 127.0.0.1 - select read timeout.\n");
    // After the connect (the whole time-out), each wait a step at most.
    ASSERT_GE(world.waits.size(), 2u);
    EXPECT_EQ(world.waits[0], 10000);
    for (size_t i = 1; i < world.waits.size(); ++i) EXPECT_LE(world.waits[i], 2000) << i;
    // The frame's deadline ended it, 20 s after it began, long before the
    // peer ran out of bytes.
    if (drips) { EXPECT_GE(world.steady, 20000); }
    dripper.reset();
  }
}

// A reply that decodes to more than the decode budget grants does not
// decode: converse and poll fail as for tag 0, after the pause, with the
// reply cleared. A budget of 1 MiB opened around the call stands in for the
// default bound, which the same bytes (5,000 empty jobs, 20 MB once made)
// stay far below.
TEST(HxClientConverse, ReplyPastTheDecodeBudgetIsNoReply) {
  struct Row {
    char const* call;
    long long budget;  // 0: the default
    bool ok;
  } const rows[] = {
      {"converse", 1 << 20, false}, {"converse", 0, true},  {"poll", 1 << 20, false},
      {"poll", 0, true},            {"poll all", 1 << 20, false},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(std::string(row.call) + " " + std::to_string(row.budget));
    FakeStep step = FakeStep::of(FakeStep::kRaw);
    step.raw = empty_records_message(3, 5, 1, 5000);
    ClientWorld world;
    WorldGuard guard(world);
    FakePeer peer({step});
    ASSERT_TRUE(peer.ok());
    world.config(config_for(peer));
    world.cap_ms = 200;
    std::optional<HxDecodeBudget> budget;
    if (row.budget > 0) budget.emplace(row.budget);
    HxClient client;
    client.conversetimeout(6000);
    HxMessage request(100), reply;
    HxMessageList replies;
    std::string const call = row.call;
    bool const ok = call == "converse" ? client.converse("127.0.0.1", peer.tcpPort(), request, reply)
                    : call == "poll"   ? client.poll(peer.udpPort(), request, reply)
                                       : client.poll(peer.udpPort(), request, replies);
    EXPECT_EQ(ok, row.ok);
    if (call == "poll all") {
      EXPECT_EQ(replies.length(), 0);
      continue;
    }
    EXPECT_EQ(reply.tag(), row.ok ? 3 : 0);
    auto const* jobs = dynamic_cast<HxJobList*>(reply.content());
    EXPECT_EQ(jobs != nullptr ? jobs->length() : -1, row.ok ? 5000 : -1);
    EXPECT_EQ(world.sleeps, row.ok ? std::vector<int64_t>{} : std::vector<int64_t>{1000});
    if (budget) { EXPECT_LE(budget->claimed(), row.budget); }
  }
}

// The shape that ended the process: a reply of about 120 KB on the wire
// whose list holds ten million empty jobs (a 120 MB frame, 40 GB once made).
// Under the default bound it fails as a reply that does not decode, in a
// child whose address space may grow by 3 GiB: the bound's 2 GiB of jobs,
// the frame and what the peer's thread maps.
TEST(HxClientConverse, MillionsOfEmptyJobsUnderTheDefaultBound) {
  if (hxtest::kShadowMemory) GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
  std::string const frame = tcp_frame(empty_records_message(3, 5, 1, 10000000));
  int const code = hxtest::run_with_memory_limit(size_t{3} << 30, [&frame] {
    ClientWorld world;
    WorldGuard guard(world);
    WritingPeer peer(frame);
    HxClient client;
    HxMessage request(100), reply;
    if (client.converse("127.0.0.1", peer.port(), request, reply)) return 1;
    if (reply.tag() != 0 || reply.content() != nullptr) return 2;
    if (world.sleeps.size() != 1) return 3;
    return 0;
  });
  EXPECT_EQ(code, 0) << "134 is an abort: the decode ran out of memory";
}

// transmit and telegram send without waiting; a transmit that cannot
// connect fails without a line.
TEST(HxClientConverse, SendsWithoutReply) {
  ClientWorld world;
  WorldGuard guard(world);
  FakePeer peer({FakeStep::of(FakeStep::kSilence)});
  ASSERT_TRUE(peer.ok());
  world.config(config_for(peer));
  DebugLog log;
  HxClient client;
  HxMessage request(1100);
  EXPECT_TRUE(client.transmitWorker("127.0.0.1", request));
  EXPECT_TRUE(client.telegram("127.0.0.1", peer.udpPort(), request));
  EXPECT_FALSE(client.telegram("", peer.udpPort(), request));
  ASSERT_TRUE(peer.await(2));
  EXPECT_EQ(unpacked(peer.requests()[0]).tag(), 1100);

  HxServer gone;
  gone.openport(0x7f000001, 0, 1);
  int const port = gone.port(0);
  gone.release();
  EXPECT_FALSE(client.transmit("127.0.0.2", port, request));
  EXPECT_EQ(S(client.lastcontact()), "127.0.0.2");
  EXPECT_EQ(log.lines().find("ERROR"), std::string::npos);
}

// Worker retries: attempts, their warnings and the pauses between them (r
// mod 6 + 5 seconds from each attempt's draw); none after a refusal, whose
// converse paused already.
TEST(HxClientConverse, WorkerRetries) {
  struct Row {
    int retries;
    std::vector<FakeStep> script;
    std::vector<int> draws;
    bool ok;
    size_t requests;
    std::vector<int64_t> sleeps;
    std::string log;
  } const rows[] = {
      {-1, {FakeStep::reply(3)}, {}, false, 0, {}, ""},
      {0, {FakeStep::of(FakeStep::kClose)}, {}, false, 1, {},
       "ERROR: unable to receive from 127.0.0.1 - blank message.\n"
       "WARNING: converseWorker() attempt[1/1] to worker[127.0.0.1] failed (worker down?)\n"},
      {2, {FakeStep::of(FakeStep::kClose), FakeStep::reply(5), FakeStep::reply(3)}, {7, 0, 0, 0}, true, 3, {6000, 1000},
       "ERROR: unable to receive from 127.0.0.1 - blank message.\n"
       "WARNING: converseWorker() attempt[1/3] to worker[127.0.0.1] failed (worker down?)\n"
       "WARNING:: retrying in [6] seconds.\n"
       "ERROR: max connections reached for 127.0.0.1 - connection rejected.\n"
       "WARNING: converseWorker() attempt[2/3] to worker[127.0.0.1] failed (worker down?)\n"},
      {1, {FakeStep::of(FakeStep::kClose)}, {11, 3}, false, 2, {10000},
       "ERROR: unable to receive from 127.0.0.1 - blank message.\n"
       "WARNING: converseWorker() attempt[1/2] to worker[127.0.0.1] failed (worker down?)\n"
       "WARNING:: retrying in [10] seconds.\n"
       "ERROR: unable to receive from 127.0.0.1 - blank message.\n"
       "WARNING: converseWorker() attempt[2/2] to worker[127.0.0.1] failed (worker down?)\n"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.retries);
    ClientWorld world;
    WorldGuard guard(world);
    FakePeer peer(row.script);
    ASSERT_TRUE(peer.ok());
    world.config(config_for(peer));
    world.draws.assign(row.draws.begin(), row.draws.end());
    DebugLog log;
    HxClient client;
    HxMessage request(300), reply;
    EXPECT_EQ(client.converseWorkerWithRetries("127.0.0.1", request, reply, row.retries), row.ok);
    EXPECT_EQ(peer.requests().size(), row.requests);
    EXPECT_EQ(world.sleeps, row.sleeps);
    EXPECT_EQ(log.lines(), row.log);
  }
}

// The first answer to a broadcast poll; six tries of a sixth of the time-out
// each when nobody answers.
TEST(HxClientPoll, FirstAnswer) {
  struct Row {
    FakeStep step;
    bool ok;
    size_t sends;
    std::vector<int64_t> sleeps;
    char const* log;
  } const rows[] = {
      {FakeStep::reply(3), true, 1, {}, ""},
      {FakeStep::reply(0), false, 1, {20000}, ""},
      {FakeStep::reply(5), false, 1, {10000}, "ERROR: max connections reached.\n"},
      {FakeStep::of(FakeStep::kSilence), false, 6, {}, "ERROR: select read timeout.\n"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.step.tag);
    ClientWorld world;
    WorldGuard guard(world);
    FakePeer peer({row.step});
    ASSERT_TRUE(peer.ok());
    world.config(config_for(peer));
    world.cap_ms = row.sends > 1 ? 30 : 3000;
    world.draws = {kTopDraw};
    DebugLog log;
    HxClient client;
    client.conversetimeout(6000);
    HxMessage request(401), reply;
    EXPECT_EQ(client.poll(peer.udpPort(), request, reply), row.ok);
    EXPECT_EQ(client.rejected(), row.step.tag == 5 && row.step.kind == FakeStep::kReply);
    ASSERT_TRUE(peer.await(row.sends));
    EXPECT_EQ(peer.requests().size(), row.sends);
    EXPECT_EQ(world.waits, std::vector<int>(row.sends, 1000));
    EXPECT_EQ(world.sleeps, row.sleeps);
    EXPECT_EQ(log.lines(), row.log);
    if (row.ok) { EXPECT_EQ(S(reply.address().stringvalue()), "127.0.0.1"); }
  }
}

// Every answer until a wait passes in silence, without tags 0 and 5, and no
// longer than the conversation time-out after the first.
TEST(HxClientPoll, AllAnswers) {
  struct Row {
    std::vector<int> tags;  // one datagram of each per request
    int64_t tick;           // seconds the clock moves per reading
    std::vector<int> kept;
    bool ok;
  } const rows[] = {
      {{3, 0, 4, 5, 7}, 0, {3, 4, 7}, true},
      {{3, 4, 7}, 7, {3}, true},  // the time-out (6 s) passed after the first
      {{0, 5}, 0, {}, false},
  };
  for (Row const& row : rows) {
    FakeStep step = FakeStep::reply(3);
    step.series = row.tags;
    ClientWorld world;
    WorldGuard guard(world);
    FakePeer peer({step});
    ASSERT_TRUE(peer.ok());
    world.config(config_for(peer));
    world.cap_ms = 200;
    world.tick = row.tick;
    DebugLog log;
    HxClient client;
    client.conversetimeout(6000);
    HxMessageList replies;
    HxMessage request(401);
    EXPECT_EQ(client.poll(peer.udpPort(), request, replies), row.ok);
    std::vector<int> kept;
    for (int i = 0; i < replies.length(); ++i) kept.push_back(replies.get(i)->tag());
    EXPECT_EQ(kept, row.kept);
    EXPECT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(log.lines(), row.ok ? "" : "ERROR: select read timeout.\n");
  }
}

// A real broadcast to 255.255.255.255, in a private network namespace whose
// loopback carries the broadcast route. The test runs itself again inside
// one; where such a namespace cannot be made it is skipped.
TEST(HxClientPoll, RealBroadcastInPrivateNetwork) {
  if (!inside_private_network()) {
    int const code = run_in_private_network("HxClientPoll.RealBroadcastInPrivateNetwork");
    if (code == 77 || code == 126 || code == 127) GTEST_SKIP() << "no private network namespace here";
    EXPECT_EQ(code, 0);
    return;
  }
  ClientWorld world;
  WorldGuard guard(world);
  FakePeer peer({FakeStep::reply(3)}, 0);
  ASSERT_TRUE(peer.ok());
  world.config(config_for(peer));
  world.broadcast = "255.255.255.255";
  HxClient client;
  HxMessage request(401), reply;
  ASSERT_TRUE(client.poll(peer.udpPort(), request, reply));
  EXPECT_EQ(reply.tag(), 3);
  EXPECT_EQ(S(reply.address().stringvalue()), "127.0.0.1");
}

}  // namespace

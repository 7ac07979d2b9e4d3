#include "net/HxConnection.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <net/route.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "core/HxDebug.h"
#include "net/HxCompress.h"
#include "net/HxNetLimits.h"
#include "net/NetTestUtil.h"

using namespace std::string_literals;

namespace {

std::string zlib_compress(std::string const& data) {
  uLongf n = compressBound(data.size());
  std::string out(n, '\0');
  compress(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<Bytef const*>(data.data()), data.size());
  out.resize(n);
  return out;
}

std::string random_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

// A frame as a peer would write it, announcing the given lengths.
std::string frame(std::string const& payload, uint32_t packed, uint32_t plain) {
  return "\x02"s + be32(packed) + be32(plain) + payload;
}

std::string frame_of(std::string const& data) {
  std::string z = zlib_compress(data);
  return frame(z, static_cast<uint32_t>(z.size()), static_cast<uint32_t>(data.size()));
}

// A connection of the given type on one end of a socket pair; the test
// plays the peer on the other end.
struct Pair {
  int peer = -1;
  std::unique_ptr<HxConnection> conn;
  Pair(int type, int timeout, int kind = SOCK_STREAM) {
    int fds[2];
    socketpair(AF_UNIX, kind, 0, fds);
    peer = fds[1];
    conn.reset(new HxConnection(fds[0], type, timeout));
  }
  ~Pair() {
    conn.reset();
    if (peer >= 0) close(peer);
  }
};

std::string received(HxConnection& c, int& length) {
  char* data = c.receive(length);
  std::string out = data ? std::string(data, static_cast<size_t>(length > 0 ? length : 0)) : "<null>";
  delete[] data;
  return out;
}

// ---- frames ----------------------------------------------------------------

TEST(HxConnectionFrame, TenByteMessageOnTheWire) {
  Pair p(1, 30000);
  std::string const message = "0123456789";
  std::string const z = zlib_compress(message);
  EXPECT_EQ(p.conn->send(message.data(), 10), static_cast<int>(z.size()));
  std::string wire = drain(p.peer);
  ASSERT_GE(wire.size(), 9u);
  EXPECT_EQ(wire.substr(0, 9), "\x02"s + be32(static_cast<uint32_t>(z.size())) + "\x00\x00\x00\x0a"s);
  EXPECT_EQ(wire.substr(9), z);
  EXPECT_EQ(p.conn->handled(), z.size());

  // And back: the frame a peer writes is read into the message.
  write_all(p.peer, wire);
  int length = -1;
  EXPECT_EQ(received(*p.conn, length), message);
  EXPECT_EQ(length, 10);
  EXPECT_EQ(p.conn->handled(), z.size() + 10);
}

TEST(HxConnectionFrame, HostileFramesFailWithTheirNumber) {
  std::string const good = zlib_compress("0123456789");
  uint32_t const glen = static_cast<uint32_t>(good.size());
  struct Row {
    char const* name;
    std::string bytes;
    int error;
    std::string version;
  } const rows[] = {
      {"nothing", "", 16, ""},
      {"version 3", "\x03"s + be32(glen) + be32(10) + good, 18, "3"},
      {"version 255", "\xff"s, 18, "255"},
      {"length word cut short", "\x02\x00\x00"s, 19, ""},
      {"second word cut short", "\x02"s + be32(glen) + "\x00"s, 19, ""},
      {"compressed length 0", "\x02"s + be32(0) + be32(10), 20, ""},
      {"compressed length negative", "\x02"s + be32(0x80000000u) + be32(10), 20, ""},
      {"compressed length beyond the limit", "\x02"s + be32(kHxMaxFrameBytes + 1) + be32(10), 20, ""},
      {"plain length 0", "\x02"s + be32(glen) + be32(0), 20, ""},
      {"plain length negative", "\x02"s + be32(glen) + be32(0xffffffffu), 20, ""},
      {"plain length beyond the limit", "\x02"s + be32(glen) + be32(kHxMaxFrameBytes + 1), 20, ""},
      {"compressed beyond deflate's bound", frame(good, 1000, 10), 20, ""},
      {"plain beyond deflate's best ratio", frame(good, glen, glen * 2000), 20, ""},
      {"compressed length 0, second word cut short", "\x02"s + be32(0) + "\x00"s, 20, ""},
      {"version alone", "\x02"s, 19, ""},
      {"header then close", "\x02"s + be32(glen) + be32(10), 41, ""},
      {"payload cut short", frame(good.substr(0, 5), glen, 10), 41, ""},
      {"announces more than inflates", frame(good, glen, 11), 21, ""},
      {"announces less than inflates", frame(good, glen, 9), 21, ""},
      {"not a zlib stream", frame("0123456789ab", 12, 10), 21, ""},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    Pair p(1, 30000);
    write_all(p.peer, row.bytes);
    shutdown(p.peer, SHUT_WR);
    auto start = std::chrono::steady_clock::now();
    int length = 7;
    EXPECT_EQ(received(*p.conn, length), "<null>");
    EXPECT_EQ(p.conn->error().integervalue(), row.error);
    EXPECT_EQ(length, 0);
    if (!row.version.empty()) {
      EXPECT_EQ(S(p.conn->error().value()), "tcp comm version doesn't match - version: " + row.version);
    }
    // Ended by what arrived, never by a wait: a wait would last the whole
    // 30 s, far beyond what a loaded machine adds to reading a few bytes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  }
}

// The header is read in one piece when it is there, but a field that is
// wrong fails as soon as it has arrived: the peer stays open and any wait
// for the rest of the header would time out (42).
TEST(HxConnectionFrame, WrongVersionReadsNoFurther) {
  struct Row {
    std::string bytes;
    int error;
  } const rows[] = {
      {"\x03"s, 18},
      {"\x03\x00\x00\x00\x01"s, 18},
      {"\x02"s + be32(0), 20},
      {"\x02"s + be32(0x80000000u) + "\x00"s, 20},
      {"\x02"s + be32(20) + be32(0), 20},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes));
    NetWorld world;
    world.mode = NetWorld::kTimeOut;
    WorldGuard guard(world);
    Pair p(1, 30000);
    write_all(p.peer, row.bytes);
    int length = 0;
    EXPECT_EQ(received(*p.conn, length), "<null>");
    EXPECT_EQ(p.conn->error().integervalue(), row.error);
    EXPECT_TRUE(world.waits.empty());
  }
}

// A frame's reads and writes wait only when the socket has nothing to give
// or no room: the pieces after the first reach the socket one per wait, so
// each wait is one the receive could not do without. A frame that is there
// whole, or fits the socket, costs no wait at all.
TEST(HxConnectionFrame, WaitsOnlyWhenTheSocketIsNotReady) {
  std::string const message = random_bytes(3000, 8);
  std::string const wire = frame_of(message);
  std::string const head = wire.substr(0, 9), payload = wire.substr(9);
  struct Row {
    char const* name;
    std::vector<std::string> pieces;  // receive: the first before, then one per wait
    size_t waits;
  } const rows[] = {
      {"whole frame in one write", {wire}, 0},
      {"nothing yet, then the whole frame", {"", wire}, 1},
      {"header, then the payload", {head, payload}, 1},
      {"header split, the payload with its end", {head.substr(0, 3), head.substr(3) + payload}, 1},
      {"header and a part, then the rest", {head + payload.substr(0, 100), payload.substr(100)}, 1},
      {"send on an empty socket", {}, 0},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    NetWorld world;
    WorldGuard guard(world);
    Pair p(1, 30000);
    if (row.pieces.empty()) {
      EXPECT_GT(p.conn->send(message.data(), static_cast<int>(message.size())), 0);
      EXPECT_TRUE(drain(p.peer) == wire);
    } else {
      size_t fed = 1;
      write_all(p.peer, row.pieces[0]);
      world.before_wait = [&] {
        if (fed < row.pieces.size()) write_all(p.peer, row.pieces[fed++]);
      };
      int length = 0;
      EXPECT_TRUE(received(*p.conn, length) == message);
      EXPECT_EQ(p.conn->error().integervalue(), -1);
    }
    EXPECT_EQ(world.waits.size(), row.waits);
  }
}

// The peer's bytes arrive one at a time, each only when the reader waits.
TEST(HxConnectionFrame, PiecemealAndInterruptedReadsMakeOneFrame) {
  NetWorld world;
  WorldGuard guard(world);
  Pair p(1, 30000);
  std::string const message = random_bytes(3000, 1);
  std::string const bytes = frame_of(message);
  size_t fed = 0;
  world.before_wait = [&] {
    if (fed < bytes.size()) write_all(p.peer, bytes.substr(fed++, 1));
  };
  world.interrupt_next = 3;
  int length = 0;
  EXPECT_EQ(received(*p.conn, length), message);
  EXPECT_EQ(p.conn->error().integervalue(), -1);
}

// Larger than the socket buffers: the writes go out in pieces.
TEST(HxConnectionFrame, LargeFrameRoundTrip) {
  Pair p(1, 30000);
  std::string const message = random_bytes(4 << 20, 2);
  HxConnection reader(p.peer, 1, 30000);
  p.peer = -1;  // the reader owns it now
  std::string got;
  std::thread t([&] {
    int length = 0;
    got = received(reader, length);
  });
  int sent = p.conn->send(message.data(), static_cast<int>(message.size()));
  t.join();
  EXPECT_GT(sent, static_cast<int>(message.size()));
  EXPECT_TRUE(got == message);
}

// Compression streams and frame buffers are per thread: frames sent and
// received on several threads at once stay whole and apart.
TEST(HxConnectionFrame, ThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (unsigned t = 0; t < 4; ++t) {
    threads.emplace_back([t, &good] {
      int fds[2];
      socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
      HxConnection a(fds[0], 1, 30000), b(fds[1], 1, 30000);
      for (unsigned i = 0; i < 50; ++i) {
        std::string m = random_bytes(100 + 300 * i, t * 1000 + i) + std::string(500, static_cast<char>(t));
        if (a.send(m.data(), static_cast<int>(m.size())) <= 0) return;
        int length = 0;
        if (received(b, length) != m) return;
      }
      ++good;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), 4);
}

TEST(HxConnectionFrame, PeerGoneInsideThePayloadFailsTheSend) {
  Pair p(1, 30000);
  std::string const message = random_bytes(4 << 20, 3);
  std::thread t([&] {
    char buf[1000];
    ASSERT_GT(read(p.peer, buf, sizeof buf), 0);
    close(p.peer);
    p.peer = -1;
  });
  int sent = p.conn->send(message.data(), static_cast<int>(message.size()));
  t.join();
  EXPECT_EQ(sent, -1);
  EXPECT_EQ(p.conn->error().integervalue(), 6);
  EXPECT_EQ(p.conn->handled(), 0u);
}

TEST(HxConnectionFrame, DescriptorAbove1024) {
  rlimit lim;
  getrlimit(RLIMIT_NOFILE, &lim);
  if (lim.rlim_cur < 1600) {
    lim.rlim_cur = std::min<rlim_t>(1600, lim.rlim_max);
    setrlimit(RLIMIT_NOFILE, &lim);
  }
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  if (dup2(fds[0], 1500) != 1500) GTEST_SKIP() << "no descriptor 1500 here";
  close(fds[0]);
  HxConnection high(1500, 1, 30000);
  HxConnection low(fds[1], 1, 30000);
  std::string const message = "far above FD_SETSIZE";
  ASSERT_GT(low.send(message.data(), static_cast<int>(message.size())), 0);
  int length = 0;
  EXPECT_EQ(received(high, length), message);
  ASSERT_GT(high.send(message.data(), static_cast<int>(message.size())), 0);
  EXPECT_EQ(received(low, length), message);
}

// ---- time-outs ---------------------------------------------------------------

// Which wait each operation makes, with the seam answering "timed out".
TEST(HxConnectionTimeout, EachStepWaitsItsShare) {
  struct Row {
    char const* op;
    int timeout;
    int wait;
    int error;
  } const rows[] = {
      {"frame send", 3000, 1000, 43},     {"frame send", 30000, 6000, 43},  {"frame send", 600000, 120000, 43},
      {"frame send", 1500, 1000, 43},     {"frame receive", 3000, 1000, 42}, {"frame receive", 30000, 6000, 42},
      {"frame receive", 600000, 120000, 42}, {"frame receive", 1500, 1000, 42}, {"raw send", 3000, 1500, 9},
      {"raw send", 1500, 1000, 9},        {"raw send", 30000, 15000, 9},    {"raw receive", 1500, 1500, -1},
      {"datagram receive", 1500, 1500, 42},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(std::string(row.op) + " " + std::to_string(row.timeout));
    NetWorld world;
    world.mode = NetWorld::kTimeOut;
    WorldGuard guard(world);
    std::string op = row.op;
    int type = op.find("raw") == 0 ? 4 : op.find("datagram") == 0 ? 2 : 1;
    Pair p(type, row.timeout, type == 2 ? SOCK_DGRAM : SOCK_STREAM);
    int length = 0;
    // A send waits only when the socket has no room.
    if (op.find("send") != std::string::npos) fill_socket(p.conn->sock());
    testing::internal::CaptureStderr();
    if (op.find("send") != std::string::npos) {
      EXPECT_EQ(p.conn->send("abc", 3), -1);
    } else if (type == 4) {
      char* data = p.conn->receive(length);
      ASSERT_NE(data, nullptr);  // an idle raw receive gives an empty buffer
      EXPECT_EQ(length, 0);
      delete[] data;
    } else {
      EXPECT_EQ(received(*p.conn, length), "<null>");
    }
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(world.waits.size(), 1u);
    EXPECT_EQ(world.waits[0], row.wait);
    EXPECT_EQ(p.conn->error().integervalue(), row.error);
    if (row.error == 42 || row.error == 43) {
      EXPECT_EQ(err, "checkpoint(): select() timed out: Connection timed out\n");
    }
  }
}

// A peer that keeps a frame trickling: before every wait one more byte of
// the frame arrives (receiving), or the peer takes what waits for it through
// a small buffer (sending), and the seam's clock moves on. Each wait lasts
// at most one step and never past the deadline, ten steps after the frame
// began; past it the frame fails as a step that timed out does. A frame
// that is whole before its deadline is received as any other.
TEST(HxConnectionTimeout, WholeFrameWithinItsDeadline) {
  struct Row {
    char const* op;
    int timeout;
    int every;         // milliseconds the clock moves per wait
    size_t payload;    // bytes of the frame's payload
    int64_t deadline;  // when the frame fails; 0: it completes
  } const rows[] = {
      {"receive", 10000, 900, 1000, 20000},     {"receive", 600000, 60000, 1000, 1200000},
      {"receive", 1500, 400, 1000, 10000},      {"receive", 3000, 999, 1000, 10000},
      {"receive", 10000, 1, 20, 0},             {"send", 10000, 900, 4 << 20, 20000},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(std::string(row.op) + " " + std::to_string(row.timeout) + " every " + std::to_string(row.every));
    bool const sending = std::string(row.op) == "send";
    NetWorld world;
    WorldGuard guard(world);
    Pair p(1, row.timeout);
    std::string const payload = random_bytes(row.payload, 7);
    std::string const wire = frame_of(payload);
    if (sending) {
      // A blocking socket: no single write may wait for the slow peer.
      int small = 4096;
      setsockopt(p.conn->sock(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    }
    world.steady = 0;
    std::vector<int64_t> clocks;
    size_t fed = 0;
    world.before_wait = [&] {
      clocks.push_back(world.steady);
      if (sending) {
        drain(p.peer);
      } else if (fed < wire.size()) {
        write_all(p.peer, wire.substr(fed++, 1));
      }
      world.steady += row.every;
    };
    int length = 0;
    testing::internal::CaptureStderr();
    std::string const got = sending ? std::to_string(p.conn->send(payload.data(), static_cast<int>(payload.size())))
                                    : received(*p.conn, length);
    std::string const err = testing::internal::GetCapturedStderr();
    int const step = std::max(row.timeout / 5, 1000);
    ASSERT_FALSE(clocks.empty());
    for (size_t i = 0; i < clocks.size(); ++i) {
      EXPECT_LE(world.waits[i], step) << i;
      if (row.deadline > 0) { EXPECT_LE(world.waits[i], row.deadline - clocks[i]) << i; }
    }
    if (row.deadline == 0) {
      EXPECT_EQ(got, payload);
      EXPECT_EQ(err, "");
      continue;
    }
    EXPECT_EQ(got, sending ? "-1" : "<null>");
    EXPECT_EQ(p.conn->error().integervalue(), sending ? 43 : 42);
    EXPECT_EQ(S(p.conn->error().value()), sending ? "select write timeout" : "select read timeout");
    EXPECT_EQ(err, "checkpoint(): select() timed out: Connection timed out\n");
    // Failed at the first look after the deadline, not before it.
    EXPECT_GE(world.steady, row.deadline);
    EXPECT_LT(clocks.back(), row.deadline);
    if (!sending) { EXPECT_EQ(fed, clocks.size()); }
  }
}

TEST(HxConnectionTimeout, NegativeTimeOutFailsAtOnce) {
  NetWorld world;
  WorldGuard guard(world);
  Pair dgram(2, -5, SOCK_DGRAM);
  int length = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(received(*dgram.conn, length), "<null>");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "checkpoint(): select() timed out: Invalid argument\n");
  EXPECT_EQ(dgram.conn->error().integervalue(), 42);

  Pair raw(4, -5);
  write_all(raw.peer, "waiting");
  testing::internal::CaptureStderr();
  EXPECT_EQ(received(*raw.conn, length), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "HxConnection::receiveRawTcp(): select(): Invalid argument\n");

  Pair tcp(1, -5);
  testing::internal::CaptureStderr();
  EXPECT_EQ(tcp.conn->_socket_ready(1, -1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: _socket_ready(): select() returned error\n");
  EXPECT_EQ(S(tcp.conn->error().value()), "select read error: Invalid argument");
  EXPECT_TRUE(world.waits.empty());
}

TEST(HxConnectionTimeout, SocketReadyTexts) {
  NetWorld world;
  world.mode = NetWorld::kTimeOut;
  WorldGuard guard(world);
  Pair p(1, 2500);
  struct Row {
    int direction, timeout, wait, error;
  } const rows[] = {{1, -1, 2500, 42}, {2, -1, 2500, 43}, {1, 70, 70, 42}, {1, -2, -1, 42}};
  for (auto const& row : rows) {
    world.waits.clear();
    testing::internal::CaptureStderr();
    EXPECT_EQ(p.conn->_socket_ready(row.direction, row.timeout), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: _socket_ready(): select() timeout expired\n");
    ASSERT_EQ(world.waits.size(), 1u);
    EXPECT_EQ(world.waits[0], row.wait);
    EXPECT_EQ(p.conn->error().integervalue(), row.error);
  }
  world.mode = NetWorld::kReal;
  EXPECT_EQ(p.conn->_socket_ready(2, -1), 1);
}

// A connection's wait has one deadline on the world's clock: signals that
// let the request go on resume it for what is left; a wait without limit
// stays without.
TEST(HxConnectionTimeout, OneDeadlineAcrossSignals) {
  struct Row {
    char const* name;
    int timeout;  // of _socket_ready: -2 no limit
    std::vector<int> waits;
  } const rows[] = {
      {"limited", 3000, {3000, 2500, 2000, 1500}},
      {"past the deadline", 1200, {1200, 700, 200, 0}},
      {"no limit", -2, {-1, -1, -1, -1}},
  };
  for (Row const& row : rows) {
    NetWorld world;
    world.mode = NetWorld::kTimeOut;
    world.interrupt_next = 3;
    world.steady = 5000;
    world.before_wait = [&] {
      if (world.interrupt_next > 0) world.steady += 500;
    };
    WorldGuard guard(world);
    Pair p(1, 2500);
    testing::internal::CaptureStderr();
    EXPECT_EQ(p.conn->_socket_ready(1, row.timeout), 0) << row.name;
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(world.waits, row.waits) << row.name;
  }
}

TEST(HxConnectionTimeout, ShortRealWait) {
  Pair p(4, 60);
  auto start = std::chrono::steady_clock::now();
  int length = 5;
  char* data = p.conn->receive(length);
  auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_NE(data, nullptr);
  delete[] data;
  EXPECT_EQ(length, 0);
  EXPECT_GE(waited, std::chrono::milliseconds(55));
  // Milliseconds, not the 60 s the same number would give in seconds; a
  // loaded machine may add seconds of its own.
  EXPECT_LT(waited, std::chrono::seconds(20));
}

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

// ---- raw TCP and the rest ----------------------------------------------------

TEST(HxConnectionRaw, BytesAsTheyAre) {
  Pair p(4, 30000);
  EXPECT_EQ(p.conn->send("raw\0bytes", 9), 9);
  EXPECT_EQ(drain(p.peer), "raw\0bytes"s);
  std::string const big = random_bytes(1000, 4);
  write_all(p.peer, big);
  int length = 0;
  EXPECT_EQ(received(*p.conn, length), big);
  EXPECT_EQ(p.conn->handled(), 1009u);
}

// A peer that never falls silent: the seam tops its socket up before every
// wait, so data is always waiting.
TEST(HxConnectionRaw, ReceiveStopsAtItsLimit) {
  NetWorld world;
  WorldGuard guard(world);
  Pair p(4, 30000);
  fcntl(p.peer, F_SETFL, O_NONBLOCK);
  std::string const chunk(256 * 1024, 'r');
  world.before_wait = [&] { (void)!write(p.peer, chunk.data(), chunk.size()); };
  int length = 0;
  char* data = p.conn->receive(length);
  delete[] data;
  EXPECT_EQ(static_cast<size_t>(length), kHxMaxRawReceiveBytes);
}

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

// ---- compression ---------------------------------------------------------------

TEST(HxCompress, SameBytesAsOneShotCompressAndBack) {
  std::string const rows[] = {"", "a", "0123456789", std::string(1024, 'x'), random_bytes(1024, 5),
                              random_bytes(300000, 6)};
  for (std::string const& data : rows) {
    SCOPED_TRACE(data.size());
    for (int round = 0; round < 2; ++round) {  // the second time on a reset stream
      int n = -1;
      char* z = HxCompress::compact(n, data.data(), static_cast<int>(data.size()));
      ASSERT_NE(z, nullptr);
      std::string packed(z, static_cast<size_t>(n));
      delete[] z;
      EXPECT_TRUE(packed == zlib_compress(data));
      for (int delta : {0, -1, 1}) {
        int length = static_cast<int>(data.size()) + delta;
        if (length < 0) continue;
        char* plain = HxCompress::uncompact(length, packed.data(), n);
        EXPECT_EQ(plain != nullptr, delta == 0);
        if (plain) {
          EXPECT_TRUE(std::string(plain, data.size()) == data);
        }
        delete[] plain;
      }
    }
  }
  std::thread other([] {
    int n = 0;
    char* z = HxCompress::compact(n, "another thread", 14);
    EXPECT_TRUE(std::string(z, static_cast<size_t>(n)) == zlib_compress("another thread"));
    delete[] z;
  });
  other.join();
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

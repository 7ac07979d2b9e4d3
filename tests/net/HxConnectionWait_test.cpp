#include "net/HxConnection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "net/ConnectionTestUtil.h"

using namespace std::string_literals;

namespace {

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
    std::string const wire = tcp_frame(payload);
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

}  // namespace

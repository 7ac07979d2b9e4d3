#include "net/HxConnection.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer runtime's count of the heap in use (its header is not
// always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/ConnectionTestUtil.h"
#include "net/HxNetLimits.h"

using namespace std::string_literals;

namespace {

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
  std::string const wire = tcp_frame(message);
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
  std::string const bytes = tcp_frame(message);
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

// ---- the buffers a thread keeps between frames ------------------------------

// Bytes of the heap in use in the whole process now.
size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return __sanitizer_get_current_allocated_bytes();
#else
  struct mallinfo2 const m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

// A thread keeps one buffer for the frames it sends and one for those it
// reads, so that a frame allocates no buffer of its own; one that a frame
// made larger than kHxKeptBufferBytes is given back. Measured as the heap in
// use on a fresh thread, whose compression streams the first, tiny, frame
// has made; helper threads play the peer with plain reads and writes.
TEST(HxConnectionFrame, ThreadKeepsItsFrameBuffersButNoLargeOne) {
  std::string const tiny = "0123456789";
  std::string const small = random_bytes(100 * 1024, 9);
  std::string const large = random_bytes(3 << 20, 10);
  std::string const large_frame = tcp_frame(large);
  struct Step {
    char const* name;
    long long kept;  // the heap in use after it, against before the small frames
  };
  std::vector<Step> steps;
  std::thread([&] {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    HxConnection a(fds[0], 1, 30000), b(fds[1], 1, 30000);
    auto round = [&](std::string const& m) {
      ASSERT_GT(a.send(m.data(), static_cast<int>(m.size())), 0);
      int length = 0;
      char* got = b.receive(length);
      ASSERT_EQ(static_cast<size_t>(length), m.size());
      delete[] got;
    };
    round(tiny);
    long long const before = static_cast<long long>(heap_in_use());
    auto note = [&](char const* name) { steps.push_back({name, static_cast<long long>(heap_in_use()) - before}); };
    round(small);
    note("after a 100 KiB frame each way");
    round(small);
    note("after another");
    {
      // Sent by this thread, read by a peer that takes the bytes as they come.
      std::thread peer([&] {
        size_t const want = large_frame.size();
        char bytes[65536];
        for (size_t got = 0; got < want;) {
          ssize_t const n = read(fds[1], bytes, std::min(sizeof bytes, want - got));
          if (n <= 0) break;
          got += static_cast<size_t>(n);
        }
      });
      EXPECT_GT(a.send(large.data(), static_cast<int>(large.size())), 0);
      peer.join();
    }
    note("after a 3 MiB frame sent");
    {
      std::thread peer([&] { write_all(fds[0], large_frame); });
      int length = 0;
      char* got = b.receive(length);
      peer.join();
      EXPECT_EQ(static_cast<size_t>(length), large.size());
      delete[] got;
    }
    note("after a 3 MiB frame read");
  }).join();
  ASSERT_EQ(steps.size(), 4u);
  long long const kept = 2 * static_cast<long long>(small.size());
  // Both buffers of the small frames kept (the tiny ones they replaced
  // were a few bytes), and not made again for the next frame.
  EXPECT_GE(steps[0].kept, kept * 9 / 10) << steps[0].name;
  EXPECT_LE(steps[1].kept, steps[0].kept + 16 * 1024) << steps[1].name;
  // A large frame's buffer is given back: the receive buffer of the small
  // frames stays, the send buffer goes, and then the receive buffer too.
  EXPECT_LT(steps[2].kept, static_cast<long long>(kHxKeptBufferBytes)) << steps[2].name;
  EXPECT_LT(steps[3].kept, static_cast<long long>(kHxKeptBufferBytes)) << steps[3].name;
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

}  // namespace

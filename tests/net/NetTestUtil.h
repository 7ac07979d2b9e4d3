#pragma once

// Helpers of the transport tests: a world that records and answers socket
// waits, and small plain-socket peers on 127.0.0.1 with ports the system
// chooses.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/wait.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "core/HxDebug.h"
#include "core/HxInterrupt.h"
#include "core/HxList.h"
#include "core/HxWorld.h"

using hxtest::S;

// Waits either pass through to the system or time out at once (moving a
// steady clock the test set by their time-out); every time-out asked for is
// recorded. A hook runs before each wait (to feed a peer, or to
// move the clock). The steady clock is real until a test sets `steady`.
class NetWorld : public HxWorld {
 public:
  enum Mode { kReal, kTimeOut };
  Mode mode = kReal;
  std::vector<int> waits;
  std::function<void()> before_wait;
  int64_t steady = -1;  // milliseconds; below 0 the real clock

  int64_t steadyMicros() override { return steady < 0 ? HxWorld::steadyMicros() : steady * 1000; }
  int interrupt_next = 0;  // waits that fail with EINTR first
  HxString broadcast = "127.0.0.1";
  bool mac_fails = false;
  std::vector<std::string> macs;

  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    waits.push_back(timeout_ms);
    if (before_wait) before_wait();
    if (interrupt_next > 0) {
      --interrupt_next;
      errno = EINTR;
      return -1;
    }
    if (mode == kTimeOut) {
      // A wait that times out lasts its time on a clock the test set.
      if (steady >= 0 && timeout_ms > 0) steady += timeout_ms;
      return 0;
    }
    return HxWorld::poll(fds, count, timeout_ms);
  }
  HxString broadcastAddress() override { return broadcast; }
  bool macAddresses(HxStringList& out, HxString& failed) override {
    out.clear();
    if (mac_fails) {
      failed = "opendir()";
      return false;
    }
    for (auto const& m : macs) out.append(new HxString(m.c_str()));
    return true;
  }
};

// Interrupt checks (core/HxInterrupt.h) for the tests of waits: one that
// always lets the request go on, one that always ends it.
inline bool check_says_no() { return false; }
inline bool check_says_yes() { return true; }

// Installs an interrupt check and whether this thread is watched, for one
// scope, with the thread's slice begun anew (by an ask that says no); puts
// back no check, a watched thread and no mark.
struct CheckGuard {
  CheckGuard(HxInterruptCheck check, bool watched) {
    hx_set_interrupt_check(check_says_no);
    hx_check_interrupt();
    hx_set_interrupt_check(check);
    hx_watch_thread(watched);
  }
  ~CheckGuard() {
    hx_set_interrupt_check(nullptr);
    hx_watch_thread(true);
    hx_interrupted(false);
  }
};

// Installs a world for one test's life.
struct WorldGuard {
  explicit WorldGuard(HxWorld& w) { hx_set_world(&w); }
  ~WorldGuard() { hx_set_world(nullptr); }
};

inline sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

inline int local_port(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}

// A socket of the given kind bound to 127.0.0.1 on a port the system chose.
inline int bound_socket(int kind) {
  int fd = socket(AF_INET, kind, 0);
  sockaddr_in a = loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

inline int listening_socket() {
  int fd = bound_socket(SOCK_STREAM);
  listen(fd, 8);
  return fd;
}

// Everything the peer end has to read now (it does not wait).
inline std::string drain(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) != 1) break;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

inline void write_all(int fd, std::string const& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Writes to fd until its socket takes no more, so that the next write
// there would block (large pieces first, then single bytes to top it up).
inline void fill_socket(int fd) {
  std::string const chunk(65536, 'f');
  for (size_t piece : {chunk.size(), size_t{1}}) {
    while (send(fd, chunk.data(), piece, MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
    }
  }
}

// Reads n bytes; false when the peer went first.
inline bool read_exactly(int fd, std::string& out, size_t n) {
  out.assign(n, '\0');
  size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 30000) != 1) return false;
    ssize_t r = ::read(fd, &out[got], n - got);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

// One request frame's payload, inflated; "<bad frame>" when it is not one.
inline std::string read_request(int fd) {
  std::string header, packed;
  if (!read_exactly(fd, header, 9) || header[0] != 2) return "<bad frame>";
  auto word = [&](int at) {
    auto const* u = reinterpret_cast<unsigned char const*>(header.data() + at);
    return (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | uint32_t{u[3]};
  };
  if (!read_exactly(fd, packed, word(1))) return "<bad frame>";
  std::string plain(word(5), '\0');
  uLongf n = plain.size();
  if (uncompress(reinterpret_cast<Bytef*>(&plain[0]), &n, reinterpret_cast<Bytef const*>(packed.data()),
                 packed.size()) != Z_OK ||
      n != plain.size())
    return "<bad frame>";
  return plain;
}

// Accepts one connection within 30 s; -1 when none came.
inline int accept_one(int listener) {
  pollfd p{listener, POLLIN, 0};
  if (::poll(&p, 1, 30000) != 1) return -1;
  return ::accept(listener, nullptr, nullptr);
}

// Big-endian 32-bit word as four bytes.
inline std::string be32(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}

// zlib's one-shot compress() of these bytes at the default level.
inline std::string zlib_compress(std::string const& data) {
  uLongf n = compressBound(data.size());
  std::string out(n, '\0');
  compress(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<Bytef const*>(data.data()), data.size());
  out.resize(n);
  return out;
}

// A whole TCP frame of these payload bytes, as a peer writes it.
inline std::string tcp_frame(std::string const& payload) {
  std::string const z = zlib_compress(payload);
  return "\x02" + be32(static_cast<uint32_t>(z.size())) + be32(static_cast<uint32_t>(payload.size())) + z;
}

// The packed form of a message of this tag whose content is a list (type
// list_type) of n empty records of type item_type, 12 bytes each on the
// wire: what a hostile peer sends to make the receiver build n objects.
inline std::string empty_records_message(int tag, int list_type, int item_type, size_t n) {
  std::string item = be32(0x000A0004u) + be32(static_cast<uint32_t>(item_type)) + be32(0);
  std::string list = be32(0x00010001u) + be32(static_cast<uint32_t>(n));
  list.reserve(list.size() + n * item.size());
  for (size_t i = 0; i < n; ++i) list += item;
  std::string out = be32(1) + be32(0x00010001u) + be32(static_cast<uint32_t>(tag)) + be32(0x00040001u) +
                    be32(static_cast<uint32_t>(list_type)) + be32(0x00030004u) +
                    be32(static_cast<uint32_t>(list_type)) + be32(static_cast<uint32_t>(list.size()));
  out.reserve(out.size() + list.size() + 8);
  out += list;
  out += be32(0x00070001u) + be32(530);
  return out;
}

// A peer on a plain TCP socket of 127.0.0.1 with a port the system chose:
// it accepts one connection, reads the request that comes first, then
// writes `bytes` in pieces of `piece` bytes with `pause` between them,
// until all is written or the other end goes, and closes.
class WritingPeer {
 public:
  WritingPeer(std::string bytes, size_t piece, std::chrono::milliseconds pause)
      : listener_(listening_socket()), bytes_(std::move(bytes)) {
    thread_ = std::thread([this, piece, pause] { serve_(piece, pause); });
  }
  explicit WritingPeer(std::string bytes) : WritingPeer(std::move(bytes), std::string::npos, {}) {}
  WritingPeer(WritingPeer const&) = delete;
  WritingPeer& operator=(WritingPeer const&) = delete;
  ~WritingPeer() {
    thread_.join();
    close(listener_);
  }
  int port() const { return local_port(listener_); }
  // The bytes written before the peer stopped (read after it stopped).
  size_t written() const { return written_; }

 private:
  void serve_(size_t piece, std::chrono::milliseconds pause) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return;
    int const fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    pollfd r{fd, POLLIN, 0};
    char request[65536];
    if (::poll(&r, 1, 10000) == 1) (void)!read(fd, request, sizeof request);
    while (written_ < bytes_.size()) {
      size_t const n = std::min(piece, bytes_.size() - written_);
      ssize_t const w = send(fd, bytes_.data() + written_, n, MSG_NOSIGNAL);
      if (w <= 0) break;
      written_ += static_cast<size_t>(w);
      if (pause.count() > 0) std::this_thread::sleep_for(pause);
    }
    close(fd);
  }

  int listener_;
  std::string bytes_;
  size_t written_ = 0;
  std::thread thread_;
};

// The debug log goes to a file of the test's own while this lives; lines()
// gives what was written, each without its time-stamp prefix.
class DebugLog {
 public:
  DebugLog() : file_("", "hxnetlog") { hx_debug_filename(file_.path(), 0); }
  ~DebugLog() { hx_debug_filename("", 0); }
  std::string lines() const {
    std::string text = file_.read(), out;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(at, end - at);
      size_t mark = line.find("]: ");
      out += (mark == std::string::npos ? line : line.substr(mark + 3)) + "\n";
      at = end + 1;
    }
    return out;
  }

 private:
  hxtest::TempFile file_;
};

// Runs this test binary again, limited to `filter`, inside a private network
// namespace whose loopback is up and carries the route for 255.255.255.255,
// with HX_TEST_INSIDE_NETNS set: real broadcasts then stay inside. Gives
// the run's exit code; 77 when the namespace or its route cannot be made
// here (126 and 127 when a tool is missing).
inline int run_in_private_network(std::string const& filter) {
  if (std::system("unshare -rn true >/dev/null 2>&1") != 0) return 77;
  char self[4096];
  ssize_t const n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 77;
  self[n] = 0;
  std::string const command =
      "unshare -rn sh -c 'ip link set lo up && ip route add 255.255.255.255/32 dev lo || exit 77; "
      "HX_TEST_INSIDE_NETNS=1 exec \"" + std::string(self) + "\" --gtest_filter=" + filter + "' >/dev/null 2>&1";
  int const status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

inline bool inside_private_network() { return std::getenv("HX_TEST_INSIDE_NETNS") != nullptr; }

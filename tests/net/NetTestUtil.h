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

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "core/HxDebug.h"
#include "core/HxList.h"
#include "core/HxWorld.h"

using hxtest::S;

// Waits either pass through to the system or time out at once; every time-out
// asked for is recorded. A hook runs before each wait (to feed a peer).
class NetWorld : public HxWorld {
 public:
  enum Mode { kReal, kTimeOut };
  Mode mode = kReal;
  std::vector<int> waits;
  std::function<void()> before_wait;
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
    if (mode == kTimeOut) return 0;
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

// Big-endian 32-bit word as four bytes.
inline std::string be32(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}

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

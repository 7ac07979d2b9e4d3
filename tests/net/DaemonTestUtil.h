#pragma once

// Helpers of the daemon and mediator tests: a world with its own client
// configuration and temporary directory, and senders that reach a daemon's
// ports on 127.0.0.1 with plain connections and read what comes back.

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "net/HxConnection.h"
#include "net/HxMessage.h"
#include "net/NetTestUtil.h"

int const kLoopback = 0x7f000001;

// Socket waits pass through (or fail once on request); pauses are recorded,
// not taken; the clock and the draws are the test's.
class DaemonWorld : public NetWorld {
 public:
  hxtest::TempDir dir{"hxdaemon"};
  std::vector<int64_t> sleeps;
  std::atomic<int64_t> clock{1700000000};
  std::vector<int> draws;  // handed out in turn, the last one repeating
  size_t drawn = 0;
  bool fail_next = false;

  DaemonWorld() {
    macs = {"02:00:00:00:00:01"};
    config("");
  }
  void config(std::string const& text) { dir.write("hx.conf", text); }
  // Fake peers serve from threads of their own: their waits pass straight
  // through and are not recorded.
  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    if (std::this_thread::get_id() != main_) return HxWorld::poll(fds, count, timeout_ms);
    if (fail_next) {
      fail_next = false;
      waits.push_back(timeout_ms);
      errno = EBADF;
      return -1;
    }
    return NetWorld::poll(fds, count, timeout_ms);
  }
  std::thread::id main_ = std::this_thread::get_id();
  HxString clientConfigPath() override { return dir.hxfile("hx.conf"); }
  HxString tempDir() override { return hxtest::H(dir.path()); }
  int64_t now() override { return clock; }
  void sleepMillis(int64_t ms) override { sleeps.push_back(ms); }
  int random() override {
    if (draws.empty()) return 0;
    int r = draws[drawn < draws.size() ? drawn : draws.size() - 1];
    ++drawn;
    return r;
  }
};

// One message to send, as a message or as raw payload bytes.
struct Send {
  bool datagram = true;
  int tag = 0;
  int version = 530;
  std::string tarv;
  std::string mac;
  std::string user;
  bool raw = false;
  std::string data;

  static Send tcp(int tag) {
    Send s;
    s.datagram = false;
    s.tag = tag;
    return s;
  }
  static Send udp(int tag, int version = 530) {
    Send s;
    s.tag = tag;
    s.version = version;
    return s;
  }
  static Send bytes(std::string const& b) {
    Send s;
    s.raw = true;
    s.data = b;
    return s;
  }
  std::string payload() const {
    if (raw) return data;
    HxMessage m(tag);
    m.version(version);
    m.tarvdomain(hxtest::H(tarv));
    if (!mac.empty()) m.macaddress(HxMacAddress(hxtest::H(mac)));
    m.user(hxtest::H(user));
    m.pack();
    return std::string(m.packContents(), static_cast<size_t>(m.packSize()));
  }
};

// Sends to a daemon's TCP and UDP ports; the last connection used is kept to
// read the answer.
class Peers {
 public:
  Peers(int tcp_port, int udp_port) : tcp_(tcp_port), udp_port_(udp_port) {}

  void send(Send const& s) {
    std::string p = s.payload();
    if (s.datagram) {
      if (!udp_) udp_.reset(new HxConnection("127.0.0.1", udp_port_, 2, 0));
      udp_->send(p.data(), static_cast<int>(p.size()));
      last_ = udp_.get();
    } else {
      tcps_.emplace_back(new HxConnection("127.0.0.1", tcp_, 1, 2000));
      tcps_.back()->send(p.data(), static_cast<int>(p.size()));
      last_ = tcps_.back().get();
    }
  }
  // The payload of the answer on the last connection; empty when none.
  std::string replyBytes() {
    if (last_ == nullptr) return "";
    int length = 0;
    std::unique_ptr<char[]> data(last_->receive(length));
    return data ? std::string(data.get(), static_cast<size_t>(length)) : std::string();
  }
  // The answer decoded: its tag (-1 when none), and version.
  int replyTag() {
    std::string b = replyBytes();
    if (b.empty()) return -1;
    HxMessage m;
    m.unpack(b.data(), static_cast<int>(b.size()));
    version_ = m.version();
    return m.tag();
  }
  int replyVersion() const { return version_; }

 private:
  int tcp_;
  int udp_port_;
  std::unique_ptr<HxConnection> udp_;
  std::vector<std::unique_ptr<HxConnection>> tcps_;
  HxConnection* last_ = nullptr;
  int version_ = 0;
};

// Puts standard output and standard error back as they were.
class StreamGuard {
 public:
  StreamGuard() : out_(dup(STDOUT_FILENO)), err_(dup(STDERR_FILENO)) {}
  ~StreamGuard() {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(out_, STDOUT_FILENO);
    dup2(err_, STDERR_FILENO);
    close(out_);
    close(err_);
  }

 private:
  int out_;
  int err_;
};

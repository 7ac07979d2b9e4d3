#pragma once

// A scripted peer for conversation tests: one TCP and one UDP port of an
// HxServer on 127.0.0.1, ports chosen by the system, served by a thread of
// its own. Every request that arrives is kept (its bytes) and answered by the
// next step of the script; the last step repeats, or by a handler that
// reads the request as a message and fills the reply (a fake supervisor or
// worker). Free of test framework code, so that benchmarks can use it too.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/HxConnection.h"
#include "net/HxMessage.h"
#include "net/HxServer.h"

struct FakeStep {
  enum Kind {
    kReply,    // a message of this tag, version and content
    kSilence,  // nothing; a TCP connection stays open until the peer ends
    kClose,    // a TCP connection is closed without a reply
    kRaw,      // these bytes as the payload of the frame or datagram
  };
  Kind kind = kReply;
  int tag = 3;
  int version = 530;
  std::function<HxPack*()> content;  // none when empty
  std::string raw;
  std::vector<int> series;  // UDP: one reply of each of these tags instead

  static FakeStep reply(int tag) {
    FakeStep s;
    s.tag = tag;
    return s;
  }
  static FakeStep of(Kind kind) {
    FakeStep s;
    s.kind = kind;
    return s;
  }
};

class FakePeer {
 public:
  // Answers each request: the handler sees the request decoded and fills
  // the reply (tag, version, content); returning false sends nothing and
  // closes the connection.
  using Handler = std::function<bool(HxMessage& request, HxMessage& reply)>;

  // The ports listen on `address` (host order): 127.0.0.1, or any address
  // to receive broadcasts inside a private network namespace.
  explicit FakePeer(std::vector<FakeStep> script = {FakeStep::reply(3)}, uint32_t address = 0x7f000001,
                    Handler handler = nullptr)
      : script_(std::move(script)), handler_(std::move(handler)) {
    server_.timeout(20);
    server_.addport(static_cast<int>(address), 0, 1);
    server_.addport(static_cast<int>(address), 0, 2);
    ok_ = server_.openport() == 1;
    if (ok_) thread_ = std::thread([this] { run_(); });
  }
  explicit FakePeer(Handler handler, uint32_t address = 0x7f000001)
      : FakePeer(std::vector<FakeStep>{FakeStep::reply(3)}, address, std::move(handler)) {}
  // Both ports on one number, as a supervisor listens: a client that found
  // it by a broadcast to its UDP port then converses with its TCP port of
  // the same number. ok() is false when no such pair could be found.
  struct OnePort {};
  FakePeer(OnePort, Handler handler, uint32_t address = 0x7f000001)
      : script_{FakeStep::reply(3)}, handler_(std::move(handler)) {
    server_.timeout(20);
    int const port = freePortPair_(address);
    if (port == 0) return;
    server_.addport(static_cast<int>(address), port, 1);
    server_.addport(static_cast<int>(address), port, 2);
    ok_ = server_.openport() == 1;
    if (ok_) thread_ = std::thread([this] { run_(); });
  }
  FakePeer(FakePeer const&) = delete;
  FakePeer& operator=(FakePeer const&) = delete;
  ~FakePeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  bool ok() const { return ok_; }
  int tcpPort() const { return server_.port(0); }
  int udpPort() const { return server_.port(1); }
  // The payloads received so far, in order.
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> hold(mu_);
    return requests_;
  }
  // The payloads that came over TCP, in order. Tests that talk to the peer
  // only over TCP count these: their UDP port's number is free in the TCP
  // space, so another test process may pick it as a "closed" port and send a
  // datagram there.
  std::vector<std::string> tcpRequests() const {
    std::lock_guard<std::mutex> hold(mu_);
    std::vector<std::string> out;
    for (size_t i = 0; i < requests_.size(); ++i)
      if (!datagram_[i]) out.push_back(requests_[i]);
    return out;
  }
  // Waits (bounded: 20 s at the least, which only a peer that never reads
  // takes on a loaded machine) until n requests have come: a transmit
  // returns before the peer has read what it sent.
  bool await(size_t n) const {
    for (int i = 0; i < 20000; ++i) {
      if (requests().size() >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

 private:
  // A port number free for TCP and UDP alike on the address (0 when none
  // was found): both are bound once to prove it, then given up for the
  // server to take.
  static int freePortPair_(uint32_t address) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      int const tcp = ::socket(AF_INET, SOCK_STREAM, 0), udp = ::socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in at{};
      at.sin_family = AF_INET;
      at.sin_addr.s_addr = htonl(address);
      socklen_t len = sizeof at;
      int port = 0;
      if (::bind(tcp, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
          getsockname(tcp, reinterpret_cast<sockaddr*>(&at), &len) == 0 &&
          ::bind(udp, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0)
        port = ntohs(at.sin_port);
      ::close(tcp);
      ::close(udp);
      if (port != 0) return port;
    }
    return 0;
  }

  void run_() {
    while (!stop_) {
      std::unique_ptr<HxConnection> c(server_.service(1));
      if (c == nullptr) continue;
      int length = 0;
      char* data = c->receive(length);
      if (data == nullptr) continue;
      FakeStep step;
      {
        std::lock_guard<std::mutex> hold(mu_);
        requests_.emplace_back(data, static_cast<size_t>(length));
        datagram_.push_back(c->type() == 2);
        step = script_[std::min(next_++, script_.size() - 1)];
      }
      if (handler_) {
        serve_(*c, data, length);
        delete[] data;
        continue;
      }
      delete[] data;
      answer_(*c, step, c->type() == 2);
      if (step.kind == FakeStep::kSilence && c->type() == 1) held_.push_back(std::move(c));
    }
  }

  void serve_(HxConnection& c, char const* data, int length) {
    HxMessage request, reply(3);
    request.unpack(data, length);
    if (!handler_(request, reply)) return;
    reply.pack();
    c.send(reply.packContents(), reply.packSize());
  }

  static void answer_(HxConnection& c, FakeStep const& step, bool datagram) {
    if (step.kind == FakeStep::kRaw) {
      c.send(step.raw.data(), static_cast<int>(step.raw.size()));
      return;
    }
    if (step.kind != FakeStep::kReply) return;
    std::vector<int> tags = datagram && !step.series.empty() ? step.series : std::vector<int>{step.tag};
    for (int tag : tags) {
      HxMessage m(tag);
      m.version(step.version);
      if (step.content) m.content(step.content());
      m.pack();
      c.send(m.packContents(), m.packSize());
    }
  }

  HxServer server_;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mu_;
  std::vector<FakeStep> script_;
  Handler handler_;
  size_t next_ = 0;
  std::vector<std::string> requests_;
  std::vector<bool> datagram_;  // per request: came as a datagram
  std::vector<std::unique_ptr<HxConnection>> held_;
};

#pragma once

// Helpers of the API tests: a world whose configuration file the test
// writes and whose pauses are recorded and return at once, and replies made
// the way a connection makes them (packed, then unpacked).

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <utility>
#include <mutex>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "core/HxList.h"
#include "core/HxWorld.h"
#include "net/HxMessage.h"
#include "tests/net/FakePeer.h"

namespace hxtest {

class ApiWorld : public HxWorld {
 public:
  ApiWorld() { config(""); }
  // Replaces the client configuration file's text.
  void config(std::string const& text) { dir_.write("hx.conf", text); }
  HxString clientConfigPath() override { return dir_.hxfile("hx.conf"); }
  HxString tempDir() override { return H(dir_.path()); }
  // Supervisor discovery never leaves the machine.
  HxString broadcastAddress() override { return "127.0.0.1"; }
  void sleepMillis(int64_t ms) override {
    std::lock_guard<std::mutex> hold(lock_);
    sleeps_.push_back(ms);
  }
  bool macAddresses(HxStringList& out, HxString&) override {
    out.clear();
    for (auto const& m : macs) out.append(new HxString(m.c_str()));
    return true;
  }
  std::vector<int64_t> sleeps() {
    std::lock_guard<std::mutex> hold(lock_);
    return sleeps_;
  }
  std::vector<std::string> macs{"02:00:00:00:00:01"};

 private:
  TempDir dir_{"hxapi"};
  std::mutex lock_;
  std::vector<int64_t> sleeps_;
};

// Installs a world, and clears the environment that would override its
// configuration, for one test's life.
class ApiWorldGuard {
 public:
  explicit ApiWorldGuard(HxWorld& w) {
    for (char const* v : {"HX_SUPERVISOR", "HX_DOMAIN", "HX_DIR"}) unsetenv(v);
    hx_set_world(&w);
  }
  ~ApiWorldGuard() { hx_set_world(nullptr); }
};

// The bytes of a message as a peer would send them.
inline std::string packed(HxMessage& m) {
  m.pack();
  return std::string(m.packContents(), static_cast<size_t>(m.packSize()));
}

// A reply read from bytes, as a connection gives it.
inline void unpack_into(HxMessage& reply, std::string const& bytes) {
  reply.unpack(bytes.data(), static_cast<int>(bytes.size()));
}

// The packed bytes with the declared content type (field 4, an integer
// record) changed from `from` to `to`.
inline std::string redeclared(std::string bytes, int from, int to) {
  std::string rec = std::string("\x00\x04\x00\x01", 4) + std::string(4, '\0');
  for (int i = 0; i < 4; ++i) rec[4 + i] = static_cast<char>((static_cast<unsigned>(from) >> (24 - 8 * i)) & 0xff);
  size_t at = bytes.find(rec);
  if (at == std::string::npos) return bytes;
  for (int i = 0; i < 4; ++i)
    bytes[at + 4 + i] = static_cast<char>((static_cast<unsigned>(to) >> (24 - 8 * i)) & 0xff);
  return bytes;
}

// A fake supervisor (and worker) on 127.0.0.1 answering through a handler,
// named by the world's configuration: supervisor, sub and worker ports are
// all its TCP port. Declare it after the world and its guard, which its
// thread reaches through the seam.
class FakeFarm {
 public:
  FakeFarm(ApiWorld& world, FakePeer::Handler handler, std::string const& extra = "") : peer_(std::move(handler)) {
    world.config(config(extra));
  }
  std::string config(std::string const& extra = "") const {
    std::string const port = std::to_string(peer_.tcpPort());
    return "hx_supervisor = 127.0.0.1\nsupervisor_port = " + port + "\nsupervisor_sub_port = " + port +
           "\nworker_port = " + port + "\n" + extra;
  }
  bool ok() const { return peer_.ok(); }
  int port() const { return peer_.tcpPort(); }
  // The requests received so far over TCP, decoded.
  std::vector<std::unique_ptr<HxMessage>> requests() const {
    std::vector<std::unique_ptr<HxMessage>> out;
    for (auto const& bytes : peer_.tcpRequests()) {
      out.emplace_back(new HxMessage);
      unpack_into(*out.back(), bytes);
    }
    return out;
  }

 private:
  FakePeer peer_;
};

// A reply of this tag carrying `content` (owned by the reply).
inline bool answer(HxMessage& reply, int tag, HxPack* content = nullptr) {
  reply.tag(tag);
  reply.content(content);
  return true;
}

// Sets environment variables for one scope (a null value unsets one) and
// puts back what they held. Set them before starting fake peers.
class ScopedEnv {
 public:
  ScopedEnv(std::initializer_list<std::pair<char const*, char const*>> vars) {
    for (auto const& [name, value] : vars) {
      char const* old = std::getenv(name);
      saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
      if (value != nullptr) {
        setenv(name, value, 1);
      } else {
        unsetenv(name);
      }
    }
  }
  ScopedEnv(ScopedEnv const&) = delete;
  ScopedEnv& operator=(ScopedEnv const&) = delete;
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->had) {
        setenv(it->name.c_str(), it->value.c_str(), 1);
      } else {
        unsetenv(it->name.c_str());
      }
    }
  }

 private:
  struct Saved {
    std::string name;
    bool had;
    std::string value;
  };
  std::vector<Saved> saved_;
};

}  // namespace hxtest

#pragma once

// Helpers of the API tests: a world whose configuration file the test
// writes and whose pauses are recorded and return at once, and replies made
// the way a connection makes them (packed, then unpacked).

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "core/HxList.h"
#include "core/HxWorld.h"
#include "net/HxMessage.h"

namespace hxtest {

class ApiWorld : public HxWorld {
 public:
  ApiWorld() { config(""); }
  // Replaces the client configuration file's text.
  void config(std::string const& text) { dir_.write("hx.conf", text); }
  HxString clientConfigPath() override { return dir_.hxfile("hx.conf"); }
  HxString tempDir() override { return H(dir_.path()); }
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

}  // namespace hxtest

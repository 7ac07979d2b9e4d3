#include "core/HxWorld.h"

#include <dirent.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/HxAtLoad.h"
#include "core/HxInterrupt.h"
#include "core/HxList.h"
#include "core/HxProcessLocks.h"

namespace {

// The real world, built before any code runs and never destroyed: a thread
// may still ask it the time while the program exits.
union RealWorld {
  constexpr RealWorld() : world() {}
  ~RealWorld() {}
  HxWorld world;
};
RealWorld g_real;
HxWorld* const g_real_world = &g_real.world;
std::atomic<HxWorld*> g_world{g_real_world};
std::atomic<uint64_t> g_generation{0};

// The MAC list kept for the process, with the world count and the time it
// was read under, under the process lock kMacCache. Never destroyed: a
// thread may still send at exit.
struct MacCache {
  std::shared_ptr<HxHostMacs const> macs;
  uint64_t generation = 0;
  int64_t read_at = 0;
};

MacCache& mac_cache() {
  static MacCache* cache = new MacCache();
  return *cache;
}

// One generator for the process, seeded once, under the process lock
// kRandom. Never destroyed: a thread may still send at exit.
std::mt19937& generator() {
  static std::mt19937* gen = new std::mt19937(std::random_device{}());
  return *gen;
}

HxAtLoad const g_mac_cache_at_load(mac_cache);
HxAtLoad const g_generator_at_load(generator);

}  // namespace

int64_t HxWorld::now() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

int64_t HxWorld::steadyMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void HxWorld::sleepMillis(int64_t millis) { hx_pause_millis(millis); }

int HxWorld::random() {
  std::mt19937& gen = generator();
  HxProcessLockHold hold(HxProcessLock::kRandom);
  return static_cast<int>(gen() % (static_cast<unsigned>(RAND_MAX) + 1u));
}

HxString HxWorld::clientConfigPath() { return "/etc/hx.conf"; }

HxString HxWorld::tempDir() { return "/tmp"; }

HxString HxWorld::broadcastAddress() { return "255.255.255.255"; }

int HxWorld::poll(pollfd* fds, unsigned long count, int timeout_ms) {
  return ::poll(fds, static_cast<nfds_t>(count), timeout_ms);
}

int hx_poll(pollfd* fds, unsigned long count, int timeout_ms) {
  if (hx_interrupted()) {
    errno = EINTR;
    return -1;
  }
  // The deadline is on the clock from which the check's wait for the
  // interpreter lock is left out (hx_wait_millis).
  bool const unlimited = timeout_ms < 0;
  int64_t const deadline = unlimited ? 0 : hx_wait_millis() + timeout_ms;
  int left = unlimited ? -1 : timeout_ms;
  for (;;) {
    HxSliceStep step(left);
    int const r = hx_world().poll(fds, count, step.millis());
    int const err = errno;
    bool const interrupted = r < 0 && err == EINTR;
    if (r < 0 && !interrupted) return r;
    // A signal interrupted the wait, or the thread's slice is used up.
    if ((interrupted || step.used(r == 0)) && hx_check_interrupt()) {
      errno = EINTR;
      return -1;
    }
    if (r > 0 || (r == 0 && !step.cut())) {
      errno = err;
      return r;
    }
    if (!unlimited) {
      int64_t const ms = deadline - hx_wait_millis();
      left = ms <= 0 ? 0 : static_cast<int>(std::min<int64_t>(ms, INT_MAX));
    }
  }
}

bool HxWorld::macAddresses(HxStringList& out, HxString& failed) {
  return hx_mac_addresses_from("/sys/class/net", "/proc/net/route", out, failed);
}

namespace {

// The first line of a small text file, without its line end; empty when the
// file cannot be read.
std::string first_line(std::string const& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::string();
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// The interface of the default route with the lowest metric, from a table in
// the form of /proc/net/route; empty when there is none.
std::string default_route_interface(std::string const& routefile) {
  std::ifstream in(routefile);
  std::string line, best;
  unsigned long best_metric = 0;
  std::getline(in, line);  // the column titles
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, dest, gateway, mask;
    unsigned long flags = 0, refcnt = 0, use = 0, metric = 0;
    if (!(fields >> iface >> dest >> gateway >> std::hex >> flags >> std::dec >> refcnt >> use >> metric >> mask)) continue;
    bool up = (flags & 0x1) != 0;
    if (!up || dest != "00000000" || mask != "00000000") continue;
    if (best.empty() || metric < best_metric) {
      best = iface;
      best_metric = metric;
    }
  }
  return best;
}

bool usable_mac(std::string const& mac) {
  if (mac.size() != 17) return false;
  for (size_t i = 0; i < mac.size(); ++i) {
    char c = mac[i];
    bool colon = i % 3 == 2;
    if (colon ? c != ':' : !std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return mac != "00:00:00:00:00:00";
}

}  // namespace

bool hx_mac_addresses_from(HxString const& netdir, HxString const& routefile, HxStringList& out, HxString& failed) {
  out.clear();
  DIR* dir = opendir(netdir.value());
  if (dir == nullptr) {
    failed = "opendir()";
    return false;
  }
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.' || std::strcmp(e->d_name, "lo") == 0) continue;
    names.emplace_back(e->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  std::string const primary = default_route_interface(routefile.value());
  auto it = std::find(names.begin(), names.end(), primary);
  if (it != names.end()) std::rotate(names.begin(), it, it + 1);
  std::string const base = std::string(netdir.value()) + "/";
  for (std::string const& name : names) {
    // 1 is ARPHRD_ETHER: loopback (772), tunnels and the like have other types.
    if (first_line(base + name + "/type") != "1") continue;
    std::string mac = first_line(base + name + "/address");
    if (!usable_mac(mac)) continue;
    out.append(new HxString(mac));
  }
  return true;
}

HxWorld& hx_world() { return *g_world.load(); }

void hx_set_world(HxWorld* world) {
  // The world first, then the count: a reader that sees the new count also
  // sees the new world.
  g_world.store(world != nullptr ? world : g_real_world);
  g_generation.fetch_add(1);
}

uint64_t hx_world_generation() { return g_generation.load(); }

std::shared_ptr<HxHostMacs const> hx_host_mac_addresses(HxString& failed) {
  // The count before the world: a list read from a world that is being
  // replaced is kept under the old count, and so read again.
  uint64_t const generation = hx_world_generation();
  HxWorld& world = hx_world();
  MacCache& cache = mac_cache();
  // Held during the read too: threads that find the list stale wait for one
  // reading instead of each making its own. The clock is read under it, so
  // no thread takes a reading newer than its own time for a clock gone back.
  HxProcessLockHold hold(HxProcessLock::kMacCache);
  int64_t const now = world.now();
  if (cache.macs != nullptr && cache.generation == generation && now >= cache.read_at &&
      now - cache.read_at < kHxMacRefreshSeconds)
    return cache.macs;
  cache.macs = nullptr;
  auto fresh = std::make_shared<HxHostMacs>();
  if (!world.macAddresses(fresh->listed, failed)) return nullptr;
  for (int i = 0; i < fresh->listed.length(); ++i) {
    auto* mac = new HxMacAddress(*fresh->listed.get(i));
    if (mac->blank()) {
      delete mac;
      continue;
    }
    fresh->usable.append(mac);
  }
  cache.macs = fresh;
  cache.generation = generation;
  cache.read_at = now;
  return fresh;
}

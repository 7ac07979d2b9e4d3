#include "core/HxWorld.h"

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "core/HxList.h"

namespace {

HxWorld g_real_world;
std::atomic<HxWorld*> g_world{&g_real_world};

}  // namespace

int64_t HxWorld::now() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

void HxWorld::sleepMillis(int64_t millis) {
  if (millis > 0) std::this_thread::sleep_for(std::chrono::milliseconds(millis));
}

int HxWorld::random() {
  // One generator for the process, seeded once, safe across threads.
  static std::mutex lock;
  static std::mt19937 gen{std::random_device{}()};
  std::lock_guard<std::mutex> hold(lock);
  return static_cast<int>(gen() % (static_cast<unsigned>(RAND_MAX) + 1u));
}

HxString HxWorld::clientConfigPath() { return "/etc/hx.conf"; }

HxString HxWorld::tempDir() { return "/tmp"; }

HxString HxWorld::broadcastAddress() { return "255.255.255.255"; }

void HxWorld::macAddresses(HxStringList& out) {
  out.clear();
  DIR* dir = opendir("/sys/class/net");
  if (dir == nullptr) return;
  HxStringList names;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.' || std::strcmp(e->d_name, "lo") == 0) continue;
    names.append(new HxString(e->d_name));
  }
  closedir(dir);
  names.sort();
  for (int i = 0; i < names.length(); ++i) {
    HxString path = HxString("/sys/class/net/") + *names.get(i) + "/address";
    FILE* f = std::fopen(path.value(), "r");
    if (f == nullptr) continue;
    char buf[64] = {0};
    if (std::fgets(buf, sizeof buf, f) != nullptr) {
      HxString mac(buf);
      while (mac.length() > 0 && (mac.get(mac.length() - 1) == '\n' || mac.get(mac.length() - 1) == ' '))
        mac = mac.substr(0, mac.length() - 1);
      if (mac.length() == 17 && !(mac == HxString("00:00:00:00:00:00"))) out.append(new HxString(mac));
    }
    std::fclose(f);
  }
}

HxWorld& hx_world() { return *g_world.load(); }

void hx_set_world(HxWorld* world) { g_world.store(world != nullptr ? world : &g_real_world); }

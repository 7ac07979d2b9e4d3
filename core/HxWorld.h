#pragma once

#include <cstdint>

#include "core/HxString.h"

class HxStringList;

// The library's one seam to the world outside: the clock, sleeping, random
// numbers, the client configuration file's path, the temporary directory, the
// broadcast address and the host's MAC addresses. The defaults are the real
// behaviour; tests install a world of their own to pin the time, skip pauses
// or read their own files.
class HxWorld {
 public:
  virtual ~HxWorld() = default;
  // Seconds since the Unix epoch.
  virtual int64_t now();
  // Pauses the calling thread.
  virtual void sleepMillis(int64_t millis);
  // A pseudo-random number from 0 to RAND_MAX.
  virtual int random();
  // "/etc/hx.conf"
  virtual HxString clientConfigPath();
  // "/tmp"
  virtual HxString tempDir();
  // "255.255.255.255"
  virtual HxString broadcastAddress();
  // The MAC addresses of the host's Ethernet interfaces, as "aa:bb:cc:dd:ee:ff".
  virtual void macAddresses(HxStringList& out);
};

// The world in force; the real one unless a test installed another.
HxWorld& hx_world();
// Installs a world (not owned) for the whole process; null restores the real one.
void hx_set_world(HxWorld* world);

#pragma once

#include <cstdint>

#include "core/HxString.h"

class HxStringList;
struct pollfd;

// The library's one seam to the world outside: the clock, sleeping, random
// numbers, waiting on sockets, the client configuration file's path, the
// temporary directory, the broadcast address and the host's MAC addresses. The defaults are the real
// behaviour; tests install a world of their own to pin the time, skip pauses
// or read their own files.
class HxWorld {
 public:
  virtual ~HxWorld() = default;
  // Seconds since the Unix epoch.
  virtual int64_t now();
  // Milliseconds of a clock that only moves forward (not the time of day):
  // what deadlines are measured on.
  virtual int64_t steadyMillis();
  // Pauses the calling thread.
  virtual void sleepMillis(int64_t millis);
  // A pseudo-random number from 0 to RAND_MAX.
  virtual int random();
  // Waits for the descriptors as poll(2) does (timeout_ms -1: no limit).
  virtual int poll(pollfd* fds, unsigned long count, int timeout_ms);
  // "/etc/hx.conf"
  virtual HxString clientConfigPath();
  // "/tmp"
  virtual HxString tempDir();
  // "255.255.255.255"
  virtual HxString broadcastAddress();
  // The MAC addresses of the host's Ethernet interfaces as "aa:bb:cc:dd:ee:ff":
  // no loopback, none all zero; the interface of the default route first,
  // then the others by name. False, with the name of the call that failed in
  // `failed` (as "opendir()"), when the interfaces cannot be listed.
  virtual bool macAddresses(HxStringList& out, HxString& failed);
};

// The world in force; the real one unless a test installed another.
HxWorld& hx_world();
// The Ethernet addresses found under a tree laid out as /sys/class/net (one
// directory per interface with "type" and "address"), ordered by the routing
// table in the form of /proc/net/route: what HxWorld::macAddresses reads.
bool hx_mac_addresses_from(HxString const& netdir, HxString const& routefile, HxStringList& out, HxString& failed);

// Installs a world (not owned) for the whole process; null restores the real one.
void hx_set_world(HxWorld* world);

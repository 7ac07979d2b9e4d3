#pragma once

#include <cstdint>
#include <memory>

#include "core/HxAddress.h"
#include "core/HxList.h"
#include "core/HxString.h"

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
  // Microseconds of a clock that only moves forward (not the time of day):
  // what deadlines are measured on.
  virtual int64_t steadyMicros();
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

// Waits for the descriptors as poll(2) does (timeout_ms below 0: no limit),
// through the world in force, with one deadline on hx_wait_millis(): a wait
// that a signal interrupted goes on for what is left of it (a wait without
// limit stays without). It asks the interrupt check (core/HxInterrupt.h)
// when a signal interrupts it and, on a watched thread, once the thread's
// waits have blocked for a slice in all: when the check ends the request,
// and at once on a thread already marked, it fails with EINTR. A descriptor
// ready at once costs one poll.
int hx_poll(pollfd* fds, unsigned long count, int timeout_ms);

// The Ethernet addresses found under a tree laid out as /sys/class/net (one
// directory per interface with "type" and "address"), ordered by the routing
// table in the form of /proc/net/route: what HxWorld::macAddresses reads.
bool hx_mac_addresses_from(HxString const& netdir, HxString const& routefile, HxStringList& out, HxString& failed);

// Installs a world (not owned) for the whole process; null restores the real one.
void hx_set_world(HxWorld* world);
// Counts the worlds installed so far: a value kept for the process records
// the count it was read under and is read again once another world is in
// force, so that nothing read from one world is used in the next.
uint64_t hx_world_generation();

// Interfaces come and go rarely (a docking station, a VPN): the host's MAC
// addresses are read again once the kept list is this many seconds old by
// the world's clock. Reading them costs more than a loopback exchange, and
// every message sent carries one.
constexpr int64_t kHxMacRefreshSeconds = 60;

// The host's MAC addresses as read once: the texts the world listed, and
// the addresses made from them, normalised, without blank ones, in order.
struct HxHostMacs {
  HxStringList listed;
  HxMacAddressList usable;
};

// The host's MAC addresses as the world in force lists them, kept for the
// process under a lock: read again when the kept list is
// kHxMacRefreshSeconds old, when the world's clock went back, and when
// another world was installed. A failed read is not kept (the next call
// reads again): null, with the name of the failed call in `failed`.
std::shared_ptr<HxHostMacs const> hx_host_mac_addresses(HxString& failed);

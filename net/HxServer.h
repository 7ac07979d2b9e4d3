#pragma once

#include <cstdint>

#include "core/HxAddress.h"
#include "core/HxBase.h"
#include "core/HxError.h"
#include "core/HxString.h"
#include "net/HxConnection.h"

// The listening side: a table of up to 128 ports (TCP, UDP, multicast UDP,
// raw TCP), a wait until one of them is readable, and the step that turns a
// ready port into a connection: an accepted TCP connection, or the port's
// own UDP socket.
//
// Slots are added, then opened together; openport() fails at the first slot
// that does not open, and a slot already open counts as a failure, so a slot
// is opened once. A class mask per slot lets a caller serve some ports apart:
// a port whose class has bit 2 is served only when asked for class 2, or
// after every other ready port.
class HxServer : public HxBase {
 public:
  static constexpr int kSlots = 128;

  HxServer();
  // One TCP slot on any address, or on the given one (host order).
  explicit HxServer(int port);
  HxServer(int address, int port);
  HxServer(HxServer const&) = delete;
  HxServer& operator=(HxServer const&) = delete;
  ~HxServer() override;

  int type() const override { return 85; }

  // Append a slot (group 0 and class 1 where not given) and give its index;
  // -1 when the table is full. Nothing is opened.
  int addport(int address, int port, int type);
  int addport(int address, int group, int port, int type);
  int addport(int address, int group, int port, int type, int classmask);

  // Opens every slot in order; 1 when all opened, 0 at the first failure.
  int openport();
  // Append one slot (TCP unless a type is given) and open the slots.
  int openport(int port);
  int openport(int address, int port);
  int openport(int address, int port, int type);
  int openport(int address, int group, int port, int type);

  // 1 when a port of a class sharing a bit with classmask is readable now.
  int ready(int classmask);
  // Waits up to the time-out for a readable port: its index, -1 when the
  // wait failed, -2 when nothing is ready.
  int _ready(int classmask);
  // A connection for the next ready port (the caller deletes it); null when
  // nothing is ready or accepting failed.
  HxConnection* service(int classmask);

  // Close the ports (cleanup() shuts them down first); always 1.
  int release();
  int cleanup();

  void _sethostname();
  void _setmacaddr();
  static void printMemUsage() {}

  bool active() const { return active_ != 0; }
  int status() const { return status_; }
  HxError const& error() const { return error_; }
  int timeout() const { return timeout_; }
  void timeout(int ms) { timeout_ = ms; }
  int length() const { return length_; }
  uint32_t address(int i) const { return valid_(i) ? slots_[i].address : 0; }
  int port(int i) const { return valid_(i) ? slots_[i].port : 0; }
  int sock(int i) const { return valid_(i) ? slots_[i].socket : -1; }
  HxString porttype(int i) const;
  HxString const& host() const { return host_; }
  HxMacAddress const& macaddr() const { return macaddr_; }
  HxMacAddressList const& macaddrs() const { return macaddrs_; }

 private:
  struct Slot {
    int port = 0;
    uint32_t address = 0;
    uint32_t group = 0;
    int socket = -1;
    int type = 1;
    int classmask = 1;
    bool held = false;  // the socket is ours to close
  };

  void _init();
  bool valid_(int i) const { return i >= 0 && i < length_; }
  bool openTcp_(Slot& slot);
  bool openUdp_(Slot& slot);
  bool bind_(Slot& slot, int error, char const* what);
  bool readBack_(Slot& slot);
  void closeAll_(bool shut);

  HxString host_;
  HxError error_;
  int timeout_ = 30000;
  unsigned char active_ = 0;
  int backlog_ = 255;
  Slot slots_[kSlots];
  int length_ = 0;
  int status_ = -2;
  HxMacAddress macaddr_;
  HxMacAddressList macaddrs_;
};

// Memory figures are not available here: both are set to -1.0.
void process_mem_usage(double& vm, double& resident);

#pragma once

#include <cstdint>

#include "core/HxAddress.h"
#include "core/HxBase.h"
#include "core/HxError.h"
#include "core/HxString.h"

// One end of one exchange: a connection opened to a host and port, or one
// that a listening server accepted or receives on. It moves one packed
// message per send or receive, framed by its type:
//
//   1 "tcp"      a frame: 0x02, compressed length, uncompressed length (both
//                32-bit big-endian), then the zlib stream
//   2 "udp"      a datagram: 0x02, payload length (32-bit big-endian), payload
//   4 "raw_tcp"  the bytes themselves; a receive reads until the peer is idle
//   5 "ssl_tcp", 7 "ssl_raw_tcp"  connect like tcp but move nothing
//
// A failure is kept as an HxError number in error(). Waits are bounded by the
// time-out in milliseconds: a frame's every step by time-out / 5 (a raw send's
// by time-out / 2), at least one second, and the whole frame by
// kHxFrameDeadlineSteps such steps; connecting, a datagram receive and the
// first wait of a raw receive by the whole time-out. A frame's reads and
// writes are tried first and wait only when the socket has nothing to give
// or no room; the sockets it opens are non-blocking and close-on-exec, and a
// socket it wraps may be either blocking or not.
class HxConnection : public HxBase {
 public:
  HxConnection();
  // Wraps a socket that a server accepted or listens on: active; it owns
  // (and closes) the socket for types 1, 4, 5 and 7, never a server's UDP
  // socket.
  HxConnection(int socket, int type, int timeout);
  // Types 1, 4, 5 and 7 connect at once (test active() and error()); a UDP
  // connection opens its socket at the first send or receive.
  HxConnection(HxString const& host, int port, int type, int timeout);
  HxConnection(HxConnection const&) = delete;
  HxConnection& operator=(HxConnection const&) = delete;
  ~HxConnection() override;

  // The connection type (not a class number).
  int type() const override { return type_; }

  // Once per process: the protocol numbers, and SIGPIPE ignored so that
  // writing to a peer that went away fails instead of ending the process.
  static void init();
  // The protocol numbers of "tcp" and "udp" (6 and 17 when the system's
  // protocol list has none), read by init().
  static int tcpProtocol();
  static int udpProtocol();

  // The host's Ethernet addresses: the primary one (empty when none), and
  // all of them (1 when at least one was listed).
  static HxMacAddress primarymacaddress();
  static int getAllMacAddresses(HxMacAddressList& list);

  // The compressed bytes written for a frame, the payload length for a
  // datagram or raw send; -1 for a failed frame or raw send, 0 for a failed
  // datagram and for the types that move nothing.
  int send(char const* data, int length);
  // A new buffer (delete[]) with the data, its length in `length`; null on
  // failure. A raw receive always gives a buffer, possibly of 0 bytes.
  char* receive(int& length);

  int sendTcp(char const* data, int length);
  char* receiveTcp(int& length);
  int sendUdp(char const* data, int length);
  char* receiveUdp(int& length);
  int sendRawTcp(char const* data, int length);
  char* receiveRawTcp(int& length);
  int sendOpenSSLTcp(char const* data, int length);
  char* receiveOpenSSLTcp(int& length);
  int sendOpenSSLRawTcp(char const* data, int length);
  char* receiveOpenSSLRawTcp(int& length);

  // Closes an owned socket of an active connection; always 1.
  int release();

  // Waits until the socket is readable (direction 1) or writable (any
  // other); 0 when ready, 1 on a time-out or failure (error 42 or 43).
  int checkpoint(int socket, int timeout_ms, int direction);
  // The same on the connection's own socket; -1 means the connection's
  // time-out and -2 no limit. 1 when ready; 0 on a time-out (42 or 43) or a
  // failure of the wait (44 or 45).
  int _socket_ready(int direction, int timeout_ms);

  int handle() const { return socket_; }
  int sock() const { return socket_; }
  uint32_t handled() const { return handled_; }
  HxError const& error() const { return error_; }
  bool active() const { return active_ != 0; }
  int assignid() const { return assignid_; }
  int timeout() const { return timeout_; }
  // Later waits use the new time-out; socket options already set stay.
  void timeout(int ms) { timeout_ = ms; }
  HxAddress const& address() const { return address_; }
  void address(HxAddress const& a) { address_ = a; }
  int port() const { return port_; }
  void port(int p) { port_ = p; }
  HxString const& host() const { return host_; }
  // Also blanks the address, so that the next datagram resolves the new host.
  void host(HxString const& h) {
    host_ = h;
    address_.wipe();
  }
  int version() const { return version_; }
  void version(int v) { version_ = v; }
  HxString stringtype() const { return typeName(type_); }
  // The name of a connection type: "tcp", "udp", "raw_tcp", "ssl_tcp",
  // "ssl_raw_tcp", else "unknown".
  static char const* typeName(int type);
  HxAddress primaryaddress() const { return HxAddress(); }

 private:
  enum class Io { kWhole, kEof, kError, kWaitFailed };

  int _connect();
  bool openUdp_();
  void fail_(int number);
  void fail_(int number, int err);
  void closeSocket_();
  // Reads what is there of bytes done..n (at least one) into buf. It waits
  // (up to step_ms, never past the deadline in milliseconds of
  // hx_wait_millis, core/HxInterrupt.h) only when `wait` is set or a read would block,
  // and leaves `wait` set when the next read should wait first.
  Io readSome_(char* buf, size_t n, int step_ms, int64_t deadline, size_t& done, bool& wait);
  int stepTimeout_(int divisor) const;
  // When the whole of a frame must have moved: kHxFrameDeadlineSteps steps
  // from now.
  int64_t frameDeadline_(int step_ms) const;
  // A wait of at most step_ms that ends by the deadline, as checkpoint()
  // waits; a deadline already passed fails the way a wait that timed out
  // does. 0 when ready, 1 on failure.
  int waitStep_(int step_ms, int64_t deadline, int direction);
  // What a wait that timed out reports: the line on standard error and
  // error 42 (reading, direction 1) or 43 (writing).
  void timedOut_(int direction, int err);

  int assignid_;
  unsigned char active_ = 0;
  int type_ = 1;
  HxString host_;
  int port_ = 0;
  int timeout_ = 30000;
  HxAddress address_;
  int version_ = 0;
  HxError error_;
  int socket_ = -1;
  unsigned char owns_ = 0;
  uint32_t handled_ = 0;
};

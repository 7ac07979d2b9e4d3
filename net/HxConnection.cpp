#include "net/HxConnection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "core/HxDebug.h"
#include "core/HxInterrupt.h"
#include "core/HxList.h"
#include "core/HxWorld.h"
#include "net/HxSysText.h"
#include "net/HxCompress.h"
#include "net/HxNetLimits.h"

namespace {

std::atomic<int> g_assignid{1};
int g_tcpid = 6;
int g_udpid = 17;

constexpr unsigned char kFrameVersion = 2;
constexpr size_t kFrameHeader = 9;
constexpr size_t kDatagramHeader = 5;
// A datagram payload must stay below this; the receive buffer holds the
// largest datagram there is.
constexpr int kDatagramLimit = 65530;
constexpr size_t kDatagramBuffer = 65535;

// What perror writes, for an error number we kept.
void print_error(char const* what, int err) {
  std::fprintf(stderr, "%s: %s\n", what, hx_sys_text(err).value());
}

void put_be32(char* p, uint32_t v) {
  p[0] = static_cast<char>(v >> 24);
  p[1] = static_cast<char>(v >> 16);
  p[2] = static_cast<char>(v >> 8);
  p[3] = static_cast<char>(v);
}

int32_t get_be32(char const* p) {
  auto const* u = reinterpret_cast<unsigned char const*>(p);
  uint32_t v = (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | uint32_t{u[3]};
  return static_cast<int32_t>(v);
}

// Waits until fd is readable or writable: 1 ready, 0 timed out, -1 failed
// with errno set. A time-out below 0 fails at once (EINVAL) unless
// `unlimited`. A wait that a signal interrupted fails with EINTR when the
// interrupt check ends the request (and none begins once it has), and
// otherwise goes on for the time that is left.
int wait_one(int fd, bool write, int timeout_ms, bool unlimited = false) {
  if (!unlimited && timeout_ms < 0) {
    errno = EINVAL;
    return -1;
  }
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  if (hx_interrupted()) {
    errno = EINTR;
    return -1;
  }
  using clock = std::chrono::steady_clock;
  auto const deadline = clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeout_ms);
  int left = unlimited ? -1 : timeout_ms;
  for (;;) {
    pollfd p;
    p.fd = fd;
    p.events = write ? POLLOUT : POLLIN;
    p.revents = 0;
    int r = hx_world().poll(&p, 1, left);
    if (r > 0) {
      if ((p.revents & POLLNVAL) != 0) {
        errno = EBADF;
        return -1;
      }
      // Hang-up and error count as ready, as they do for select: the next
      // read or write reports what happened.
      return 1;
    }
    if (r == 0) return 0;
    if (errno != EINTR) return -1;
    if (hx_check_interrupt()) {
      errno = EINTR;
      return -1;
    }
    if (!unlimited) {
      auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
      left = rest > 0 ? static_cast<int>(rest) : 0;
    }
  }
}

// A buffer kept per thread between frames, given back when one frame made it
// large.
struct KeptBuffer {
  std::unique_ptr<char[]> bytes;
  size_t capacity = 0;

  // Makes room for n bytes, keeping the first `keep`; false without memory.
  bool reserve(size_t n, size_t keep) {
    if (n <= capacity) return true;
    std::unique_ptr<char[]> fresh(new (std::nothrow) char[n]);
    if (!fresh) return false;
    if (keep > 0) std::memcpy(fresh.get(), bytes.get(), keep);
    bytes = std::move(fresh);
    capacity = n;
    return true;
  }
  void trim() {
    if (capacity > kHxKeptBufferBytes) {
      bytes.reset();
      capacity = 0;
    }
  }
};

KeptBuffer& send_buffer() {
  thread_local KeptBuffer b;
  return b;
}

KeptBuffer& receive_buffer() {
  thread_local KeptBuffer b;
  return b;
}

}  // namespace

// ---- construction ----------------------------------------------------------

void HxConnection::init() {
  static std::once_flag once;
  std::call_once(once, [] {
    protoent entry;
    protoent* found = nullptr;
    char buf[1024];
    if (getprotobyname_r("udp", &entry, buf, sizeof buf, &found) == 0 && found != nullptr) g_udpid = found->p_proto;
    found = nullptr;
    if (getprotobyname_r("tcp", &entry, buf, sizeof buf, &found) == 0 && found != nullptr) g_tcpid = found->p_proto;
    signal(SIGPIPE, SIG_IGN);
  });
}

int HxConnection::tcpProtocol() {
  init();
  return g_tcpid;
}

int HxConnection::udpProtocol() {
  init();
  return g_udpid;
}

HxConnection::HxConnection() : assignid_((init(), g_assignid.fetch_add(1))) {}

HxConnection::HxConnection(int socket, int type, int timeout)
    : assignid_((init(), g_assignid.fetch_add(1))), active_(1), type_(type), timeout_(timeout), socket_(socket) {
  owns_ = (type == 1 || type == 4 || type == 5 || type == 7) ? 1 : 0;
}

HxConnection::HxConnection(HxString const& host, int port, int type, int timeout)
    : assignid_((init(), g_assignid.fetch_add(1))), type_(type), host_(host), port_(port), timeout_(timeout) {
  if (type == 1 || type == 4 || type == 5 || type == 7) _connect();
}

HxConnection::~HxConnection() { release(); }

int HxConnection::release() {
  if (active_ != 0 && owns_ != 0) closeSocket_();
  active_ = 0;
  return 1;
}

void HxConnection::closeSocket_() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

void HxConnection::fail_(int number) { error_.value(number); }

void HxConnection::fail_(int number, int err) {
  error_.value(number);
  error_.set("ERROR", hx_sys_text(err));
}

char const* HxConnection::typeName(int type) {
  switch (type) {
    case 1:
      return "tcp";
    case 2:
      return "udp";
    case 4:
      return "raw_tcp";
    case 5:
      return "ssl_tcp";
    case 7:
      return "ssl_raw_tcp";
    default:
      return "unknown";
  }
}

int HxConnection::stepTimeout_(int divisor) const { return std::max(timeout_ / divisor, 1000); }

int64_t HxConnection::frameDeadline_(int step_ms) const {
  return hx_world().steadyMillis() + int64_t{kHxFrameDeadlineSteps} * step_ms;
}

// ---- connecting ------------------------------------------------------------

int HxConnection::_connect() {
  active_ = 0;
  owns_ = 1;
  if (host_.length() == 0) {
    fail_(32);
    return 0;
  }
  // A request that a signal ended opens no connection.
  if (hx_interrupted()) {
    fail_(37, EINTR);
    return 0;
  }
  // Non-blocking from the start and for good: every wait goes through poll
  // with a bounded time, and each read or write takes only what is there.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, g_tcpid);
  if (fd < 0) {
    fail_(38, errno);
    return 0;
  }
  HxAddress resolved = HxAddress::isaddress(host_) ? HxAddress(host_) : HxAddress::hostname(host_);
  if (resolved.blank()) {
    fail_(32);
    ::close(fd);
    return 0;
  }
  address_ = resolved;
  // The library's own reads and writes never block on this socket, so the
  // kernel does not consult these two; they stay for whoever is handed the
  // socket (sock()), and a time-out the system refuses still fails here.
  timeval tv = hx_ms_timeval(timeout_);
  if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) {
    fail_(33, errno);
    ::close(fd);
    return 0;
  }
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
    fail_(34, errno);
    ::close(fd);
    return 0;
  }

  HxString why;
  if (port_ < 0 || port_ > 65535) {
    why = hx_sys_text(EINVAL);
  } else {
    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port_));
    to.sin_addr.s_addr = htonl(resolved.value());
    int started = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? 0 : errno;
    if (started == 0) {
      socket_ = fd;
      active_ = 1;
      return 1;
    }
    if (started != EINPROGRESS && started != EINTR) {
      // Refused at once (common on loopback): the socket's pending error is
      // already consumed, so it must not be read as success below.
      why = hx_sys_text(started);
    } else {
      int ready = wait_one(fd, true, timeout_);
      if (ready == 1) {
        int pending = 0;
        socklen_t len = sizeof pending;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &len) != 0) pending = errno;
        if (pending == 0) {
          socket_ = fd;
          active_ = 1;
          return 1;
        }
        why = hx_sys_text(pending);
      } else if (ready == 0) {
        why = "timed out";
      } else {
        why = hx_sys_text(errno);
      }
    }
  }
  fail_(35);
  HxDebug& log = *hx_debug_obj();
  log.lock();
  log.mark() << "connect() host[" << host_ << "] port[" << port_ << "] " << why << '\n';
  log.unlock();
  ::close(fd);
  return 0;
}

// ---- waiting ---------------------------------------------------------------

int HxConnection::checkpoint(int socket, int timeout_ms, int direction) {
  int r = wait_one(socket, direction != 1, timeout_ms);
  if (r == 1) return 0;
  timedOut_(direction, r == 0 ? ETIMEDOUT : errno);
  return 1;
}

void HxConnection::timedOut_(int direction, int err) {
  print_error("checkpoint(): select() timed out", err);
  fail_(direction == 1 ? 42 : 43);
}

int HxConnection::waitStep_(int step_ms, int64_t deadline, int direction) {
  int64_t const left = deadline - hx_world().steadyMillis();
  // A peer that keeps a frame trickling in (or out) ends here: the frame
  // ran out of time as surely as a silent step does.
  if (left <= 0) {
    timedOut_(direction, ETIMEDOUT);
    return 1;
  }
  return checkpoint(socket_, static_cast<int>(std::min<int64_t>(step_ms, left)), direction);
}

int HxConnection::_socket_ready(int direction, int timeout_ms) {
  bool const unlimited = timeout_ms == -2;
  int const ms = timeout_ms == -1 ? timeout_ : timeout_ms;
  int r = wait_one(socket_, direction != 1, ms, unlimited);
  if (r == 1) return 1;
  if (r == 0) {
    std::fputs("ERROR: _socket_ready(): select() timeout expired\n", stderr);
    fail_(direction == 1 ? 42 : 43);
  } else {
    int err = errno;
    std::fputs("ERROR: _socket_ready(): select() returned error\n", stderr);
    fail_(direction == 1 ? 44 : 45, err);
  }
  return 0;
}

// ---- dispatch --------------------------------------------------------------

int HxConnection::send(char const* data, int length) {
  // A request that a signal ended sends nothing more: each form's failure.
  if (hx_interrupted()) {
    fail_(type_ == 2 ? 13 : 45, EINTR);
    return type_ == 1 || type_ == 4 ? -1 : 0;
  }
  switch (type_) {
    case 1:
      return sendTcp(data, length);
    case 2:
      return sendUdp(data, length);
    case 4:
      return sendRawTcp(data, length);
    default:
      return 0;
  }
}

char* HxConnection::receive(int& length) {
  switch (type_) {
    case 1:
      return receiveTcp(length);
    case 2:
      return receiveUdp(length);
    case 4:
      return receiveRawTcp(length);
    case 5:
      return receiveOpenSSLTcp(length);
    case 7:
      return receiveOpenSSLRawTcp(length);
    default:
      length = 0;
      return nullptr;
  }
}

int HxConnection::sendOpenSSLTcp(char const*, int) { return 0; }
int HxConnection::sendOpenSSLRawTcp(char const*, int) { return 0; }

char* HxConnection::receiveOpenSSLTcp(int& length) {
  length = 0;
  if (active_ == 0) fail_(3);
  return nullptr;
}

char* HxConnection::receiveOpenSSLRawTcp(int& length) { return receiveOpenSSLTcp(length); }

// ---- TCP frames ------------------------------------------------------------

int HxConnection::sendTcp(char const* data, int length) {
  if (active_ == 0) {
    fail_(3);
    return -1;
  }
  // Header and payload go out from one buffer: the header's place is kept
  // in front of the compressed bytes, so a frame usually takes one write.
  KeptBuffer& buf = send_buffer();
  long packed = -1;
  if (length >= 0) {
    size_t const room = HxCompress::bound(static_cast<size_t>(length));
    if (buf.reserve(kFrameHeader + room, 0))
      packed = HxCompress::compactInto(buf.bytes.get() + kFrameHeader, room, data, static_cast<size_t>(length));
  }
  if (packed < 0) {
    fail_(4);
    return -1;
  }
  char* frame = buf.bytes.get();
  frame[0] = static_cast<char>(kFrameVersion);
  put_be32(frame + 1, static_cast<uint32_t>(packed));
  put_be32(frame + 5, static_cast<uint32_t>(length));

  int const step = stepTimeout_(5);
  int64_t const deadline = frameDeadline_(step);
  size_t const total = kFrameHeader + static_cast<size_t>(packed);
  size_t done = 0;
  // The first write is tried at once; a wait comes only when the socket
  // took less than was offered or nothing at all, so a frame that fits the
  // socket's buffer costs one system call.
  bool wait = false;
  while (done < total) {
    if (wait && waitStep_(step, deadline, 2) != 0) {
      buf.trim();
      return -1;
    }
    // Only what fits now is written; the next wait decides whether there is
    // time for more, so a peer that reads slowly cannot hold one write past
    // the frame's deadline.
    ssize_t w = ::send(socket_, frame + done, total - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (w > 0) {
      done += static_cast<size_t>(w);
      wait = true;  // a part went: the buffer is full
      continue;
    }
    int err = w == 0 ? EIO : errno;
    if (err == EINTR || err == EAGAIN || err == EWOULDBLOCK) {
      wait = err != EINTR;
      continue;
    }
    print_error("HxConnection::sendTcp(): write()", err);
    // The error names the piece that could not be written whole.
    fail_(done < 1 ? 6 : done < 5 ? 7 : done < kFrameHeader ? 8 : 6, err);
    buf.trim();
    return -1;
  }
  buf.trim();
  handled_ += static_cast<uint32_t>(packed);
  return static_cast<int>(packed);
}

HxConnection::Io HxConnection::readSome_(char* buf, size_t n, int step_ms, int64_t deadline, size_t& done,
                                          bool& wait) {
  for (;;) {
    if (wait && waitStep_(step_ms, deadline, 1) != 0) return Io::kWaitFailed;
    // MSG_DONTWAIT: an accepted socket may be blocking, and a read must
    // never wait past the step and the deadline.
    ssize_t r = ::recv(socket_, buf + done, n - done, MSG_DONTWAIT);
    if (r > 0) {
      done += static_cast<size_t>(r);
      // Less than asked for means the socket is empty now: the next read
      // would only say so, so the wait comes first.
      wait = done < n;
      return Io::kWhole;
    }
    if (r == 0) return Io::kEof;
    if (errno == EINTR) {
      wait = false;
      continue;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      wait = true;
      continue;
    }
    return Io::kError;
  }
}

char* HxConnection::receiveTcp(int& length) {
  length = 0;
  if (active_ == 0) {
    fail_(3);
    return nullptr;
  }
  int const step = stepTimeout_(5);
  int64_t const deadline = frameDeadline_(step);

  // The header is read as one piece when it is there; each field is
  // checked as soon as it has arrived, before anything more is waited for,
  // so a wrong version or length fails as promptly as when read alone.
  char header[kFrameHeader];
  size_t got = 0;
  bool wait = false;  // the read comes first; a wait only when it would block
  int32_t words[2] = {0, 0};
  while (got < kFrameHeader) {
    size_t const before = got;
    Io io = readSome_(header, kFrameHeader, step, deadline, got, wait);
    if (io == Io::kWaitFailed) return nullptr;
    if (io != Io::kWhole) {
      int const err = errno;
      if (got == 0) {
        if (io == Io::kEof) {
          fail_(16);
        } else {
          fail_(17, err);
        }
      } else {
        fail_(19);
        error_.set("ERROR", io == Io::kEof ? HxString("end of file") : hx_sys_text(err));
      }
      return nullptr;
    }
    if (before == 0 && static_cast<unsigned char>(header[0]) != kFrameVersion) {
      fail_(18);
      error_.set("VERSION", HxString(static_cast<int>(static_cast<unsigned char>(header[0]))));
      return nullptr;
    }
    for (size_t w = 0; w < 2; ++w) {
      size_t const end = 5 + 4 * w;
      if (before >= end || got < end) continue;
      words[w] = get_be32(header + end - 4);
      if (words[w] < 1 || static_cast<size_t>(words[w]) > kHxMaxFrameBytes) {
        fail_(20);
        return nullptr;
      }
    }
  }
  size_t const packed = static_cast<size_t>(words[0]);
  size_t const plain = static_cast<size_t>(words[1]);
  // A compressed length that deflate could not have produced for the
  // announced size, either way, is refused before any buffer is sized by it.
  if (packed > HxCompress::bound(plain) || plain > packed * kHxMaxInflateRatio + kHxInflateSlack) {
    fail_(20);
    return nullptr;
  }

  // The payload buffer grows as bytes arrive, never ahead of them by more
  // than one chunk. A header that came whole is followed by a read at once:
  // a peer usually writes the frame in one piece.
  KeptBuffer& buf = receive_buffer();
  got = 0;
  while (got < packed) {
    if (got == buf.capacity || buf.capacity == 0) {
      size_t want = std::min(packed, std::max(kHxFrameReadChunk, 2 * buf.capacity));
      if (!buf.reserve(want, got)) {
        fail_(14);
        return nullptr;
      }
    }
    Io io = readSome_(buf.bytes.get(), std::min(packed, buf.capacity), step, deadline, got, wait);
    if (io == Io::kWaitFailed) {
      buf.trim();
      return nullptr;
    }
    if (io == Io::kEof || io == Io::kError) {
      fail_(41);
      buf.trim();
      return nullptr;
    }
  }

  char* out = new (std::nothrow) char[plain];
  if (out == nullptr) {
    fail_(14);
    buf.trim();
    return nullptr;
  }
  bool inflated = HxCompress::uncompactInto(out, plain, buf.bytes.get(), packed);
  buf.trim();
  if (!inflated) {
    delete[] out;
    fail_(21);
    return nullptr;
  }
  handled_ += static_cast<uint32_t>(plain);
  length = static_cast<int>(plain);
  return out;
}

// ---- datagrams -------------------------------------------------------------

bool HxConnection::openUdp_() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, g_udpid);
  if (fd < 0) {
    fail_(10, errno);
    return false;
  }
  socket_ = fd;
  active_ = 1;
  owns_ = 1;
  if (host_.length() == 0) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  }
  sockaddr_in any;
  std::memset(&any, 0, sizeof any);
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  any.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) fail_(11, errno);
  return true;
}

int HxConnection::sendUdp(char const* data, int length) {
  if (length < 0 || (length > 0 && data == nullptr)) {
    fail_(13, EINVAL);
    return 0;
  }
  std::unique_ptr<char[]> datagram(new (std::nothrow) char[kDatagramHeader + static_cast<size_t>(length)]);
  if (!datagram) {
    fail_(14);
    return 0;
  }
  datagram[0] = static_cast<char>(kFrameVersion);
  put_be32(datagram.get() + 1, static_cast<uint32_t>(length));
  if (length > 0) std::memcpy(datagram.get() + kDatagramHeader, data, static_cast<size_t>(length));

  if (socket_ < 0 && !openUdp_()) return 0;

  if (address_.blank()) {
    HxAddress to;
    if (host_.length() == 0) {
      to = HxAddress(hx_world().broadcastAddress());
    } else {
      to = HxAddress::isaddress(host_) ? HxAddress(host_) : HxAddress::hostname(host_);
    }
    if (to.blank()) {
      fail_(12);
      if (owns_ != 0) ::close(socket_);
      active_ = 0;
      socket_ = -1;
      return 0;
    }
    address_ = to;
  }
  sockaddr_in dest;
  std::memset(&dest, 0, sizeof dest);
  dest.sin_family = AF_INET;
  dest.sin_port = htons(static_cast<uint16_t>(port_));
  dest.sin_addr.s_addr = htonl(address_.value());
  ssize_t sent;
  do {
    sent = ::sendto(socket_, datagram.get(), kDatagramHeader + static_cast<size_t>(length), 0,
                    reinterpret_cast<sockaddr*>(&dest), sizeof dest);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    fail_(13, errno);
    return 0;
  }
  handled_ += static_cast<uint32_t>(length);
  return length;
}

char* HxConnection::receiveUdp(int& length) {
  length = 0;
  if (socket_ < 0 && !openUdp_()) return nullptr;
  active_ = 1;
  if (checkpoint(socket_, timeout_, 1) != 0) return nullptr;

  thread_local std::unique_ptr<char[]> buffer(new char[kDatagramBuffer]);
  sockaddr_in from;
  std::memset(&from, 0, sizeof from);
  socklen_t fromlen = sizeof from;
  ssize_t n;
  do {
    fromlen = sizeof from;
    n = ::recvfrom(socket_, buffer.get(), kDatagramBuffer, 0, reinterpret_cast<sockaddr*>(&from), &fromlen);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    fail_(29, errno);
    return nullptr;
  }
  if (static_cast<size_t>(n) <= kDatagramHeader) {
    fail_(30);
    return nullptr;
  }
  unsigned char const version = static_cast<unsigned char>(buffer[0]);
  if (version != kFrameVersion) {
    fail_(31);
    error_.set("VERSION", HxString(static_cast<int>(version)));
    return nullptr;
  }
  int32_t const announced = get_be32(buffer.get() + 1);
  if (announced >= kDatagramLimit) {
    length = -1;
    fail_(29);
    return nullptr;
  }
  // Below 1 (a top bit set reads negative), or more than arrived.
  if (announced < 1 || static_cast<size_t>(announced) > static_cast<size_t>(n) - kDatagramHeader) {
    fail_(30);
    return nullptr;
  }
  char* out = new (std::nothrow) char[static_cast<size_t>(announced)];
  if (out == nullptr) {
    fail_(14);
    return nullptr;
  }
  std::memcpy(out, buffer.get() + kDatagramHeader, static_cast<size_t>(announced));
  handled_ += static_cast<uint32_t>(announced);
  address_ = HxAddress(static_cast<int>(ntohl(from.sin_addr.s_addr)));
  port_ = ntohs(from.sin_port);
  length = announced;
  return out;
}

// ---- raw TCP ---------------------------------------------------------------

int HxConnection::sendRawTcp(char const* data, int length) {
  if (active_ == 0) {
    fail_(3);
    return -1;
  }
  if (length < 0 || (length > 0 && data == nullptr)) {
    fail_(100000, EINVAL);
    return -1;
  }
  int const step = stepTimeout_(2);
  size_t const total = static_cast<size_t>(length);
  size_t done = 0;
  while (done < total) {
    if (wait_one(socket_, true, step) != 1) {
      fail_(9);
      handled_ += static_cast<uint32_t>(done);
      return -1;
    }
    ssize_t w = ::write(socket_, data + done, total - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    int err = w == 0 ? EIO : errno;
    if (err == EINTR || err == EAGAIN || err == EWOULDBLOCK) continue;
    // Not all of it went out: the caller must not take it for sent.
    fail_(100000, err);
    handled_ += static_cast<uint32_t>(done);
    return -1;
  }
  handled_ += static_cast<uint32_t>(done);
  return static_cast<int>(done);
}

char* HxConnection::receiveRawTcp(int& length) {
  length = 0;
  if (active_ == 0) {
    fail_(3);
    return nullptr;
  }
  size_t capacity = 256;
  size_t size = 0;
  char* buf = new char[capacity];
  // The first wait lasts the whole time-out; after the first chunk the
  // receive ends as soon as nothing more is waiting.
  int wait_ms = timeout_;
  while (size < kHxMaxRawReceiveBytes) {
    int r = wait_one(socket_, false, wait_ms);
    if (r < 0) {
      print_error("HxConnection::receiveRawTcp(): select()", errno);
      break;
    }
    if (r == 0) break;
    if (size == capacity) {
      size_t grown = std::min(2 * capacity, kHxMaxRawReceiveBytes);
      char* fresh = new (std::nothrow) char[grown];
      if (fresh == nullptr) break;
      std::memcpy(fresh, buf, size);
      delete[] buf;
      buf = fresh;
      capacity = grown;
    }
    ssize_t n = ::read(socket_, buf + size, capacity - size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) break;
    size += static_cast<size_t>(n);
    wait_ms = 0;
  }
  handled_ += static_cast<uint32_t>(size);
  length = static_cast<int>(size);
  return buf;
}

// ---- MAC addresses ---------------------------------------------------------

HxMacAddress HxConnection::primarymacaddress() {
  HxString failed;
  std::shared_ptr<HxHostMacs const> kept = hx_host_mac_addresses(failed);
  if (kept == nullptr) {
    std::fprintf(stderr, "primarymacaddress: %s failed\n", failed.value());
    return HxMacAddress();
  }
  return kept->usable.length() > 0 ? *kept->usable.get(0) : HxMacAddress();
}

int HxConnection::getAllMacAddresses(HxMacAddressList& list) {
  list.clear();
  HxString failed;
  std::shared_ptr<HxHostMacs const> kept = hx_host_mac_addresses(failed);
  if (kept == nullptr) return 0;
  list.copy(kept->usable);
  return kept->listed.length() > 0 ? 1 : 0;
}

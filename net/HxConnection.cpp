#include "net/HxConnection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "core/HxDebug.h"
#include "core/HxInterrupt.h"
#include "core/HxList.h"
#include "core/HxWorld.h"
#include "net/HxConnectionIo.h"
#include "net/HxNetLimits.h"
#include "net/HxSysText.h"

namespace {

std::atomic<int> g_assignid{1};
int g_tcpid = 6;
int g_udpid = 17;

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
  // On the clock that stands still while the thread waits in the interrupt
  // check (for the interpreter lock): that wait does not spend the frame's time.
  return hx_wait_millis() + int64_t{kHxFrameDeadlineSteps} * step_ms;
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
      int ready = hx_wait_fd(fd, true, timeout_);
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

#include "net/HxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/HxDebug.h"
#include "core/HxInterrupt.h"
#include "core/HxWorld.h"
#include "net/HxSysText.h"

namespace {

constexpr int kInfo = 0x100000;
// A port in use is tried again after this pause, for as long as it is in use.
constexpr int64_t kBindRetryMillis = 10000;
// _ready without any port pauses this long instead of spinning.
constexpr int64_t kNoPortsMillis = 1000;

void info_line(HxString const& text) {
  if ((hx_debug_verb() & kInfo) == 0) return;
  HxDebug& log = *hx_debug_obj();
  log.lock();
  log.mark() << text << '\n';
  log.unlock();
}

}  // namespace

void process_mem_usage(double& vm, double& resident) {
  vm = -1.0;
  resident = -1.0;
}

// ---- construction ----------------------------------------------------------

void HxServer::_init() {
  timeout_ = 30000;
  backlog_ = 255;
  active_ = 0;
  length_ = 0;
  HxConnection::init();
  _sethostname();
  _setmacaddr();
  HxConnection::getAllMacAddresses(macaddrs_);
}

HxServer::HxServer() { _init(); }

HxServer::HxServer(int port) {
  _init();
  addport(0, port, 1);
}

HxServer::HxServer(int address, int port) {
  _init();
  addport(address, port, 1);
}

HxServer::~HxServer() { release(); }

void HxServer::_sethostname() {
  char name[257] = {0};
  if (gethostname(name, 256) == 0) host_ = name;
}

void HxServer::_setmacaddr() { macaddr_ = HxConnection::primarymacaddress(); }

HxString HxServer::porttype(int i) const {
  int const type = valid_(i) ? slots_[i].type : 0;
  // A multicast port is a server's own kind; the others are named as their connections are.
  return type == 6 ? "multicast_udp" : HxConnection::typeName(type);
}

// ---- slots -----------------------------------------------------------------

int HxServer::addport(int address, int port, int type) { return addport(address, 0, port, type, 1); }

int HxServer::addport(int address, int group, int port, int type) { return addport(address, group, port, type, 1); }

int HxServer::addport(int address, int group, int port, int type, int classmask) {
  if (length_ >= kSlots) return -1;
  Slot& s = slots_[length_];
  s = Slot();
  s.address = static_cast<uint32_t>(address);
  s.group = static_cast<uint32_t>(group);
  s.port = port;
  s.type = type;
  s.classmask = classmask;
  return length_++;
}

int HxServer::openport() {
  for (int i = 0; i < length_; ++i) {
    Slot& s = slots_[i];
    bool ok = true;
    switch (s.type) {
      case 1:
      case 4:
      case 5:
      case 7:
        ok = openTcp_(s);
        break;
      case 2:
      case 6:
        ok = openUdp_(s);
        break;
      default:
        break;
    }
    if (!ok) return 0;
  }
  return 1;
}

int HxServer::openport(int port) { return openport(0, 0, port, 1); }

int HxServer::openport(int address, int port) { return openport(address, 0, port, 1); }

int HxServer::openport(int address, int port, int type) { return openport(address, 0, port, type); }

int HxServer::openport(int address, int group, int port, int type) {
  if (addport(address, group, port, type) < 0) return 0;
  return openport();
}

// Binds the slot's socket. A port in use is tried again after a pause for as
// long as it stays in use; any other failure fails the slot.
bool HxServer::bind_(Slot& slot, int error, char const* what) {
  sockaddr_in at;
  std::memset(&at, 0, sizeof at);
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(slot.address);
  at.sin_port = htons(static_cast<uint16_t>(slot.port));
  for (;;) {
    if (::bind(slot.socket, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) return true;
    int err = errno;
    error_.value(error);
    error_.set("ERROR", hx_sys_text(err));
    // A request that a signal ended waits no more for the port.
    if (err != EADDRINUSE || hx_interrupted()) return false;
    info_line(error_.value() + ": " + what + slot.port);
    hx_world().sleepMillis(kBindRetryMillis);
  }
}

bool HxServer::readBack_(Slot& slot) {
  sockaddr_in at;
  std::memset(&at, 0, sizeof at);
  socklen_t len = sizeof at;
  if (getsockname(slot.socket, reinterpret_cast<sockaddr*>(&at), &len) != 0) {
    error_.value(1046);
    error_.set("ERROR", hx_sys_text(errno));
    return false;
  }
  slot.address = ntohl(at.sin_addr.s_addr);
  slot.port = ntohs(at.sin_port);
  return true;
}

bool HxServer::openTcp_(Slot& slot) {
  if (slot.socket != -1) return false;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, HxConnection::tcpProtocol());
  if (fd < 0) {
    error_.value(1043);
    return false;
  }
  slot.socket = fd;
  slot.held = true;
  _sethostname();
  timeval tv = hx_ms_timeval(timeout_);
  if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) {
    error_.value(1044);
    return false;
  }
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
    error_.value(1045);
    return false;
  }
  bool ssl = slot.type == 5 || slot.type == 7;
  if (!bind_(slot, ssl ? 1049 : 1050, "waiting for tcp socket to open up - port: ")) return false;
  if (!readBack_(slot)) return false;
  if (listen(fd, backlog_) != 0) {
    error_.value(1047);
    return false;
  }
  active_ = 1;
  return true;
}

bool HxServer::openUdp_(Slot& slot) {
  if (slot.socket != -1) return false;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, HxConnection::udpProtocol());
  if (fd < 0) {
    error_.value(1041);
    return false;
  }
  slot.socket = fd;
  slot.held = true;
  if (slot.type == 6 && slot.group != 0) {
    ip_mreq join;
    std::memset(&join, 0, sizeof join);
    join.imr_multiaddr.s_addr = htonl(slot.group);
    join.imr_interface.s_addr = htonl(slot.address);
    setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
    unsigned char loop = 1;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
  }
  _sethostname();
  if (!bind_(slot, 1048, "waiting for udp socket to open up - port: ")) return false;
  if (!readBack_(slot)) return false;
  active_ = 1;
  return true;
}

// ---- serving ---------------------------------------------------------------

int HxServer::ready(int classmask) {
  if (length_ == 0) return 0;
  pollfd fds[kSlots];
  for (int i = 0; i < length_; ++i) fds[i] = pollfd{slots_[i].held ? slots_[i].socket : -1, POLLIN, 0};
  int r;
  do {
    r = hx_world().poll(fds, static_cast<unsigned long>(length_), 0);
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return 0;
  for (int i = 0; i < length_; ++i) {
    if (fds[i].revents != 0 && (slots_[i].classmask & classmask) != 0) return 1;
  }
  return 0;
}

int HxServer::_ready(int classmask) {
  if (length_ == 0) {
    hx_world().sleepMillis(kNoPortsMillis);
    status_ = -2;
    return -2;
  }
  pollfd fds[kSlots];
  for (int i = 0; i < length_; ++i) fds[i] = pollfd{slots_[i].held ? slots_[i].socket : -1, POLLIN, 0};
  int r;
  if (timeout_ < 0) {
    // As a wait with a negative time, it fails at once rather than forever.
    errno = EINVAL;
    r = -1;
  } else {
    // One deadline for the whole wait: a signal whose handler lets the
    // request go on resumes it for the time left, not the whole time-out
    // again (a periodic signal would hold it forever); one that ends the
    // request, or came before the wait, fails it with EINTR.
    r = hx_poll(fds, static_cast<unsigned long>(length_), timeout_);
  }
  if (r < 0) {
    error_.value(1039);
    error_.set("ERROR", hx_sys_text(errno));
    status_ = -1;
    return -1;
  }
  status_ = -2;
  if (r == 0) return -2;
  auto readable = [&](int i) { return (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0; };
  int found = -1;
  if (classmask == 2) {
    for (int i = 0; i < length_ && found < 0; ++i)
      if (readable(i) && (slots_[i].classmask & 2) != 0) found = i;
  } else {
    for (int i = 0; i < length_ && found < 0; ++i)
      if (readable(i) && (slots_[i].classmask & 2) == 0) found = i;
    for (int i = 0; i < length_ && found < 0; ++i)
      if (readable(i) && (slots_[i].classmask & classmask) != 0) found = i;
  }
  if (found < 0) return -2;
  status_ = 0;
  return found;
}

HxConnection* HxServer::service(int classmask) {
  int i = _ready(classmask);
  if (i < 0) return nullptr;
  Slot const& s = slots_[i];
  if (s.type == 2 || s.type == 6) return new HxConnection(s.socket, 2, 30000);
  sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  socklen_t len = sizeof peer;
  int fd;
  do {
    fd = accept4(s.socket, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR && !hx_check_interrupt());
  if (fd < 0) {
    error_.value(1040);
    return nullptr;
  }
  int type = (s.type == 4 || s.type == 5 || s.type == 7) ? s.type : 1;
  auto* c = new HxConnection(fd, type, 30000);
  c->address(HxAddress(static_cast<int>(ntohl(peer.sin_addr.s_addr))));
  c->port(ntohs(peer.sin_port));
  return c;
}

// ---- closing ---------------------------------------------------------------

// Closes every socket still held, also those of slots that failed to open;
// the numbers stay in the table, so the slots are not opened again.
void HxServer::closeAll_(bool shut) {
  for (int i = 0; i < length_; ++i) {
    Slot& s = slots_[i];
    if (!s.held) continue;
    if (shut && ::shutdown(s.socket, SHUT_RDWR) != 0) info_line("ERROR: couldn't shutdown socket.");
    if (::close(s.socket) != 0) info_line("ERROR: couldn't close socket.");
    s.held = false;
  }
  active_ = 0;
}

int HxServer::release() {
  closeAll_(false);
  return 1;
}

int HxServer::cleanup() {
  closeAll_(true);
  return 1;
}

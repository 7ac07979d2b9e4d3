#include "net/HxConnection.h"

// The datagram form of a connection.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "core/HxWorld.h"
#include "net/HxConnectionIo.h"

namespace {

constexpr size_t kDatagramHeader = 5;
// A datagram payload must stay below this; the receive buffer holds the
// largest datagram there is.
constexpr int kDatagramLimit = 65530;
constexpr size_t kDatagramBuffer = 65535;

}  // namespace

bool HxConnection::openUdp_() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, udpProtocol());
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
  datagram[0] = static_cast<char>(kHxFrameVersion);
  hx_put_be32(datagram.get() + 1, static_cast<uint32_t>(length));
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
  // The wait above said a datagram is there: the read itself never waits
  // (one dropped between the two would otherwise hold it without limit).
  do {
    fromlen = sizeof from;
    n = ::recvfrom(socket_, buffer.get(), kDatagramBuffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                   &fromlen);
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
  if (version != kHxFrameVersion) {
    fail_(31);
    error_.set("VERSION", HxString(static_cast<int>(version)));
    return nullptr;
  }
  int32_t const announced = hx_get_be32(buffer.get() + 1);
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


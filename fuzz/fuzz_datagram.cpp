// Arbitrary bytes as one datagram into the datagram reader, over a datagram
// socket pair. Beyond not crashing: an accepted datagram gives exactly the
// payload it announced, all of which arrived.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/HxConnection.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > 60000) return 0;  // one datagram of the pair's size
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_DGRAM, 0, fds) != 0) return 0;
  int big = 1 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  if (send(fds[1], data, size, MSG_DONTWAIT) != static_cast<ssize_t>(size)) {
    close(fds[0]);
    close(fds[1]);
    return 0;
  }
  HxConnection conn(fds[0], 2, 1000);
  int length = 0;
  char* out = conn.receive(length);
  if (out != nullptr) {
    if (size < 6 || length < 1 || static_cast<size_t>(length) > size - 5) std::abort();
    if (std::memcmp(out, data + 5, static_cast<size_t>(length)) != 0) std::abort();
    delete[] out;
  } else if (conn.error().integervalue() < 0) {
    std::abort();
  }
  // The server's datagram socket is not the connection's to close.
  close(fds[0]);
  close(fds[1]);
  return 0;
}

// Arbitrary bytes from a peer into the TCP frame reader, over a socket pair
// whose far end is closed after the bytes, so nothing waits. Beyond not
// crashing: a frame that is accepted gives exactly the length it announced.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "net/HxConnection.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  int big = 1 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  size_t done = 0;
  while (done < size) {
    ssize_t n = send(fds[1], data + done, size - done, MSG_DONTWAIT);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  shutdown(fds[1], SHUT_WR);
  HxConnection conn(fds[0], 1, 1000);
  int length = -1;
  char* out = conn.receive(length);
  if (out != nullptr) {
    if (done < 9) std::abort();
    uint32_t announced = (uint32_t{data[5]} << 24) | (uint32_t{data[6]} << 16) | (uint32_t{data[7]} << 8) | data[8];
    if (length < 1 || static_cast<uint32_t>(length) != announced) std::abort();
    delete[] out;
  } else if (length != 0 || conn.error().integervalue() < 0) {
    std::abort();
  }
  close(fds[1]);
  return 0;
}

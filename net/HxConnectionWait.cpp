#include "net/HxConnection.h"

// Waiting on a connection's socket: the one wait every read, write and
// connect of the connections goes through, and the members built on it.

#include <poll.h>

#include <cerrno>
#include <cstdio>

#include "core/HxInterrupt.h"
#include "core/HxWorld.h"
#include "net/HxConnectionIo.h"
#include "net/HxSysText.h"

// ---- the wait of every connection ------------------------------------------

void hx_print_sys_error(char const* what, int err) {
  std::fprintf(stderr, "%s: %s\n", what, hx_sys_text(err).value());
}

void hx_put_be32(char* p, uint32_t v) {
  p[0] = static_cast<char>(v >> 24);
  p[1] = static_cast<char>(v >> 16);
  p[2] = static_cast<char>(v >> 8);
  p[3] = static_cast<char>(v);
}

int32_t hx_get_be32(char const* p) {
  auto const* u = reinterpret_cast<unsigned char const*>(p);
  uint32_t v = (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | uint32_t{u[3]};
  return static_cast<int32_t>(v);
}

int hx_wait_fd(int fd, bool write, int timeout_ms, bool unlimited) {
  if (!unlimited && timeout_ms < 0) {
    errno = EINVAL;
    return -1;
  }
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  pollfd p;
  p.fd = fd;
  p.events = write ? POLLOUT : POLLIN;
  p.revents = 0;
  // One deadline for the whole wait, signals and the interrupt check
  // included (core/HxWorld.h).
  int const r = hx_poll(&p, 1, unlimited ? -1 : timeout_ms);
  if (r > 0) {
    if ((p.revents & POLLNVAL) != 0) {
      errno = EBADF;
      return -1;
    }
    // Hang-up and error count as ready, as they do for select: the next
    // read or write reports what happened.
    return 1;
  }
  return r;
}

int HxConnection::checkpoint(int socket, int timeout_ms, int direction) {
  int r = hx_wait_fd(socket, direction != 1, timeout_ms);
  if (r == 1) return 0;
  timedOut_(direction, r == 0 ? ETIMEDOUT : errno);
  return 1;
}

void HxConnection::timedOut_(int direction, int err) {
  hx_print_sys_error("checkpoint(): select() timed out", err);
  fail_(direction == 1 ? 42 : 43);
}

int HxConnection::waitStep_(int step_ms, int64_t deadline, int direction) {
  int64_t const left = deadline - hx_wait_millis();
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
  int r = hx_wait_fd(socket_, direction != 1, ms, unlimited);
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


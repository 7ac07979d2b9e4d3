#pragma once

#include <cstddef>
#include <cstdint>

// What the connection's units (connecting, waiting, TCP, UDP) share.

// The version byte that starts a frame and a datagram.
constexpr unsigned char kHxFrameVersion = 2;

// Writes what perror writes, for an error number that was kept.
void hx_print_sys_error(char const* what, int err);

void hx_put_be32(char* p, uint32_t v);
int32_t hx_get_be32(char const* p);

// Waits until fd is readable or writable: 1 ready, 0 timed out, -1 failed
// with errno set. A time-out below 0 fails at once (EINVAL) unless
// `unlimited`. A wait that a signal interrupted fails with EINTR when the
// interrupt check ends the request (and none begins once it has), and
// otherwise goes on for the time that is left.
int hx_wait_fd(int fd, bool write, int timeout_ms, bool unlimited = false);

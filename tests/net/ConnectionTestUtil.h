#pragma once

// Helpers of the connection tests: frames as a peer writes them, and a
// connection on one end of a socket pair whose other end the test plays.

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <string>

#include "net/HxConnection.h"
#include "net/NetTestUtil.h"

inline std::string random_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

// A frame as a peer would write it, announcing the given lengths.
inline std::string frame(std::string const& payload, uint32_t packed, uint32_t plain) {
  return std::string("\x02") + be32(packed) + be32(plain) + payload;
}

// A connection of the given type on one end of a socket pair; the test
// plays the peer on the other end.
struct Pair {
  int peer = -1;
  std::unique_ptr<HxConnection> conn;
  Pair(int type, int timeout, int kind = SOCK_STREAM) {
    int fds[2];
    socketpair(AF_UNIX, kind, 0, fds);
    peer = fds[1];
    conn.reset(new HxConnection(fds[0], type, timeout));
  }
  ~Pair() {
    conn.reset();
    if (peer >= 0) close(peer);
  }
};

inline std::string received(HxConnection& c, int& length) {
  char* data = c.receive(length);
  std::string out = data ? std::string(data, static_cast<size_t>(length > 0 ? length : 0)) : "<null>";
  delete[] data;
  return out;
}

#include "net/HxConnection.h"

// The TCP forms of a connection: compressed frames and raw bytes.

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "core/HxWorld.h"
#include "net/HxCompress.h"
#include "net/HxConnectionIo.h"
#include "net/HxNetLimits.h"
#include "net/HxSysText.h"

namespace {

constexpr size_t kFrameHeader = 9;

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

// The kept buffer of one frame, taken out of the thread's slot for as long
// as the frame is sent or read. A wait of the frame may run code that sends
// or reads another frame on the same thread (a signal handler that calls
// the library again): that frame finds the slot empty and makes a buffer of
// its own, so neither overwrites nor frees the bytes of the other. At the
// end the buffer, trimmed, goes back to the slot when the slot is still
// empty, and is freed otherwise. Taking and giving back move a pointer and
// allocate nothing.
class BorrowedBuffer {
 public:
  explicit BorrowedBuffer(KeptBuffer& slot) : slot_(slot) {
    buf_.bytes = std::move(slot.bytes);
    buf_.capacity = slot.capacity;
    slot.capacity = 0;
  }
  BorrowedBuffer(BorrowedBuffer const&) = delete;
  BorrowedBuffer& operator=(BorrowedBuffer const&) = delete;
  ~BorrowedBuffer() {
    buf_.trim();
    if (slot_.bytes != nullptr || buf_.bytes == nullptr) return;
    slot_.bytes = std::move(buf_.bytes);
    slot_.capacity = buf_.capacity;
  }
  KeptBuffer* operator->() { return &buf_; }

 private:
  KeptBuffer& slot_;
  KeptBuffer buf_;
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

// ---- TCP frames ------------------------------------------------------------

int HxConnection::sendTcp(char const* data, int length) {
  if (active_ == 0) {
    fail_(3);
    return -1;
  }
  // Header and payload go out from one buffer: the header's place is kept
  // in front of the compressed bytes, so a frame usually takes one write.
  BorrowedBuffer buf(send_buffer());
  long packed = -1;
  if (length >= 0) {
    size_t const room = HxCompress::bound(static_cast<size_t>(length));
    if (buf->reserve(kFrameHeader + room, 0))
      packed = HxCompress::compactInto(buf->bytes.get() + kFrameHeader, room, data, static_cast<size_t>(length));
  }
  if (packed < 0) {
    fail_(4);
    return -1;
  }
  char* frame = buf->bytes.get();
  frame[0] = static_cast<char>(kHxFrameVersion);
  hx_put_be32(frame + 1, static_cast<uint32_t>(packed));
  hx_put_be32(frame + 5, static_cast<uint32_t>(length));

  int const step = stepTimeout_(5);
  int64_t const deadline = frameDeadline_(step);
  size_t const total = kFrameHeader + static_cast<size_t>(packed);
  size_t done = 0;
  // The first write is tried at once; a wait comes only when the socket
  // took less than was offered or nothing at all, so a frame that fits the
  // socket's buffer costs one system call.
  bool wait = false;
  while (done < total) {
    if (wait && waitStep_(step, deadline, 2) != 0) return -1;
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
    hx_print_sys_error("HxConnection::sendTcp(): write()", err);
    // The error names the piece that could not be written whole.
    fail_(done < 1 ? 6 : done < 5 ? 7 : done < kFrameHeader ? 8 : 6, err);
    return -1;
  }
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
    if (before == 0 && static_cast<unsigned char>(header[0]) != kHxFrameVersion) {
      fail_(18);
      error_.set("VERSION", HxString(static_cast<int>(static_cast<unsigned char>(header[0]))));
      return nullptr;
    }
    for (size_t w = 0; w < 2; ++w) {
      size_t const end = 5 + 4 * w;
      if (before >= end || got < end) continue;
      words[w] = hx_get_be32(header + end - 4);
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
  BorrowedBuffer buf(receive_buffer());
  got = 0;
  while (got < packed) {
    if (got == buf->capacity || buf->capacity == 0) {
      size_t want = std::min(packed, std::max(kHxFrameReadChunk, 2 * buf->capacity));
      if (!buf->reserve(want, got)) {
        fail_(14);
        return nullptr;
      }
    }
    Io io = readSome_(buf->bytes.get(), std::min(packed, buf->capacity), step, deadline, got, wait);
    if (io == Io::kWaitFailed) return nullptr;
    if (io == Io::kEof || io == Io::kError) {
      fail_(41);
      return nullptr;
    }
  }

  char* out = new (std::nothrow) char[plain];
  if (out == nullptr) {
    fail_(14);
    return nullptr;
  }
  bool inflated = HxCompress::uncompactInto(out, plain, buf->bytes.get(), packed);
  if (!inflated) {
    delete[] out;
    fail_(21);
    return nullptr;
  }
  handled_ += static_cast<uint32_t>(plain);
  length = static_cast<int>(plain);
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
    if (hx_wait_fd(socket_, true, step) != 1) {
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
    int r = hx_wait_fd(socket_, false, wait_ms);
    if (r < 0) {
      hx_print_sys_error("HxConnection::receiveRawTcp(): select()", errno);
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


#pragma once

#include <cstddef>

// Bounds on what the transport accepts from a peer (one header for net/).
// Input beyond a bound is treated like any other malformed frame or datagram:
// the operation fails with its error number before anything is allocated for
// it, and nothing crashes.

// Either length word of a TCP frame. The largest real replies carry a few
// whole job logs (each read at most 256 MiB) or lists of thousands of jobs;
// a frame announcing more than this is refused (error 20) instead of sizing
// an allocation by a number a peer chose.
constexpr size_t kHxMaxFrameBytes = size_t{1} << 30;

// zlib's deflate never compresses better than 1032 to 1 (a 258-byte match
// in two bits). A frame whose uncompressed length word claims more than this
// times its compressed length (plus the stream's own few bytes) is lying and
// is refused (error 20) before the output buffer is allocated.
constexpr size_t kHxMaxInflateRatio = 1032;
constexpr size_t kHxInflateSlack = 64;

// A frame's every wait lasts at most one step (the connection's time-out / 5,
// at least 1 s), but a peer that sends a byte now and then starts each wait
// afresh: the whole frame, header and payload, must also be read (or
// written) within this many steps of the first wait, twice the time-out, or
// it fails as a step that timed out does (error 42 reading, 43 writing). A
// live reply streams after its first byte; twice the time-out leaves a large
// one on a slow link room: 20 s for a 10 s time-out (about 240 MB at
// 100 Mbit/s), 20 minutes for the default 600 s.
constexpr int kHxFrameDeadlineSteps = 10;

// The compressed payload is read into a buffer that grows as bytes arrive,
// starting at most this large, so a length word alone never reserves memory.
constexpr size_t kHxFrameReadChunk = 64 * 1024;

// A raw TCP receive reads until the peer falls silent; a peer that never
// does would grow the buffer without end. The receive stops here, as it does
// at end of file.
constexpr size_t kHxMaxRawReceiveBytes = 64 * 1024 * 1024;

// The per-thread send and receive buffers are kept between frames; one that
// grew beyond this for a large frame is given back afterwards.
constexpr size_t kHxKeptBufferBytes = 1024 * 1024;

// Answers one broadcast poll collects. The peers that answer a poll are the
// supervisors of one network, a handful; a host that keeps answering would
// otherwise hold the caller and grow the list without end. The poll also
// ends once the conversation time-out has passed since the first answer.
constexpr int kHxMaxPollReplies = 1024;

// The mediator appends the texts that datagrams bring (message 1104) to one
// buffer for the waiting job process; anyone who can reach its port can
// send them. Event texts are short lines; a text that would take the buffer
// past this is dropped instead of growing it without end.
constexpr size_t kHxMaxMediatorBuffer = 4 * 1024 * 1024;

// The supervisor cache and clock offset files hold one dotted-quad address
// or one decimal number; reading stops here, and more than an address can be
// is then no address.
constexpr size_t kHxMaxCacheFileBytes = 64;

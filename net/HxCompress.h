#pragma once

#include <cstddef>

// The zlib compression of TCP frame payloads. Each thread keeps one deflate
// and one inflate stream and resets them for every payload instead of
// building them again: the bytes are those of zlib's one-shot compress() at
// the default level.
class HxCompress {
 public:
  // A new buffer (delete[]) with the compressed data and its size in
  // outlength; null with outlength 0 on failure.
  static char* compact(int& outlength, char const* data, int length);
  // A new buffer (delete[]) of exactly `length` bytes, the announced size,
  // holding the inflated data; null when the data does not inflate to
  // exactly that many bytes.
  static char* uncompact(int& length, char const* data, int compressedlength);

  // The largest compressed size of `length` bytes.
  static size_t bound(size_t length);
  // Compresses into out[0, capacity); the compressed size, or -1 when the
  // data cannot be compressed into that room.
  static long compactInto(char* out, size_t capacity, char const* data, size_t length);
  // Inflates into out; true only when the data inflates to exactly
  // outlength bytes.
  static bool uncompactInto(char* out, size_t outlength, char const* data, size_t length);
};

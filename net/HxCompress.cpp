#include "net/HxCompress.h"

#include <zlib.h>

#include <climits>
#include <new>

namespace {

// One deflate stream per thread, made on first use and ended with the thread.
struct Deflater {
  z_stream z{};
  bool ok = false;
  Deflater() { ok = deflateInit(&z, Z_DEFAULT_COMPRESSION) == Z_OK; }
  ~Deflater() {
    if (ok) deflateEnd(&z);
  }
};

struct Inflater {
  z_stream z{};
  bool ok = false;
  Inflater() { ok = inflateInit(&z) == Z_OK; }
  ~Inflater() {
    if (ok) inflateEnd(&z);
  }
};

Deflater& deflater() {
  thread_local Deflater d;
  return d;
}

Inflater& inflater() {
  thread_local Inflater i;
  return i;
}

}  // namespace

size_t HxCompress::bound(size_t length) { return compressBound(static_cast<uLong>(length)); }

long HxCompress::compactInto(char* out, size_t capacity, char const* data, size_t length) {
  if (length > UINT_MAX || capacity > UINT_MAX || (data == nullptr && length > 0)) return -1;
  Deflater& d = deflater();
  if (!d.ok || deflateReset(&d.z) != Z_OK) return -1;
  // zlib does not write through next_in; its interface just predates const.
  d.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  d.z.avail_in = static_cast<uInt>(length);
  d.z.next_out = reinterpret_cast<Bytef*>(out);
  d.z.avail_out = static_cast<uInt>(capacity);
  int rc = deflate(&d.z, Z_FINISH);
  if (rc != Z_STREAM_END) return -1;
  return static_cast<long>(d.z.total_out);
}

bool HxCompress::uncompactInto(char* out, size_t outlength, char const* data, size_t length) {
  if (length > UINT_MAX || outlength > UINT_MAX || data == nullptr) return false;
  Inflater& i = inflater();
  if (!i.ok || inflateReset(&i.z) != Z_OK) return false;
  i.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  i.z.avail_in = static_cast<uInt>(length);
  i.z.next_out = reinterpret_cast<Bytef*>(out);
  i.z.avail_out = static_cast<uInt>(outlength);
  int rc = inflate(&i.z, Z_FINISH);
  // The stream must end, and end exactly at the announced size: more data
  // than announced leaves the stream unfinished, less leaves room unused.
  return rc == Z_STREAM_END && i.z.total_out == outlength;
}

char* HxCompress::compact(int& outlength, char const* data, int length) {
  outlength = 0;
  if (length < 0) return nullptr;
  size_t const room = bound(static_cast<size_t>(length));
  char* out = new (std::nothrow) char[room];
  if (out == nullptr) return nullptr;
  long n = compactInto(out, room, data, static_cast<size_t>(length));
  if (n < 0) {
    delete[] out;
    return nullptr;
  }
  outlength = static_cast<int>(n);
  return out;
}

char* HxCompress::uncompact(int& length, char const* data, int compressedlength) {
  if (length < 0 || compressedlength < 0) return nullptr;
  size_t const n = static_cast<size_t>(length);
  char* out = new (std::nothrow) char[n > 0 ? n : 1];
  if (out == nullptr) return nullptr;
  if (!uncompactInto(out, n, data, static_cast<size_t>(compressedlength))) {
    delete[] out;
    return nullptr;
  }
  return out;
}

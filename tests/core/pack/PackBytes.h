#pragma once

// Helpers of the binary form tests: bytes written out as hexadecimal, the
// packed form of an object, and unpacking from a buffer of exactly the
// input's size (so that a read past its end shows under the sanitizer).

#include <memory>
#include <string>

#include "core/pack/HxPack.h"

// Bytes written as hexadecimal pairs; blanks and '|' only separate them.
inline std::string hex(char const* text) {
  std::string out;
  int hi = -1;
  for (char const* p = text; *p; ++p) {
    int d = (*p >= '0' && *p <= '9') ? *p - '0' : (*p >= 'A' && *p <= 'F') ? *p - 'A' + 10 : -1;
    if (d < 0) continue;
    if (hi < 0) {
      hi = d;
    } else {
      out.push_back(static_cast<char>(hi * 16 + d));
      hi = -1;
    }
  }
  return out;
}

inline std::string packed(HxPack& p) {
  p.pack();
  return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
}

inline int unpack(HxPack& p, std::string const& bytes) {
  std::unique_ptr<char[]> exact(new char[bytes.size()]);
  if (!bytes.empty()) bytes.copy(exact.get(), bytes.size());
  return p.unpack(exact.get(), static_cast<int>(bytes.size()));
}

#pragma once

// The top-level records of a packed object, for tests of record order and of
// which fields an operation changes.

#include <string>
#include <vector>

#include "tests/model/job/JobTestUtil.h"

namespace jobtest {

// One top-level record of a packed object: its tag, kind, and the int value
// of an int record.
struct Rec {
  int tag;
  int kind;
  int value;
  std::string bytes;  // the whole record
};

// The top-level records of the bytes that pack() wrote (after the 4-byte
// header); stops at anything malformed.
inline std::vector<Rec> records(std::string const& bytes) {
  std::vector<Rec> out;
  size_t at = 4;
  auto be = [&](size_t p, int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[p + static_cast<size_t>(i)]);
    return v;
  };
  while (at + 4 <= bytes.size()) {
    Rec r{static_cast<short>(be(at, 2)), static_cast<short>(be(at + 2, 2)), 0, std::string()};
    size_t const start = at;
    at += 4;
    size_t size = 0;
    switch (r.kind) {
      case 1: case 5: size = 4; break;
      case 2: case 6: size = 1; break;
      case 7: size = 8; break;
      case 3:
        if (at + 4 > bytes.size()) return out;
        size = 4 + be(at, 4);
        break;
      case 4:
        if (at + 8 > bytes.size()) return out;
        size = 8 + be(at + 4, 4);
        break;
      default: return out;
    }
    if (at + size > bytes.size()) return out;
    if (r.kind == 1) r.value = static_cast<int>(be(at, 4));
    at += size;
    r.bytes = bytes.substr(start, at - start);
    out.push_back(r);
  }
  return out;
}

inline std::vector<int> tags(HxPack& p) {
  std::vector<int> out;
  for (Rec const& r : records(packed(p))) out.push_back(r.tag);
  return out;
}

}  // namespace jobtest

#include "model/farm/HxSupe.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "model/job/JobTestUtil.h"

namespace {

// The field number and kind of each top-level record of a packed object.
std::vector<std::pair<int, int>> records(std::string const& bytes) {
  std::vector<std::pair<int, int>> out;
  size_t at = 4;
  auto u32 = [&](size_t i) {
    auto const* p = reinterpret_cast<unsigned char const*>(bytes.data() + i);
    return (size_t{p[0]} << 24) | (size_t{p[1]} << 16) | (size_t{p[2]} << 8) | size_t{p[3]};
  };
  while (at + 4 <= bytes.size()) {
    int tag = (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
    int kind = (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
    out.emplace_back(tag, kind);
    at += 4;
    switch (kind) {
      case 1: case 5: at += 4; break;
      case 3: at += 4 + u32(at); break;
      case 4: at += 8 + u32(at + 4); break;
      case 7: at += 8; break;
      default: at += 1; break;
    }
  }
  return out;
}

TEST(HxSupe, DefaultsCopyAndForms) {
  HxSupe s;
  EXPECT_EQ(s.id(), -1);
  EXPECT_EQ(s.flags(), 0);
  EXPECT_EQ(s.total(), 0);
  EXPECT_EQ(s.state().integervalue(), 0);
  EXPECT_EQ(s.lastsync().value(), 0);
  s.name("supe1");
  s.address(HxAddress(0x0A000001));
  s.state(HxState(257));
  s.flags(6);
  s.id(3);
  s.lastsync(HxTime(99));
  s.total(12);
  s.domain("main");
  s.region("eu");
  std::string const before = packed(s);
  s.clear();
  EXPECT_EQ(packed(s), before);
  std::vector<std::pair<int, int>> const expected = {{1, 3}, {2, 4}, {3, 4}, {4, 1}, {5, 1},
                                                     {6, 4}, {7, 1}, {8, 3}, {9, 3}};
  EXPECT_EQ(records(before), expected);
  expect_round_trip(s);
  HxSupe c;
  c.copy(s);
  EXPECT_EQ(packed(c), before);
  HxSupeList list;
  list.append(new HxSupe(s));
  expect_round_trip(list);
}

}  // namespace

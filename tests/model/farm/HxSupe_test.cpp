#include "model/farm/HxSupe.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "model/job/JobTestUtil.h"

namespace {

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

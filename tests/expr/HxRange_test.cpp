#include "expr/HxRange.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "expr/HxExprLimits.h"

namespace {

std::vector<int> members(HxRange const& r) {
  std::vector<int> out;
  for (int i = 0; i < r.length(); ++i) out.push_back(r.get(i));
  return out;
}

std::vector<int> parsed(char const* text) { return members(HxRange(HxString(text))); }

std::vector<std::string> strings(HxStringList const& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.length(); ++i) out.emplace_back(list.get(i)->value());
  return out;
}

std::vector<std::string> chunks(char const* text, int size) {
  HxRange r{HxString(text)};
  HxStringList out;
  r.chunk(size, out);
  return strings(out);
}

std::vector<std::string> split(int mode, char const* text) {
  HxStringList out;
  HxRange::patternsplit(mode, HxString(text), out);
  return strings(out);
}

using V = std::vector<int>;
using S = std::vector<std::string>;

}  // namespace

TEST(HxRangeParse, ItemsStepsAndComplements) {
  EXPECT_EQ(parsed("1-3,5,7"), (V{1, 2, 3, 5, 7}));
  EXPECT_EQ(parsed("5-1"), (V{5, 4, 3, 2, 1}));
  EXPECT_EQ(parsed("1-10x3"), (V{1, 4, 7, 10}));
  EXPECT_EQ(parsed("10-1x3"), (V{10, 7, 4, 1}));
  EXPECT_EQ(parsed("1-10x4"), (V{1, 5, 9}));
  EXPECT_EQ(parsed("1-10X3"), (V{2, 3, 5, 6, 8, 9}));
  EXPECT_EQ(parsed("10-1X3"), (V{9, 8, 6, 5, 3, 2}));
  EXPECT_EQ(parsed("1-5X1"), V{});
  EXPECT_EQ(parsed("1-5x0"), (V{1, 2, 3, 4, 5}));
  EXPECT_EQ(parsed("1-10x-3"), parsed("1-10x3"));
  EXPECT_EQ(parsed("-5--3"), (V{-5, -4, -3}));
  EXPECT_EQ(parsed("1--2"), (V{1, 0, -1, -2}));
  EXPECT_EQ(parsed("3,1,2,2"), (V{3, 1, 2, 2}));
}

TEST(HxRangeParse, BlanksAndBrokenItems) {
  EXPECT_EQ(parsed("1, 2 ,3"), (V{1, 2, 3}));
  EXPECT_EQ(parsed(" 1 - 5 x 2"), (V{1, 3, 5}));
  EXPECT_EQ(parsed("1\t-\n3"), (V{1, 2, 3}));
  EXPECT_EQ(parsed("1 2"), V{1});
  EXPECT_EQ(parsed("1-"), V{});
  EXPECT_EQ(parsed("1-5x"), V{});
  EXPECT_EQ(parsed("3,x"), V{3});
  EXPECT_EQ(parsed("2,4-,9"), V{2});
  EXPECT_EQ(parsed("1\r,2"), V{1});  // carriage return is not a blank here
  EXPECT_EQ(parsed("- 5"), V{});
  EXPECT_EQ(parsed(""), V{});
  EXPECT_EQ(parsed("frame"), V{});
}

TEST(HxRangeParse, PaddingFromFirstNumber) {
  HxRange r{HxString("007-009")};
  EXPECT_EQ(members(r), (V{7, 8, 9}));
  EXPECT_EQ(r.padding(), 3);
  EXPECT_EQ(std::string(r.value().value()), "007-9");
  EXPECT_EQ(HxRange(HxString("  0012,3")).padding(), 4);
  EXPECT_EQ(HxRange(HxString("-05")).padding(), 2);  // the sign does not count
  HxRange keep{HxString("01-03")};
  keep.add(HxString("   "));
  EXPECT_EQ(keep.padding(), 2);  // an all-blank text leaves it
  keep.add(HxString("x"));
  EXPECT_EQ(keep.padding(), 0);
  keep.parse(HxString("0004"));
  EXPECT_EQ(members(keep), V{4});
  EXPECT_EQ(keep.padding(), 4);
}

TEST(HxRangeParse, NumbersBeyondInt32SaturateAndSteppingEnds) {
  EXPECT_EQ(parsed("99999999999"), V{INT_MAX});
  EXPECT_EQ(parsed("-99999999999999999999999"), V{INT_MIN});
  EXPECT_EQ(parsed("-2147483648"), V{INT_MIN});
  EXPECT_EQ(parsed("2147483647"), V{INT_MAX});
  HxRange top{HxString("2147483600-2147483647")};
  EXPECT_EQ(top.length(), 48);
  EXPECT_EQ(top.get(47), INT_MAX);
  HxRange bottom{HxString("-2147483600--2147483648")};
  EXPECT_EQ(bottom.length(), 49);
  EXPECT_EQ(bottom.get(48), INT_MIN);
  EXPECT_EQ(parsed("2147483640-9999999999x5"), (V{2147483640, 2147483645}));
  EXPECT_EQ(parsed("-2147483648-2147483647x2147483647"), (V{INT_MIN, -1, INT_MAX - 1}));
  EXPECT_EQ(parsed("1-3x-2147483648"), V{1});
}

TEST(HxRangeParse, JobsOfMoreThanAMillionFramesReadWhole) {
  HxRange big{HxString("1-1100000")};
  ASSERT_EQ(big.length(), 1100000);
  EXPECT_EQ(big.get(1099999), 1100000);
  HxStringList pieces;
  big.chunk(600000, pieces);
  EXPECT_EQ(strings(pieces), (S{"1-600000", "600001-1100000"}));
}

TEST(HxRangeParse, HostileSizesAreRefused) {
  // Too many members: the item adds nothing and reading stops there.
  EXPECT_EQ(parsed("5,1-2000000000,7"), V{5});
  EXPECT_EQ(parsed("-2147483648-2147483647X1"), V{});
  HxRange full;
  full.parse(HxString("1-" + std::to_string(kHxMaxRangeMembers)));
  EXPECT_EQ(full.length(), kHxMaxRangeMembers);
  full.add(HxString("1"));
  EXPECT_EQ(full.length(), kHxMaxRangeMembers);
  EXPECT_EQ(parsed(("5,1-" + std::to_string(kHxMaxRangeMembers)).c_str()), V{5});
  // A long run of leading zeros pads no wider than the bound.
  HxRange wide{HxString(std::string(200, '0') + "2,4,6")};
  EXPECT_EQ(wide.padding(), kHxMaxRangePadding);
  EXPECT_EQ(std::string(wide.value().value()), std::string(kHxMaxRangePadding - 1, '0') + "2-6x2");
}

TEST(HxRangeAccess, GetHasAndOrders) {
  HxRange r{HxString("1-9")};
  EXPECT_EQ(r.get(-1), 0);
  EXPECT_EQ(r.get(9), 0);
  EXPECT_TRUE(r.has(9));
  EXPECT_FALSE(r.has(10));
  EXPECT_TRUE(r.has(HxString("2-4,9")));
  EXPECT_FALSE(r.has(HxString("8-10")));
  EXPECT_TRUE(r.has(HxString("")));
  r.binary();
  EXPECT_EQ(members(r), (V{1, 9, 5, 3, 7, 2, 4, 6, 8}));
  r.sort();
  r.reverse();
  EXPECT_EQ(members(r), (V{9, 8, 7, 6, 5, 4, 3, 2, 1}));
  HxRange three{HxString("3,1,2")};
  three.binary();
  EXPECT_EQ(members(three), (V{3, 1, 2}));
  HxRange four{HxString("1-4")};
  four.binary();
  EXPECT_EQ(members(four), (V{1, 4, 2, 3}));
  HxRange added;
  added.add(5);
  added.add(-1);
  EXPECT_EQ(members(added), (V{5, -1}));
  added.clear();
  EXPECT_EQ(added.length(), 0);
}

TEST(HxRangeText, CompactText) {
  auto text = [](char const* t) { return std::string(HxRange(HxString(t)).value().value()); };
  EXPECT_EQ(text("1-3,5,7"), "1-3,5,7");
  EXPECT_EQ(text("7,9,1-5"), "1-5,7,9");
  EXPECT_EQ(text("002-8x2"), "002-8x2");
  EXPECT_EQ(text("1,3,5,7,9,10,11,12"), "1-9x2,10-12");
  EXPECT_EQ(text("1-3,5-9x2"), "1-3,5-9x2");
  EXPECT_EQ(text(""), "");
  EXPECT_EQ(text("05"), "5");
  EXPECT_EQ(text("07,3"), "3,7");
  EXPECT_EQ(text("-3-3x3"), "-3-3x3");
  EXPECT_EQ(text("-2147483648,0,2147483647"), "-2147483648,0,2147483647");
  EXPECT_EQ(text("-2000000000,0,2000000000"), "-2000000000-2000000000x2000000000");
  HxRange r{HxString("3,1,2,2")};
  EXPECT_EQ(std::string(r.value().value()), "1-3");
  EXPECT_EQ(members(r), (V{1, 2, 3}));
}

TEST(HxRangeChunk, PiecesNeverSpanRuns) {
  EXPECT_EQ(chunks("002-8x2", 2), (S{"2-4x2", "6-8x2"}));
  EXPECT_EQ(chunks("002-8x2", 3), (S{"2-6x2", "8"}));
  EXPECT_EQ(chunks("1-10", 3), (S{"1-3", "4-6", "7-9", "10"}));
  EXPECT_EQ(chunks("1,3,5,7,9", 2), (S{"1-3x2", "5-7x2", "9"}));
  EXPECT_EQ(chunks("1-3,5,7", 10), (S{"1-3", "5", "7"}));
  EXPECT_EQ(chunks("1-3", 1), (S{"1", "2", "3"}));
  EXPECT_EQ(chunks("1-3", 0), S{});
  EXPECT_EQ(chunks("1-3", -4), S{});
  EXPECT_EQ(chunks("", 3), S{});
  EXPECT_EQ(chunks("04", 3), S{"4"});
  EXPECT_EQ(chunks("1,10", 5), S{"1-10x9"});
  EXPECT_EQ(chunks("1,2", 5), S{"1-2"});
  EXPECT_EQ(chunks("2,1", 1), (S{"1", "2"}));
  EXPECT_EQ(chunks("-2147483648,2147483647", 2), S{"-2147483648-2147483647x4294967295"});
}

TEST(HxRangeChunk, Partition) {
  HxStringList out;
  HxRange r{HxString("1-10")};
  r.partition(3, out);
  EXPECT_EQ(strings(out), (S{"1-4", "5-8", "9-10"}));
  HxStringList none;
  HxRange empty;
  empty.partition(4, none);
  r.partition(0, none);
  EXPECT_EQ(none.length(), 0);
  // The size comes from the count before duplicates are removed.
  HxStringList dup;
  HxRange twice{HxString("1-4,1-4")};
  twice.partition(2, dup);
  EXPECT_EQ(strings(dup), S{"1-4"});
}

TEST(HxRangePattern, IsRange) {
  EXPECT_TRUE(HxRange::isrange(HxString("1-10x2, 15")));
  EXPECT_TRUE(HxRange::isrange(HxString("-5")));
  EXPECT_FALSE(HxRange::isrange(HxString("x5")));
  EXPECT_FALSE(HxRange::isrange(HxString(",1")));
  EXPECT_FALSE(HxRange::isrange(HxString("a1")));
  EXPECT_FALSE(HxRange::isrange(HxString("")));
  EXPECT_FALSE(HxRange::isrange(HxString(" \t\n")));
  EXPECT_FALSE(HxRange::isrange(HxString("1\r")));
  EXPECT_FALSE(HxRange::isrange(HxString("[1-2]")));
}

TEST(HxRangePattern, FourValueSplit) {
  auto four = [](char const* t) {
    int s = -9, e = -9, st = -9;
    HxRange::patternsplit(HxString(t), s, e, st);
    return V{s, e, st};
  };
  EXPECT_EQ(four("12"), (V{12, 12, 1}));
  EXPECT_EQ(four("1-100x5"), (V{1, 100, 5}));
  EXPECT_EQ(four("frame"), (V{0, 1, 1}));
  EXPECT_EQ(four(""), (V{1, 1, 1}));
  EXPECT_EQ(four("5-"), (V{5, 5, 1}));
  EXPECT_EQ(four("5-a"), (V{5, 0, 1}));
  EXPECT_EQ(four("5-9x"), (V{5, 9, 1}));
  EXPECT_EQ(four("5-9xq"), (V{5, 9, 0}));
  EXPECT_EQ(four("9-5X-2"), (V{9, 5, -2}));
  EXPECT_EQ(four("99999999999-1"), (V{INT_MAX, 1, 1}));
}

TEST(HxRangePattern, ListSplitOfRangesAndBrackets) {
  EXPECT_EQ(split(0, "1-3,5"), (S{"1", "2", "3", "5"}));
  EXPECT_EQ(split(0, "007-008"), (S{"7", "8"}));
  EXPECT_EQ(split(0, "3,1,3"), (S{"3", "1", "3"}));
  EXPECT_EQ(split(0, "shot[01-03]"), (S{"shot01", "shot02", "shot03"}));
  EXPECT_EQ(split(0, "a[1-2]b[3-4]"), (S{"a1b[3-4]", "a2b[3-4]"}));
  EXPECT_EQ(split(0, "node1,node[4-5]"), (S{"node1", "node4", "node5"}));
  EXPECT_EQ(split(0, "n [8-9] .x"), (S{"n8.x", "n9.x"}));
  // Blanks inside the group split its tokens: only "8" is the range.
  EXPECT_EQ(split(0, "n[ 8 - 9 ]"), S{"n89]"});
  EXPECT_EQ(split(0, "a[1-2"), (S{"a1", "a2"}));
  EXPECT_EQ(split(0, "shot[x]"), S{});
  EXPECT_EQ(split(0, "plain"), S{"plain"});
  EXPECT_EQ(split(0, "a["), S{"a["});
  EXPECT_EQ(split(0, "a,,b"), (S{"a", "", "b"}));
  EXPECT_EQ(split(0, ""), S{});
  EXPECT_EQ(split(0, "f[-1-1]"), (S{"f-1", "f0", "f1"}));
  // Names without comma, bracket or blank come back whole, unless a range.
  EXPECT_EQ(split(0, "node-7"), S{"node-7"});
  EXPECT_EQ(split(0, "x1-3"), S{"x1-3"});
  EXPECT_EQ(split(0, "12"), S{"12"});
  EXPECT_EQ(split(0, "a b"), S{"ab"});
  EXPECT_EQ(split(0, "a\rb"), S{"ab"});
  EXPECT_EQ(split(0, "h\xc3\xa9"), S{"h\xc3\xa9"});
  HxString secret("host1");
  secret.secure(1);
  HxStringList names;
  HxRange::patternsplit(0, secret, names);
  ASSERT_EQ(1, names.length());
  EXPECT_STREQ("host1", names.get(0)->value());
  EXPECT_EQ(0, names.get(0)->secure());
}

TEST(HxRangePattern, ListSplitModes) {
  EXPECT_EQ(split(1, "5,1-4"), (S{"1", "5", "3", "2", "4"}));
  EXPECT_EQ(split(2, "5,1-4"), (S{"1", "2", "3", "4", "5"}));
  EXPECT_EQ(split(3, "5,1-4,4"), (S{"5", "4", "4", "3", "2", "1"}));
  EXPECT_EQ(split(4, "5,1-4"), (S{"5", "4", "2", "1", "3"}));
  EXPECT_EQ(split(5, "5,1-4"), (S{"4", "3", "2", "1", "5"}));
  EXPECT_EQ(split(9, "5,1-4"), (S{"5", "1", "2", "3", "4"}));
  EXPECT_EQ(split(3, "s[08-10]"), (S{"s10", "s09", "s08"}));
}

TEST(HxRangePattern, ListSplitIsBounded) {
  // A long name with a wide range would expand to gigabytes; the expansion
  // stops before its output passes the bound.
  std::string name(100000, 'n');
  HxStringList out;
  HxRange::patternsplit(0, HxString(name + "[1-100000]," + "tail"), out);
  EXPECT_EQ(out.length(), 0);
  HxStringList small;
  HxRange::patternsplit(0, HxString(name + "[1-3]"), small);
  EXPECT_EQ(small.length(), 3);
  EXPECT_EQ(std::string(small.get(2)->value()), name + "3");
}

TEST(HxRangePattern, MembersAreCountedAsAddReadsThem) {
  // count() decides what the splitters may build, so it must agree with add()
  // on every item form, on text it stops reading and at the member bound.
  std::string const over = "1-" + std::to_string(kHxMaxRangeMembers + 1);
  struct Row {
    std::string text;
    int padding;
  } const rows[] = {
      {"", 0},          {"7", 1},           {"007-010", 3},     {"1-10x3", 1},      {"10-1X3", 2},
      {"1-5X1", 1},     {"1-5x0", 1},       {"1-3,5 , 9", 1},   {"1-3,x", 1},       {"1-3,4-", 1},
      {"5-9xq,1", 1},   {"-5--3", 1},       {"1,2,3-", 1},      {over, 1},          {"3," + over, 1},
      {"-2147483648-2147483647x1073741824", 10},
  };
  for (Row const& row : rows) {
    int padding = -1;
    HxRange r{HxString(row.text.c_str())};
    EXPECT_EQ(HxRange::count(HxString(row.text.c_str()), &padding), r.length()) << row.text;
    EXPECT_EQ(padding, row.padding) << row.text;
  }
}

TEST(HxRangePattern, ListSplitWithinABudget) {
  // A budget of names is checked before anything is built: over it nothing
  // is appended and the call says so.
  struct Row {
    char const* text;
    long long budget;
    bool fits;
    int names;
  } const rows[] = {
      {"1-10", 10, true, 10},         {"1-10", 9, false, 0},        {"1-10x3", 4, true, 4},
      {"n[1-5],m", 6, true, 6},       {"n[1-5],m", 5, false, 0},    {"a,b,c", 2, false, 0},
      {"a[1-3]b[3-4]", 3, true, 3},   {"shot[x]", 0, true, 0},      {"1-16777216", 200000, false, 0},
      {"[1-16777216]", 200000, false, 0}, {"n[1-16777216],m", -1, true, 0},
      {"host1", 1, true, 1},          {"host1", 0, false, 0},
  };
  for (auto const& row : rows) {
    HxStringList out;
    EXPECT_EQ(HxRange::patternsplit(0, HxString(row.text), out, row.budget), row.fits) << row.text;
    EXPECT_EQ(out.length(), row.names) << row.text;
  }
}

TEST(HxRangePattern, BareRangeExpansionStaysWithinTheOutputBound) {
  // Twelve bytes of text must not ask for sixteen million strings; a range
  // whose names fit the bound still expands whole.
  HxStringList out;
  EXPECT_TRUE(HxRange::patternsplit(0, HxString("1-16777216"), out));
  EXPECT_EQ(out.length(), 0);
  long long fits = kHxMaxPatternBytes / (1 + kHxDecimalNameBytes);
  HxStringList whole;
  HxRange::patternsplit(0, HxString(("1-" + std::to_string(fits / 2)).c_str()), whole);
  EXPECT_EQ(whole.length(), fits / 2);
}

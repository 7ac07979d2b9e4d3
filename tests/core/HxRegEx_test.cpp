#include "core/HxRegEx.h"

#include <gtest/gtest.h>

namespace {

TEST(HxRegExMatch, FindsThePatternAnywhere) {
  HxRegEx re("b+c");
  EXPECT_TRUE(re.match("aabbbcd"));
  EXPECT_FALSE(re.match("aac"));
  EXPECT_TRUE(re.error().length() == 0);
}

TEST(HxRegExMatch, CollectsGroupsInOrderAndKeepsTheList) {
  HxRegEx re("(\\w+)=(\\d+)");
  HxStringList groups;
  groups.append(new HxString("earlier"));
  ASSERT_TRUE(re.match("frame start=1001 end", groups));
  ASSERT_EQ(groups.length(), 3);
  EXPECT_EQ(*groups.get(0), HxString("earlier"));
  EXPECT_EQ(*groups.get(1), HxString("start"));
  EXPECT_EQ(*groups.get(2), HxString("1001"));
}

TEST(HxRegExMatch, UnsetGroupIsEmptyText) {
  HxRegEx re("a(b)?c");
  HxStringList groups;
  ASSERT_TRUE(re.match("ac", groups));
  ASSERT_EQ(groups.length(), 1);
  EXPECT_EQ(groups.get(0)->length(), 0);
  // An unset group in the middle keeps the later ones in place.
  HxStringList more;
  HxRegEx mid("(x)?(y)");
  ASSERT_TRUE(mid.match("y", more));
  ASSERT_EQ(more.length(), 2);
  EXPECT_EQ(*more.get(0), HxString(""));
  EXPECT_EQ(*more.get(1), HxString("y"));
}

TEST(HxRegExMatch, NoMatchLeavesGroupsUntouched) {
  HxRegEx re("(z)");
  HxStringList groups;
  EXPECT_FALSE(re.match("abc", groups));
  EXPECT_EQ(groups.length(), 0);
}

TEST(HxRegExGroups, ThirtyThreeGroupsAreReportedMoreAreNot) {
  HxString p33, p34, text;
  for (int i = 0; i < 33; ++i) p33 += "(a)";
  p34 = p33 + "(a)";
  for (int i = 0; i < 40; ++i) text += 'a';
  HxStringList g33;
  ASSERT_TRUE(HxRegEx(p33).match(text, g33));
  EXPECT_EQ(g33.length(), 33);
  // Too many groups for the output vector: a match, but no groups.
  HxStringList g34;
  EXPECT_TRUE(HxRegEx(p34).match(text, g34));
  EXPECT_EQ(g34.length(), 0);
  HxString p40;
  for (int i = 0; i < 40; ++i) p40 += "(a)";
  HxStringList g40;
  EXPECT_TRUE(HxRegEx(p40).match(text, g40));
  EXPECT_EQ(g40.length(), 0);
}

TEST(HxRegExOptions, CaselessSwitchesOnAndOff) {
  HxRegEx re("ABC");
  EXPECT_FALSE(re.match("xabcx"));
  re.caseless(1);
  EXPECT_EQ(re.options(), 1u);
  EXPECT_TRUE(re.match("xabcx"));
  HxStringList groups;
  EXPECT_TRUE(HxRegEx("(?i)(B)").match("abc", groups));
  re.caseless(0);
  EXPECT_EQ(re.options(), 0u);
  EXPECT_FALSE(re.match("xabcx"));
  re.caseless(0);
  EXPECT_EQ(re.options(), 0u);
}

TEST(HxRegExErrors, BadPatternFailsEveryTimeWithMessage) {
  HxRegEx re("(");
  HxStringList groups;
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(re.match("((("));
    EXPECT_GT(re.error().length(), 0);
    EXPECT_FALSE(re.match("(((", groups));
    EXPECT_GT(re.error().length(), 0);
  }
  EXPECT_EQ(groups.length(), 0);
  // A good pattern clears the message of the last call.
  HxRegEx ok("a");
  EXPECT_FALSE(ok.match("b"));
  EXPECT_EQ(ok.error().length(), 0);
}

TEST(HxRegExSubject, ZeroByteInTheMiddleIsMatchedOver) {
  HxString text("ab\0cd", 5);
  EXPECT_TRUE(HxRegEx("cd").match(text));
  HxStringList groups;
  ASSERT_TRUE(HxRegEx("b(.)c").match(text, groups));
  ASSERT_EQ(groups.length(), 1);
  EXPECT_EQ(groups.get(0)->length(), 1);
  EXPECT_EQ(groups.get(0)->get(0), '\0');
}

}  // namespace

namespace {

TEST(HxRegExGroups, TrailingUnsetGroupsAreStillReported) {
  HxStringList groups;
  ASSERT_TRUE(HxRegEx("(a)(b)?(c)?").match("a", groups));
  ASSERT_EQ(groups.length(), 3);
  EXPECT_EQ(*groups.get(0), HxString("a"));
  EXPECT_EQ(*groups.get(1), HxString(""));
  EXPECT_EQ(*groups.get(2), HxString(""));
}

}  // namespace

// Scalar values: reading texts, conversions, and every operator's result and
// result kind, including the integer edge cases that must not trap.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "expr/HxScalar.h"

namespace {

HxScalar bin(char const* op, HxScalar l, HxScalar r) {
  HxScalar result;
  HxScalar::eval(HxString(op), l, r, result);
  return result;
}

HxScalar un(char const* op, HxScalar v) {
  HxScalar result;
  HxScalar::eval(HxString(op), v, result);
  return result;
}

HxScalar I(int v) { return HxScalar(v); }
HxScalar F(float v) { return HxScalar(v); }
HxScalar S(char const* t) { return HxScalar(HxString(t)); }

::testing::AssertionResult IsInt(HxScalar s, int v) {
  if (s.kind() != HxScalar::kInteger) return ::testing::AssertionFailure() << "kind " << s.kind();
  if (s.integervalue() != v) return ::testing::AssertionFailure() << "value " << s.integervalue() << " != " << v;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsFloat(HxScalar s, float v) {
  if (s.kind() != HxScalar::kFloat) return ::testing::AssertionFailure() << "kind " << s.kind();
  if (s.floatvalue() != v) return ::testing::AssertionFailure() << "value " << s.floatvalue() << " != " << v;
  return ::testing::AssertionSuccess();
}

std::string text(HxScalar s) { return s.stringvalue().value(); }

}  // namespace

TEST(HxScalarValue, KindFromText) {
  EXPECT_TRUE(IsInt(S("42"), 42));
  EXPECT_TRUE(IsInt(S("-7"), -7));
  EXPECT_TRUE(IsInt(S("007"), 7));
  EXPECT_TRUE(IsInt(S("-"), 0));
  EXPECT_TRUE(IsFloat(S("1.5"), 1.5f));
  EXPECT_TRUE(IsFloat(S(".5"), 0.5f));
  EXPECT_TRUE(IsFloat(S("-.5"), -0.5f));
  EXPECT_TRUE(IsFloat(S("+5"), 5.0f));
  EXPECT_TRUE(IsFloat(S("+"), 0.0f));
  EXPECT_TRUE(IsFloat(S("."), 0.0f));
  for (char const* t : {"1e5", " 5", "0x10", "abc", "1,5", ""}) {
    HxScalar s = S(t);
    EXPECT_EQ(s.kind(), HxScalar::kString) << t;
    EXPECT_EQ(text(s), t);
  }
  EXPECT_TRUE(IsInt(HxScalar(), 0));
}

TEST(HxScalarValue, Conversions) {
  EXPECT_EQ(F(-2.9f).integervalue(), -2);
  EXPECT_EQ(S("12abc").integervalue(), 12);
  EXPECT_EQ(S("abc").integervalue(), 0);
  EXPECT_EQ(I(3).floatvalue(), 3.0f);
  EXPECT_EQ(text(I(-12)), "-12");
  EXPECT_EQ(text(F(1.5f)), "1.500000");
  HxScalar i = I(5);
  i.stringvalue();
  EXPECT_EQ(i.kind(), HxScalar::kInteger);  // the text is scratch, the kind stays
  // A float beyond the integer range is held to it rather than converted blindly.
  EXPECT_EQ(F(1e30f).integervalue(), INT_MAX);
  EXPECT_EQ(F(-1e30f).integervalue(), INT_MIN);
  EXPECT_EQ(S("99999999999999999999999999999999999999999.0").integervalue(), INT_MAX);
}

TEST(HxScalarUnary, ByKind) {
  EXPECT_TRUE(IsInt(un("not", I(0)), 1));
  EXPECT_TRUE(IsInt(un("!", I(7)), 0));
  EXPECT_TRUE(IsInt(un("--", I(5)), -5));
  EXPECT_TRUE(IsInt(un("-", I(INT_MIN)), INT_MIN));
  EXPECT_TRUE(IsInt(un("+", I(5)), 0));
  EXPECT_TRUE(IsFloat(un("not", F(2.5f)), 0.0f));
  EXPECT_TRUE(IsFloat(un("!", F(0.0f)), 1.0f));
  EXPECT_TRUE(IsFloat(un("--", F(2.5f)), -2.5f));
  EXPECT_TRUE(IsFloat(un("?", F(2.5f)), 0.0f));

  HxScalar result = S("kept");
  HxScalar operand = S("abc");
  HxScalar::eval(HxString("not"), operand, result);
  EXPECT_EQ(result.kind(), HxScalar::kString);
  EXPECT_EQ(text(result), "kept");
  HxScalar fresh;
  HxScalar::eval(HxString("--"), operand, fresh);
  EXPECT_EQ(fresh.kind(), HxScalar::kString);
  EXPECT_EQ(text(fresh), "");
}

struct IntCase {
  char const* op;
  int l, r, expected;
};

TEST(HxScalarInteger, EveryWord) {
  static IntCase const cases[] = {
      {"/", 7, 2, 3},     {"div", -7, 2, -3}, {"%", -7, 2, -1},  {"mod", 7, -2, 1},  {"/", 7, 0, 7},
      {"%", 7, 0, 0},     {"mul", 6, 7, 42},  {"add", 2, 3, 5},  {"sub", 2, 3, -1},  {"max", 3, 5, 5},
      {"min", 3, 5, 3},   {"^", 6, 3, 5},     {"xor", 6, 3, 5},  {"&", 6, 3, 2},     {"|", 6, 3, 7},
      {"&&", 2, 3, 1},    {"and", 2, 0, 0},   {"||", 0, 3, 1},   {"or", 0, 0, 0},    {"=", 3, 3, 1},
      {"eq", 3, 4, 0},    {"<>", 3, 4, 1},    {"ne", 3, 3, 0},   {"lt", 1, 2, 1},    {">", 1, 2, 0},
      {"le", 2, 2, 1},    {"ge", 1, 2, 0},    {"in", 2, 2, 1},   {"has", 2, 3, 0},   {"=~", 3, 3, 0},
      {";", 3, 4, 0},     {":", 3, 4, 0},     {"AND", 3, 4, 0},  {"", 3, 4, 0},
  };
  for (IntCase const& c : cases) EXPECT_TRUE(IsInt(bin(c.op, I(c.l), I(c.r)), c.expected)) << c.l << c.op << c.r;
}

TEST(HxScalarInteger, WrapsWithoutTrapping) {
  static IntCase const cases[] = {
      {"/", INT_MIN, -1, INT_MIN}, {"%", INT_MIN, -1, 0},        {"div", INT_MIN, 1, INT_MIN},
      {"+", INT_MAX, 1, INT_MIN},  {"-", INT_MIN, 1, INT_MAX},   {"*", 65536, 65536, 0},
      {"*", INT_MIN, -1, INT_MIN}, {"<<", 1, 33, 2},             {"<<", 1, 31, INT_MIN},
      {"ls", -1, -1, INT_MIN},     {">>", -8, 1, -4},            {"rs", -1, 31, -1},
      {">>", INT_MIN, 31, -1},     {">>", 16, 34, 4},
  };
  for (IntCase const& c : cases) EXPECT_TRUE(IsInt(bin(c.op, I(c.l), I(c.r)), c.expected)) << c.l << c.op << c.r;
}

TEST(HxScalarFloat, Operations) {
  EXPECT_TRUE(IsFloat(bin("/", F(7.0f), I(0)), 7.0f));
  EXPECT_TRUE(IsFloat(bin("/", I(1), F(2.0f)), 0.5f));
  EXPECT_TRUE(IsFloat(bin("*", F(1.5f), I(2)), 3.0f));
  EXPECT_TRUE(IsFloat(bin("sub", F(1.5f), I(2)), -0.5f));
  EXPECT_TRUE(IsFloat(bin("<", F(1.5f), I(2)), 1.0f));
  EXPECT_TRUE(IsFloat(bin("ge", F(1.5f), I(2)), 0.0f));
  EXPECT_TRUE(IsFloat(bin("and", F(0.5f), I(2)), 1.0f));
  EXPECT_TRUE(IsFloat(bin("or", F(0.0f), I(0)), 0.0f));
  EXPECT_TRUE(IsFloat(bin("ne", F(3.0f), I(4)), 1.0f));
  EXPECT_TRUE(IsFloat(bin("has", F(3.0f), I(3)), 1.0f));
  EXPECT_TRUE(IsFloat(bin("max", F(3.0f), I(5)), 5.0f));
  EXPECT_TRUE(IsFloat(bin("min", I(3), F(5.0f)), 3.0f));
  for (char const* op : {"%", "mod", "^", "xor", "&", "|", "<<", ">>", "ls", "rs", "<>", "=~"})
    EXPECT_TRUE(IsFloat(bin(op, F(3.0f), I(4)), 0.0f)) << op;
  EXPECT_TRUE(IsFloat(bin("%", F(1.5f), I(2)), 0.0f));
}

TEST(HxScalarString, Operations) {
  EXPECT_TRUE(IsInt(bin("==", I(1), S("abc")), 0));
  EXPECT_TRUE(IsInt(bin("eq", S("abc"), S("abc")), 1));
  EXPECT_TRUE(IsInt(bin("=", S("abc"), S("ABC")), 0));
  EXPECT_TRUE(IsInt(bin("!=", S("abc"), S("ABC")), 1));
  EXPECT_TRUE(IsInt(bin("and", I(5), S("abc")), 0));
  EXPECT_TRUE(IsInt(bin("&&", I(5), S("7x")), 1));
  for (char const* op : {"or", "||", "<>", "<", "+", "max"}) EXPECT_TRUE(IsInt(bin(op, I(5), S("abc")), 0)) << op;

  EXPECT_TRUE(IsInt(bin("in", S("x"), S("a,x,b")), 1));
  EXPECT_TRUE(IsInt(bin("in", S("x"), S("a, x ,b")), 1));
  EXPECT_TRUE(IsInt(bin("in", S("x"), S("a,xb")), 0));
  EXPECT_TRUE(IsInt(bin("has", S("x"), S("x")), 1));
  EXPECT_TRUE(IsInt(bin("has", S("a,{x,y},b"), S("{x,y}")), 1));
  EXPECT_TRUE(IsInt(bin("in", I(2), S("1,2,3")), 1));
  EXPECT_TRUE(IsInt(bin("in", F(2.5f), S("2.5,3")), 0));
  EXPECT_TRUE(IsInt(bin("in", F(2.5f), S("2.500000,3")), 1));
}

TEST(HxScalarString, OperandsKeepTheirKind) {
  HxScalar left = I(2), right = S("1,2"), result = F(9.0f);
  HxScalar::eval(HxString("in"), left, right, result);
  EXPECT_EQ(left.kind(), HxScalar::kInteger);
  EXPECT_EQ(std::string(left.stringvalue().value()), "2");
  EXPECT_TRUE(IsInt(result, 1));
  EXPECT_EQ(result.floatvalue(), 1.0f);  // an integer result reads as the integer
}

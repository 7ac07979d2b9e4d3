// The splitters and tokenizers: separators, what protects them, trimming,
// which empty pieces survive, and odd, unbalanced and hostile input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expr/HxExpression.h"

namespace {

using Items = std::vector<std::string>;

Items items(HxStringList const& list) {
  Items out;
  for (int i = 0; i < list.length(); ++i) out.emplace_back(list.get(i)->value(), list.get(i)->length());
  return out;
}

template <class F>
Items run(F f, std::string const& text) {
  HxStringList list;
  f(HxString(text), list);
  return items(list);
}

Items splitted(std::string const& t) { return run([](HxString const& s, HxStringList& l) { HxExpression::split(s, l); }, t); }
Items comma(std::string const& t) { return run(HxExpression::splitcomma, t); }
Items tokens(std::string const& t) { return run(HxExpression::tokenize, t); }
Items ctokens(std::string const& t) { return run(HxExpression::callbacktokenize, t); }
Items vtokens(std::string const& t) { return run(HxExpression::valuetokenize, t); }
Items rtokens(std::string const& t) { return run(HxExpression::rangetokenize, t); }
Items cmdtokens(std::string const& t) { return run(HxExpression::commandtokenize, t); }

}  // namespace

TEST(HxExpressionNameValue, SplitPeriod) {
  HxString first, rest("keep");
  HxExpression::splitperiod("a.b.c", first, rest);
  EXPECT_STREQ(first.value(), "a");
  EXPECT_STREQ(rest.value(), "keepb.c");  // appends, never clears

  HxString f2, r2("untouched");
  HxExpression::splitperiod("abc", f2, r2);
  EXPECT_STREQ(f2.value(), "abc");
  EXPECT_STREQ(r2.value(), "untouched");

  HxString f3, r3;
  HxExpression::splitperiod(".", f3, r3);
  EXPECT_EQ(f3.length(), 0);
  EXPECT_EQ(r3.length(), 0);
}

TEST(HxExpressionNameValue, SplitEqual) {
  HxString name, value;
  EXPECT_TRUE(HxExpression::splitequal(" max jobs = 4 ", name, value));
  EXPECT_STREQ(name.value(), "maxjobs");
  EXPECT_STREQ(value.value(), "4 ");

  HxString n2, v2;
  EXPECT_TRUE(HxExpression::splitequal("a=\t b = c", n2, v2));
  EXPECT_STREQ(v2.value(), "b = c");

  HxString n3, v3("v");
  EXPECT_FALSE(HxExpression::splitequal("a bc", n3, v3));
  EXPECT_STREQ(n3.value(), "abc");  // what was read stays
  EXPECT_STREQ(v3.value(), "v");
  EXPECT_FALSE(HxExpression::splitequal("", n3, v3));

  HxString n4, v4;
  EXPECT_TRUE(HxExpression::splitequal("=", n4, v4));
  EXPECT_EQ(n4.length(), 0);
  EXPECT_EQ(v4.length(), 0);
}

TEST(HxExpressionNameValue, SplitBecomes) {
  HxString name, value;
  EXPECT_TRUE(HxExpression::splitbecomes("key: v", name, value));
  EXPECT_STREQ(name.value(), "key");
  EXPECT_STREQ(value.value(), "v");

  HxString n2, v2;
  EXPECT_FALSE(HxExpression::splitbecomes("a=b:c", n2, v2));
  EXPECT_STREQ(n2.value(), "a");
  EXPECT_EQ(v2.length(), 0);
  EXPECT_FALSE(HxExpression::splitbecomes("abc", n2, v2));
  EXPECT_FALSE(HxExpression::splitbecomes("", n2, v2));

  HxString n3, v3;
  EXPECT_TRUE(HxExpression::splitbecomes(":", n3, v3));
  HxString n4, v4;
  EXPECT_TRUE(HxExpression::splitbecomes("a:b=c", n4, v4));
  EXPECT_STREQ(v4.value(), "b=c");
}

TEST(HxExpressionLists, SingleSeparator) {
  EXPECT_EQ(run(HxExpression::splitslash, "a//b/"), (Items{"a", "", "b"}));
  EXPECT_EQ(run(HxExpression::splitslash, "/a"), (Items{"", "a"}));
  EXPECT_EQ(run(HxExpression::splitslash, "/"), (Items{""}));
  EXPECT_EQ(run(HxExpression::splitslash, ""), Items{});
  EXPECT_EQ(run(HxExpression::splittab, "a\t\tb\t"), (Items{"a", "", "b"}));
  EXPECT_EQ(run([](HxString const& s, HxStringList& l) { HxExpression::splitchar(s, '-', l); }, "8.1-0"),
            (Items{"8.1", "0"}));
  EXPECT_EQ(run([](HxString const& s, HxStringList& l) { HxExpression::splitchar(s, '-', l); }, " a - b "),
            (Items{" a ", " b "}));
}

TEST(HxExpressionLists, SplitSpace) {
  EXPECT_EQ(run(HxExpression::splitspace, "  a \t b\n"), (Items{"a", "b"}));
  EXPECT_EQ(run(HxExpression::splitspace, " \r\n\t "), Items{});
  // Vertical tab, form feed and high bytes are ordinary characters.
  EXPECT_EQ(run(HxExpression::splitspace, "a\vb\fc \xff"), (Items{"a\vb\fc", "\xff"}));
}

TEST(HxExpressionLists, SplitCommaGroups) {
  EXPECT_EQ(comma("n[1-3], m[5, 7]"), (Items{"n[1-3]", "m[5, 7]"}));
  EXPECT_EQ(comma("a[1,2"), (Items{"a[1,2"}));
  EXPECT_EQ(comma("[1][2,3]"), (Items{"[1][2,3]"}));
  EXPECT_EQ(comma("a, b[1,2] ,c"), (Items{"a", "b[1,2]", "c"}));
  EXPECT_EQ(comma("a,,b"), (Items{"a", "", "b"}));
  EXPECT_EQ(comma("a,"), (Items{"a"}));
  EXPECT_EQ(comma(",a"), (Items{"", "a"}));
  EXPECT_EQ(comma("a b , c"), (Items{"ab", "c"}));
  EXPECT_EQ(comma("[a[b],c]"), (Items{"[a[b]", "c]"}));  // groups do not nest
  EXPECT_EQ(comma(""), Items{});
  EXPECT_EQ(comma("  "), Items{});
}

TEST(HxExpressionLists, SplitItems) {
  EXPECT_EQ(splitted("a,,b,"), (Items{"a", "", "b"}));
  EXPECT_EQ(splitted("a,"), (Items{"a"}));
  EXPECT_EQ(splitted(",a"), (Items{"", "a"}));
  EXPECT_EQ(splitted("  "), (Items{""}));
  EXPECT_EQ(splitted(""), Items{});
  EXPECT_EQ(splitted(","), (Items{""}));
  EXPECT_EQ(splitted(" a b , c "), (Items{"a b", "c"}));
  EXPECT_EQ(splitted("a, ,b"), (Items{"a", "", "b"}));
}

TEST(HxExpressionLists, SplitQuotesAndBraces) {
  EXPECT_EQ(splitted("{a,b"), (Items{"{a,b}"}));
  EXPECT_EQ(splitted("'it's,x"), (Items{"'it's", "x"}));
  EXPECT_EQ(splitted("{a,{b,c}},d"), (Items{"{a,{b,c}}", "d"}));
  EXPECT_EQ(splitted("{a,{b"), (Items{"{a,{b}"}));  // one closer for the whole group
  EXPECT_EQ(splitted("\"a,b\",c"), (Items{"\"a,b\"", "c"}));
  EXPECT_EQ(splitted("\"a\\\",b\",c"), (Items{"\"a\\\",b\"", "c"}));
  EXPECT_EQ(splitted("'a,b"), (Items{"'a,b'"}));
  EXPECT_EQ(splitted("'a\\"), (Items{"'a\\'"}));  // a final backslash is copied alone
  EXPECT_EQ(splitted("\"it's\",{'x,\"}"), (Items{"\"it's\"", "{'x,\"}"}));
  EXPECT_EQ(splitted("a},b"), (Items{"a}", "b"}));
  EXPECT_EQ(splitted(" ' a ' "), (Items{"' a '"}));
}

TEST(HxExpressionLists, SplitIntoHashAndByValue) {
  HxStringHash hash;
  HxExpression::split("x,x,y", hash);
  EXPECT_EQ(hash.count(), 2);
  ASSERT_NE(hash.get("x"), nullptr);
  EXPECT_STREQ(hash.get("x")->value(), "x");
  EXPECT_STREQ(hash.get("y")->value(), "y");

  HxStringList list = HxExpression::split("p, q");
  EXPECT_EQ(items(list), (Items{"p", "q"}));

  HxStringList kept;
  kept.append(new HxString("old"));
  HxExpression::split("new", kept);
  EXPECT_EQ(items(kept), (Items{"old", "new"}));  // appends, never clears
}

TEST(HxExpressionTokens, RangeTokens) {
  EXPECT_EQ(rtokens("shot[01-10] x"), (Items{"shot", "[", "01-10", "]", "x"}));
  EXPECT_EQ(rtokens("[1-5]"), (Items{"[", "1-5", "]"}));
  EXPECT_EQ(rtokens("]]["), (Items{"]", "]", "["}));
  EXPECT_EQ(rtokens(" \t"), Items{});
  EXPECT_EQ(rtokens(""), Items{});
}

TEST(HxExpressionTokens, CommandTokens) {
  EXPECT_EQ(cmdtokens("RUN (a b)"), (Items{"RUN", " ", "(", "a b", ")"}));
  EXPECT_EQ(cmdtokens("'a\\'b'"), (Items{"'a\\'b'"}));
  EXPECT_EQ(cmdtokens("'abc"), (Items{"'abc"}));
  EXPECT_EQ(cmdtokens("x'"), (Items{"x'"}));
  EXPECT_EQ(cmdtokens("'"), (Items{"'"}));
  EXPECT_EQ(cmdtokens("A_B c_dE"), (Items{"A_B", " c_d", "E"}));
  EXPECT_EQ(cmdtokens("\"a\"b"), (Items{"\"a\"", "b"}));
  EXPECT_EQ(cmdtokens(""), Items{});
}

TEST(HxExpressionTokens, ExpressionTokens) {
  EXPECT_EQ(tokens("a>=b"), (Items{"a", ">=", "b"}));
  EXPECT_EQ(tokens("x<<=y"), (Items{"x", "<<", "=", "y"}));
  EXPECT_EQ(tokens("a!b"), (Items{"a", "!", "b"}));
  EXPECT_EQ(tokens("a!=b&&c||d&e|f"), (Items{"a", "!=", "b", "&&", "c", "||", "d", "&", "e", "|", "f"}));
  EXPECT_EQ(tokens("=<=>><<>"), (Items{"=<", "=>", "><", "<>"}));
  EXPECT_EQ(tokens("a%b a % b"), (Items{"a%b", "a", "%", "b"}));
  EXPECT_EQ(tokens("a-b 1.5 x_2"), (Items{"a", "-", "b", "1.5", "x_2"}));
  EXPECT_EQ(tokens("(a)*+-/:?"), (Items{"(", "a", ")", "*", "+", "-", "/", ":", "?"}));
  EXPECT_EQ(tokens("x in a,x,b"), (Items{"x", "in", "a,x,b"}));
  EXPECT_EQ(tokens(" \t\r\n"), Items{});
  EXPECT_EQ(tokens(""), Items{});
}

TEST(HxExpressionTokens, QuotedTokens) {
  EXPECT_EQ(tokens("\"a\\\"b\""), (Items{"a\"b"}));
  EXPECT_EQ(tokens("a \""), (Items{"a", ""}));
  EXPECT_EQ(tokens("''"), (Items{""}));
  EXPECT_EQ(tokens("'p q"), (Items{"p q"}));
  EXPECT_EQ(tokens("'a\"b'c"), (Items{"a\"b", "c"}));
  EXPECT_EQ(tokens("'a\\\\'"), (Items{"a\\"}));
  EXPECT_EQ(tokens("'a\\"), (Items{"a\\"}));
  EXPECT_EQ(tokens("1 '+' 2"), (Items{"1", "+", "2"}));
}

TEST(HxExpressionTokens, CallbackTokens) {
  EXPECT_EQ(ctokens("done-job-a and (done-job-b or done-job-c)"),
            (Items{"done-job-a", "and", "(", "done-job-b", "or", "done-job-c", ")"}));
  EXPECT_EQ(ctokens("a&&b"), (Items{"a&&b"}));
  EXPECT_EQ(ctokens("a'b c'd"), (Items{"a", "b c", "d"}));
  EXPECT_EQ(ctokens("(("), (Items{"(", "("}));
  EXPECT_EQ(ctokens(""), Items{});
}

TEST(HxExpressionTokens, ValueTokens) {
  EXPECT_EQ(vtokens("{a{b}"), (Items{"a{b}"}));
  EXPECT_EQ(vtokens("{}"), (Items{""}));
  EXPECT_EQ(vtokens("a,b"), (Items{"a,b"}));
  EXPECT_EQ(vtokens("a , b"), (Items{"a", ",", "b"}));
  EXPECT_EQ(vtokens("{x, {y}} \"p q\""), (Items{"x, {y}", "p q"}));
  EXPECT_EQ(vtokens("{a}b"), (Items{"a", "b"}));
  EXPECT_EQ(vtokens(",,"), (Items{",", ","}));
}

TEST(HxExpressionTokens, ValueTokensMovePastParentheses) {
  // Parentheses outside quotes and braces once stalled the reader.
  EXPECT_EQ(vtokens("("), (Items{"("}));
  EXPECT_EQ(vtokens("f(a) )"), (Items{"f", "(", "a", ")", ")"}));
  EXPECT_EQ(vtokens("'(' {(}"), (Items{"(", "("}));
}

// Expression trees: the three parsers with their precedence and grouping,
// evaluation, validity, variables, display, resolver counts, and the depth
// limit on hostile input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/HxReference.h"
#include "expr/HxExprLimits.h"
#include "expr/HxExpression.h"
#include "expr/HxScalar.h"
#include "tests/TestUtil.h"

namespace {

using Items = std::vector<std::string>;

Items items(HxStringList const& list) {
  Items out;
  for (int i = 0; i < list.length(); ++i) out.emplace_back(list.get(i)->value());
  return out;
}

struct Parsed {
  bool ok;
  HxScalar value;
};

Parsed calc(std::string const& text, int mode = 0) {
  HxExpression e;
  Parsed p{e.parse(HxString(text), mode), HxScalar()};
  e.eval(p.value);
  return p;
}

int ival(std::string const& text, int mode = 0) {
  Parsed p = calc(text, mode);
  EXPECT_TRUE(p.ok) << text;
  EXPECT_EQ(p.value.kind(), HxScalar::kInteger) << text;
  return p.value.integervalue();
}

std::string shown(HxExpression const& e, int indent = 0) {
  testing::internal::CaptureStdout();
  e.display(indent);
  return testing::internal::GetCapturedStdout();
}

// A resolver that maps a few names to values, calls every word with a letter
// a variable, remembers what it was asked and says when it is destroyed.
class Table : public HxReference {
 public:
  explicit Table(bool* gone = nullptr) : gone_(gone) {}
  ~Table() override {
    if (gone_ != nullptr) *gone_ = true;
  }
  void value(HxString const& name, HxString& out) override {
    asked.emplace_back(name.value());
    std::string n = name.value();
    if (n == "x") out = "21";
    else if (n == "y") out = "2.5";
    else out = name;
  }
  bool isvalid(HxString const& name) override { return std::string(name.value()) != "bad"; }
  bool isvariable(HxString const& name) override {
    for (int i = 0; i < name.length(); ++i)
      if (name.get(i) >= 'a' && name.get(i) <= 'z') return true;
    return false;
  }
  Items asked;

 private:
  bool* gone_;
};

void double_it(HxString const& name, HxString& out) { out = name + name; }
unsigned char short_names(HxString const& name) { return name.length() < 3 ? 1 : 0; }

std::string repeat(std::string const& piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

}  // namespace

TEST(HxExpressionInfix, PrecedenceAndRightGrouping) {
  EXPECT_EQ(ival("10 - 4 - 3"), 9);
  EXPECT_EQ(ival("8 / 2 / 2"), 8);
  EXPECT_EQ(ival("2 * 3 + 4"), 10);
  EXPECT_EQ(ival("2 + 3 * 4"), 14);
  EXPECT_EQ(ival("(1 + 2) * 3"), 9);
  EXPECT_EQ(ival("1 << 2 + 1"), 8);
  EXPECT_EQ(ival("1 == 1 == 1"), 1);
  EXPECT_EQ(ival("1 < 2 and 3 > 4"), 0);
  EXPECT_EQ(ival("1 + 1 == 2 && 3"), 1);
  EXPECT_EQ(ival("6 & 3 == 2"), 1);  // (6 & 3) == 2: "&" binds tighter
  EXPECT_EQ(ival("3 max 5"), 5);
  EXPECT_EQ(ival("3 min 5 + 1"), 3);
  EXPECT_EQ(ival("7 mod 4 * 2"), 7);  // right grouping: 7 mod (4 * 2)
}

TEST(HxExpressionInfix, UnaryOperators) {
  EXPECT_EQ(ival("-3 + 5"), 2);
  EXPECT_EQ(ival("2 * -3"), -6);
  EXPECT_EQ(ival("- - 4"), 4);
  EXPECT_EQ(ival("not 0"), 1);
  EXPECT_EQ(ival("!1 + 1"), 1);
  EXPECT_EQ(ival("not 1 == 0"), 1);
  Parsed p = calc("-(2.5)");
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.value.kind(), HxScalar::kFloat);
  EXPECT_EQ(p.value.floatvalue(), -2.5f);
}

TEST(HxExpressionInfix, OperandsAndKinds) {
  EXPECT_EQ(ival("1 '+' 2"), 3);
  EXPECT_EQ(ival("x in a,x,b"), 1);
  EXPECT_EQ(ival("x in 'a, x ,b'"), 1);
  EXPECT_EQ(ival("2 in 1,2,3"), 1);
  EXPECT_EQ(ival("2.5 in 2.5,3"), 0);
  EXPECT_EQ(ival("1 == abc"), 0);
  EXPECT_EQ(ival("5 or abc"), 0);
}

TEST(HxExpressionInfix, FloatResults) {
  Parsed p = calc("1.5 < 2");
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.value.kind(), HxScalar::kFloat);
  EXPECT_EQ(p.value.floatvalue(), 1.0f);
  p = calc("7.0 / 0");
  EXPECT_EQ(p.value.floatvalue(), 7.0f);
}

TEST(HxExpressionInfix, MalformedText) {
  HxExpression e;
  EXPECT_FALSE(e.parse("a b", 0));
  EXPECT_STREQ(e.name().value(), "a");
  EXPECT_EQ(e.a(), nullptr);

  HxExpression empty;
  HxScalar kept(99);
  EXPECT_FALSE(empty.parse(" ", 0));
  empty.eval(kept);
  EXPECT_EQ(kept.integervalue(), 99);

  Parsed p = calc("1 + 2)");
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.value.integervalue(), 3);
  EXPECT_FALSE(calc("+ 3").ok);
  EXPECT_FALSE(calc("x=<y").ok);
  EXPECT_FALSE(calc("a AND b").ok);  // operator words are case-sensitive

  // An unclosed "(" becomes a binary node of its own, which yields nothing here.
  HxExpression open;
  EXPECT_TRUE(open.parse("(1 + 2", 0));
  EXPECT_STREQ(open.op().value(), "(");
  HxScalar untouched(7);
  open.eval(untouched);
  EXPECT_EQ(untouched.integervalue(), 7);
}

TEST(HxExpressionInfix, MinusRewrittenInTheCallersTokens) {
  HxStringList tokens;
  tokens.append(new HxString("-"));
  tokens.append(new HxString("3"));
  HxExpression e;
  EXPECT_TRUE(e._parse(tokens, 0));
  EXPECT_EQ(items(tokens), (Items{"--", "3"}));

  HxStringList pre;
  pre.append(new HxString("-"));
  pre.append(new HxString("3"));
  HxExpression f;
  EXPECT_FALSE(f._parse(pre, 2));
  EXPECT_EQ(items(pre), (Items{"-", "3"}));
  HxExpression g;
  EXPECT_FALSE(g._parse(pre, 1));
  EXPECT_EQ(items(pre), (Items{"-", "3"}));
}

TEST(HxExpressionPrefixPostfix, Evaluate) {
  EXPECT_EQ(ival("- 10 4", 2), 6);
  EXPECT_EQ(ival("not 0", 2), 1);
  EXPECT_EQ(ival("+ * 2 3 4", 2), 10);
  EXPECT_EQ(ival("10 4 -", 1), 6);
  EXPECT_EQ(ival("0 not", 1), 1);
  EXPECT_EQ(ival("2 3 * 4 +", 1), 10);
  EXPECT_EQ(ival("- 1 - 2 3", 2), 2);  // "-" is always binary here
  EXPECT_FALSE(calc("( )", 1).ok);      // parentheses are plain operands
}

TEST(HxExpressionPrefixPostfix, MissingOperands) {
  HxExpression e;
  EXPECT_FALSE(e.parse("- 1", 2));
  EXPECT_STREQ(e.op().value(), "-");
  ASSERT_NE(e.a(), nullptr);
  EXPECT_STREQ(e.a()->name().value(), "1");
  EXPECT_EQ(e.b(), nullptr);

  HxExpression f;
  EXPECT_FALSE(f.parse("1 2 3 +", 1));
  EXPECT_STREQ(f.name().value(), "1");

  HxExpression g;
  EXPECT_FALSE(g.parse("", 1));
  EXPECT_FALSE(g.parse("", 2));

  // A unary operator without an operand leaves an empty node and does not fail
  // the parse; only a binary one does.
  for (int mode : {0, 1, 2}) {
    HxExpression n;
    EXPECT_TRUE(n.parse("not", mode)) << mode;
    EXPECT_STREQ(n.op().value(), "not");
    EXPECT_EQ(n.a(), nullptr);
    EXPECT_EQ(n.b(), nullptr);
    HxScalar kept(4);
    n.eval(kept);
    EXPECT_EQ(kept.integervalue(), 4);
  }
  HxExpression bang;
  EXPECT_TRUE(bang.parse("1 ! !", 1));
  EXPECT_STREQ(bang.b()->b()->name().value(), "1");
}

TEST(HxExpressionDisplay, OneLinePerNode) {
  HxExpression e;
  ASSERT_TRUE(e.parse("2 * 3 + 4", 0));
  EXPECT_EQ(shown(e), "+\n  *\n    2\n    3\n  4\n");
  EXPECT_EQ(shown(e, 1), " +\n   *\n     2\n     3\n   4\n");

  HxExpression leaf;
  leaf.name("n");
  leaf.value("42");
  EXPECT_EQ(shown(leaf), "n\n");
  HxScalar r;
  leaf.eval(r);
  EXPECT_EQ(r.integervalue(), 42);

  HxExpression u;
  ASSERT_TRUE(u.parse("-x", 0));
  EXPECT_EQ(shown(u), "--\n  x\n");
}

TEST(HxExpressionResolver, MeaningsAndOrderOfQuestions) {
  HxExpression e;
  Table* t = new Table();
  e.reference(t);
  ASSERT_TRUE(e.parse("x + y", 0));
  HxScalar r;
  e.eval(r);
  EXPECT_EQ(r.kind(), HxScalar::kFloat);
  EXPECT_EQ(r.floatvalue(), 23.5f);
  EXPECT_EQ(t->asked, (Items{"y", "x"}));  // right operand first

  HxStringList vars;
  vars.append(new HxString("kept"));
  e.variables(vars);
  EXPECT_EQ(items(vars), (Items{"kept", "y", "x"}));
}

TEST(HxExpressionResolver, Variables) {
  HxExpression none;
  ASSERT_TRUE(none.parse("x + y", 0));
  HxStringList empty;
  none.variables(empty);
  EXPECT_EQ(empty.length(), 0);

  HxExpression e;
  ASSERT_TRUE(e.parse("x + y * x - 2", 0));
  e.reference(new Table());  // after parsing: reaches every node
  HxStringList vars;
  e.variables(vars);
  EXPECT_EQ(items(vars), (Items{"x", "y", "x"}));

  HxExpression u;
  u.reference(new Table());
  ASSERT_TRUE(u.parse("not a", 0));
  HxStringList uv;
  u.variables(uv);
  EXPECT_EQ(items(uv), (Items{"a"}));
}

TEST(HxExpressionResolver, CountsAndDestruction) {
  bool gone = false;
  Table* t = new Table(&gone);
  {
    HxExpression e;
    e.reference(t);
    ASSERT_TRUE(e.parse("a + b", 0));
    EXPECT_EQ(t->count(), 3);  // root and two leaves; nothing left over
    e.reference(t);            // handing it over again counts nothing more
    EXPECT_EQ(t->count(), 3);
    HxExpression copy(e);
    EXPECT_EQ(t->count(), 6);
  }
  EXPECT_TRUE(gone);

  bool gone2 = false;
  Table* shared = new Table(&gone2);
  auto* n1 = new HxExpression();
  auto* n2 = new HxExpression();
  auto* n3 = new HxExpression();
  n1->reference(shared);
  n2->reference(shared);
  n3->reference(shared);
  EXPECT_EQ(shared->count(), 3);
  delete n1;
  delete n2;
  EXPECT_FALSE(gone2);
  EXPECT_EQ(shared->count(), 1);
  delete n3;
  EXPECT_TRUE(gone2);

  // Replacing a resolver gives the old one back.
  bool gone3 = false;
  HxExpression e;
  e.reference(new Table(&gone3));
  e.reference(nullptr);
  EXPECT_TRUE(gone3);
}

TEST(HxExpressionValidity, Rules) {
  HxExpression e;
  e.reference(new Table());
  ASSERT_TRUE(e.parse("a + bad", 0));
  EXPECT_FALSE(e.isvalid());
  HxExpression f;
  f.reference(new Table());
  ASSERT_TRUE(f.parse("a + b", 0));
  EXPECT_TRUE(f.isvalid());

  HxExpression g;
  g.validreq(short_names);
  ASSERT_TRUE(g.parse("ab * abc", 0));
  EXPECT_FALSE(g.isvalid());
  g.b()->value("1");  // a leaf with a value is valid whatever its name
  EXPECT_TRUE(g.isvalid());

  HxExpression h;
  ASSERT_TRUE(h.parse("anything + at all", 0) == false);
  EXPECT_TRUE(h.isvalid());
}

TEST(HxExpressionCallbacks, ValueRequest) {
  HxExpression e;
  ASSERT_TRUE(e.parse("3 + x", 0));
  e.valuereq(double_it);
  HxScalar r;
  e.eval(r);
  EXPECT_EQ(r.integervalue(), 0);  // '33' + 'xx': a string operation, "+" gives 0
  HxExpression f;
  f.valuereq(double_it);
  ASSERT_TRUE(f.parse("3 + 4", 0));
  f.eval(r);
  EXPECT_EQ(r.integervalue(), 77);
}

TEST(HxExpressionOtherTokens, CallbackAndValueParse) {
  HxExpression c;
  c.reference(new Table());
  c.callbackparse("done-job-a and (done-job-b or done-job-c)");
  HxStringList names;
  c.variables(names);
  EXPECT_EQ(items(names), (Items{"done-job-c", "done-job-b", "done-job-a"}));

  HxExpression v;
  v.valueparse("(busy)");
  EXPECT_STREQ(v.name().value(), "busy");
  HxExpression w;
  w.valueparse("1 , 2");
  EXPECT_STREQ(w.name().value(), "1");
}

TEST(HxExpressionCopy, DeepAndIndependent) {
  HxExpression e;
  ASSERT_TRUE(e.parse("2 * 3 + 4", 0));
  HxExpression c;
  c.parse("9", 0);
  c = e;
  e.b()->name("40");
  HxScalar r;
  c.eval(r);
  EXPECT_EQ(r.integervalue(), 10);
  e.eval(r);
  EXPECT_EQ(r.integervalue(), 46);

  HxExpressionList list;
  list.append(new HxExpression(e));
  HxExpressionList copied;
  copied.copy(list);
  ASSERT_EQ(copied.length(), 1);
  copied.get(0)->eval(r);
  EXPECT_EQ(r.integervalue(), 46);
  EXPECT_EQ(list.type(), 66);
  EXPECT_STREQ(list.typeXML().value(), "expression_list");
}

TEST(HxExpressionCopy, ListRecordsCarryOnlyTheCount) {
  HxExpressionList list;
  list.append(new HxExpression());
  list.get(0)->parse("1 + 2", 0);
  list.append(new HxExpression());
  list.pack();
  std::string bytes(list.packContents(), static_cast<size_t>(list.packSize()));
  std::string const expected(
      "\x00\x00\x00\x01"
      "\x00\x01\x00\x01\x00\x00\x00\x02"
      "\x00\x0a\x00\x04\x00\x00\x00\x41\x00\x00\x00\x00"
      "\x00\x0a\x00\x04\x00\x00\x00\x41\x00\x00\x00\x00",
      36);
  EXPECT_EQ(bytes, expected);

  HxExpressionList back;
  ASSERT_EQ(back.unpack(expected.data(), static_cast<int>(expected.size())), 0);
  ASSERT_EQ(back.length(), 2);
  EXPECT_EQ(back.get(0)->name().length(), 0);
  EXPECT_EQ(back.get(0)->b(), nullptr);
}

TEST(HxExpressionDepth, HostileChainsAreRefused) {
  int deep = kHxMaxExprDepth * 4;
  HxExpression infix;
  infix.name("kept");
  EXPECT_FALSE(infix.parse(HxString(repeat("not ", deep) + "0"), 0));
  EXPECT_STREQ(infix.name().value(), "kept");
  EXPECT_EQ(infix.b(), nullptr);
  EXPECT_FALSE(infix.parse(HxString(repeat("-", deep) + "1"), 0));
  EXPECT_FALSE(infix.parse(HxString(repeat("1 + ", deep) + "1"), 0));
  EXPECT_FALSE(infix.parse(HxString(repeat("(", deep) + "1"), 0));
  HxExpression prefix;
  EXPECT_FALSE(prefix.parse(HxString(repeat("not ", deep) + "0"), 2));
  HxExpression postfix;
  EXPECT_FALSE(postfix.parse(HxString("0" + repeat(" not", deep)), 1));

  // Within the limit the same shapes parse and evaluate.
  EXPECT_EQ(ival(repeat("not ", kHxMaxExprDepth - 1) + "0"), 1);
  EXPECT_EQ(ival(repeat("1 + ", 200) + "1"), 201);
}

TEST(HxExpressionDepth, HandBuiltDeepTreesStayBounded) {
  auto* root = new HxExpression();
  HxExpression* n = root;
  for (int i = 0; i < 20000; ++i) {
    n->op("--");
    n->b(new HxExpression());
    n = n->b();
  }
  n->name("5");
  root->validreq(short_names);
  HxScalar r(3);
  root->eval(r);
  EXPECT_EQ(r.integervalue(), 3);  // too deep to mean anything: nothing computed
  EXPECT_FALSE(root->isvalid());
  HxExpression copy(*root);
  HxStringList vars;
  copy.reference(new Table());
  copy.variables(vars);
  EXPECT_EQ(vars.length(), 0);
  delete root;
}

// Freeing a tree takes no memory: it runs while std::bad_alloc unwinds. A
// chain of half a million nodes, each with an operand on the other side,
// is freed in a child whose address space may grow by 1 MB, where a list
// of the operands still to free (4 MB) could not be made.
TEST(HxExpressionDepth, FreeingTakesNoMemory) {
  auto* root = new HxExpression();
  HxExpression* n = root;
  for (int i = 0; i < (1 << 19); ++i) {
    n->a(new HxExpression());
    n->b(new HxExpression());
    n = n->b();
  }
  if (!hxtest::kShadowMemory) {
    EXPECT_EQ(hxtest::run_with_memory_limit(1u << 20, [root] {
                delete root;
                return 0;
              }),
              0);
  }
  delete root;
}

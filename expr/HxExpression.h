#pragma once

#include <vector>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxPack.h"

class HxReference;
class HxScalar;

// One node of an expression tree, and the string splitters and tokenizers
// that share its name.
//
// A node whose name is not empty is a leaf (an operand); any other node is an
// inner node with its operator in op, its left operand in a and its right (or
// only, for the unary "not", "!" and "--") operand in b. A node owns its
// children. The name resolver is shared by count among the nodes that hold it;
// the last node to let it go destroys it. An expression has no record form: it
// travels as the text it is parsed from.
//
// String splitters and tokenizers used throughout the system to break option
// strings, lists, names, ranges and expressions into pieces. Every function
// appends to what the caller passes in, never clears it, and never fails: text
// that fits no rule gives fewer or odder pieces.
//
// Blank characters are exactly tab, line feed, carriage return and space.
class HxExpression : public HxPack {
 public:
  using ValueRequest = void (*)(HxString const& name, HxString& out);
  using ValidRequest = unsigned char (*)(HxString const& name);

  HxExpression() = default;
  // A copy is a deep copy of the tree; every copied node holds the resolver too.
  HxExpression(HxExpression const& other);
  HxExpression& operator=(HxExpression const& other);
  ~HxExpression() override;
  void copy(HxExpression const& other);

  int type() const override { return 65; }
  void encode() override {}
  void decode() override {}
  HxString typeXML() const override { return "expression"; }
  void encodeXML() override {}
  bool decodeXML() override { return true; }

  // ---- fields ----
  HxString const& op() const { return op_; }
  HxString const& value() const { return value_; }
  HxString const& name() const { return name_; }
  void op(HxString const& s) { op_ = s; }
  void value(HxString const& s) { value_ = s; }
  void name(HxString const& s) { name_ = s; }
  HxExpression* a() const { return a_; }
  HxExpression* b() const { return b_; }
  // The node owns the child it is given; a child it held before is no longer
  // its concern (the caller may have moved it elsewhere).
  void a(HxExpression* node) { a_ = node; }
  void b(HxExpression* node) { b_ = node; }
  // These three reach this node and every node below it.
  void valuereq(ValueRequest fn);
  void validreq(ValidRequest fn);
  void reference(HxReference* r);
  HxReference* reference() const { return reference_; }

  // ---- parsing: mode 1 postfix, 2 prefix, anything else infix ----
  bool parse(HxString const& text, int mode);
  bool _parse(HxStringList& tokens, int mode);
  bool _parseInFix(HxStringList& tokens);
  bool _parsePreFix(HxStringList& tokens);
  bool _parsePostFix(HxStringList& tokens);
  void callbackparse(HxString const& text);
  void valueparse(HxString const& text);

  // ---- using a tree ----
  void eval(HxScalar& result);
  bool isvalid();
  void variables(HxStringList& list);
  void display(int indent) const;
  static unsigned int precedence(HxString const& op);

  // ---- name and value splitters ----
  // Before the first "." to first, after it to rest (rest untouched without one).
  static void splitperiod(HxString const& text, HxString& first, HxString& rest);
  // name = value: blanks dropped from the name, leading blanks skipped in the
  // value. False without "=".
  static bool splitequal(HxString const& text, HxString& name, HxString& value);
  // name: value, as splitequal; false when a "=" comes before any ":".
  static bool splitbecomes(HxString const& text, HxString& name, HxString& value);

  // ---- list splitters ----
  // Every separator ends a piece (empty pieces kept); a final empty piece is dropped.
  static void splitslash(HxString const& text, HxStringList& list);
  static void splitchar(HxString const& text, char c, HxStringList& list);
  static void splittab(HxString const& text, HxStringList& list);
  // Words separated by runs of blanks.
  static void splitspace(HxString const& text, HxStringList& list);
  // "," outside [...] groups; blanks outside groups removed.
  static void splitcomma(HxString const& text, HxStringList& list);
  // "," outside quotes and {...}; items trimmed, empty items kept.
  static void split(HxString const& text, HxStringList& list);
  // As split(text, list); each item becomes a key mapped to a copy of itself.
  static void split(HxString const& text, HxStringHash& hash);
  static HxStringList split(HxString const& text);

  // ---- tokenizers ----
  // Words, and "[" and "]" as one-character tokens; blanks separate.
  static void rangetokenize(HxString const& text, HxStringList& list);
  // "(" ")", quoted strings, upper-case names and other runs (blanks kept).
  static void commandtokenize(HxString const& text, HxStringList& list);
  // The expression tokenizer: operator symbols, quoted strings and words.
  static void tokenize(HxString const& text, HxStringList& tokens);
  // Callback trigger texts: "(" ")", quoted strings and blank-separated words.
  static void callbacktokenize(HxString const& text, HxStringList& tokens);
  // Value lists: quoted strings, ",", {...} groups, "(" ")" and words.
  static void valuetokenize(HxString const& text, HxStringList& tokens);

 private:
  struct Operand;
  static bool isoperator(HxString const& token);
  static bool isunary(HxString const& op);
  HxExpression* make_node_() const;
  bool finish_(std::vector<Operand>& stack, bool complete);
  bool parse_operands_(HxStringList& tokens, bool prefix);
  void release_reference_();
  bool eval_(HxScalar& result, int depth);
  bool isvalid_(int depth);
  void variables_(HxStringList& list, int depth);

  HxString op_;
  HxExpression* a_ = nullptr;
  HxExpression* b_ = nullptr;
  HxString value_;
  HxString name_;
  ValueRequest valuereq_ = nullptr;
  ValidRequest validreq_ = nullptr;
  HxReference* reference_ = nullptr;
};

HX_NAMED_LIST(HxExpressionList, HxExpression, 66, "expression_list");

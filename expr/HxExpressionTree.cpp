#include <cstring>
#include <iostream>
#include <utility>
#include <vector>

#include "core/HxReference.h"
#include "expr/HxExprLimits.h"
#include "expr/HxExpression.h"
#include "expr/HxScalar.h"

namespace {

bool is(HxString const& s, char const* word) {
  size_t n = std::strlen(word);
  return static_cast<size_t>(s.length()) == n && std::memcmp(s.value(), word, n) == 0;
}

// Destroys a subtree without recursing, so that no tree is too deep to free,
// and without taking memory, as it may run while std::bad_alloc unwinds: a
// node with a left operand is turned right until it has none, so the tree
// becomes a chain along b, freed in order.
void destroy(HxExpression* n) {
  while (n != nullptr) {
    HxExpression* left = n->a();
    if (left != nullptr) {
      n->a(left->b());
      left->b(n);
      n = left;
      continue;
    }
    HxExpression* next = n->b();
    n->b(nullptr);
    delete n;
    n = next;
  }
}

}  // namespace

// An operand on a parser's stack with the depth of its tree.
struct HxExpression::Operand {
  HxExpression* node;
  int depth;
};

// ---- life cycle ----

HxExpression::HxExpression(HxExpression const& other) : HxPack() { copy(other); }

HxExpression& HxExpression::operator=(HxExpression const& other) {
  copy(other);
  return *this;
}

HxExpression::~HxExpression() {
  destroy(a_);
  destroy(b_);
  release_reference_();
}

void HxExpression::release_reference_() {
  if (reference_ == nullptr) return;
  HxReference* r = reference_;
  reference_ = nullptr;
  r->decrement();
  if (r->count() <= 0) delete r;
}

// Deep copy, level by level with an explicit stack: a hand-built tree of any
// depth can be copied.
void HxExpression::copy(HxExpression const& other) {
  if (&other == this) return;
  HxExpression* old_a = a_;
  HxExpression* old_b = b_;
  a_ = b_ = nullptr;
  std::vector<std::pair<HxExpression const*, HxExpression*>> pending{{&other, this}};
  while (!pending.empty()) {
    auto [src, dst] = pending.back();
    pending.pop_back();
    dst->op_ = src->op_;
    dst->value_ = src->value_;
    dst->name_ = src->name_;
    dst->valuereq_ = src->valuereq_;
    dst->validreq_ = src->validreq_;
    if (dst->reference_ != src->reference_) {
      if (src->reference_ != nullptr) src->reference_->increment();
      dst->release_reference_();
      dst->reference_ = src->reference_;
    }
    if (src->a_ != nullptr) {
      dst->a_ = new HxExpression();
      pending.emplace_back(src->a_, dst->a_);
    }
    if (src->b_ != nullptr) {
      dst->b_ = new HxExpression();
      pending.emplace_back(src->b_, dst->b_);
    }
  }
  destroy(old_a);
  destroy(old_b);
}

// ---- setters that reach the whole tree ----

void HxExpression::valuereq(ValueRequest fn) {
  std::vector<HxExpression*> pending{this};
  while (!pending.empty()) {
    HxExpression* n = pending.back();
    pending.pop_back();
    n->valuereq_ = fn;
    if (n->a_ != nullptr) pending.push_back(n->a_);
    if (n->b_ != nullptr) pending.push_back(n->b_);
  }
}

void HxExpression::validreq(ValidRequest fn) {
  std::vector<HxExpression*> pending{this};
  while (!pending.empty()) {
    HxExpression* n = pending.back();
    pending.pop_back();
    n->validreq_ = fn;
    if (n->a_ != nullptr) pending.push_back(n->a_);
    if (n->b_ != nullptr) pending.push_back(n->b_);
  }
}

// Every node that receives the resolver holds it once; a resolver a node held
// before is given back (and destroyed when nothing else holds it).
void HxExpression::reference(HxReference* r) {
  std::vector<HxExpression*> pending{this};
  while (!pending.empty()) {
    HxExpression* n = pending.back();
    pending.pop_back();
    if (r != nullptr) r->increment();
    n->release_reference_();
    n->reference_ = r;
    if (n->a_ != nullptr) pending.push_back(n->a_);
    if (n->b_ != nullptr) pending.push_back(n->b_);
  }
}

// ---- operator words ----

bool HxExpression::isoperator(HxString const& token) {
  static char const* const words[] = {
      "min", "max", "sub", "add", "mul", "div", "xor", "mod", "^",  "%",  "in", "has", "=",  "-",  "!",
      "not", "&&",  "and", "||",  "or",  "&",   "|",   "/",   "*",  "==", "eq", "!=",  "=~", "ne", "<>",
      "<",   "lt",  ">",   "gt",  "<=",  "le",  ">=",  "ge",  "+",  "<<", ">>", "rs",  "ls", ";",  ":"};
  if (token.length() == 0 || token.length() > 3) return false;
  for (char const* w : words)
    if (is(token, w)) return true;
  return false;
}

bool HxExpression::isunary(HxString const& op) { return is(op, "not") || is(op, "!") || is(op, "--"); }

unsigned int HxExpression::precedence(HxString const& op) {
  struct Level {
    unsigned int value;
    char const* words[17];
  };
  static Level const levels[] = {
      {1024, {",", ";"}},
      {256, {"(", ")"}},
      {128, {"--", "!", "not"}},
      {64, {"/", "*", "div", "mul", "%", "mod"}},
      {32, {"+", "-", "add", "sub"}},
      {16, {"&", "|", "^", "xor"}},
      {8, {"=", "==", "eq", "<>", "=~", "!=", "ne", "<", "lt", ">", "gt", "<=", "le", ">=", "ge", "in", "has"}},
      {4, {"&&", "and", "||", "or"}},
      {2, {"<<", ">>", "rs", "ls"}},
  };
  for (Level const& level : levels)
    for (char const* w : level.words)
      if (w != nullptr && is(op, w)) return level.value;
  return 1;
}

// ---- parsing ----

HxExpression* HxExpression::make_node_() const {
  HxExpression* n = new HxExpression();
  n->valuereq_ = valuereq_;
  n->validreq_ = validreq_;
  if (reference_ != nullptr) {
    reference_->increment();
    n->reference_ = reference_;
  }
  return n;
}

// Ends a parse: the bottom operand becomes this node's tree, the others are
// dropped. True when exactly one operand was left and the parse was complete.
bool HxExpression::finish_(std::vector<Operand>& stack, bool complete) {
  if (stack.empty()) return false;
  HxExpression* bottom = stack.front().node;
  destroy(a_);
  destroy(b_);
  op_ = bottom->op_;
  value_ = bottom->value_;
  name_ = bottom->name_;
  a_ = bottom->a_;
  b_ = bottom->b_;
  bottom->a_ = bottom->b_ = nullptr;
  bool ok = complete && stack.size() == 1;
  for (Operand& o : stack) destroy(o.node);
  stack.clear();
  return ok;
}

bool HxExpression::parse(HxString const& text, int mode) {
  HxStringList tokens;
  tokenize(text, tokens);
  return _parse(tokens, mode);
}

bool HxExpression::_parse(HxStringList& tokens, int mode) {
  if (mode == 1) return _parsePostFix(tokens);
  if (mode == 2) return _parsePreFix(tokens);
  return _parseInFix(tokens);
}

void HxExpression::callbackparse(HxString const& text) {
  HxStringList tokens;
  callbacktokenize(text, tokens);
  _parseInFix(tokens);
}

void HxExpression::valueparse(HxString const& text) {
  HxStringList tokens;
  valuetokenize(text, tokens);
  _parseInFix(tokens);
}

// Each parser keeps its operands with the depth of their trees. A tree that
// would grow deeper than kHxMaxExprDepth makes the text malformed: what was
// built is dropped and this node is left as it was.

bool HxExpression::_parseInFix(HxStringList& tokens) {
  std::vector<Operand> operands;
  std::vector<HxString> operators;
  bool too_deep = false;

  auto pop_operand = [&operands](int& depth) -> HxExpression* {
    if (operands.empty()) return nullptr;
    Operand o = operands.back();
    operands.pop_back();
    if (o.depth > depth) depth = o.depth;
    return o.node;
  };
  auto reduce = [&](HxString const& op) {
    HxExpression* n = make_node_();
    n->op_ = op;
    int depth = 0;
    n->b_ = pop_operand(depth);
    if (!isunary(op)) n->a_ = pop_operand(depth);
    operands.push_back({n, depth + 1});
    if (depth + 1 > kHxMaxExprDepth) too_deep = true;
  };
  auto leaf = [&](HxString const& token) {
    HxExpression* n = make_node_();
    n->name_ = token;
    operands.push_back({n, 1});
  };

  bool expect_operand = true;
  for (int i = 0; i < tokens.length() && !too_deep; ++i) {
    HxString* token = tokens.get(i);
    if (is(*token, "(")) {
      operators.push_back(*token);
      expect_operand = true;
      continue;
    }
    if (is(*token, ")")) {
      while (!operators.empty() && !too_deep) {
        HxString top = std::move(operators.back());
        operators.pop_back();
        if (is(top, "(")) break;
        reduce(top);
      }
      expect_operand = false;
      continue;
    }
    if (!isoperator(*token)) {
      leaf(*token);
      expect_operand = false;
      continue;
    }
    if (expect_operand) {
      // A minus sign where an operand belongs is the unary minus.
      if (is(*token, "-")) token->copy("--");
      if (!isunary(*token)) {
        leaf(*token);
        expect_operand = false;
        continue;
      }
    }
    unsigned int p = precedence(*token);
    while (!operators.empty() && !is(operators.back(), "(") && precedence(operators.back()) > p && !too_deep) {
      HxString top = std::move(operators.back());
      operators.pop_back();
      reduce(top);
    }
    operators.push_back(*token);
    expect_operand = true;
  }
  while (!operators.empty() && !too_deep) {
    HxString top = std::move(operators.back());
    operators.pop_back();
    reduce(top);
  }
  if (too_deep) {
    for (Operand& o : operands) destroy(o.node);
    return false;
  }
  return finish_(operands, true);
}

bool HxExpression::_parsePreFix(HxStringList& tokens) { return parse_operands_(tokens, true); }

bool HxExpression::_parsePostFix(HxStringList& tokens) { return parse_operands_(tokens, false); }

// The prefix and postfix parsers: one operand stack, prefix text read from the
// last token to the first (the first operand popped is the left one), postfix
// text from the first to the last (the first popped is the right one). "not"
// and "!" take one operand into b; every other operator word takes two.
bool HxExpression::parse_operands_(HxStringList& tokens, bool prefix) {
  std::vector<Operand> operands;
  bool complete = true;
  int count = tokens.length();
  for (int k = 0; k < count; ++k) {
    HxString const& token = *tokens.get(prefix ? count - 1 - k : k);
    HxExpression* n = make_node_();
    if (!isoperator(token)) {
      n->name_ = token;
      operands.push_back({n, 1});
      continue;
    }
    n->op_ = token;
    int depth = 0;
    HxExpression** slots[2] = {prefix ? &n->a_ : &n->b_, prefix ? &n->b_ : &n->a_};
    int wanted = 2;
    if (is(token, "not") || is(token, "!")) {
      slots[0] = &n->b_;
      wanted = 1;
    }
    for (int j = 0; j < wanted; ++j) {
      if (operands.empty()) {
        // Only a binary operator short of an operand fails the parse; a lone
        // "not" or "!" keeps an empty operand, as in infix text.
        if (wanted == 2) complete = false;
        break;
      }
      *slots[j] = operands.back().node;
      if (operands.back().depth > depth) depth = operands.back().depth;
      operands.pop_back();
    }
    operands.push_back({n, depth + 1});
    if (depth + 1 > kHxMaxExprDepth) {
      for (Operand& o : operands) destroy(o.node);
      return false;
    }
  }
  return finish_(operands, complete);
}

// ---- using a tree ----
//
// Evaluation, checking and the variable search recurse once per level. A tree
// deeper than kHxMaxExprDepth (only one built by hand gets there) is
// malformed: it evaluates to nothing, it is not valid, and below that depth it
// has no variables.

void HxExpression::eval(HxScalar& result) { eval_(result, 1); }

// False, with result untouched, when the tree is too deep to evaluate.
bool HxExpression::eval_(HxScalar& result, int depth) {
  if (depth > kHxMaxExprDepth) return false;
  if (name_.length() > 0) {
    if (value_.length() > 0) {
      result.value(value_);
    } else if (reference_ != nullptr || valuereq_ != nullptr) {
      HxString meaning("");
      if (reference_ != nullptr) {
        reference_->value(name_, meaning);
      } else {
        valuereq_(name_, meaning);
      }
      result.value(meaning);
    } else {
      result.value(name_);
    }
    return true;
  }
  if (b_ == nullptr) return true;
  // The right operand first: resolvers are asked for its names before the left's.
  HxScalar right;
  if (!b_->eval_(right, depth + 1)) return false;
  if (isunary(op_)) {
    HxScalar::eval(op_, right, result);
    return true;
  }
  if (a_ == nullptr) return true;
  HxScalar left;
  if (!a_->eval_(left, depth + 1)) return false;
  HxScalar::eval(op_, left, right, result);
  return true;
}

bool HxExpression::isvalid() { return isvalid_(1); }

bool HxExpression::isvalid_(int depth) {
  if (depth > kHxMaxExprDepth) return false;
  if (name_.length() > 0) {
    if (value_.length() > 0) return true;
    if (reference_ != nullptr) return reference_->isvalid(name_);
    if (validreq_ != nullptr) return validreq_(name_) != 0;
    return true;
  }
  if (b_ == nullptr) return true;
  if (!b_->isvalid_(depth + 1)) return false;
  if (isunary(op_) || a_ == nullptr) return true;
  return a_->isvalid_(depth + 1);
}

void HxExpression::variables(HxStringList& list) { variables_(list, 1); }

void HxExpression::variables_(HxStringList& list, int depth) {
  if (depth > kHxMaxExprDepth || reference_ == nullptr) return;
  if (name_.length() > 0 && reference_->isvariable(name_)) {
    list.append(new HxString(name_));
    return;
  }
  if (b_ != nullptr) b_->variables_(list, depth + 1);
  if (!isunary(op_) && a_ != nullptr) a_->variables_(list, depth + 1);
}

// One line per node, the node before its left and then its right subtree;
// walked with an explicit stack so that any tree can be shown.
void HxExpression::display(int indent) const {
  std::vector<std::pair<HxExpression const*, int>> pending{{this, indent < 0 ? 0 : indent}};
  while (!pending.empty()) {
    auto [n, spaces] = pending.back();
    pending.pop_back();
    std::cout << std::string(static_cast<size_t>(spaces), ' ') << (n->name_.length() > 0 ? n->name_ : n->op_) << '\n'
              << std::flush;
    if (n->b_ != nullptr) pending.emplace_back(n->b_, spaces + 2);
    if (n->a_ != nullptr) pending.emplace_back(n->a_, spaces + 2);
  }
}

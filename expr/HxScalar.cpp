#include "expr/HxScalar.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "expr/HxExpression.h"

namespace {

bool is(HxString const& op, char const* word) {
  size_t n = std::strlen(word);
  return static_cast<size_t>(op.length()) == n && std::memcmp(op.value(), word, n) == 0;
}

template <class... W>
bool any(HxString const& op, W... words) {
  return (is(op, words) || ...);
}

// 32-bit two's complement results computed without signed overflow.
int wrap(uint32_t u) { return static_cast<int32_t>(u); }
uint32_t u32(int v) { return static_cast<uint32_t>(v); }

int int_operation(HxString const& op, int l, int r) {
  if (any(op, "/", "div")) {
    if (r == 0) return l;
    if (r == -1) return wrap(0u - u32(l));  // the quotient of INT_MIN by -1 wraps to INT_MIN
    return l / r;
  }
  if (any(op, "%", "mod")) {
    if (r == 0 || r == -1) return 0;
    return l % r;
  }
  if (any(op, "*", "mul")) return wrap(u32(l) * u32(r));
  if (any(op, "+", "add")) return wrap(u32(l) + u32(r));
  if (any(op, "-", "sub")) return wrap(u32(l) - u32(r));
  if (any(op, "^", "xor")) return l ^ r;
  if (is(op, "&")) return l & r;
  if (is(op, "|")) return l | r;
  if (any(op, "&&", "and")) return (l != 0 && r != 0) ? 1 : 0;
  if (any(op, "||", "or")) return (l != 0 || r != 0) ? 1 : 0;
  if (any(op, "<<", "ls")) return wrap(u32(l) << (u32(r) & 31u));
  if (any(op, ">>", "rs")) {
    uint32_t s = u32(r) & 31u;
    return l < 0 ? wrap(~(~u32(l) >> s)) : wrap(u32(l) >> s);
  }
  if (any(op, "=", "==", "eq")) return l == r ? 1 : 0;
  if (any(op, "!=", "ne", "<>")) return l != r ? 1 : 0;
  if (any(op, "<", "lt")) return l < r ? 1 : 0;
  if (any(op, ">", "gt")) return l > r ? 1 : 0;
  if (any(op, "<=", "le")) return l <= r ? 1 : 0;
  if (any(op, ">=", "ge")) return l >= r ? 1 : 0;
  if (any(op, "in", "has")) return l == r ? 1 : 0;
  if (is(op, "max")) return l > r ? l : r;
  if (is(op, "min")) return l < r ? l : r;
  return 0;
}

float float_operation(HxString const& op, float l, float r) {
  if (any(op, "/", "div")) return l / (r == 0.0f ? 1.0f : r);
  if (any(op, "*", "mul")) return l * r;
  if (any(op, "+", "add")) return l + r;
  if (any(op, "-", "sub")) return l - r;
  if (any(op, "&&", "and")) return (l != 0.0f && r != 0.0f) ? 1.0f : 0.0f;
  if (any(op, "||", "or")) return (l != 0.0f || r != 0.0f) ? 1.0f : 0.0f;
  if (any(op, "=", "==", "eq")) return l == r ? 1.0f : 0.0f;
  if (any(op, "!=", "ne")) return l != r ? 1.0f : 0.0f;
  if (any(op, "<", "lt")) return l < r ? 1.0f : 0.0f;
  if (any(op, ">", "gt")) return l > r ? 1.0f : 0.0f;
  if (any(op, "<=", "le")) return l <= r ? 1.0f : 0.0f;
  if (any(op, ">=", "ge")) return l >= r ? 1.0f : 0.0f;
  if (any(op, "in", "has")) return l == r ? 1.0f : 0.0f;
  if (is(op, "max")) return l > r ? l : r;
  if (is(op, "min")) return l < r ? l : r;
  return 0.0f;
}

bool listed(HxString const& list, HxString const& item) {
  HxStringList items;
  HxExpression::split(list, items);
  return items.find(item) >= 0;
}

}  // namespace

void HxScalar::value(HxString const& text) {
  if (text.length() > 0 && text.isinteger()) {
    kind_ = kInteger;
    integer_ = text.integervalue();
  } else if (text.length() > 0 && text.isfloat()) {
    kind_ = kFloat;
    float_ = text.floatvalue();
  } else {
    kind_ = kString;
    text_ = text;
    if (text_.isundef()) text_.copy("", 0);
  }
}

int HxScalar::integervalue() const {
  switch (kind_) {
    case kInteger:
      return integer_;
    case kFloat:
      // Truncation toward zero, held to the integer range (NaN gives 0): a
      // float beyond it has no integer value to convert to.
      if (std::isnan(float_)) return 0;
      if (float_ >= 2147483648.0f) return INT32_MAX;
      if (float_ <= -2147483648.0f) return INT32_MIN;
      return static_cast<int>(float_);
    default:
      return text_.integervalue();
  }
}

float HxScalar::floatvalue() const {
  switch (kind_) {
    case kInteger:
      return static_cast<float>(integer_);
    case kFloat:
      return float_;
    default:
      return text_.floatvalue();
  }
}

HxString& HxScalar::stringvalue() {
  if (kind_ == kInteger) {
    text_.copy(integer_);
  } else if (kind_ == kFloat) {
    text_.copy(float_);
  }
  return text_;
}

void HxScalar::eval(HxString const& op, HxScalar& operand, HxScalar& result) {
  bool negate = any(op, "!", "not");
  bool minus = !negate && any(op, "-", "--");
  switch (operand.kind_) {
    case kInteger:
      result.kind_ = kInteger;
      result.integer_ = negate ? (operand.integer_ == 0 ? 1 : 0) : minus ? wrap(0u - u32(operand.integer_)) : 0;
      break;
    case kFloat:
      result.kind_ = kFloat;
      result.float_ = negate ? (operand.float_ == 0.0f ? 1.0f : 0.0f) : minus ? -operand.float_ : 0.0f;
      break;
    default:
      // No unary operator applies to a string: the result only becomes one.
      result.kind_ = kString;
      break;
  }
}

void HxScalar::eval(HxString const& op, HxScalar& left, HxScalar& right, HxScalar& result) {
  int kind = left.kind_ > right.kind_ ? left.kind_ : right.kind_;
  if (kind == kInteger) {
    result.kind_ = kInteger;
    result.integer_ = int_operation(op, left.integer_, right.integer_);
  } else if (kind == kFloat) {
    result.kind_ = kFloat;
    result.float_ = float_operation(op, left.floatvalue(), right.floatvalue());
  } else {
    HxString const& l = left.stringvalue();
    HxString const& r = right.stringvalue();
    int v = 0;
    if (any(op, "=", "==", "eq")) {
      v = l == r ? 1 : 0;
    } else if (any(op, "!=", "ne")) {
      v = l != r ? 1 : 0;
    } else if (any(op, "&&", "and")) {
      v = (left.integervalue() != 0 && right.integervalue() != 0) ? 1 : 0;
    } else if (is(op, "in")) {
      v = listed(r, l) ? 1 : 0;
    } else if (is(op, "has")) {
      v = listed(l, r) ? 1 : 0;
    }
    result.kind_ = kInteger;
    result.integer_ = v;
  }
}

#pragma once

#include "core/HxBase.h"
#include "core/HxString.h"

// The value expressions compute with: a 32-bit integer, a single-precision
// float or a string. Every operator word gives a value for every kind of
// operand; nothing here fails. Integer arithmetic wraps in 32 bits.
class HxScalar : public HxBase {
 public:
  enum Kind { kInteger = 0, kFloat = 1, kString = 2 };

  HxScalar() = default;
  explicit HxScalar(int value) : integer_(value) {}
  explicit HxScalar(float value) : kind_(kFloat), float_(value) {}
  explicit HxScalar(HxString const& text) { value(text); }

  int type() const override { return 73; }

  // Integer when the text reads as one, else float when it reads as one, else
  // the text itself as a string.
  void value(HxString const& text);

  int kind() const { return kind_; }
  int integervalue() const;
  float floatvalue() const;
  // The text; an integer or float first writes its "%d" or "%f" form into it.
  HxString& stringvalue();

  // Unary operator ("!", "not", "-", "--") on operand, into result.
  static void eval(HxString const& op, HxScalar& operand, HxScalar& result);
  // Binary operator on left and right, into result. The kind of the operation
  // is the greater of the operands' kinds.
  static void eval(HxString const& op, HxScalar& left, HxScalar& right, HxScalar& result);

 private:
  int kind_ = kInteger;
  int integer_ = 0;
  float float_ = 0.0f;
  HxString text_;
};

#pragma once

#include <cstdint>

#include "core/HxString.h"

// Multi-precision integers for password encryption, in three layers:
// HxUnit (a growable vector of 32-bit limbs), HxLongValue (an unsigned
// magnitude) and HxLong (a sign flag over a magnitude). These are plain value
// types; every limb buffer is wiped before it is released or abandoned, since
// the numbers carry clear-text passwords and key material.

// A growable vector of 32-bit limbs, least significant first. The limb at
// length() - 1 is never 0 (zero has length 0); limbs at or above length()
// read as 0.
class HxUnit {
 public:
  HxUnit() = default;
  HxUnit(HxUnit const& other);
  HxUnit(HxUnit&& other) noexcept;
  HxUnit& operator=(HxUnit const& other);
  HxUnit& operator=(HxUnit&& other) noexcept;
  ~HxUnit();

  unsigned length() const { return length_; }
  unsigned capacity() const { return capacity_; }
  unsigned get(unsigned i) const { return i < length_ ? limbs_[i] : 0; }
  // The allocated limbs (capacity() of them), or null.
  uint32_t const* data() const { return limbs_; }

  // Zeroes every allocated limb and sets the length to 0; the array stays.
  void clear();
  // Makes room for exactly n limbs when there is less; the old array is wiped.
  void reserve(unsigned n);
  // Stores limb i, growing to exactly i + 1 limbs for a non-zero x beyond the
  // capacity; a zero beyond the capacity changes nothing.
  void set(unsigned i, unsigned x);
  // this = (a × b) mod 2^keep. a or b may be this object.
  void fast_mul(HxUnit const& a, HxUnit const& b, unsigned keep);

  void swap(HxUnit& other) noexcept;

 protected:
  // Drops zero limbs from the top.
  void trim();
  // Grows to exactly n limbs when there is less, keeping nothing: for a
  // result that is about to be overwritten whole.
  void reserve_fresh(unsigned n);

  unsigned length_ = 0;
  uint32_t* limbs_ = nullptr;
  unsigned capacity_ = 0;
};

// An unsigned magnitude over an HxUnit.
class HxLongValue : public HxUnit {
 public:
  void init(unsigned x);
  void copy(HxLongValue const& other);
  bool is_zero() const { return length_ == 0; }
  explicit operator unsigned int() const { return get(0); }
  bool test(unsigned bit) const { return (get(bit / 32) >> (bit % 32)) & 1u; }
  // 1 + the index of the highest set bit; 0 for zero.
  unsigned bits() const;
  // -1, 0 or 1 as this is below, equal to or above y.
  int cf(HxLongValue const& y) const;

  void shl();
  void shl(unsigned n);
  void shr();
  void shr(unsigned n);
  void add(HxLongValue const& y);
  // this -= y; callers keep this >= y (otherwise the result is the
  // difference modulo 2^(32 × length)).
  void subtract(HxLongValue const& y);
  void mul(HxLongValue const& a, HxLongValue const& b);
  // this = x / y, remainder = x % y. A zero divisor gives 0 for both.
  void divide(HxLongValue const& x, HxLongValue const& y, HxLongValue& remainder);
  // this = this × m + a, for small factors while reading decimal text.
  void mul_add(uint32_t m, uint32_t a);

 private:
  // The two ways of divide, for x >= y: by a single limb, and long division.
  static void divide_by_limb_(HxLongValue const& x, uint32_t d, HxLongValue& q, HxLongValue& r);
  static void divide_long_(HxLongValue const& x, HxLongValue const& y, HxLongValue& q, HxLongValue& r);
};

// A signed integer: a sign flag over a magnitude. Zero may carry either flag;
// comparison treats a negative zero as zero.
class HxLong {
 public:
  HxLong() = default;
  HxLong(unsigned int x);
  HxLong(HxLong const& other) = default;
  HxLong(HxLong&& other) noexcept = default;
  HxLong& operator=(HxLong const& other);
  HxLong& operator=(HxLong&& other) noexcept;
  ~HxLong() = default;  // the magnitude wipes its limbs

  bool is_zero() const { return value_.is_zero(); }
  // The low 32 bits of the magnitude.
  explicit operator unsigned int() const { return value_.get(0); }
  // The sign flag as stored (a zero may carry it).
  bool negative() const { return negative_ != 0; }
  HxLongValue const& value() const { return value_; }
  HxLongValue& value() { return value_; }

  // Reads hexadecimal digits; any other character is skipped.
  void hex(char const* text);
  // Reads decimal digits; any other character is skipped.
  void decimal(char const* text);

  int cf(HxLong const& y) const;
  // "-" for a set flag, then "0" for zero or every limb from the top as
  // eight lower-case hexadecimal digits.
  HxString stringvalue() const;
  void display() const;

  HxLong& operator+=(HxLong const& y);
  HxLong& operator-=(HxLong const& y);
  HxLong& operator*=(HxLong const& y);
  HxLong& operator/=(HxLong const& y);

  friend HxLong operator*(HxLong const& a, HxLong const& b);
  friend HxLong operator/(HxLong const& a, HxLong const& b);
  friend HxLong operator%(HxLong const& a, HxLong const& b);
  friend class monty;

 private:
  void add_signed(HxLong const& y, uint32_t y_negative);

  HxLongValue value_;
  uint32_t negative_ = 0;
};

HxLong operator+(HxLong const& a, HxLong const& b);
HxLong operator-(HxLong const& a, HxLong const& b);
HxLong operator*(HxLong const& a, HxLong const& b);
// Truncates toward zero; a zero divisor gives 0.
HxLong operator/(HxLong const& a, HxLong const& b);
// Carries the dividend's sign; a zero divisor gives 0.
HxLong operator%(HxLong const& a, HxLong const& b);

HxLong gcd(HxLong const& a, HxLong const& b);
// i with i × a ≡ 1 (mod m) when a and m are coprime.
HxLong modinv(HxLong const& a, HxLong const& m);
// x^e mod |m|, in 0 .. |m| - 1 (the magnitude of e is used). e = 0 gives
// 1 mod m; a modulus of 0 gives 0.
HxLong modexp(HxLong const& x, HxLong const& e, HxLong const& m);

// Modular multiplication and exponentiation for one modulus. An odd modulus
// above 1 works in Montgomery form (R = 2^N, the least power of two not below
// m); any other modulus uses plain products and remainders, with the same
// results.
class monty {
 public:
  explicit monty(HxLong const& m);
  ~monty() = default;  // the numbers wipe their limbs
  monty(monty const&) = delete;
  monty& operator=(monty const&) = delete;

  // x = x × y × R⁻¹ mod m (x × y mod m for the plain form), for x, y below m.
  void mul(HxLong& x, HxLong const& y);
  HxLong exp(HxLong const& x, HxLong const& e);

 private:
  // a mod m in 0 .. m - 1.
  HxLong reduce(HxLong const& a) const;

  HxLong R, m, m1, T, k;  // m1 = -m⁻¹ mod R; T and k are working space
  unsigned N = 0;
  bool plain_ = false;
};

#include "crypto/HxLong.h"

#include <string.h>  // explicit_bzero

#include <cstdio>
#include <utility>

namespace {

constexpr uint64_t kBase = 1ull << 32;

// Zeroes limbs in a way the compiler may not drop as a dead store.
void wipe(void* p, size_t bytes) {
  if (p != nullptr && bytes > 0) explicit_bzero(p, bytes);
}

uint32_t* new_limbs(unsigned n) { return n ? new uint32_t[n]() : nullptr; }

void free_limbs(uint32_t*& p, unsigned& capacity) {
  wipe(p, sizeof(uint32_t) * capacity);
  delete[] p;
  p = nullptr;
  capacity = 0;
}

// Working limbs for one division, wiped when released.
class Scratch {
 public:
  explicit Scratch(unsigned n) : n_(n), p_(new_limbs(n)) {}
  ~Scratch() { free_limbs(p_, n_); }
  Scratch(Scratch const&) = delete;
  Scratch& operator=(Scratch const&) = delete;
  uint32_t& operator[](unsigned i) { return p_[i]; }
  uint32_t* data() { return p_; }

 private:
  unsigned n_;
  uint32_t* p_;
};

// The steps of long division, over limb arrays (least significant first).

// dst[0..len) = src[0..len) shifted left by s bits (0 <= s < 32); gives the
// bits shifted out at the top.
uint32_t shift_limbs_left(uint32_t const* src, unsigned len, unsigned s, uint32_t* dst) {
  uint32_t const out = static_cast<uint32_t>(static_cast<uint64_t>(src[len - 1]) >> (32 - s));
  for (unsigned i = len - 1; i > 0; --i)
    dst[i] = (src[i] << s) | static_cast<uint32_t>(static_cast<uint64_t>(src[i - 1]) >> (32 - s));
  dst[0] = src[0] << s;
  return out;
}

// The next quotient limb of u[0..n] / v[0..n), v normalised (top bit set) and
// n >= 2: estimated from the top two limbs of u and the top limb of v, then
// lowered while the second limb of v shows it too large. The result is at
// most one too large.
uint64_t estimate_digit(uint32_t const* u, uint32_t const* v, unsigned n) {
  uint64_t const num = (static_cast<uint64_t>(u[n]) << 32) | u[n - 1];
  uint64_t qhat = num / v[n - 1];
  uint64_t rhat = num % v[n - 1];
  while (qhat >= kBase || qhat * v[n - 2] > ((rhat << 32) | u[n - 2])) {
    --qhat;
    rhat += v[n - 1];
    if (rhat >= kBase) break;
  }
  return qhat;
}

// u[0..n] -= qhat x v[0..n); false when the result went below zero (it is
// then off by the base to the power n + 1).
bool multiply_subtract(uint32_t* u, uint32_t const* v, unsigned n, uint64_t qhat) {
  uint64_t carry = 0;
  uint32_t borrow = 0;
  for (unsigned i = 0; i < n; ++i) {
    uint64_t p = qhat * v[i] + carry;
    carry = p >> 32;
    uint64_t sub = static_cast<uint64_t>(static_cast<uint32_t>(p)) + borrow;
    uint32_t d = u[i];
    u[i] = static_cast<uint32_t>(d - sub);
    borrow = d < sub ? 1 : 0;
  }
  uint64_t const sub = carry + borrow;
  uint32_t const top = u[n];
  u[n] = static_cast<uint32_t>(top - sub);
  return top >= sub;
}

// u[0..n] += v[0..n), dropping the carry out of the top limb.
void add_back(uint32_t* u, uint32_t const* v, unsigned n) {
  uint64_t c = 0;
  for (unsigned i = 0; i < n; ++i) {
    uint64_t t = static_cast<uint64_t>(u[i]) + v[i] + c;
    u[i] = static_cast<uint32_t>(t);
    c = t >> 32;
  }
  u[n] = static_cast<uint32_t>(u[n] + c);
}

int hexdigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char const kHexDigits[] = "0123456789abcdef";

}  // namespace

// ---- HxUnit ---------------------------------------------------------------

HxUnit::HxUnit(HxUnit const& other) { *this = other; }

HxUnit::HxUnit(HxUnit&& other) noexcept { swap(other); }

HxUnit& HxUnit::operator=(HxUnit const& other) {
  if (&other == this) return *this;
  if (capacity_ < other.length_) {
    free_limbs(limbs_, capacity_);
    limbs_ = new_limbs(other.length_);
    capacity_ = other.length_;
  } else if (length_ > other.length_) {
    wipe(limbs_ + other.length_, sizeof(uint32_t) * (length_ - other.length_));
  }
  if (other.length_ > 0) memcpy(limbs_, other.limbs_, sizeof(uint32_t) * other.length_);
  length_ = other.length_;
  return *this;
}

HxUnit& HxUnit::operator=(HxUnit&& other) noexcept {
  if (&other != this) {
    HxUnit old(std::move(other));
    swap(old);
  }
  return *this;
}

HxUnit::~HxUnit() { free_limbs(limbs_, capacity_); }

void HxUnit::swap(HxUnit& other) noexcept {
  std::swap(length_, other.length_);
  std::swap(limbs_, other.limbs_);
  std::swap(capacity_, other.capacity_);
}

void HxUnit::clear() {
  wipe(limbs_, sizeof(uint32_t) * capacity_);
  length_ = 0;
}

void HxUnit::trim() {
  while (length_ > 0 && limbs_[length_ - 1] == 0) --length_;
}

void HxUnit::reserve(unsigned n) {
  if (capacity_ >= n) return;
  uint32_t* fresh = new_limbs(n);
  if (length_ > 0) memcpy(fresh, limbs_, sizeof(uint32_t) * length_);
  free_limbs(limbs_, capacity_);
  limbs_ = fresh;
  capacity_ = n;
}

void HxUnit::reserve_fresh(unsigned n) {
  if (capacity_ < n) {
    free_limbs(limbs_, capacity_);
    limbs_ = new_limbs(n);
    capacity_ = n;
  } else {
    wipe(limbs_, sizeof(uint32_t) * length_);
  }
  length_ = 0;
}

// Limbs at or above the length are kept zero throughout, so growing the
// length within the capacity exposes only zeros.
void HxUnit::set(unsigned i, unsigned x) {
  if (i < capacity_) {
    if (length_ <= i) {
      for (unsigned k = length_; k < i; ++k) limbs_[k] = 0;
      length_ = i + 1;
    }
    limbs_[i] = x;
    trim();
  } else if (x != 0) {
    reserve(i + 1);
    for (unsigned k = length_; k < i; ++k) limbs_[k] = 0;
    limbs_[i] = x;
    length_ = i + 1;
  }
}

void HxUnit::fast_mul(HxUnit const& a, HxUnit const& b, unsigned keep) {
  if (&a == this || &b == this) {
    HxUnit product;
    product.fast_mul(a, b, keep);
    swap(product);  // the old limbs are wiped with `product`
    return;
  }
  unsigned const w = keep / 32 + (keep % 32 != 0 ? 1 : 0);
  reserve_fresh(w);
  uint32_t* r = limbs_;
  unsigned const la = a.length_ < w ? a.length_ : w;
  for (unsigned i = 0; i < la; ++i) {
    uint64_t const ai = a.limbs_[i];
    uint64_t carry = 0;
    unsigned const jmax = b.length_ < w - i ? b.length_ : w - i;
    for (unsigned j = 0; j < jmax; ++j) {
      uint64_t t = ai * b.limbs_[j] + r[i + j] + carry;
      r[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    for (unsigned pos = i + jmax; carry != 0 && pos < w; ++pos) {
      uint64_t t = static_cast<uint64_t>(r[pos]) + carry;
      r[pos] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
  }
  if (keep % 32 != 0 && w > 0) r[w - 1] &= (1u << (keep % 32)) - 1u;
  length_ = w;
  trim();
}

// ---- HxLongValue ------------------------------------------------------------

void HxLongValue::init(unsigned x) {
  clear();
  set(0, x);
}

void HxLongValue::copy(HxLongValue const& other) { HxUnit::operator=(other); }

unsigned HxLongValue::bits() const {
  if (length_ == 0) return 0;
  return 32 * (length_ - 1) + (32 - static_cast<unsigned>(__builtin_clz(limbs_[length_ - 1])));
}

int HxLongValue::cf(HxLongValue const& y) const {
  if (length_ != y.length_) return length_ > y.length_ ? 1 : -1;
  for (unsigned i = length_; i-- > 0;) {
    if (limbs_[i] != y.limbs_[i]) return limbs_[i] > y.limbs_[i] ? 1 : -1;
  }
  return 0;
}

void HxLongValue::shl() {
  if (length_ == 0) return;
  reserve(length_ + 1);  // room for the bit shifted out of the top limb
  uint32_t carry = 0;
  for (unsigned i = 0; i <= length_; ++i) {
    uint32_t top = limbs_[i] >> 31;
    limbs_[i] = (limbs_[i] << 1) | carry;
    carry = top;
  }
  ++length_;
  trim();
}

void HxLongValue::shl(unsigned n) {
  if (length_ == 0 || n == 0) return;
  unsigned const q = n / 32, r = n % 32;
  unsigned const old = length_;
  unsigned const grown = old + q + 1;
  reserve(grown);
  auto limb = [&](long k) -> uint64_t { return k >= 0 && k < static_cast<long>(old) ? limbs_[k] : 0; };
  // From the top down, so every source limb is read before it is overwritten.
  for (long i = static_cast<long>(grown) - 1; i >= 0; --i) {
    uint64_t v = limb(i - static_cast<long>(q)) << r;
    if (r != 0) v |= limb(i - static_cast<long>(q) - 1) >> (32 - r);
    limbs_[i] = static_cast<uint32_t>(v);
  }
  length_ = grown;
  trim();
}

void HxLongValue::shr() {
  for (unsigned i = 0; i < length_; ++i) {
    uint32_t next = i + 1 < length_ ? limbs_[i + 1] : 0;
    limbs_[i] = (limbs_[i] >> 1) | (next << 31);
  }
  trim();
}

void HxLongValue::shr(unsigned n) {
  unsigned const q = n / 32, r = n % 32;
  if (q >= length_) {
    clear();
    return;
  }
  // Upwards, so every source limb (at or above its target) is read first.
  for (unsigned i = 0; i < length_; ++i) {
    uint32_t v = get(i + q) >> r;
    if (r != 0) v |= get(i + q + 1) << (32 - r);
    limbs_[i] = v;
  }
  trim();
}

void HxLongValue::add(HxLongValue const& y) {
  unsigned const n = length_ > y.length_ ? length_ : y.length_;
  if (n == 0) return;
  reserve(n + 1);  // room for the final carry
  uint64_t carry = 0;
  for (unsigned i = 0; i < n; ++i) {
    uint64_t t = carry + limbs_[i] + y.get(i);
    limbs_[i] = static_cast<uint32_t>(t);
    carry = t >> 32;
  }
  limbs_[n] = static_cast<uint32_t>(carry);
  length_ = n + 1;
  trim();
}

void HxLongValue::subtract(HxLongValue const& y) {
  uint32_t borrow = 0;
  for (unsigned i = 0; i < length_; ++i) {
    uint64_t s = static_cast<uint64_t>(y.get(i)) + borrow;
    uint32_t t = limbs_[i];
    limbs_[i] = static_cast<uint32_t>(t - s);
    borrow = t < s ? 1 : 0;
  }
  trim();
}

void HxLongValue::mul(HxLongValue const& a, HxLongValue const& b) { fast_mul(a, b, a.bits() + b.bits()); }

void HxLongValue::mul_add(uint32_t m, uint32_t a) {
  uint64_t carry = a;
  for (unsigned i = 0; i < length_; ++i) {
    uint64_t t = static_cast<uint64_t>(limbs_[i]) * m + carry;
    limbs_[i] = static_cast<uint32_t>(t);
    carry = t >> 32;
  }
  if (carry != 0) set(length_, static_cast<uint32_t>(carry));
  trim();
}

// Long division a limb at a time (normalised divisor, estimated quotient
// digits corrected by at most two steps and one add-back).
void HxLongValue::divide(HxLongValue const& x, HxLongValue const& y, HxLongValue& remainder) {
  HxLongValue q, r;
  if (y.is_zero()) {
    // No quotient exists; both results are 0 rather than an endless loop.
  } else if (x.cf(y) < 0) {
    r.copy(x);
  } else if (y.length_ == 1) {
    divide_by_limb_(x, y.limbs_[0], q, r);
  } else {
    divide_long_(x, y, q, r);
  }
  remainder.swap(r);
  swap(q);
}

void HxLongValue::divide_by_limb_(HxLongValue const& x, uint32_t d, HxLongValue& q, HxLongValue& r) {
  q.reserve_fresh(x.length_);
  uint64_t rest = 0;
  for (unsigned i = x.length_; i-- > 0;) {
    uint64_t cur = (rest << 32) | x.limbs_[i];
    q.limbs_[i] = static_cast<uint32_t>(cur / d);
    rest = cur % d;
  }
  q.length_ = x.length_;
  q.trim();
  r.init(static_cast<uint32_t>(rest));
}

// Long division of x by a divisor of two limbs or more, with x >= y: both
// are shifted left until the divisor's top bit is set, each quotient limb is
// estimated from the top limbs and corrected, and the remainder is shifted
// back at the end.
void HxLongValue::divide_long_(HxLongValue const& x, HxLongValue const& y, HxLongValue& q, HxLongValue& r) {
  unsigned const m = x.length_, n = y.length_;
  unsigned const s = static_cast<unsigned>(__builtin_clz(y.limbs_[n - 1]));
  Scratch vn(n), un(m + 1);
  shift_limbs_left(y.limbs_, n, s, vn.data());
  un[m] = shift_limbs_left(x.limbs_, m, s, un.data());

  q.reserve_fresh(m - n + 1);
  for (unsigned j = m - n + 1; j-- > 0;) {
    uint64_t qhat = estimate_digit(un.data() + j, vn.data(), n);
    if (!multiply_subtract(un.data() + j, vn.data(), n, qhat)) {
      // The estimate was one too large: add the divisor back.
      --qhat;
      add_back(un.data() + j, vn.data(), n);
    }
    q.limbs_[j] = static_cast<uint32_t>(qhat);
  }
  q.length_ = m - n + 1;
  q.trim();

  r.reserve_fresh(n);
  for (unsigned i = 0; i < n; ++i) {
    r.limbs_[i] = (un[i] >> s) | static_cast<uint32_t>(static_cast<uint64_t>(un[i + 1]) << (32 - s));
  }
  r.length_ = n;
  r.trim();
}

// ---- HxLong -----------------------------------------------------------------

HxLong::HxLong(unsigned int x) { value_.init(x); }

HxLong& HxLong::operator=(HxLong const& other) {
  value_.copy(other.value_);
  negative_ = other.negative_;
  return *this;
}

HxLong& HxLong::operator=(HxLong&& other) noexcept {
  value_ = std::move(other.value_);
  negative_ = other.negative_;
  return *this;
}

void HxLong::hex(char const* text) {
  value_.clear();
  negative_ = 0;
  if (text == nullptr) return;
  // Count the significant digits first so the limbs are filled in one pass.
  size_t digits = 0;
  for (char const* c = text; *c; ++c) {
    int d = hexdigit(*c);
    if (d > 0 || (d == 0 && digits > 0)) ++digits;
  }
  if (digits == 0) return;
  unsigned const limbs = static_cast<unsigned>((digits + 7) / 8);
  value_.reserve(limbs);
  size_t k = digits;  // digits still to place
  bool started = false;
  uint32_t limb = 0;
  for (char const* c = text; *c && k > 0; ++c) {
    int d = hexdigit(*c);
    if (d < 0) continue;
    if (!started) {
      if (d == 0) continue;  // a leading zero
      started = true;
    }
    --k;
    limb = (limb << 4) | static_cast<uint32_t>(d);
    if (k % 8 == 0) {
      value_.set(static_cast<unsigned>(k / 8), limb);
      limb = 0;
    }
  }
  wipe(&limb, sizeof limb);
}

void HxLong::decimal(char const* text) {
  value_.clear();
  negative_ = 0;
  if (text == nullptr) return;
  // Nine digits at a time fit a limb.
  uint32_t chunk = 0, scale = 1;
  for (char const* c = text; *c; ++c) {
    if (*c < '0' || *c > '9') continue;
    chunk = chunk * 10 + static_cast<uint32_t>(*c - '0');
    scale *= 10;
    if (scale == 1000000000u) {
      value_.mul_add(scale, chunk);
      chunk = 0;
      scale = 1;
    }
  }
  if (scale > 1) value_.mul_add(scale, chunk);
  wipe(&chunk, sizeof chunk);
}

int HxLong::cf(HxLong const& y) const {
  bool const a = negative_ != 0 && !is_zero();
  bool const b = y.negative_ != 0 && !y.is_zero();
  if (a != b) return a ? -1 : 1;
  int c = value_.cf(y.value_);
  return a ? -c : c;
}

HxString HxLong::stringvalue() const {
  unsigned const limbs = value_.length();
  size_t const n = (negative_ ? 1 : 0) + (limbs == 0 ? 1 : 8 * static_cast<size_t>(limbs));
  char* buf = new char[n];
  size_t at = 0;
  if (negative_) buf[at++] = '-';
  if (limbs == 0) buf[at++] = '0';
  for (unsigned i = limbs; i-- > 0;) {
    uint32_t v = value_.get(i);
    for (int shift = 28; shift >= 0; shift -= 4) buf[at++] = kHexDigits[(v >> shift) & 0xf];
  }
  HxString out(buf, static_cast<int>(n));
  wipe(buf, n);
  delete[] buf;
  return out;
}

void HxLong::display() const {
  HxString s = stringvalue();
  std::fputs(s.value(), stdout);
  std::fputc('\n', stdout);
}

// this += (y with the sign flag y_negative): both operators come down to this.
void HxLong::add_signed(HxLong const& y, uint32_t y_negative) {
  if (negative_ == y_negative) {
    value_.add(y.value_);
  } else if (value_.cf(y.value_) < 0) {
    HxLongValue t;
    t.copy(y.value_);
    t.subtract(value_);
    value_.swap(t);
    negative_ = y_negative;
  } else {
    value_.subtract(y.value_);
  }
}

HxLong& HxLong::operator+=(HxLong const& y) {
  add_signed(y, y.negative_);
  return *this;
}

HxLong& HxLong::operator-=(HxLong const& y) {
  add_signed(y, y.negative_ ? 0 : 1);
  return *this;
}

HxLong& HxLong::operator*=(HxLong const& y) {
  *this = *this * y;
  return *this;
}

HxLong& HxLong::operator/=(HxLong const& y) {
  *this = *this / y;
  return *this;
}

HxLong operator+(HxLong const& a, HxLong const& b) {
  HxLong r(a);
  r += b;
  return r;
}

HxLong operator-(HxLong const& a, HxLong const& b) {
  HxLong r(a);
  r -= b;
  return r;
}

HxLong operator*(HxLong const& a, HxLong const& b) {
  HxLong r;
  r.value_.mul(a.value_, b.value_);
  r.negative_ = a.negative_ ^ b.negative_;
  return r;
}

HxLong operator/(HxLong const& a, HxLong const& b) {
  HxLong q, rest;
  if (b.is_zero()) return q;
  q.value_.divide(a.value_, b.value_, rest.value_);
  q.negative_ = a.negative_ ^ b.negative_;
  return q;
}

HxLong operator%(HxLong const& a, HxLong const& b) {
  HxLong q, rest;
  if (b.is_zero()) return rest;
  q.value_.divide(a.value_, b.value_, rest.value_);
  rest.negative_ = a.negative_;
  return rest;
}

// ---- gcd, inverse, powers -------------------------------------------------

HxLong gcd(HxLong const& a, HxLong const& b) {
  HxLong x(a), y(b);
  for (;;) {
    if (y.is_zero()) return x;
    x = x % y;
    if (x.is_zero()) return y;
    y = y % x;
  }
}

HxLong modinv(HxLong const& a, HxLong const& m) {
  HxLong j(1u), i(0u), b(m), c(a), x, y;
  // |c| falls strictly at every step (it becomes the remainder b % c).
  while (!c.is_zero()) {
    x = b / c;
    y = b - x * c;
    b = std::move(c);
    c = std::move(y);
    y = j;
    j = i - j * x;
    i = std::move(y);
  }
  if (i.cf(HxLong()) < 0) i += m;
  return i;
}

HxLong modexp(HxLong const& x, HxLong const& e, HxLong const& m) {
  monty context(m);
  return context.exp(x, e);
}

monty::monty(HxLong const& modulus) {
  m.value_.copy(modulus.value_);
  HxLongValue const& mv = m.value_;
  // Montgomery reduction needs R = 2^N invertible modulo m, so only an odd
  // modulus above 1 can use it; the rest work with plain remainders (R = 1).
  plain_ = !(mv.test(0) && mv.bits() > 1);
  if (plain_) {
    R = HxLong(1u);
    return;
  }
  // An odd m above 1 is no power of two, so the least power of two not below
  // it is 2^bits(m).
  N = mv.bits();
  R.value_.set(N / 32, 1u << (N % 32));
  // m⁻¹ mod R by Newton's iteration: an odd m is its own inverse modulo 8,
  // and every step doubles the number of correct low bits.
  HxLong inv(m), t;
  HxLong const R2 = R + HxLong(2u);
  for (unsigned good = 3; good < N; good *= 2) {
    t.value_.fast_mul(m.value_, inv.value_, N);
    t = R2 - t;  // (2 - m × inv) mod R
    if (t.cf(R) >= 0) t -= R;
    inv.value_.fast_mul(inv.value_, t.value_, N);
  }
  m1 = R - inv;
}

HxLong monty::reduce(HxLong const& a) const {
  HxLong r = a % m;
  if (r.negative_ && !r.is_zero()) r += m;
  r.negative_ = 0;
  return r;
}

void monty::mul(HxLong& x, HxLong const& y) {
  if (plain_) {
    x = reduce(x * y);
    return;
  }
  T.value_.fast_mul(x.value_, y.value_, 2 * N);
  k.value_.fast_mul(T.value_, m1.value_, N);
  x.value_.fast_mul(k.value_, m.value_, 2 * N);
  x.value_.add(T.value_);
  x.value_.shr(N);
  if (x.value_.cf(m.value_) >= 0) x.value_.subtract(m.value_);
  x.negative_ = 0;
}

HxLong monty::exp(HxLong const& x, HxLong const& e) {
  // 1 and x in the working form (times R mod m).
  HxLong result = reduce(R);
  HxLong t = plain_ ? reduce(x) : reduce(x * R);
  unsigned const nb = e.value_.bits();
  // Square and multiply from the lowest bit; e = 0 leaves 1 mod m.
  for (unsigned i = 0; i < nb; ++i) {
    if (e.value_.test(i)) mul(result, t);
    if (i + 1 < nb) mul(t, t);
  }
  // Leaving the working form is one more product, with 1: result × R⁻¹ mod m.
  if (!plain_) mul(result, HxLong(1u));
  return result;
}

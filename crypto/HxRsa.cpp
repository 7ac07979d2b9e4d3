#include "crypto/HxRsa.h"

#include <string.h>  // explicit_bzero

#include <utility>

namespace {

// Clear-text bytes per block.
constexpr int kBlockBytes = 16;
// Candidates sieved at a time by find_prime; the sieve for the prime table
// runs over the same span.
constexpr unsigned kWindow = 1600;

void wipe(void* p, size_t bytes) {
  if (p != nullptr && bytes > 0) explicit_bzero(p, bytes);
}

// Hexadecimal digits a cipher block is padded to: eight per limb of n.
int block_width(HxLong const& n) { return 8 * static_cast<int>(n.value().length()); }

// A seed text as a number: x = x × 256 + v for every byte, where v is the byte
// sign-extended to 32 bits and then read unsigned (0x80-0xFF give
// 2^32 - 256 + the byte). Keys made by the other side rely on this reading.
HxLong from_str(char const* text) {
  HxLong x;
  if (text == nullptr) return x;
  for (char const* c = text; *c; ++c) {
    uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*c)));
    x.value().mul_add(256, v);
  }
  return x;
}

uint32_t mod_small(HxLongValue const& x, uint32_t p) {
  uint64_t rest = 0;
  for (unsigned i = x.length(); i-- > 0;) rest = ((rest << 32) | x.get(i)) % p;
  return static_cast<uint32_t>(rest);
}

// Fermat tests of x to the bases 2, 3, 5 and 7.
bool probable_prime(HxLong const& x) {
  monty context(x);
  HxLong const one(1u);
  HxLong const e = x - one;
  for (unsigned base : {2u, 3u, 5u, 7u}) {
    if (context.exp(HxLong(base), e).cf(one) != 0) return false;
  }
  return true;
}

}  // namespace

// ---- public key ---------------------------------------------------------------

HxLong HxRsaPublicKey::encrypt(HxLong const& x) const { return modexp(x, e, n); }

HxString HxRsaPublicKey::encrypt(HxString const& text) const {
  HxString out("");
  int const length = text.length();
  if (length <= 0) return out;
  int const width = block_width(n);
  monty context(n);  // one context serves every block
  uint32_t limbs[kBlockBytes / 4];
  for (int pos = 0; pos < length; pos += kBlockBytes) {
    // The block's bytes, first byte most significant, zero bytes after the end.
    for (int k = 0; k < kBlockBytes; ++k) {
      uint32_t byte = pos + k < length ? static_cast<unsigned char>(text.get(pos + k)) : 0;
      int const from_top = kBlockBytes - 1 - k;
      uint32_t& limb = limbs[from_top / 4];
      if (from_top % 4 == 3) limb = 0;
      limb |= byte << (8 * (from_top % 4));
    }
    HxLong m;
    for (unsigned i = kBlockBytes / 4; i-- > 0;) m.value().set(i, limbs[i]);
    HxString digits = context.exp(m, e).stringvalue();
    // Every block takes the modulus's full width, so the receiver can cut
    // the cipher text at fixed places even when a value has leading zeros.
    for (int pad = width - digits.length(); pad > 0; --pad) out += '0';
    out += digits;
  }
  wipe(limbs, sizeof limbs);
  return out;
}

// ---- private key --------------------------------------------------------------

void HxRsaPrivateKey::create(char const* seed1, char const* seed2) {
  prime_factory table;
  HxLong start1 = from_str(seed1), start2 = from_str(seed2);
  p = table.find_prime(start1);
  q = table.find_prime(start2);
  if (p.cf(q) > 0) std::swap(p, q);
  n = p * q;
  HxLong const one(1u), two(2u);
  HxLong const p1 = p - one, q1 = q - one;
  e = HxLong(50001u);
  while (gcd(p1, e).cf(one) != 0 || gcd(q1, e).cf(one) != 0) e += two;
}

namespace {

// The values derived from a private key for decrypting, made once per cipher
// text rather than once per block. They wipe themselves when released.
class Decryptor {
 public:
  explicit Decryptor(HxRsaPrivateKey const& key) : p_(key.p), q_(key.q), mp_(key.p), mq_(key.q), mn_(key.p.cf(key.q) == 0 ? key.p * key.q : HxLong()) {
    HxLong const one(1u);
    equal_ = key.p.cf(key.q) == 0;
    if (equal_) {
      // n = p²: the remainder theorem needs two distinct primes, so work
      // modulo p² directly, where the units have order dividing p × (p - 1).
      d_ = modinv(key.e, key.p * (key.p - one));
      return;
    }
    HxLong const p1 = key.p - one, q1 = key.q - one;
    d_ = modinv(key.e, p1 * q1);
    u_ = modinv(key.p, key.q);
    dp_ = d_ % p1;
    dq_ = d_ % q1;
  }

  HxLong decrypt(HxLong const& c) {
    if (equal_) return mn_.exp(c, d_);
    HxLong const a = mp_.exp(c % p_, dp_);
    HxLong b = mq_.exp(c % q_, dq_);
    if (b.cf(a) < 0) b += q_;
    HxLong h = ((b - a) * u_) % q_;
    if (h.cf(HxLong()) < 0) h += q_;  // only when p > q was loaded by hand
    return a + p_ * h;
  }

 private:
  HxLong const& p_;
  HxLong const& q_;
  monty mp_, mq_, mn_;
  bool equal_ = false;
  HxLong d_, u_, dp_, dq_;
};

}  // namespace

HxLong HxRsaPrivateKey::decrypt(HxLong const& c) const {
  Decryptor crt(*this);
  return crt.decrypt(c);
}

HxString HxRsaPrivateKey::decrypt(HxString const& cipher) const {
  HxString out("");
  out.secure(1);
  int const width = block_width(n);
  int const length = cipher.length();
  if (width == 0) return out;  // no key loaded
  Decryptor crt(*this);
  char* piece = new char[static_cast<size_t>(width) + 1];
  for (int pos = 0; pos < length; pos += width) {
    int take = length - pos < width ? length - pos : width;
    memcpy(piece, cipher.value() + pos, static_cast<size_t>(take));
    piece[take] = 0;
    HxLong c;
    c.hex(piece);
    HxLong const m = crt.decrypt(c);
    // Every limb stands for four bytes, most significant first; the zero
    // bytes (the fill, or a block of zeros) are dropped.
    for (unsigned i = m.value().length(); i-- > 0;) {
      uint32_t limb = m.value().get(i);
      for (int shift = 24; shift >= 0; shift -= 8) {
        char byte = static_cast<char>((limb >> shift) & 0xff);
        if (byte != 0) out += byte;
      }
      wipe(&limb, sizeof limb);
    }
  }
  wipe(piece, static_cast<size_t>(width) + 1);
  delete[] piece;
  return out;
}

// ---- primes -------------------------------------------------------------------

prime_factory::prime_factory() {
  bool flags[kWindow + 1];
  for (bool& f : flags) f = true;
  unsigned p = 2;
  for (;;) {
    while (p < kWindow && !flags[p]) ++p;
    if (p >= kWindow) break;
    primes_[count_++] = p;
    if (count_ == kPrimes) break;
    // Every composite below the window has a factor below half of it.
    if (p < kWindow / 2) {
      for (unsigned k = 2 * p; k < kWindow; k += p) flags[k] = false;
    }
    if (++p >= kWindow - 1) break;
  }
}

HxLong prime_factory::find_prime(HxLong& start) const {
  if (start.negative()) {
    HxLong magnitude;
    magnitude.value().copy(start.value());
    start = std::move(magnitude);
  }
  bool flags[kWindow];
  for (;;) {
    for (bool& f : flags) f = true;
    for (unsigned i = 0; i < count_; ++i) {
      unsigned const p = primes_[i];
      unsigned const r = mod_small(start.value(), p);
      for (unsigned off = r == 0 ? 0 : p - r; off < kWindow; off += p) flags[off] = false;
    }
    for (unsigned off = 0; off < kWindow; ++off) {
      if (flags[off] && probable_prime(start)) return start;
      start.value().mul_add(1, 1);
    }
  }
}

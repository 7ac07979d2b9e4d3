#pragma once

#include "core/HxString.h"
#include "crypto/HxLong.h"

// Plain RSA on fixed 16-byte blocks, used to send passwords. A block's 16
// bytes (the last one filled up with zero bytes) are read as one number, first
// byte most significant; each cipher block is written as hexadecimal digits,
// zero-padded to the width of the modulus, and the blocks are joined.

class HxRsaPublicKey {
 public:
  HxRsaPublicKey() = default;

  // x^e mod n.
  HxLong encrypt(HxLong const& x) const;
  // The cipher text of a text; the empty text gives the empty text.
  HxString encrypt(HxString const& text) const;

  HxLong n;  // modulus
  HxLong e;  // public exponent
};

class HxRsaPrivateKey {
 public:
  HxRsaPrivateKey() = default;

  // Makes the key pair from two seed texts (p <= q).
  void create(char const* seed1, char const* seed2);
  // The plain number of a cipher number.
  HxLong decrypt(HxLong const& c) const;
  // The plain text of a cipher text, as a secure string; zero bytes (the
  // fill of the last block) are dropped.
  HxString decrypt(HxString const& cipher) const;

  HxLong n;  // modulus
  HxLong e;  // public exponent
  HxLong p;  // the smaller prime
  HxLong q;  // the larger prime
};

// The first 200 primes (2 to 1223), for sieving candidates before the costly
// probable-prime test.
class prime_factory {
 public:
  static constexpr unsigned kPrimes = 200;

  prime_factory();

  unsigned count() const { return count_; }
  unsigned prime(unsigned i) const { return i < count_ && i < kPrimes ? primes_[i] : 0; }
  // Advances start to the next probable prime (by Fermat tests to the bases
  // 2, 3, 5 and 7) that no table prime divides, and returns a copy of it. A
  // negative start counts from its magnitude.
  HxLong find_prime(HxLong& start) const;

 private:
  unsigned count_ = 0;
  unsigned primes_[kPrimes] = {};
};

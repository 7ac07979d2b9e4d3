// Reads hostile text as hexadecimal and decimal numbers and as cipher text.
// Beyond not crashing, checks that what is read prints and reads back the
// same, that division is exact, and that decryption never yields a zero byte.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crypto/HxRsa.h"

namespace {

HxRsaPrivateKey const& Key() {
  static HxRsaPrivateKey const* key = [] {
    auto* k = new HxRsaPrivateKey;
    k->create("fuzzing seed one", "fuzzing seed two");
    return k;
  }();
  return *key;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size == 0) return 0;
  uint8_t const mode = data[0] % 3;
  std::string text(reinterpret_cast<char const*>(data + 1), size - 1);
  // Cut at an embedded NUL for the C-text readers, as a caller would.
  std::string ctext = text.c_str();

  if (mode == 0 || mode == 1) {
    size_t half = ctext.size() / 2;
    std::string left = ctext.substr(0, half), right = ctext.substr(half);
    HxLong a, b;
    if (mode == 0) {
      a.hex(left.c_str());
      b.hex(right.c_str());
    } else {
      a.decimal(left.c_str());
      b.decimal(right.c_str());
    }
    HxLong again;
    again.hex(a.stringvalue().value());
    Check(again.cf(a) == 0);
    HxLong q = a / b, r = a % b;
    if (!b.is_zero()) {
      Check((q * b + r).cf(a) == 0);
      Check(r.cf(b) < 0);
    }
    // Keep exponentiation to key-sized operands so each input stays fast.
    if (a.value().bits() <= 512 && b.value().bits() <= 512) {
      HxLong m = b + HxLong(2u);
      HxLong x = modexp(a, b, m);
      Check(x.cf(m) < 0 && !x.negative());
      HxLong g = gcd(a, m);
      if (g.cf(HxLong(1u)) == 0) Check((modinv(a, m) * a % m).cf(HxLong(1u)) == 0);
    }
  } else {
    HxString plain = Key().decrypt(HxString(text.data(), static_cast<int>(text.size())));
    for (int i = 0; i < plain.length(); ++i) Check(plain.get(i) != 0);
  }
  return 0;
}

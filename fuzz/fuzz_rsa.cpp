// RSA from outside bytes: encryption of any text under keys read from
// hexadecimal text (an even, zero or one-limb modulus included), and key
// pairs made from any two seeds. Nothing may crash or loop; a cipher text
// is whole blocks of the modulus's width; a key pair made from seeds whose
// modulus can hold a block decrypts what its public half encrypted.
#include <cstddef>
#include <cstdint>
#include <string>

#include "crypto/HxRsa.h"

namespace {

// Cuts n bytes (at most what is left) off the front of the input.
std::string Take(uint8_t const*& data, size_t& size, size_t n) {
  if (n > size) n = size;
  std::string out(reinterpret_cast<char const*>(data), n);
  data += n;
  size -= n;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 3 || size > 4096) return 0;
  uint8_t const mode = data[0];
  // The lengths of the two key texts come first: a modulus of up to 255
  // hexadecimal digits (about 1,000 bits) and an exponent or seed of up
  // to 31 bytes, as real keys have.
  size_t const first = data[1];
  size_t const second = data[2] % 32;
  data += 3;
  size -= 3;
  std::string const a = Take(data, size, first);
  std::string const b = Take(data, size, second);
  std::string const text(reinterpret_cast<char const*>(data), size);

  if (mode & 1) {
    HxRsaPublicKey key;
    key.n.hex(a.c_str());
    key.e.hex(b.c_str());
    HxString cipher = key.encrypt(HxString(text.data(), static_cast<int>(text.size())));
    int width = 8 * static_cast<int>(key.n.value().length());
    int blocks = static_cast<int>((text.size() + 15) / 16);
    if (width > 0 && cipher.length() % width != 0) __builtin_trap();
    if (cipher.length() < width * blocks) __builtin_trap();
    return 0;
  }
  HxRsaPrivateKey key;
  key.create(a.substr(0, first % 32).c_str(), b.c_str());
  HxRsaPublicKey pub;
  pub.n = key.n;
  pub.e = key.e;
  // A block of 16 bytes needs a modulus above 128 bits to come back whole.
  if (key.n.value().bits() <= 129 || text.size() > 256) return 0;
  std::string plain = text.c_str();  // zero bytes are the fill of a block
  HxString back = key.decrypt(pub.encrypt(HxString(plain.c_str())));
  if (std::string(back.value(), static_cast<size_t>(back.length())) != plain) __builtin_trap();
  return 0;
}

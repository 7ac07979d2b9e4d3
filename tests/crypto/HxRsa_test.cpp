// Cipher texts and keys below were computed independently with
// arbitrary-precision integers, not with this library.
#include "crypto/HxRsa.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "core/HxDebug.h"
#include "tests/TestUtil.h"

namespace {

char const* const kModulus = "7c41e09a5b3d28f61e0c97a4d3b52816f07e9c2a4b6d81f35e2c0a97b4d61e38";
char const* const kExponent = "00011f07";

HxRsaPublicKey BuiltIn() {
  HxRsaPublicKey key;
  key.n.hex(kModulus);
  key.e.hex(kExponent);
  return key;
}

std::string S(HxLong const& x) { return x.stringvalue().value(); }
using hxtest::S;
HxString Bytes(std::string const& s) { return HxString(s.data(), static_cast<int>(s.size())); }

HxRsaPublicKey PublicOf(HxRsaPrivateKey const& key) {
  HxRsaPublicKey pub;
  pub.n = key.n;
  pub.e = key.e;
  return pub;
}

TEST(HxRsaEncrypt, BuiltInKeyCipherTexts) {
  HxRsaPublicKey key = BuiltIn();
  EXPECT_EQ(S(key.encrypt(HxString("correct horse battery staple 32"))),
            "43da7d78fa8ef47cc4003e742ef505c73c3bf0123b97feed08d41926f19d8c31"
            "1af9222c53a376dbc9cd4a81f928f63ab074b391bc45701eb5515acdefba92c0");
  // A byte above 0x7f enters its block as itself ("e9").
  EXPECT_EQ(S(key.encrypt(HxString("caf\xe9"))), "2d80a78aef7825c0182493650a7b7ee2186347ddad913a4ebea2c1812a9cf9c0");
}

TEST(HxRsaEncrypt, SixteenBytesPerBlock) {
  HxRsaPublicKey key = BuiltIn();
  std::string one = S(key.encrypt(HxString("0123456789abcdef")));
  std::string two = S(key.encrypt(HxString("0123456789abcdefg")));
  EXPECT_EQ(one, "3f9316186a8f5e36a1dc5eb60fd3386e75c1f4df1ab8c3fe4c0d315af08965e0");
  ASSERT_EQ(two.size(), 128u);
  EXPECT_EQ(two.substr(0, 64), one);
  EXPECT_EQ(two.substr(64), "733001d1c7dc80ab376d1acd9b721a9821ac820ddbcf002e4abeacb83156f3b0");
  EXPECT_EQ(S(key.encrypt(HxString("0123456789abcdefg"))), two);  // nothing random
  EXPECT_EQ(two.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(key.encrypt(HxString("")).length(), 0);
  EXPECT_EQ(key.encrypt(HxString()).length(), 0);
}

TEST(HxRsaEncrypt, ShortCipherValuesArePaddedToTheModulusWidth) {
  // With e = 1 the cipher value is the plain block itself, far below 2^224.
  HxRsaPublicKey key;
  key.n.hex(kModulus);
  key.e = HxLong(1u);
  EXPECT_EQ(S(key.encrypt(HxString("A"))),
            "00000000000000000000000000000000"
            "41000000000000000000000000000000");
  EXPECT_EQ(S(key.encrypt(Bytes(std::string(16, '\0')))), std::string(64, '0'));
  EXPECT_EQ(S(key.encrypt(HxLong(7u))), "00000007");
}

TEST(HxRsaEncrypt, UnloadedKeyStaysBounded) {
  HxRsaPublicKey key;
  EXPECT_EQ(S(key.encrypt(HxString("secret"))), "0");
  HxRsaPrivateKey priv;
  EXPECT_EQ(priv.decrypt(HxString("0123")).length(), 0);
  EXPECT_TRUE(priv.decrypt(HxLong(5u)).is_zero());
}

TEST(HxRsaPrimes, Table) {
  prime_factory table;
  ASSERT_EQ(table.count(), 200u);
  EXPECT_EQ(table.prime(0), 2u);
  EXPECT_EQ(table.prime(10), 31u);
  EXPECT_EQ(table.prime(199), 1223u);
  EXPECT_EQ(table.prime(200), 0u);
}

TEST(HxRsaPrimes, FindPrimeSkipsTablePrimes) {
  prime_factory table;
  HxLong start(7u);
  EXPECT_EQ(S(table.find_prime(start)), "000004cd");  // 1229
  EXPECT_EQ(S(start), "000004cd");
  start = HxLong(1223u);
  EXPECT_EQ(S(table.find_prime(start)), "000004cd");
  start = HxLong();
  EXPECT_EQ(S(table.find_prime(start)), "000004cd");
  start = HxLong(1230u);
  EXPECT_EQ(S(table.find_prime(start)), "000004cf");  // 1231, beyond the table
}

TEST(HxRsaCreate, KeysFromSeeds) {
  HxRsaPrivateKey key;
  key.create("render farm seed one", "second seed for the key");
  EXPECT_EQ(S(key.p), "72656e646572206661726d2073656564206f6e89");
  EXPECT_EQ(S(key.q), "007365636f6e64207365656420666f7220746865206b65d1");
  EXPECT_EQ(S(key.n), "003390df0aac2e4ee666a99ed6e1d8cef4da1e78595f89150e0cd96bacc9b92e7936bb1262a207fbc4d84ad9");
  EXPECT_EQ(S(key.e), "0000c353");  // 50001 shares the factor 3 with p - 1 or q - 1

  HxRsaPrivateKey swapped;
  swapped.create("second seed for the key", "render farm seed one");
  EXPECT_EQ(swapped.p.cf(key.p), 0);
  EXPECT_EQ(swapped.q.cf(key.q), 0);
}

TEST(HxRsaCreate, SeedBytesAboveSevenBitsAreSignExtended) {
  HxRsaPrivateKey key;
  key.create("\xe9t\xe9 seed \xff\x80 more bytes", "another fairly long seed");
  EXPECT_EQ(S(key.p), "616e6f7468657220666169726c79206c6f6e67207365659f");
  EXPECT_EQ(S(key.q), "0000010000ffe973e920736666641ffe80206d6f72652062797465e7");
  EXPECT_EQ(S(key.e), "0000c353");
}

TEST(HxRsaCreate, EqualSeedsGiveEqualPrimes) {
  HxRsaPrivateKey key;
  key.create("a", "a");
  EXPECT_EQ(S(key.p), "000004cd");
  EXPECT_EQ(key.p.cf(key.q), 0);
  EXPECT_EQ(S(key.n), "00170c29");
  EXPECT_EQ(S(key.e), "0000c351");
  EXPECT_TRUE(key.e.value().test(0));
}

TEST(HxRsaDecrypt, CrtMatchesThePrivateExponent) {
  HxRsaPrivateKey key;
  key.create("render farm seed one", "second seed for the key");
  HxLong c;
  c.hex("0123456789abcdef0123456789abcdef0123456789abcdef");
  EXPECT_EQ(S(key.decrypt(c)), "001de6f42b7a054bd9a90821c022a6a205d28e6dd0eb035fb8ef03298fbaad972cbc77630f7b6c370812674f");
  // The cipher text is padded to this key's own width (88 digits).
  EXPECT_EQ(S(PublicOf(key).encrypt(HxString("hello, world"))),
            "0016af18c0c144e29c1481a68d578d754d4035c5a07a5e96d93ad2cee3d804785edcd41c5a87c1eb49c709d8");
}

TEST(HxRsaDecrypt, RoundTripsWithCreatedKeys) {
  HxRsaPrivateKey key;
  key.create("render farm seed one", "second seed for the key");
  HxRsaPublicKey pub = PublicOf(key);
  std::string const texts[] = {"x", "fifteen chars!!", "sixteen chars!!!", "seventeen chars!!",
                               "a password of thirty-three bytes.", "caf\xe9 \xff\x80 bytes"};
  for (std::string const& t : texts) {
    HxString plain = key.decrypt(pub.encrypt(Bytes(t)));
    EXPECT_EQ(S(plain), t);
    EXPECT_TRUE(plain.secure());
  }
  // Zero bytes never come back: they cannot be told from the fill.
  EXPECT_EQ(S(key.decrypt(pub.encrypt(Bytes(std::string("ab\0cd", 5))))), "abcd");
  EXPECT_EQ(S(key.decrypt(pub.encrypt(Bytes(std::string(16, '\0') + "tail")))), "tail");
  EXPECT_EQ(key.decrypt(HxString("")).length(), 0);
}

TEST(HxRsaDecrypt, RoundTripsWithEqualPrimes) {
  HxRsaPrivateKey key;
  key.create("seedseedseed", "seedseedseed");
  ASSERT_EQ(key.p.cf(key.q), 0);
  EXPECT_EQ(S(key.decrypt(PublicOf(key).encrypt(HxString("sixteen+one char")))), "sixteen+one char");
}

TEST(HxRsaDecrypt, HostileCipherTexts) {
  HxRsaPrivateKey key;
  key.create("render farm seed one", "second seed for the key");
  HxRsaPublicKey const pub = PublicOf(key);
  size_t const width = 8 * key.n.value().length();  // digits per cipher block
  auto block = [width](std::string digits) { return std::string(width - digits.size(), '0') + digits; };
  std::string const cipher = S(pub.encrypt(HxString("password")));
  std::string upper = cipher;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // 0 and 1 are their own plain numbers, and so are n and n + 1 taken
  // modulo n: their plain texts are known without the key's secret.
  struct Row {
    std::string cipher;
    std::string plain;
  } const rows[] = {
      {"", ""},
      {"z", ""},
      {"0", ""},
      {"1", "\x01"},
      {"xyz-1", "\x01"},
      {std::string("\0\0\xff", 3), ""},
      {block("1"), "\x01"},
      {block("0") + "1", "\x01"},                    // a short last block
      {block("1") + block("1") + "z", "\x01\x01"},
      {S(key.n), ""},
      {S(key.n + HxLong(1u)), "\x01"},
      {upper, "password"},
      {cipher + block("1"), "password\x01"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.cipher));
    HxString const out = key.decrypt(Bytes(row.cipher));
    EXPECT_EQ(S(out), row.plain);
    EXPECT_TRUE(out.secure());
  }
  // Blocks are cut at the modulus's width whatever they hold: a long run of
  // digits decrypts block by block.
  std::string const junk(1000, 'f');
  std::string pieces;
  for (size_t pos = 0; pos < junk.size(); pos += width) pieces += S(key.decrypt(Bytes(junk.substr(pos, width))));
  EXPECT_EQ(S(key.decrypt(Bytes(junk))), pieces);
}

TEST(HxRsaClearText, NeverReachesTheLogOrTheStandardStreams) {
  hxtest::TempFile log("", "hxrsalog");
  int const verbosity = hx_debug_verb();
  hx_debug_verbosity(-1);
  hx_debug_filename(log.path(), 0);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  HxRsaPrivateKey key;
  key.create("render farm seed one", "second seed for the key");
  HxRsaPublicKey pub = PublicOf(key);
  HxString const plain = key.decrypt(pub.encrypt(HxString("clear-text password")));
  BuiltIn().encrypt(HxString("clear-text password"));
  key.decrypt(HxString("not a cipher text at all"));
  std::string const out = testing::internal::GetCapturedStdout();
  std::string const err = testing::internal::GetCapturedStderr();
  hx_debug_filename(HxString(""), 0);
  hx_debug_verbosity(verbosity);
  std::string const logged = log.read();
  EXPECT_EQ(S(plain), "clear-text password");
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  EXPECT_EQ(logged, "");
}

}  // namespace

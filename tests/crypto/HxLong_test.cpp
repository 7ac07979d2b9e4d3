// Expected values below were computed independently with arbitrary-precision
// integers, not with this library.
#include "crypto/HxLong.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

HxLong H(char const* text) {
  HxLong x;
  x.hex(text);
  return x;
}

HxLong Neg(char const* text) { return HxLong() - H(text); }

std::string S(HxLong const& x) { return x.stringvalue().value(); }

HxLong U64(uint64_t v) {
  HxLong x;
  x.value().set(1, static_cast<uint32_t>(v >> 32));
  x.value().set(0, static_cast<uint32_t>(v));
  return x;
}

uint64_t ToU64(HxLong const& x) {
  EXPECT_LE(x.value().length(), 2u);
  return (static_cast<uint64_t>(x.value().get(1)) << 32) | x.value().get(0);
}

// Two 256-bit and 160-bit operands, an odd and an even 256-bit modulus.
char const* const kA = "d7c3a1f09e5b2c4d8f1e6a7b3c9d0e2f4a5b6c7d8e9f0a1b2c3d4e5f60718293";
char const* const kB = "9b8a7c6d5e4f30211f2e3d4c5b6a79880f1e2d3c";
char const* const kOdd = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
char const* const kEven = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b856";

TEST(HxLongText, PrintsWholeLimbs) {
  EXPECT_EQ(S(HxLong()), "0");
  EXPECT_EQ(S(HxLong(1u)), "00000001");
  HxLong two32(1u);
  two32.value().shl(32);
  EXPECT_EQ(S(two32), "0000000100000000");
  EXPECT_EQ(S(HxLong(0xdeadbeefu)), "deadbeef");
}

TEST(HxLongText, HexSkipsOtherCharacters) {
  EXPECT_EQ(S(H("1f")), "0000001f");
  EXPECT_EQ(S(H("1F")), "0000001f");
  EXPECT_EQ(S(H("1 f")), "0000001f");
  EXPECT_EQ(S(H("")), "0");
  EXPECT_EQ(S(H(nullptr)), "0");
  EXPECT_EQ(S(H("xyz-!")), "0");
  EXPECT_EQ(S(H("0000000000000000000000ab")), "000000ab");
  EXPECT_EQ(S(H("-12")), "00000012");  // no sign in hex text
  EXPECT_EQ(S(H(kA)), kA);
  EXPECT_EQ(S(H("1 2345678 9abcdef0")), "123456789abcdef0");
}

TEST(HxLongText, ReadingAgainStartsFromZero) {
  HxLong x = Neg(kA);
  x.hex("5");
  EXPECT_EQ(S(x), "00000005");
  x.decimal("");
  EXPECT_EQ(S(x), "0");
}

TEST(HxLongText, Decimal) {
  HxLong x;
  x.decimal("123456789012345678901234567890123456789012345678901234567890");
  EXPECT_EQ(S(x), "00000013aaf504e4bc1e62173f87a4378c37b49c8ccff196ce3f0ad2");
  x.decimal("4294967296");
  EXPECT_EQ(S(x), "0000000100000000");
  x.decimal("1,000");  // characters other than digits are skipped
  EXPECT_EQ(S(x), "000003e8");
  x.decimal("000");
  EXPECT_EQ(S(x), "0");
}

TEST(HxUnitStorage, SetGrowsExactly) {
  HxUnit u;
  u.set(5, 0);
  EXPECT_EQ(u.length(), 0u);
  EXPECT_EQ(u.capacity(), 0u);
  EXPECT_EQ(u.data(), nullptr);
  u.set(3, 9);
  EXPECT_EQ(u.length(), 4u);
  EXPECT_EQ(u.capacity(), 4u);
  EXPECT_EQ(u.get(0), 0u);
  EXPECT_EQ(u.get(3), 9u);
  EXPECT_EQ(u.get(100), 0u);
  u.set(3, 0);  // the top limb becomes zero: the length drops to the next non-zero limb
  EXPECT_EQ(u.length(), 0u);

  HxLong seven(7u);
  seven.value().set(0, 0);
  EXPECT_TRUE(seven.is_zero());
  EXPECT_EQ(seven.value().length(), 0u);
}

TEST(HxUnitStorage, ClearWipesEveryLimb) {
  HxLong x = H(kA);
  x.value().reserve(20);  // spare room beyond the value
  ASSERT_EQ(x.value().capacity(), 20u);
  ASSERT_EQ(x.value().length(), 8u);
  x.value().clear();
  EXPECT_TRUE(x.is_zero());
  EXPECT_EQ(x.value().capacity(), 20u);
  for (unsigned i = 0; i < 20; ++i) EXPECT_EQ(x.value().data()[i], 0u) << i;
}

TEST(HxUnitStorage, ShorterCopyLeavesNoStaleLimbs) {
  HxLong x = H(kA);
  x = HxLong(5u);
  for (unsigned i = 1; i < x.value().capacity(); ++i) EXPECT_EQ(x.value().data()[i], 0u) << i;
  x = H(kB);
  x.value().shr(100);
  for (unsigned i = x.value().length(); i < x.value().capacity(); ++i) EXPECT_EQ(x.value().data()[i], 0u) << i;
}

TEST(HxUnitStorage, FastMulKeepsLowBits) {
  HxLong a = H(kA), r;
  r.value().fast_mul(a.value(), a.value(), 100);
  EXPECT_EQ(S(r), "0000000fb758444aa633d15cc85fa069");
  r.value().fast_mul(a.value(), a.value(), 0);
  EXPECT_TRUE(r.is_zero());
  a.value().fast_mul(a.value(), H(kB).value(), 1000);  // the result may be an operand
  EXPECT_EQ(S(a), "83182b60ebcfa4865a00fec08d5492503d744240695bb340d87c97de17b6f496b2dc59d6b5fb50c4ef70b63b1fdbef5a78c87174");
}

// A value whose buffer is exactly full must grow for the carry; the sanitizer
// build catches a write past it.
TEST(HxLongValueOps, CarryOutOfAFullBuffer) {
  HxLong x = H("ffffffffffffffff");
  ASSERT_EQ(x.value().capacity(), 2u);
  x.value().shl();
  EXPECT_EQ(S(x), "00000001fffffffffffffffe");
  HxLong y = H("ffffffffffffffff");
  y.value().add(H("1").value());
  EXPECT_EQ(S(y), "000000010000000000000000");
  HxLong z = H("ffffffff");
  z.value().add(z.value());
  EXPECT_EQ(S(z), "00000001fffffffe");
  // A borrow into a limb of y that is 0xffffffff.
  EXPECT_EQ(S(H("10000000000000000") - H("ffffffffffffffff")), "00000001");
}

TEST(HxLongValueOps, BitsAndShifts) {
  HxLong a = H(kA);
  EXPECT_EQ(a.value().bits(), 256u);
  EXPECT_EQ(HxLong().value().bits(), 0u);
  EXPECT_EQ(HxLong(1u).value().bits(), 1u);
  EXPECT_TRUE(a.value().test(0));
  EXPECT_FALSE(a.value().test(2));
  EXPECT_TRUE(a.value().test(255));
  EXPECT_FALSE(a.value().test(256));
  HxLong l = a, r = a;
  l.value().shl(77);
  r.value().shr(77);
  EXPECT_EQ(S(l), "00001af8743e13cb6589b1e3cd4f6793a1c5e94b6d8fb1d3e1436587a9cbec0e305260000000000000000000");
  EXPECT_EQ(S(r), "0006be1d0f84f2d9626c78f353d9e4e8717a52db63ec74f8");
  r = a;
  r.value().shr(256);
  EXPECT_TRUE(r.is_zero());
  r = HxLong(3u);
  r.value().shr();
  EXPECT_EQ(S(r), "00000001");
}

TEST(HxLongSigns, SubtractionAndDivisionSigns) {
  EXPECT_EQ(S(HxLong(5u) - HxLong(7u)), "-00000002");
  EXPECT_EQ(S(Neg("7") % HxLong(3u)), "-00000001");
  EXPECT_EQ(S(Neg("7") / HxLong(2u)), "-00000003");
  EXPECT_EQ(S(HxLong(7u) / Neg("2")), "-00000003");
  EXPECT_EQ(S(HxLong(7u) % Neg("3")), "00000001");
  EXPECT_EQ(S(Neg("5") - Neg("7")), "00000002");
  EXPECT_EQ(S(Neg("5") + HxLong(7u)), "00000002");
  EXPECT_EQ(S(HxLong(5u) + Neg("7")), "-00000002");
  EXPECT_EQ(S(Neg("5") * Neg("3")), "0000000f");
  EXPECT_EQ(S(Neg("5") * HxLong(3u)), "-0000000f");
}

TEST(HxLongSigns, Comparison) {
  EXPECT_EQ(Neg("5").cf(Neg("3")), -1);
  EXPECT_EQ(Neg("3").cf(Neg("5")), 1);
  EXPECT_EQ(Neg("3").cf(HxLong(2u)), -1);
  EXPECT_EQ(HxLong(2u).cf(Neg("3")), 1);
  EXPECT_EQ(H(kA).cf(H(kB)), 1);
  EXPECT_EQ(H(kB).cf(H(kA)), -1);
  EXPECT_EQ(H(kA).cf(H(kA)), 0);
}

TEST(HxLongSigns, NegativeZeroIsZero) {
  HxLong z = Neg("5") - Neg("5");
  EXPECT_TRUE(z.is_zero());
  EXPECT_TRUE(z.negative());
  EXPECT_EQ(z.cf(HxLong()), 0);
  EXPECT_EQ(HxLong().cf(z), 0);
  EXPECT_EQ(z.cf(HxLong(1u)), -1);
  EXPECT_EQ(z.cf(Neg("1")), 1);
  EXPECT_EQ(S(z + HxLong(3u)), "00000003");
  EXPECT_EQ(S(z - HxLong(3u)), "-00000003");
  EXPECT_EQ(S(z), "-0");
}

TEST(HxLongArithmetic, Wide) {
  HxLong a = H(kA), b = H(kB);
  EXPECT_EQ(S(a + b), "d7c3a1f09e5b2c4d8f1e6a7bd8278a9ca8aa9c9eadcd476787a7c7e76f8fafcf");
  EXPECT_EQ(S(a - b), "d7c3a1f09e5b2c4d8f1e6a7aa11291c1ec0c3c5c6f70ccced0d2d4d751535557");
  EXPECT_EQ(S(b - a), "-d7c3a1f09e5b2c4d8f1e6a7aa11291c1ec0c3c5c6f70ccced0d2d4d751535557");
  EXPECT_EQ(S(a * b), "83182b60ebcfa4865a00fec08d5492503d744240695bb340d87c97de17b6f496b2dc59d6b5fb50c4ef70b63b1fdbef5a78c87174");
  EXPECT_EQ(S(a / b), "00000001631e9956959015291a0fc1c7");
  EXPECT_EQ(S(a % b), "64dfd7b21f8147f09125e7c2a30c243d215e1cef");
  HxLong c = a;
  c *= b;
  c /= b;
  EXPECT_EQ(c.cf(a), 0);
  HxLong& same = c;  // the operand is the target itself
  c -= same;
  EXPECT_TRUE(c.is_zero());
  c = a;
  c += same;
  EXPECT_EQ(c.cf(a * HxLong(2u)), 0);
}

TEST(HxLongArithmetic, DivisionIdentityOverManyShapes) {
  // Divisors with top limbs of every size, including ones where a quotient
  // digit estimate overshoots; q × y + r must give x back with r below y.
  uint64_t seed = 0x9e3779b97f4a7c15ull;
  auto next = [&seed]() {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return static_cast<uint32_t>(seed);
  };
  for (int round = 0; round < 400; ++round) {
    HxLong x, y;
    unsigned xl = 1 + next() % 12, yl = 1 + next() % 6;
    for (unsigned i = 0; i < xl; ++i) x.value().set(i, next());
    for (unsigned i = 0; i < yl; ++i) {
      uint32_t v = next();
      if (round % 3 == 0) v |= 0x80000000u;  // normalised already
      if (round % 5 == 0) v = i + 1 == yl ? 1 : 0xffffffffu;
      y.value().set(i, v);
    }
    if (y.is_zero()) continue;
    HxLong q = x / y, r = x % y;
    EXPECT_EQ((q * y + r).cf(x), 0) << S(x) << " / " << S(y);
    EXPECT_LT(r.cf(y), 0) << S(x) << " / " << S(y);
  }
  HxLong big = H("ffffffffffffffffffffffffffffffff");
  EXPECT_EQ(S(big / H("10000000000000001")), "ffffffffffffffff");
  EXPECT_TRUE((big % H("10000000000000001")).is_zero());
}

TEST(HxLongArithmetic, DivisionAtTheQuotientEstimateEdges) {
  // Operands where a quotient limb estimated from the top limbs is one too
  // large and the divisor must be added back, and where the subtracted
  // product exceeds what a signed limb could hold.
  struct Row {
    char const* x;
    char const* y;
    char const* q;
    char const* r;
  } const rows[] = {
      {"7fffffff800000000000000000000000", "800000000000000000000001", "fffffffe", "7fffffffffffffff00000002"},
      {"800000000000000000000003", "200000000000000000000001", "00000003", "200000000000000000000000"},
      {"80000000000000000003", "20000000000000000001", "00000003", "000020000000000000000000"},
      {"80000000fffffffe00000000", "80000000ffffffff", "ffffffff", "7fffffffffffffff"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.x);
    EXPECT_EQ(S(H(row.x) / H(row.y)), row.q);
    EXPECT_EQ(S(H(row.x) % H(row.y)), row.r);
  }
}

TEST(HxLongArithmetic, DivisionByZeroGivesZero) {
  HxLong a = H(kA), zero;
  EXPECT_TRUE((a / zero).is_zero());
  EXPECT_TRUE((a % zero).is_zero());
  EXPECT_FALSE((Neg("5") / zero).negative());
  a /= zero;
  EXPECT_TRUE(a.is_zero());
  HxLongValue q, r;
  q.divide(H(kA).value(), zero.value(), r);
  EXPECT_TRUE(q.is_zero());
  EXPECT_TRUE(r.is_zero());
}

TEST(HxLongNumberTheory, GcdAndInverse) {
  EXPECT_EQ(S(gcd(HxLong(12u), HxLong(18u))), "00000006");
  EXPECT_EQ(S(gcd(HxLong(18u), HxLong(12u))), "00000006");
  EXPECT_EQ(S(gcd(HxLong(7u), HxLong())), "00000007");
  EXPECT_EQ(S(gcd(H("c2b187201ee444f9fc24721533b1b7ccac187ee54bb1821e84eb51b810066cd2a5"),
                  H("a5deaeb0a192725352404f5e6d7c8b9a181f2e3cfc"))),
            "00000111");
  EXPECT_EQ(S(modinv(HxLong(3u), HxLong(7u))), "00000005");
  EXPECT_EQ(S(modinv(H(kA), H(kOdd))), "3ae82c3b14108d819f6f73dbed7855091040f3d972f1e2a0e74bfd07c9896020");
  HxLong inv = modinv(H(kB), H(kOdd));
  EXPECT_EQ(S(inv * H(kB) % H(kOdd)), "00000001");
}

TEST(HxLongNumberTheory, ModexpOddAndEvenModuli) {
  EXPECT_EQ(S(modexp(HxLong(4u), HxLong(13u), HxLong(497u))), "000001bd");  // 445
  EXPECT_EQ(S(modexp(HxLong(4u), HxLong(13u), HxLong(498u))), "00000178");  // 376
  HxLong a = H(kA), e(0x10001u);
  EXPECT_EQ(S(modexp(a, e, H(kOdd))), "14c9fc5edfc6f653c0147b374af06a7d7738369e73b12cfbe9607fbbb4cf455c");
  EXPECT_EQ(S(modexp(a, e, H(kEven))), "209ca05e47a382fe84790d8c63a731ef6051fba44f2a0f31a038ee34f5329063");
  EXPECT_EQ(S(modexp(a, H(kB), H(kOdd))), "96066e7cc59c2812f8a92d4e0e76e4b6757b3426630e80cdc02cc65a61684b8c");
  EXPECT_EQ(S(modexp(a, H(kB), H(kEven))), "63731b4406c8c5acbdfa6b29f5713ea43e43505291e40401d56a8a8956a068ad");
  // A negative base is reduced into 0 .. m - 1 first.
  EXPECT_EQ(S(modexp(HxLong() - a, e, H(kOdd))), "cee6c7e3b93525c0dae779914e7f4ea6b0760b45f0ea6650bb35195fc38372f9");
}

TEST(HxLongNumberTheory, ModexpMatchesMachineArithmetic) {
  auto reference = [](uint64_t x, uint64_t e, uint64_t m) {
    using u128 = unsigned __int128;
    u128 r = 1 % m, b = x % m;
    for (; e != 0; e >>= 1) {
      if (e & 1) r = r * b % m;
      b = b * b % m;
    }
    return static_cast<uint64_t>(r);
  };
  std::vector<uint64_t> moduli;
  for (uint64_t m = 1; m <= 300; ++m) moduli.push_back(m);
  for (uint64_t m : {0xfffffffbull, 0xffffffffull, 0x100000000ull, 0x10000000full, 0x1ffffffffull,
                     0x8000000000000001ull, 0xffffffffffffffc5ull, 0xfffffffffffffffeull}) {
    moduli.push_back(m);
  }
  for (uint64_t m : moduli) {
    for (uint64_t x : {uint64_t{0}, uint64_t{1}, uint64_t{2}, m - 1, uint64_t{0xdeadbeefcafebabe}}) {
      for (uint64_t e : {0ull, 1ull, 2ull, 3ull, 65537ull, 0xffffffffffffffffull}) {
        ASSERT_EQ(ToU64(modexp(U64(x), U64(e), U64(m))), reference(x, e, m)) << x << "^" << e << " mod " << m;
      }
    }
  }
}

TEST(HxLongNumberTheory, ModexpDegenerateArguments) {
  HxLong a = H(kA);
  EXPECT_EQ(S(modexp(a, HxLong(), H(kOdd))), "00000001");
  EXPECT_EQ(S(modexp(a, HxLong(), H(kEven))), "00000001");
  EXPECT_EQ(S(modexp(a, HxLong(), HxLong(1u))), "0");
  EXPECT_EQ(S(modexp(a, HxLong(5u), HxLong(1u))), "0");
  EXPECT_EQ(S(modexp(a, HxLong(5u), HxLong())), "0");
  EXPECT_EQ(S(modexp(HxLong(), HxLong(5u), H(kOdd))), "0");
  EXPECT_EQ(S(modexp(HxLong(3u), HxLong(5u), HxLong(2u))), "00000001");
  EXPECT_EQ(S(modexp(HxLong(3u), HxLong(5u), HxLong(256u))), "000000f3");  // 243
}

TEST(HxLongNumberTheory, MontgomeryContextDirectly) {
  monty odd(HxLong(497u));
  EXPECT_EQ(S(odd.exp(HxLong(4u), HxLong(13u))), "000001bd");
  EXPECT_EQ(S(odd.exp(HxLong(4u), HxLong())), "00000001");
  monty even(HxLong(498u));
  EXPECT_EQ(S(even.exp(HxLong(4u), HxLong(13u))), "00000178");
  HxLong x(20u);
  even.mul(x, HxLong(30u));
  EXPECT_EQ(S(x), "00000066");  // 600 mod 498 = 102
}

}  // namespace

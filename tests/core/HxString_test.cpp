#include "core/HxString.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>
#include <string>
#include <type_traits>

// Watching released buffers, to see that a secure string zeroed a buffer
// before giving it up: the test looks at the buffer's bytes the moment it is
// released. In the plain build the test binary replaces the array allocation
// functions (which HxString uses for its buffers); under AddressSanitizer,
// which keeps its own allocator, a free hook of the sanitizer runs before the
// memory is poisoned.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HX_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HX_TEST_ASAN 1
#endif

namespace {
void const* g_watched = nullptr;
int g_watched_size = 0;
bool g_seen = false;
char g_seen_bytes[512];

// Starts watching the buffer at p (n bytes) for its release.
void watch(char const* p, int n) {
  ASSERT_LE(n, static_cast<int>(sizeof g_seen_bytes));
  g_seen = false;
  g_watched_size = n;
  g_watched = p;
}

bool seen_all_zero() {
  if (!g_seen) return false;
  for (int i = 0; i < g_watched_size; ++i)
    if (g_seen_bytes[i] != 0) return false;
  return true;
}

void capture(void const volatile* p) {
  if (p != nullptr && p == g_watched) {
    std::memcpy(g_seen_bytes, const_cast<void const*>(p), static_cast<size_t>(g_watched_size));
    g_seen = true;
    g_watched = nullptr;
  }
}
}  // namespace

#ifdef HX_TEST_ASAN
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(void const volatile*, size_t),
                                                         void (*free_hook)(void const volatile*));
namespace {
void ignore_allocation(void const volatile*, size_t) {}
int const g_hooks_installed = __sanitizer_install_malloc_and_free_hooks(ignore_allocation, capture);
}  // namespace
#else
// Strings made in one block are released through the scalar operator delete.
// (Out of line: inlined into a delete expression, the free of memory from
// the matching operator new looks mismatched to the compiler.)
namespace {
[[gnu::noinline]] void capture_and_free(void* p) {
  capture(p);
  std::free(p);
}
}  // namespace
void* operator new(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { capture_and_free(p); }
void operator delete(void* p, std::size_t) noexcept { capture_and_free(p); }
void* operator new[](std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete[](void* p) noexcept {
  capture(p);
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  capture(p);
  std::free(p);
}
#endif

namespace {

// ---- the three states -------------------------------------------------------

TEST(HxStringStates, DefaultIsUndefinedWithEmptyValue) {
  HxString s;
  EXPECT_TRUE(s.isundef());
  EXPECT_EQ(0, s.length());
  EXPECT_EQ(0, s.capacity());
  ASSERT_NE(nullptr, s.value());
  EXPECT_STREQ("", s.value());
}

TEST(HxStringStates, EmptyTextIsDefinedWithSixteenBytes) {
  HxString s("");
  EXPECT_FALSE(s.isundef());
  EXPECT_EQ(0, s.length());
  EXPECT_EQ(16, s.capacity());

  HxString t;
  t = "";
  EXPECT_FALSE(t.isundef());
  EXPECT_EQ(16, t.capacity());
}

TEST(HxStringStates, CountedBufferOfZeroStaysUndefined) {
  HxString s("abc", 0);
  EXPECT_TRUE(s.isundef());
  HxString t(std::string{});
  EXPECT_TRUE(t.isundef());
  HxString u(static_cast<char const*>(nullptr));
  EXPECT_TRUE(u.isundef());
}

TEST(HxStringStates, EmptyingKeepsTheStateAndTheBuffer) {
  HxString undef;
  undef.clear();
  undef.copy("x", 0);
  undef = HxString();
  EXPECT_TRUE(undef.isundef());

  HxString s("hello");
  int cap = s.capacity();
  s.clear();
  EXPECT_FALSE(s.isundef());
  EXPECT_EQ(0, s.length());
  EXPECT_EQ(cap, s.capacity());
  EXPECT_STREQ("", s.value());
}

TEST(HxStringStates, CopyOfEmptyOrUndefinedEmptiesWithoutCreatingABuffer) {
  HxString empty("");
  HxString copied(empty);
  EXPECT_TRUE(copied.isundef());

  HxString target("old text");
  target = HxString();
  EXPECT_FALSE(target.isundef());
  EXPECT_EQ(0, target.length());

  HxString target2("old text");
  HxString none;
  target2 = none;
  EXPECT_FALSE(target2.isundef());
  EXPECT_EQ(0, target2.length());
}

TEST(HxStringStates, StandardStringConstructorStopsAtNulButCopyTakesAll) {
  std::string raw("ab\0cd", 5);
  HxString a(raw);
  EXPECT_EQ(2, a.length());
  HxString b;
  b = raw;
  EXPECT_EQ(5, b.length());
  EXPECT_EQ(0, std::memcmp(b.value(), "ab\0cd", 6));
}

TEST(HxStringStates, CountedCopyMovesArbitraryBytes) {
  HxString s("a\0b\xff", 4);
  EXPECT_EQ(4, s.length());
  EXPECT_EQ('\xff', s.value()[3]);
  EXPECT_EQ(0, s.value()[4]);
}

TEST(HxStringStates, OwnBufferAsSourceChangesNothing) {
  HxString s("hello");
  s.copy(s.value());
  s.copy(s.value(), 2);
  EXPECT_STREQ("hello", s.value());
  HxString& alias = s;
  s = alias;
  EXPECT_STREQ("hello", s.value());
  // A piece further inside the own text is taken like any other bytes.
  s.copy(s.value() + 1, 3);
  EXPECT_STREQ("ell", s.value());
}

// ---- the capacity rule -------------------------------------------------------

TEST(HxStringCapacity, GrowsToFourTimesPlusFour) {
  HxString s;
  s.append("abc");
  EXPECT_EQ(16, s.capacity());

  HxString t("");
  t.append("01234567890123456789");
  EXPECT_EQ(84, t.capacity());
}

TEST(HxStringCapacity, OneCharacterGrowsWhenFewerThanTwoBytesAreFree) {
  HxString s("");
  s.append("01234567890123");  // 14 bytes in 16
  ASSERT_EQ(16, s.capacity());
  s += 'x';
  EXPECT_EQ(16, s.capacity());
  s += 'y';  // 15 bytes in 16: grows to 4 * 15 + 8
  EXPECT_EQ(68, s.capacity());
  EXPECT_STREQ("01234567890123xy", s.value());
}

TEST(HxStringCapacity, ALargerBufferIsReusedAndNeverGivenBack) {
  HxString s("a fairly long text of some thirty bytes");
  int cap = s.capacity();
  s = "short";
  EXPECT_EQ(cap, s.capacity());
  s = HxString("x");
  EXPECT_EQ(cap, s.capacity());
  // Exactly the capacity in text is not room enough (the NUL needs a byte).
  HxString t("0123456789abcdef", 15);
  ASSERT_EQ(64, t.capacity());
  t.copy(std::string(64, 'z'));
  EXPECT_EQ(260, t.capacity());
}

// A string whose copy(HxString const&) counts its calls.
class CountingString : public HxString {
 public:
  using HxString::operator=;
  void copy(HxString const& other) override {
    ++copies;
    HxString::copy(other);
  }
  int copies = 0;
};

// Assignment from a temporary and moving construction give what a copy gives:
// the capacity rule decides the buffer, the secure flag travels, and an
// override of copy sees the assignment.
TEST(HxStringCapacity, FromATemporaryAsFromACopy) {
  // Twenty bytes built by appends: the source's buffer is 68 bytes, a copy
  // of it gets 4 x 20 + 4 = 84.
  auto appended = [] {
    HxString s;
    for (char c : std::string("abcdefghijklmnopqrst")) s.append(c);
    return s;
  };
  auto secret = [] {
    HxString s("0123456789");
    s.secure(1);
    return s;
  };
  struct Row {
    char const* name;
    HxString (*target)();
    HxString (*source)();
    int capacity;
    bool undefined;
    unsigned char secure;
  } const rows[] = {
      {"into 16 bytes", [] { return HxString(""); }, appended, 84, false, 0},
      {"into undefined", [] { return HxString(); }, appended, 84, false, 0},
      {"into a larger buffer", [] { HxString t; t._resize(200); return t; }, appended, 200, false, 0},
      {"exact buffer", [] { return HxString(); }, [] { return HxString("abcdefghijklmnopqrst"); }, 84, false, 0},
      {"empty into undefined", [] { return HxString(); }, [] { return HxString(""); }, 0, true, 0},
      {"undefined into 16 bytes", [] { return HxString(""); }, [] { return HxString(); }, 16, false, 0},
      {"secure", [] { return HxString(); }, secret, 44, false, 1},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    HxString const lvalue = row.source();
    auto check = [&](HxString const& got, char const* how) {
      SCOPED_TRACE(how);
      EXPECT_EQ(got.capacity(), row.capacity);
      EXPECT_EQ(got.isundef(), row.undefined);
      EXPECT_EQ(got.secure(), row.secure);
      EXPECT_EQ(std::string(got.value()), std::string(lvalue.value()));
    };
    HxString assigned = row.target();
    assigned = row.source();
    check(assigned, "assigned a temporary");
    HxString copied = row.target();
    copied = lvalue;
    check(copied, "assigned a copy");
    if (row.target().capacity() == 0) {  // construction starts undefined
      HxString from = row.source();
      HxString moved(std::move(from));
      check(moved, "moved");
      check(HxString(lvalue), "copy-constructed");
    }
  }
  CountingString counted;
  counted = appended();
  HxString other("y");
  counted = std::move(other);
  counted = HxString("x");
  EXPECT_EQ(counted.copies, 3);
  EXPECT_STREQ(counted.value(), "x");
}

TEST(HxStringCapacity, ResizeDropsTheText) {
  HxString s("some text");
  s._resize(4);
  EXPECT_EQ(16, s.capacity());
  EXPECT_EQ(0, s.length());
  EXPECT_STREQ("", s.value());
  s._resize(100);
  EXPECT_EQ(100, s.capacity());
  EXPECT_EQ(0, s.length());
  s += "ok";
  EXPECT_STREQ("ok", s.value());
}

// ---- appending to itself --------------------------------------------------------

TEST(HxStringAppend, ToItselfAcrossAGrowth) {
  HxString s("");
  s.append("0123456789abc");  // 13 bytes in 16: doubling needs a new buffer
  ASSERT_EQ(16, s.capacity());
  s += s;
  EXPECT_STREQ("0123456789abc0123456789abc", s.value());
  EXPECT_EQ(26, s.length());
  s += &s;
  EXPECT_EQ(52, s.length());
  EXPECT_EQ(0, std::strncmp(s.value() + 39, "0123456789abc", 13));
}

TEST(HxStringAppend, ToItselfWithoutGrowthAndFromInside) {
  HxString s("ab");
  s += s;
  EXPECT_STREQ("abab", s.value());
  s.append(s.value() + 1, 2);
  EXPECT_STREQ("ababba", s.value());
  HxString big("0123456789");
  big.append(big.value() + 5, 5);
  EXPECT_STREQ("012345678956789", big.value());
}

TEST(HxStringAppend, NothingForNullEmptyOrNonPositive) {
  HxString s;
  s.append(nullptr);
  s.append("");
  s.append("abc", 0);
  s.append("abc", -1);
  s += static_cast<HxString const*>(nullptr);
  s += HxString();
  EXPECT_TRUE(s.isundef());
}

TEST(HxStringAppend, NumbersAndPadding) {
  HxString s;
  s += 12;
  s += ' ';
  s += -3000000000LL;
  s += ' ';
  s += 1.5f;
  EXPECT_STREQ("12 -3000000000 1.500000", s.value());

  HxString p;
  p.integervalue(7, 3);
  p += '|';
  p.integervalue(-7, 3);
  p += '|';
  p.integervalue(5, 4, ' ');
  p += '|';
  p.integervalue(-5, 4, '0');
  p += '|';
  p.integervalue(123, 2);
  EXPECT_STREQ("007|-07|   5|00-5|123", p.value());
}

TEST(HxStringAppend, WideWidthsAreFormattedWhole) {
  HxString p = HxString::padded_int(-42, 40);
  ASSERT_EQ(40, p.length());
  EXPECT_EQ('-', p.get(0));
  EXPECT_EQ(std::string(37, '0') + "42", std::string(p.value() + 1));
  HxString q;
  q.integervalue(9, 100, '.');
  EXPECT_EQ(100, q.length());
  EXPECT_EQ('9', q.get(99));
  EXPECT_EQ('.', q.get(98));
}

TEST(HxStringAppend, HexOfAByte) {
  HxString s;
  s.hexvalue('\n');
  s.hexvalue('\xff');
  s.hexvalue('\0');
  EXPECT_STREQ("0AFF00", s.value());
}

// ---- conversions -------------------------------------------------------------

// Numbers become text only when asked: a character or a count passed where a
// string is expected must not compile into its decimal text.
static_assert(std::is_constructible_v<HxString, int> && !std::is_convertible_v<int, HxString>);
static_assert(std::is_constructible_v<HxString, long long> && !std::is_convertible_v<long long, HxString>);
static_assert(std::is_constructible_v<HxString, float> && !std::is_convertible_v<float, HxString>);
static_assert(!std::is_convertible_v<char, HxString> && !std::is_convertible_v<bool, HxString>);
static_assert(!std::is_convertible_v<double, HxString> && !std::is_convertible_v<unsigned, HxString>);
static_assert(std::is_convertible_v<char const*, HxString> && std::is_convertible_v<std::string, HxString>);

TEST(HxStringConvert, NumbersIn) {
  EXPECT_STREQ("-17", HxString(-17).value());
  EXPECT_STREQ("-9223372036854775808", HxString(static_cast<long long>(-9223372036854775807LL - 1)).value());
  EXPECT_STREQ("0.250000", HxString(0.25f).value());
  HxString c;
  c = 'Q';
  EXPECT_STREQ("Q", c.value());
  c.floatvalue(-2.0f);
  EXPECT_STREQ("-2.000000", c.value());
}

TEST(HxStringConvert, NumbersOut) {
  EXPECT_EQ(42, HxString("42abc").integervalue());
  EXPECT_EQ(0, HxString("abc").integervalue());
  EXPECT_EQ(0, HxString().integervalue());
  EXPECT_EQ(-9000000000LL, HxString("-9000000000").longlongvalue());
  EXPECT_FLOAT_EQ(2.5f, HxString("2.5").floatvalue());
  EXPECT_EQ(0.0f, HxString().floatvalue());
}

TEST(HxStringConvert, Hex) {
  EXPECT_EQ(255u, HxString("ff").hexvalue());
  EXPECT_EQ(16u, HxString("1g").hexvalue());
  EXPECT_EQ(0u, HxString().hexvalue());
  EXPECT_EQ(0x23456789u, HxString("123456789").hexvalue());  // wraps modulo 2^32
  EXPECT_EQ(10, HxString("A").hexchar());
  EXPECT_EQ(65, HxString("4142").hexchar());
  EXPECT_EQ(0, HxString("zz").hexchar());
}

TEST(HxStringConvert, IntegerAndFloatShapes) {
  for (char const* yes : {"-", "0012", "7"}) EXPECT_TRUE(HxString(yes).isinteger()) << yes;
  for (char const* no : {"1.0", "+1", "", "1-", "12a"}) EXPECT_FALSE(HxString(no).isinteger()) << no;
  for (char const* yes : {".", "-.5", "+5.", "3", "+"}) EXPECT_TRUE(HxString(yes).isfloat()) << yes;
  for (char const* no : {"1.2.3", "1e5", "", "..", "a"}) EXPECT_FALSE(HxString(no).isfloat()) << no;
}

TEST(HxStringConvert, CopyValueAndGetSet) {
  char* v = HxString().copyvalue();
  EXPECT_STREQ("", v);
  delete[] v;
  HxString s("abc");
  v = s.copyvalue();
  EXPECT_STREQ("abc", v);
  delete[] v;
  EXPECT_EQ(0, s.get(-1));
  EXPECT_EQ(0, s.get(3));
  s.set(3, 'x');
  s.set(-1, 'x');
  s.set(1, 'B');
  EXPECT_STREQ("aBc", s.value());
  EXPECT_EQ(static_cast<char>(-1), HxString("\xff").get(0));
}

TEST(HxStringConvert, WipeKeepsLengthAndCapacity) {
  HxString s("secret");
  s.wipe();
  EXPECT_EQ(6, s.length());
  EXPECT_EQ(28, s.capacity());
  EXPECT_STREQ("", s.value());
}

TEST(HxStringConvert, TextTests) {
  EXPECT_TRUE(HxString("a\rb").multiline());
  EXPECT_FALSE(HxString("a b").multiline());
  EXPECT_TRUE(HxString("a\tb").hasspace());
  EXPECT_FALSE(HxString("ab").hasspace());
  EXPECT_TRUE(HxString("abc").haschar('c'));
  EXPECT_FALSE(HxString().haschar('c'));
  EXPECT_EQ(1, HxString("banana").find("nan"));
  EXPECT_EQ(0, HxString("banana").find("nab"));
  EXPECT_EQ(0, HxString("an").find("ana"));
  EXPECT_EQ(1, HxString().find(HxString()));
  EXPECT_EQ(0, HxString().find("a"));
}

TEST(HxStringConvert, StreamAndDebugInfo) {
  std::ostringstream out;
  out << HxString("x y") << HxString();
  EXPECT_EQ("x y", out.str());
  testing::internal::CaptureStdout();
  HxString("ab")._debug_info();
  EXPECT_EQ("HxString:\n\tsize: 16\n\tlength: 2\n\tdata: 'ab'\n", testing::internal::GetCapturedStdout());
}

// ---- derived strings -----------------------------------------------------------

TEST(HxStringDerived, Substr) {
  HxString s("hello");
  EXPECT_STREQ("llo", s.substr(2, 10).value());
  EXPECT_TRUE(s.substr(5, 1).isundef());
  EXPECT_TRUE(s.substr(1, 0).isundef());
  HxString before = s.substr(-1, 3);  // the position before the text reads as a zero byte
  ASSERT_EQ(3, before.length());
  EXPECT_EQ(0, before.get(0));
  EXPECT_EQ('h', before.get(1));
}

TEST(HxStringDerived, CaseAndControls) {
  EXPECT_STREQ("abc1", HxString("AbC1").tolower().value());
  EXPECT_STREQ("ABC1", HxString("AbC1").toupper().value());
  EXPECT_TRUE(HxString("").tolower().isundef());
  EXPECT_STREQ("a\tb\nc\rd~", HxString("a\tb\nc\rd~\x7f\x01\x80\xff").removecontrolchars().value());
  EXPECT_STREQ("a\r\nb\r\nc", HxString("a\nb\r\nc").LFtoCRLF().value());
  EXPECT_STREQ("\r\n\r\n", HxString("\n\n").LFtoCRLF().value());
}

TEST(HxStringDerived, ReplaceValue) {
  EXPECT_STREQ("bxynxynxy", HxString("banana").replacevalue("a", "xy", 1).value());
  EXPECT_STREQ("ba", HxString("banana").replacevalue("AN", "", 0).value());
  EXPECT_STREQ("banana", HxString("banana").replacevalue("AN", "", 1).value());
  EXPECT_STREQ("ba", HxString("aaa").replacevalue("aa", "b", 1).value());
  EXPECT_STREQ("abc", HxString("abc").replacevalue("", "z", 1).value());
  EXPECT_TRUE(HxString().replacevalue("a", "b", 1).isundef());
}

// ---- comparison ------------------------------------------------------------------

TEST(HxStringCompare, EmptyAndUndefinedAreAlike) {
  HxString undef, empty(""), b("b");
  EXPECT_TRUE(undef == empty);
  EXPECT_FALSE(undef != empty);
  EXPECT_FALSE(empty < undef);
  EXPECT_TRUE(empty <= undef);
  EXPECT_TRUE(b > empty);
  EXPECT_TRUE(undef < b);
  EXPECT_EQ(-1, empty.cmp(b));
  EXPECT_EQ(1, b.cmp(undef));
  EXPECT_EQ(0, undef.cmp(empty));
  EXPECT_LT(HxString("abc").cmp("abd"), 0);
  EXPECT_TRUE(HxString("ab") < HxString("abc"));
  EXPECT_TRUE(HxString("abc") >= HxString("abc"));
}

TEST(HxStringCompare, Modes) {
  HxString upper("ABC"), lower("abc");
  EXPECT_TRUE(upper.compare(lower, 1));
  EXPECT_FALSE(upper.compare(lower, 0));
  EXPECT_FALSE(upper.compare(lower, 2));
  EXPECT_TRUE(lower.compare(lower, 0));
  EXPECT_FALSE(HxString("ab").compare("abc", 1));
  EXPECT_FALSE(HxString("ab").compare("abc", 0));
  EXPECT_TRUE(HxString().compare("", 2));
}

// ---- free operators -----------------------------------------------------------------

TEST(HxStringOperators, CharOperandsWriteTheirCode) {
  HxString x("x");
  EXPECT_STREQ("x65", (x + 'A').value());
  EXPECT_STREQ("-1x", (static_cast<char>(-1) + x).value());
  x += 'A';
  EXPECT_STREQ("xA", x.value());
}

TEST(HxStringOperators, Concatenations) {
  HxString a("a");
  EXPECT_STREQ("ab", (a + HxString("b")).value());
  EXPECT_STREQ("ab", (a + "b").value());
  EXPECT_STREQ("ba", ("b" + a).value());
  EXPECT_STREQ("a-3", (a + -3).value());
  EXPECT_STREQ("7a", (7 + a).value());
  EXPECT_STREQ("a0.500000", (a + 0.5f).value());
  EXPECT_STREQ("0.500000a", (0.5f + a).value());
  EXPECT_TRUE((HxString() + HxString()).isundef());
}

// ---- secure strings ---------------------------------------------------------------

TEST(HxStringSecure, FlagTravelsWithCopiesAndLeftOperands) {
  HxString pw("pw");
  pw.secure(1);
  HxString plain("x");
  plain = pw;
  EXPECT_EQ(1, plain.secure());
  HxString built(pw);
  EXPECT_EQ(1, built.secure());
  EXPECT_EQ(1, (pw + "x").secure());
  EXPECT_EQ(1, (pw + 1).secure());
  EXPECT_EQ(1, (pw + 'c').secure());
  EXPECT_EQ(0, ("x" + pw).secure());
  EXPECT_EQ(0, (HxString("x") + pw).secure());
  EXPECT_EQ(0, pw.substr(0, 1).secure());
  EXPECT_EQ(0, pw.toupper().secure());
  EXPECT_EQ(0, pw.replacevalue("p", "q", 1).secure());
  EXPECT_EQ(1, pw.replacevalue("", "q", 1).secure());
  HxString cleared("y");
  cleared.secure(1);
  cleared = HxString("z");
  EXPECT_EQ(0, cleared.secure());
}

TEST(HxStringSecure, DestroyedBufferIsZeroed) {
  auto* s = new HxString("hunter2-password");
  s->secure(1);
  watch(s->value(), s->capacity());
  delete s;
  EXPECT_TRUE(seen_all_zero());
}

TEST(HxStringSecure, PlainBufferIsNotZeroed) {
  auto* s = new HxString("visible");
  watch(s->value(), s->capacity());
  delete s;
  ASSERT_TRUE(g_seen);
  EXPECT_EQ(0, std::memcmp(g_seen_bytes, "visible", 7));
}

TEST(HxStringSecure, BufferGivenUpWhileGrowingIsZeroed) {
  HxString s("");
  s.secure(1);
  s.append("secret-12345");
  ASSERT_EQ(16, s.capacity());
  watch(s.value(), s.capacity());
  s += s;  // growing from its own text
  EXPECT_TRUE(seen_all_zero());
  EXPECT_STREQ("secret-12345secret-12345", s.value());
  watch(s.value(), s.capacity());
  s += std::string(100, 'z').c_str();
  EXPECT_TRUE(seen_all_zero());
}

TEST(HxStringSecure, BufferGivenUpOnReplaceAndResizeIsZeroed) {
  HxString s("secret");
  s.secure(1);
  watch(s.value(), s.capacity());
  s = "a replacement text longer than sixteen";
  EXPECT_TRUE(seen_all_zero());
  watch(s.value(), s.capacity());
  s._resize(500);
  EXPECT_TRUE(seen_all_zero());
}

TEST(HxStringSecure, SecureTargetAssignedPlainTextStillWipesItsOldBuffer) {
  HxString pw("secret");
  pw.secure(1);
  HxString longer("a plain text much longer than the old buffer");
  watch(pw.value(), pw.capacity());
  pw = longer;
  EXPECT_TRUE(seen_all_zero());
  EXPECT_EQ(0, pw.secure());
}

TEST(HxStringSecure, SecureTargetAssignedShorterPlainTextKeepsNoSecretInItsBuffer) {
  auto* pw = new HxString("hunter2-password");
  pw->secure(1);
  *pw = HxString("ab");
  EXPECT_EQ(0, pw->secure());
  EXPECT_STREQ("ab", pw->value());
  watch(pw->value(), pw->capacity());
  delete pw;
  ASSERT_TRUE(g_seen);
  EXPECT_EQ(0, std::memcmp(g_seen_bytes, "ab", 3));
  int left = 0;
  for (int i = 3; i < g_watched_size; ++i) left += g_seen_bytes[i] != 0 ? 1 : 0;
  EXPECT_EQ(0, left) << "bytes of the old secret left in the buffer";
}

TEST(HxStringSecure, MovedInSecureTextIsWipedWhenReplaced) {
  HxString pw("0123456789abcdef-secret");
  pw.secure(1);
  HxString target;
  target = std::move(pw);
  EXPECT_EQ(1, target.secure());
  EXPECT_STREQ("0123456789abcdef-secret", target.value());
  watch(target.value(), target.capacity());
  target.copy(std::string(200, 'x'));
  EXPECT_TRUE(seen_all_zero());
}

// ---- strings made in one block ----------------------------------------------

std::string bytes_of(HxString const& s) { return std::string(s.value(), static_cast<size_t>(s.length())); }

std::string debug_info_of(HxString const& s) {
  testing::internal::CaptureStdout();
  s._debug_info();
  return testing::internal::GetCapturedStdout();
}

// A string made by _new answers as one made by new HxString(source) does,
// before and after each operation that keeps, grows, replaces or drops its
// buffer, and when moved from; both are deleted through the base class.
TEST(HxStringOneBlock, AnswersAsACopyMadeWithNew) {
  auto text = [](int n, unsigned char secure) {
    std::string t;
    for (int i = 0; i < n; ++i) t += static_cast<char>('a' + i % 26);
    HxString s(t.data(), n);
    s.secure(secure);
    return s;
  };
  struct Source {
    char const* name;
    HxString value;
  } const sources[] = {
      {"undefined", HxString()},         {"empty", HxString("")},        {"1", text(1, 0)},
      {"15", text(15, 0)},               {"16", text(16, 0)},            {"17", text(17, 0)},
      {"1000", text(1000, 0)},           {"inner NUL", HxString("a\0b", 3)}, {"secure 16", text(16, 1)},
  };
  struct Step {
    char const* name;
    void (*apply)(HxString&);
  } const steps[] = {
      {"nothing", [](HxString&) {}},
      {"append one", [](HxString& s) { s.append('x'); }},
      {"append past the capacity", [](HxString& s) { s += std::string(300, 'y').c_str(); }},
      {"assign a shorter text", [](HxString& s) { s = "ab"; }},
      {"clear and append", [](HxString& s) {
         s.clear();
         s += "abc";
       }},
      {"copy a long text", [](HxString& s) { s.copy(std::string(2000, 'z')); }},
      {"copy itself", [](HxString& s) { s.copy(s); }},
      {"resize", [](HxString& s) { s._resize(8); }},
      {"fill own room", [](HxString& s) {
         std::memset(s._room(40), 'r', 40);
         s._filled(40);
       }},
      {"wipe", [](HxString& s) { s.wipe(); }},
  };
  auto same = [](HxString const& a, HxString const& b) {
    EXPECT_EQ(a.capacity(), b.capacity());
    EXPECT_EQ(a.isundef(), b.isundef());
    EXPECT_EQ(a.secure(), b.secure());
    EXPECT_EQ(bytes_of(a), bytes_of(b));
  };
  for (Source const& source : sources) {
    for (Step const& step : steps) {
      SCOPED_TRACE(std::string(source.name) + ", " + step.name);
      HxString* plain = new HxString(source.value);
      HxString* block = HxString::_new(source.value);
      EXPECT_EQ(debug_info_of(*block), debug_info_of(*plain));
      step.apply(*plain);
      step.apply(*block);
      same(*block, *plain);
      HxString from_block(std::move(*block));
      HxString from_plain(std::move(*plain));
      same(from_block, from_plain);
      // What stays behind in the moved-from string is still released.
      HxBase* base = block;
      delete base;
      delete plain;
    }
  }
  // A class derived from the string is allocated and released as usual.
  HxBase* counted = new CountingString();
  *static_cast<CountingString*>(counted) = "counted";
  delete counted;
}

// A secure string made in one block zeroes its text before the block is
// released, and before its text moves to a larger buffer.
TEST(HxStringSecure, OneBlockBufferIsZeroed) {
  struct Row {
    char const* name;
    int length;
    bool grow_first;
  } const rows[] = {
      {"destroyed", 1, false}, {"destroyed", 16, false}, {"destroyed", 17, false}, {"grown", 15, true},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.length));
    HxString secret(std::string(static_cast<size_t>(row.length), 's'));
    secret.secure(1);
    HxString* s = HxString::_new(secret);
    char const* block = reinterpret_cast<char const*>(s);
    int const at = static_cast<int>(s->value() - block);
    int const room = row.length + 1;  // the text and its NUL
    ASSERT_TRUE(at >= 0 && at <= 64) << "text outside the block";
    if (row.grow_first) {
      s->append(std::string(100, 'g').c_str());
      EXPECT_EQ(std::string(100, 'g'), bytes_of(*s).substr(static_cast<size_t>(row.length)));
    }
    watch(block, at + room);
    delete s;
    ASSERT_TRUE(g_seen);
    int left = 0;
    for (int i = at; i < at + room; ++i) left += g_seen_bytes[i] != 0 ? 1 : 0;
    EXPECT_EQ(0, left);
  }
}

}  // namespace

#include "core/HxList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/core/pack/PackBytes.h"
#include "tests/core/pack/TestRecords.h"

namespace {


HxStringList strings(std::vector<char const*> const& items) {
  HxStringList l;
  for (char const* s : items) l.append(s ? new HxString(s) : new HxString());
  return l;
}

std::string joined(HxStringList const& l) { return l.join("|").value(); }

// An element that counts how many of its kind are alive.
struct Tracked {
  static int alive;
  int key = 0;
  Tracked() { ++alive; }
  explicit Tracked(int k) : key(k) { ++alive; }
  virtual ~Tracked() { --alive; }
  void copy(Tracked const& other) { key = other.key; }
};
int Tracked::alive = 0;

// ---- storage -----------------------------------------------------------------

TEST(HxListStorage, GrowsToOneThreeSevenFifteen) {
  HxBaseList<HxString> l;
  EXPECT_EQ(0, l.capacity());
  std::vector<int> caps;
  for (int i = 0; i < 16; ++i) {
    l.append(new HxString(i));
    caps.push_back(l.capacity());
  }
  EXPECT_EQ((std::vector<int>{1, 3, 3, 7, 7, 7, 7, 15, 15, 15, 15, 15, 15, 15, 15, 31}), caps);
  l.clear();
  EXPECT_EQ(0, l.length());
  EXPECT_EQ(31, l.capacity());
  l.append(new HxString("again"));
  EXPECT_STREQ("again", l.get(0)->value());
}

TEST(HxListStorage, GetOutsideTheListIsNull) {
  HxStringList l = strings({"a", "b"});
  EXPECT_STREQ("b", l.get(1)->value());
  EXPECT_EQ(nullptr, l.get(2));
  EXPECT_EQ(nullptr, l.get(-1));
  EXPECT_EQ(nullptr, HxStringList().get(0));
}

TEST(HxListStorage, OwnsItsElements) {
  Tracked::alive = 0;
  {
    HxBaseList<Tracked> l;
    for (int i = 0; i < 5; ++i) l.append(new Tracked(i));
    EXPECT_EQ(5, Tracked::alive);
    l.clear();
    EXPECT_EQ(0, Tracked::alive);
    for (int i = 0; i < 3; ++i) l.append(new Tracked(i));
  }
  EXPECT_EQ(0, Tracked::alive);
}

TEST(HxListStorage, ForgetLeavesElementsToTheirOwner) {
  Tracked::alive = 0;
  Tracked a(1), b(2);
  {
    HxBaseList<Tracked> borrowed;
    borrowed.append(&a);
    borrowed.append(&b);
    borrowed.forget();
    EXPECT_EQ(0, borrowed.length());
  }
  EXPECT_EQ(2, Tracked::alive);
}

// ---- copy and steal --------------------------------------------------------------

TEST(HxListCopySteal, CopyIsDeep) {
  HxStringList src = strings({"a", "b"});
  HxStringList dst = strings({"old"});
  dst.copy(src);
  EXPECT_EQ("a|b", joined(dst));
  dst.get(0)->copy("changed");
  EXPECT_EQ("a|b", joined(src));
  HxStringList assigned;
  assigned = src;
  EXPECT_EQ("a|b", joined(assigned));
  EXPECT_NE(src.get(0), assigned.get(0));
}

TEST(HxListCopySteal, CopyKeepsSecureFlags) {
  HxStringList src;
  auto* pw = new HxString("pw");
  pw->secure(1);
  src.append(pw);
  HxStringList dst;
  dst.copy(src);
  EXPECT_EQ(1, dst.get(0)->secure());
}

TEST(HxListCopySteal, StealMovesPointersAndLeavesSourceReusable) {
  HxStringList src = strings({"a", "b", "c"});
  HxString* first = src.get(0);
  HxStringList dst = strings({"x"});
  dst.steal(src);
  EXPECT_EQ("a|b|c", joined(dst));
  EXPECT_EQ(first, dst.get(0));
  EXPECT_EQ(0, src.length());
  EXPECT_EQ(3, src.capacity());
  src.append(new HxString("d"));
  EXPECT_EQ("d", joined(src));
}

TEST(HxListCopySteal, IntoItselfKeepsTheList) {
  HxStringList l = strings({"a", "b"});
  l.copy(l);
  EXPECT_EQ("a|b", joined(l));
  l.steal(l);
  EXPECT_EQ("a|b", joined(l));
  HxStringList& alias = l;
  l = alias;
  EXPECT_EQ("a|b", joined(l));
  TPointList points;
  points.append(new TPoint());
  points.copy(points);
  EXPECT_EQ(1, points.length());
}

// ---- join, find, sort ---------------------------------------------------------------

TEST(HxStringListOps, Join) {
  EXPECT_TRUE(HxStringList().join(",").isundef());
  EXPECT_STREQ("one", strings({"one"}).join(",").value());
  EXPECT_STREQ("a,,b", strings({"a", "", "b"}).join(",").value());
  EXPECT_STREQ(",x", strings({nullptr, "x"}).join(",").value());
  EXPECT_STREQ("ab", strings({"a", "b"}).join(HxString()).value());
}

TEST(HxStringListOps, Find) {
  HxStringList l = strings({"a", nullptr, "b", ""});
  EXPECT_EQ(2, l.find("b"));
  EXPECT_EQ(-1, l.find("c"));
  EXPECT_EQ(1, l.find(""));
  EXPECT_EQ(1, l.find(HxString()));
  EXPECT_EQ(-1, HxStringList().find("a"));
}

TEST(HxStringListOps, SortPutsEmptyFirst) {
  HxStringList l = strings({"b", "", "a"});
  l.sort();
  EXPECT_EQ("|a|b", joined(l));
  HxStringList one = strings({"z"});
  one.sort();
  EXPECT_EQ("z", joined(one));
  HxStringList none;
  none.sort();
  EXPECT_EQ(0, none.length());
}

TEST(HxStringListOps, SortWithAComparison) {
  HxStringList l = strings({"bb", "a", "ccc", "dd"});
  l.sort([](HxString const* a, HxString const* b) { return b->length() - a->length(); });
  EXPECT_EQ("ccc", std::string(l.get(0)->value()));
  EXPECT_EQ("a", std::string(l.get(3)->value()));
}

// The quicksort written the straightforward way (recursing into the left part
// always), as the reference for the order the list's sort must produce.
void reference_sort(std::vector<Tracked*>& a, int lo, int hi, int (*cmp)(Tracked const*, Tracked const*)) {
  while (lo < hi) {
    std::swap(a[static_cast<size_t>(lo)], a[static_cast<size_t>(lo + (hi - lo) / 2)]);
    Tracked* pivot = a[static_cast<size_t>(lo)];
    int left = lo, right = hi;
    bool done = false;
    while (left < right) {
      while (right > left && cmp(a[static_cast<size_t>(right)], pivot) >= 0) --right;
      if (right != left) a[static_cast<size_t>(left++)] = a[static_cast<size_t>(right)];
      if (left < right) {
        while (left < right && cmp(a[static_cast<size_t>(left)], pivot) <= 0) ++left;
        if (left == right) {
          a[static_cast<size_t>(right)] = pivot;
          if (right > lo) reference_sort(a, lo, right - 1, cmp);
          lo = right + 1;
          done = true;
          break;
        }
        a[static_cast<size_t>(right--)] = a[static_cast<size_t>(left)];
      }
    }
    if (done) continue;
    a[static_cast<size_t>(left)] = pivot;
    if (left > lo) reference_sort(a, lo, left - 1, cmp);
    lo = left + 1;
  }
}

int by_key(Tracked const* a, Tracked const* b) { return a->key < b->key ? -1 : a->key > b->key ? 1 : 0; }

long comparisons = 0;
int counted_by_key(Tracked const* a, Tracked const* b) {
  ++comparisons;
  return by_key(a, b);
}

// The sort leaves the order that the specified quicksort leaves, as far as
// the comparison can tell (equal elements may change places), moves every
// element exactly once into place, and takes time in proportion to n log n
// also when most or all elements are equal.
TEST(HxListSort, SameOrderByTheComparisonAsTheSpecifiedQuicksort) {
  struct Row {
    char const* shape;
    int n;
    std::function<int(int, std::mt19937&)> key;
  };
  std::vector<Row> const rows = {
      {"all equal", 1, [](int, std::mt19937&) { return 4; }},
      {"all equal", 2, [](int, std::mt19937&) { return 4; }},
      {"all equal", 17, [](int, std::mt19937&) { return 4; }},
      {"all equal", 20000, [](int, std::mt19937&) { return 4; }},
      {"two values", 20000, [](int, std::mt19937& r) { return static_cast<int>(r() % 2); }},
      {"three values", 5000, [](int, std::mt19937& r) { return static_cast<int>(r() % 3); }},
      {"few values, runs", 3000, [](int i, std::mt19937&) { return (i / 100) % 4; }},
      {"one different", 1000, [](int i, std::mt19937&) { return i == 500 ? 1 : 0; }},
      {"sorted", 1000, [](int i, std::mt19937&) { return i; }},
      {"reversed", 1000, [](int i, std::mt19937&) { return 1000 - i; }},
      {"distinct", 5000, [](int, std::mt19937& r) { return static_cast<int>(r()); }},
      // The middle pivot meets the largest element again and again: slow,
      // but in the order of the comparison all the same.
      {"organ pipe", 1000, [](int i, std::mt19937&) { return i < 500 ? i : 1000 - i; }},
  };
  std::mt19937 rng(12345);
  std::vector<Row> all = rows;
  for (int round = 0; round < 200; ++round) {
    int n = 1 + static_cast<int>(rng() % 200);
    unsigned spread = 1 + static_cast<unsigned>(rng() % 20);  // many equal keys
    all.push_back({"random, many equal", n, [spread](int, std::mt19937& r) { return static_cast<int>(r() % spread); }});
  }
  for (Row const& r : all) {
    std::mt19937 keys(7);
    HxBaseList<Tracked> l;
    std::vector<Tracked*> ref;
    for (int i = 0; i < r.n; ++i) {
      auto* t = new Tracked(r.key(i, keys));
      l.append(t);
      ref.push_back(t);
    }
    comparisons = 0;
    l._sort(0, r.n - 1, counted_by_key);
    long const used = comparisons;
    reference_sort(ref, 0, r.n - 1, by_key);
    std::vector<Tracked*> got;
    for (int i = 0; i < r.n; ++i) {
      got.push_back(l.get(i));
      ASSERT_EQ(ref[static_cast<size_t>(i)]->key, l.get(i)->key) << r.shape << " " << r.n << " at " << i;
    }
    std::sort(got.begin(), got.end());
    std::sort(ref.begin(), ref.end());
    EXPECT_EQ(ref, got) << r.shape;
    long log2n = 1;
    while ((1L << log2n) < r.n) ++log2n;
    if (std::string(r.shape) != "organ pipe") {
      EXPECT_LE(used, 3L * r.n * log2n + 16) << r.shape << " " << r.n;
    }
  }
}

// A comparison that shapes the input as it goes so that every pivot is the
// largest element of its part: the left part is always all but one element.
// It also records how deep the stack went.
struct Adversary {
  static std::vector<int> value;
  static int next_solid;
  static int candidate;
  static uintptr_t stack_top, stack_low;
};
std::vector<int> Adversary::value;
int Adversary::next_solid, Adversary::candidate;
uintptr_t Adversary::stack_top, Adversary::stack_low;

int adversary_cmp(Tracked const* a, Tracked const* b) {
  auto addr = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (addr < Adversary::stack_low) Adversary::stack_low = addr;
  std::vector<int>& v = Adversary::value;
  int const gas = -1;
  int x = a->key, y = b->key;
  if (v[static_cast<size_t>(x)] == gas && v[static_cast<size_t>(y)] == gas) {
    int freeze = x == Adversary::candidate ? x : y;
    v[static_cast<size_t>(freeze)] = Adversary::next_solid--;
  }
  if (v[static_cast<size_t>(x)] == gas) {
    Adversary::candidate = x;
  } else if (v[static_cast<size_t>(y)] == gas) {
    Adversary::candidate = y;
  }
  return v[static_cast<size_t>(x)] < v[static_cast<size_t>(y)] ? -1 : v[static_cast<size_t>(x)] > v[static_cast<size_t>(y)] ? 1 : 0;
}

TEST(HxListSort, StackStaysShallowWhenEveryPivotIsTheLargest) {
  int const n = 3000;
  Adversary::value.assign(static_cast<size_t>(n), -1);
  Adversary::next_solid = n;
  Adversary::candidate = 0;
  Adversary::stack_top = Adversary::stack_low = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  HxBaseList<Tracked> l;
  for (int i = 0; i < n; ++i) l.append(new Tracked(i));
  l._sort(0, n - 1, adversary_cmp);
  for (int i = 1; i < n; ++i)
    ASSERT_LE(adversary_cmp(l.get(i - 1), l.get(i)), 0) << i;
  // Recursing once per element would take at least n small frames.
  EXPECT_LT(Adversary::stack_top - Adversary::stack_low, 64u * 1024u);
}

TEST(HxListSort, LargeSortedAndReversedLists) {
  for (bool reversed : {false, true}) {
    HxStringList l;
    for (int i = 0; i < 50000; ++i) l.append(new HxString(HxString::padded_int(reversed ? 50000 - i : i, 6)));
    l.sort();
    for (int i = 1; i < l.length(); ++i) ASSERT_TRUE(*l.get(i - 1) <= *l.get(i));
  }
}

// ---- binary form ----------------------------------------------------------------------

TEST(HxListPack, ThreeStringsExactBytes) {
  HxStringList l = strings({"a", "", "bc"});
  EXPECT_EQ(hex("00 00 00 01"
                "00 01 00 01 00 00 00 03"
                "00 0A 00 03 00 00 00 01 61"
                "00 0A 00 03 00 00 00 00"
                "00 0A 00 03 00 00 00 02 62 63"),
            packed(l));
}

TEST(HxListPack, DecodingAppendsToWhatIsThere) {
  HxStringList src = strings({"a", "", "bc"});
  HxStringList dst = strings({"x", "y"});
  ASSERT_EQ(0, unpack(dst, packed(src)));
  EXPECT_EQ("x|y|a||bc", joined(dst));
  EXPECT_TRUE(dst.get(3)->isundef());
}

TEST(HxListPack, EmptyListIsTheCountAlone) {
  HxStringList empty;
  EXPECT_EQ(hex("00 00 00 01 00 01 00 01 00 00 00 00"), packed(empty));
  HxStringList dst = strings({"keep"});
  ASSERT_EQ(0, unpack(dst, packed(empty)));
  EXPECT_EQ("keep", joined(dst));
}

TEST(HxListPack, RecordsExactBytes) {
  TPointList l;
  auto* p = new TPoint();
  p->x = 1;
  p->label = "p";
  l.append(p);
  EXPECT_EQ(hex("00 00 00 01"
                "00 01 00 01 00 00 00 01"
                "00 0A 00 04 00 00 26 49 00 00 00 19"
                "00 01 00 01 00 00 00 01 00 02 00 01 00 00 00 00 00 03 00 03 00 00 00 01 70"),
            packed(l));
}

TEST(HxListPack, CountOnlyDecidesWhetherItemsFollow) {
  HxStringList l;
  ASSERT_EQ(0, unpack(l, hex("00 00 00 01 00 01 00 01 00 00 00 01"
                             "00 0A 00 03 00 00 00 01 61 00 0A 00 03 00 00 00 01 62 00 0A 00 03 00 00 00 01 63")));
  EXPECT_EQ("a|b|c", joined(l));
  HxStringList neg;
  ASSERT_EQ(0, unpack(neg, hex("00 00 00 01 00 01 00 01 FF FF FF FF 00 0A 00 03 00 00 00 01 61")));
  EXPECT_EQ(0, neg.length());
}

TEST(HxListPack, UnmatchedItemsGiveDefaultElements) {
  HxStringList l;
  ASSERT_EQ(0, unpack(l, hex("00 00 00 01 00 01 00 01 00 00 00 02"
                             "00 0B 00 03 00 00 00 01 61"  // field 11: skipped, element stays undefined
                             "00 0A 00 01 00 00 00 05"     // an int: skipped likewise
                             "00 0A 00 03 00 00 00 01 62")));
  EXPECT_EQ(3, l.length());
  EXPECT_TRUE(l.get(0)->isundef());
  EXPECT_TRUE(l.get(1)->isundef());
  EXPECT_STREQ("b", l.get(2)->value());
}

TEST(HxListPack, RecordOfAnotherTypeEndsTheList) {
  TPointList l;
  ASSERT_EQ(0, unpack(l, hex("00 00 00 01 00 01 00 01 00 00 00 03"
                             "00 0A 00 04 00 00 26 49 00 00 00 08 00 01 00 01 00 00 00 01"
                             "00 0A 00 04 00 00 00 01 00 00 00 08 00 01 00 01 00 00 00 02"
                             "00 0A 00 04 00 00 26 49 00 00 00 08 00 01 00 01 00 00 00 03")));
  ASSERT_EQ(2, l.length());
  EXPECT_EQ(1, l.get(0)->x);
  EXPECT_EQ(0, l.get(1)->x);
}

TEST(HxListPack, ItemCutShortEndsTheList) {
  HxStringList l;
  ASSERT_EQ(0, unpack(l, hex("00 00 00 01 00 01 00 01 00 00 00 02 00 0A 00 03 00 00 00 01 61 00 0A 00 03 00 00 00 09 62")));
  ASSERT_EQ(2, l.length());
  EXPECT_STREQ("a", l.get(0)->value());
  EXPECT_TRUE(l.get(1)->isundef());
}

}  // namespace

namespace {

// A decoded list holds its array at the capacity that appending its elements
// one by one gives, whatever the count on the wire says: sized once from an
// honest count, brought back from a count that lies high, grown by appending
// past a count that lies low.
TEST(HxListPack, DecodedCapacityIsTheAppendedOne) {
  struct Row {
    int before;  // elements the target holds already
    int items;   // items on the wire
    int count;   // the count the wire states
  };
  for (Row r : {Row{0, 0, 0}, Row{0, 1, 1}, Row{0, 2, 2}, Row{0, 5, 5}, Row{0, 100, 100}, Row{2, 5, 5},
                Row{3, 100, 100}, Row{0, 2, 1000}, Row{0, 5, 0x7fffffff}, Row{0, 100, 1}, Row{1, 4, 2}}) {
    std::string wire = hex("00 00 00 01 00 01 00 01");
    wire += std::string{static_cast<char>(r.count >> 24), static_cast<char>(r.count >> 16),
                        static_cast<char>(r.count >> 8), static_cast<char>(r.count)};
    HxStringList appended;
    for (int i = 0; i < r.before; ++i) appended.append(new HxString("old"));
    HxStringList decoded;
    decoded.copy(appended);
    for (int i = 0; i < r.items; ++i) {
      wire += hex("00 0A 00 03 00 00 00 01 61");
      appended.append(new HxString("a"));
    }
    ASSERT_EQ(0, unpack(decoded, wire));
    EXPECT_EQ(appended.length(), decoded.length()) << r.before << " " << r.items << " " << r.count;
    EXPECT_EQ(appended.capacity(), decoded.capacity()) << r.before << " " << r.items << " " << r.count;
  }
}

}  // namespace

namespace {

long string_comparisons = 0;
int counted_strings(HxString const* a, HxString const* b) {
  ++string_comparisons;
  return hx_string_sort_func(a, b);
}

// Strings sorted by the list's own comparison: empty first, then byte order,
// for lists where most strings are equal (a job list sorted by a field that
// most jobs share) as for distinct ones; the comparison is asked n log n times.
TEST(HxListSort, StringsWithManyEqual) {
  struct Row {
    int n;
    int distinct;  // values cycle through this many texts, one of them empty
  };
  for (Row r : {Row{20000, 1}, Row{20000, 2}, Row{10000, 3}, Row{5000, 5000}}) {
    HxStringList l;
    std::vector<std::string> want;
    for (int i = 0; i < r.n; ++i) {
      int v = static_cast<int>((static_cast<unsigned>(i) * 2654435761u) % static_cast<unsigned>(r.distinct));
      std::string text = v == 0 && r.distinct > 1 ? "" : "text." + std::to_string(v);
      l.append(new HxString(text.c_str()));
      want.push_back(text);
    }
    std::sort(want.begin(), want.end());
    string_comparisons = 0;
    l.sort(counted_strings);
    for (int i = 0; i < r.n; ++i) ASSERT_EQ(want[static_cast<size_t>(i)], l.get(i)->value()) << r.distinct << " at " << i;
    EXPECT_LE(string_comparisons, 3L * r.n * 15) << r.distinct;
  }
  HxString const a("a"), b("b"), empty(""), none;
  EXPECT_EQ(-1, hx_string_sort_func(&a, &b));
  EXPECT_EQ(1, hx_string_sort_func(&b, &a));
  EXPECT_EQ(0, hx_string_sort_func(&empty, &none));
  EXPECT_EQ(-1, hx_string_sort_func(&none, &a));
  EXPECT_EQ(1, hx_string_sort_func(&a, &empty));
}

}  // namespace

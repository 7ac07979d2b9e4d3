#include "core/HxHash.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/HxWorld.h"
#include "tests/core/pack/PackBytes.h"
#include "tests/core/pack/TestRecords.h"

namespace {


// Pins the random term of table growth.
class PinnedRandom : public HxWorld {
 public:
  int value = 0;
  int random() override { return value; }
};

struct WorldGuard {
  PinnedRandom world;
  WorldGuard() { hx_set_world(&world); }
  ~WorldGuard() { hx_set_world(nullptr); }
};

// Two-byte keys c0 c1 with c0 + 7 * c1 == 783, the hash of "ab".
std::vector<HxString> twins_of_ab(int n) {
  std::vector<HxString> out;
  for (int c1 = 98; static_cast<int>(out.size()) < n; ++c1) {
    int c0 = 783 - 7 * c1;
    char k[2] = {static_cast<char>(c0), static_cast<char>(c1)};
    out.emplace_back(k, 2);
  }
  return out;
}

// Distinct four-byte keys that all hash to the same value.
std::vector<HxString> colliding_keys(int n) {
  std::vector<HxString> out;
  int const target = 40 + 7 * 70 + 49 * 70 + 343 * 70;
  for (int c3 = 33; c3 < 127 && static_cast<int>(out.size()) < n; ++c3)
    for (int c2 = 33; c2 < 127 && static_cast<int>(out.size()) < n; ++c2)
      for (int c1 = 33; c1 < 127 && static_cast<int>(out.size()) < n; ++c1) {
        int c0 = target - 7 * c1 - 49 * c2 - 343 * c3;
        if (c0 < 1 || c0 > 127) continue;
        char k[4] = {static_cast<char>(c0), static_cast<char>(c1), static_cast<char>(c2), static_cast<char>(c3)};
        out.emplace_back(k, 4);
      }
  return out;
}

int slot_of(HxStringHash const& h, HxString const& key) {
  for (int i = 0; i < h.size(); ++i)
    if (h._key(i) != nullptr && *h._key(i) == key) return i;
  return -1;
}

struct Counted : HxBase {
  static int alive;
  int v = 0;
  Counted() { ++alive; }
  explicit Counted(int x) : v(x) { ++alive; }
  ~Counted() override { --alive; }
  int type() const override { return 1; }
  void copy(Counted const& o) { v = o.v; }
};
int Counted::alive = 0;

// ---- hash and probe path -----------------------------------------------------------

TEST(HxHashFunction, SumOfSignedBytesTimesPowersOfSeven) {
  EXPECT_EQ(783u, hx_hash_key("ab"));
  EXPECT_EQ(783u, hx_hash_key("Sd"));
  EXPECT_EQ(0u, hx_hash_key(""));
  EXPECT_EQ(0u, hx_hash_key(HxString()));
  EXPECT_EQ(0xFFFFFFFFu, hx_hash_key("\xff"));
  EXPECT_EQ(0u, hx_hash_key("\x07\xff"));
  EXPECT_EQ(static_cast<uint32_t>(-128 + 7 * 1), hx_hash_key("\x80\x01"));
  // Twelve bytes of 'z': 7^11 times 122 wraps in 32 bits.
  uint32_t h = 0, f = 1;
  for (int i = 0; i < 12; ++i, f *= 7u) h += 122u * f;
  EXPECT_EQ(h, hx_hash_key("zzzzzzzzzzzz"));
}

TEST(HxHashProbe, PathOfAbInSeventeenSlots) {
  HxStringHash h;
  ASSERT_EQ(17, h.size());
  std::vector<HxString> keys = twins_of_ab(8);
  std::vector<int> slots;
  for (auto const& k : keys) {
    h.set(new HxString(k), k);
    slots.push_back(slot_of(h, k));
  }
  EXPECT_EQ((std::vector<int>{1, 5, 9, 0, 16, 14, 10, 2}), slots);
  EXPECT_EQ(17, h.size());
}

TEST(HxHashProbe, PathOfTheEmptyKey) {
  HxStringHash h;
  std::vector<HxString> keys{HxString("")};
  for (int m = 1; m <= 7; ++m) {
    char k[2] = {static_cast<char>(7 * m), static_cast<char>(-m)};
    keys.emplace_back(k, 2);  // hashes to 0 like the empty key
  }
  std::vector<int> slots;
  for (auto const& k : keys) {
    h.set(new HxString("v"), k);
    slots.push_back(slot_of(h, k));
  }
  EXPECT_EQ((std::vector<int>{0, 4, 8, 16, 15, 13, 9, 1}), slots);
}

TEST(HxHashProbe, ExhaustedPathOfAMostlyEmptyTableGoesOnLinearly) {
  WorldGuard g;
  g.world.value = 5;
  HxStringHash h;
  std::vector<HxString> keys = twins_of_ab(10);
  for (int i = 0; i < 9; ++i) h.set(new HxString(keys[static_cast<size_t>(i)]), keys[static_cast<size_t>(i)]);
  // The ninth finds its eight path slots taken: slots 1 and 2 are, 3 is free.
  EXPECT_EQ(3, slot_of(h, keys[8]));
  EXPECT_EQ(17, h.size());
  for (int i = 0; i < 9; ++i) EXPECT_STREQ(keys[static_cast<size_t>(i)].value(), h.get(keys[static_cast<size_t>(i)])->value());
  // The tenth meets a table that is half full: it grows to 5 + 4 * 17 + 1.
  h.set(new HxString("ten"), keys[9]);
  EXPECT_EQ(74, h.size());
  EXPECT_EQ(10, h.count());
  for (int i = 0; i < 9; ++i) EXPECT_NE(nullptr, h.get(keys[static_cast<size_t>(i)]));
  EXPECT_STREQ("ten", h.get(keys[9])->value());
}

TEST(HxHashProbe, KeyBeyondItsPathIsReplacedNotAddedAgain) {
  WorldGuard g;
  g.world.value = 5;
  std::vector<HxString> keys = twins_of_ab(9);
  HxStringHash h;
  for (auto const& k : keys) h.set(new HxString("first"), k);
  ASSERT_EQ(3, slot_of(h, keys[8]));  // beyond its path; the table is now half full
  h.set(new HxString("second"), keys[8]);
  EXPECT_EQ(9, h.count());
  EXPECT_STREQ("second", h.get(keys[8])->value());
  // A deleted slot on its path does not hide it either.
  HxStringHash d;
  for (size_t i = 0; i < 8; ++i) d.set(new HxString("first"), keys[i]);
  d.set(new HxString("first"), keys[8]);
  delete d.remove(keys[3]);
  d.set(new HxString("second"), keys[8]);
  EXPECT_EQ(8, d.count());
  EXPECT_EQ(3, slot_of(d, keys[8]));
  EXPECT_STREQ("second", d.get(keys[8])->value());
  HxStringHash c;
  c.copy(d);
  EXPECT_STREQ("second", c.get(keys[8])->value());
  delete c.remove(keys[8]);
  EXPECT_EQ(nullptr, c.get(keys[8]));
  EXPECT_EQ(7, c.count());
}

TEST(HxHashProbe, AThousandCollidingKeys) {
  std::vector<HxString> keys = colliding_keys(1000);
  ASSERT_EQ(1000u, keys.size());
  ASSERT_EQ(hx_hash_key(keys[0]), hx_hash_key(keys[999]));
  HxStringHash h;
  for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(1, h.set(new HxString(HxString(static_cast<int>(i))), keys[i]));
  EXPECT_EQ(1000, h.count());
  EXPECT_LT(h.size(), 8 * 1000 + 400);  // grown only when half full
  for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(static_cast<int>(i), h.get(keys[i])->integervalue()) << i;
  for (size_t i = 0; i < keys.size(); i += 2) delete h.remove(keys[i]);
  EXPECT_EQ(500, h.count());
  for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(i % 2 == 1, h.get(keys[i]) != nullptr) << i;
  for (size_t i = 1; i < keys.size(); i += 2) h.set(new HxString("again"), keys[i]);
  EXPECT_EQ(500, h.count());
  EXPECT_STREQ("again", h.get(keys[999])->value());
  EXPECT_EQ(nullptr, h.get("absent"));
}

// ---- insertion, replacement, removal -------------------------------------------------

TEST(HxHashEntries, SettingTwiceReplacesAndDeletesTheFirstValue) {
  Counted::alive = 0;
  {
    HxBaseHash<Counted> h;
    h.set(new Counted(1), "k");
    h.set(new Counted(2), "k");
    EXPECT_EQ(1, h.count());
    EXPECT_EQ(1, Counted::alive);
    EXPECT_EQ(2, h.get("k")->v);
    h.set(h.get("k"), "k");  // storing the entry's own value again keeps it
    EXPECT_EQ(1, Counted::alive);
    EXPECT_EQ(2, h.get("k")->v);
  }
  EXPECT_EQ(0, Counted::alive);
}

TEST(HxHashEntries, RemoveHandsTheValueBack) {
  HxStringHash h;
  h.set(new HxString("1"), "a");
  HxString* v = h.remove("a");
  ASSERT_NE(nullptr, v);
  EXPECT_STREQ("1", v->value());
  delete v;
  EXPECT_EQ(0, h.count());
  EXPECT_EQ(nullptr, h.remove("a"));
  EXPECT_EQ(nullptr, h.get("a"));
}

TEST(HxHashEntries, DeletedSlotOnAnotherKeysPath) {
  HxStringHash h;
  h.set(new HxString("first"), "ab");   // slot 1
  h.set(new HxString("second"), "Sd");  // slot 5, past slot 1
  ASSERT_EQ(5, slot_of(h, "Sd"));
  delete h.remove("ab");
  EXPECT_STREQ("second", h.get("Sd")->value());
  h.set(new HxString("third"), "Sd");
  EXPECT_EQ(1, h.count());
  EXPECT_EQ(5, slot_of(h, "Sd"));
  EXPECT_STREQ("third", h.get("Sd")->value());
  // A new key of that path takes the deleted slot.
  h.set(new HxString("z"), "Zc");
  EXPECT_EQ(1, slot_of(h, "Zc"));
  EXPECT_EQ(2, h.count());
}

TEST(HxHashEntries, CopyKeepsDeletedSlotsAndFindsEveryKey) {
  HxStringHash h;
  std::vector<HxString> keys = twins_of_ab(6);
  for (auto const& k : keys) h.set(new HxString(k), k);
  delete h.remove(keys[0]);
  delete h.remove(keys[2]);
  HxStringHash c;
  c.set(new HxString("old"), "old");
  c.copy(h);
  EXPECT_EQ(h.size(), c.size());
  EXPECT_EQ(4, c.count());
  EXPECT_EQ(nullptr, c.get("old"));
  for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(i != 0 && i != 2, c.get(keys[i]) != nullptr) << i;
  EXPECT_NE(h.get(keys[1]), c.get(keys[1]));
  c.set(new HxString("x"), "7h");  // a new key of the path takes its first deleted slot
  EXPECT_EQ(1, slot_of(c, "7h"));
  c.copy(c);
  EXPECT_EQ(5, c.count());
}

TEST(HxHashEntries, KeysAreTheTablesOwnStrings) {
  HxStringHash h;
  h.set(new HxString("1"), "a");
  h.set(new HxString("2"), "b");
  HxStringList list;
  list.append(new HxString("stale"));
  h.keys(list);
  ASSERT_EQ(2, list.length());
  EXPECT_STREQ("a", list.get(0)->value());
  EXPECT_STREQ("b", list.get(1)->value());
  EXPECT_EQ(h._key(12), list.get(0));
  list.forget();
  EXPECT_EQ(2, h.count());
  EXPECT_STREQ("1", h.get("a")->value());

  HxStringList copies;
  h.copykeys(copies);
  ASSERT_EQ(2, copies.length());
  EXPECT_NE(h._key(12), copies.get(0));
  EXPECT_STREQ("a", copies.get(0)->value());
}

TEST(HxHashEntries, GrowthSizesAndRetries) {
  WorldGuard g;
  g.world.value = 199;  // 199 mod 100 = 99
  HxStringHash h;
  h.resize();
  EXPECT_EQ(99 + 4 * 17 + 1, h.size());
  g.world.value = 0;
  h.set(new HxString("v"), "k");
  h.resize();
  EXPECT_EQ(4 * 168 + 1, h.size());
  EXPECT_EQ(1, h.count());
  EXPECT_STREQ("v", h.get("k")->value());
}

TEST(HxHashEntries, IntTable) {
  HxIntHash h;
  EXPECT_EQ(0, h.get("absent"));
  h.set(7, "a");
  h.set(0, "zero");
  h.set(-3, "a");
  EXPECT_EQ(-3, h.get("a"));
  EXPECT_EQ(0, h.get("zero"));
  EXPECT_EQ(2, h.count());
  for (int i = 0; i < 200; ++i) h.set(i, HxString("k") + i);
  EXPECT_EQ(202, h.count());
  EXPECT_EQ(150, h.get("k150"));
}

// Keys the table makes itself carry the capacity and state that a key made
// with new carries, and survive every way a table passes keys on: growth,
// copying, removal and adding again, replacement by a caller's key and back,
// the binary round trip. The sanitizer build sees each key released once.
TEST(HxHashEntries, KeysTheTableMakesThroughTheirLife) {
  struct Row {
    char const* name;
    HxString key;
  } const rows[] = {
      {"empty", HxString("")},
      {"1", HxString("k")},
      {"15", HxString(std::string(15, 'k'))},
      {"16", HxString(std::string(16, 'k'))},
      {"17", HxString(std::string(17, 'k'))},
      {"1000", HxString(std::string(1000, 'k'))},
      {"inner NUL", HxString("k\0k", 3)},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    HxString const ordinary(row.key);  // what new HxString(key) holds
    auto check = [&](HxStringHash const& t, char const* value) {
      int s = slot_of(t, row.key);
      ASSERT_GE(s, 0);
      EXPECT_EQ(ordinary.capacity(), t._key(s)->capacity());
      EXPECT_EQ(ordinary.isundef(), t._key(s)->isundef());
      EXPECT_STREQ(value, t.get(row.key)->value());
    };
    HxStringHash h;
    h.set(new HxString("v1"), row.key);
    for (int i = 0; i < 40; ++i) h.set(new HxString("f"), HxString("filler.") + i);
    check(h, "v1");
    h.resize();
    check(h, "v1");

    HxStringHash c;
    c.copy(h);
    check(c, "v1");
    EXPECT_NE(h._key(slot_of(h, row.key)), c._key(slot_of(c, row.key)));
    HxStringList copies;
    h.copykeys(copies);
    int listed = copies.find(row.key);
    ASSERT_GE(listed, 0);
    EXPECT_EQ(ordinary.capacity(), copies.get(listed)->capacity());

    delete h.remove(row.key);
    EXPECT_EQ(nullptr, h.get(row.key));
    h.set(new HxString("v2"), row.key);
    check(h, "v2");
    EXPECT_EQ(41, h.count());
    h._set(new HxString("v3"), new HxString(row.key));
    check(h, "v3");
    h.set(new HxString("v4"), row.key);
    check(h, "v4");
    EXPECT_EQ(41, h.count());

    HxStringHash back;
    ASSERT_EQ(0, unpack(back, packed(h)));
    check(back, "v4");
    EXPECT_EQ(41, back.count());
    check(c, "v1");  // the copy kept its own keys
  }
}

// ---- binary form --------------------------------------------------------------------------

TEST(HxHashPack, StringHashExactBytes) {
  HxStringHash h;
  h.set(new HxString("1"), "a");  // slot 12
  h.set(new HxString("2"), "b");  // slot 13
  EXPECT_EQ(hex("00 00 00 01"
                "00 01 00 01 00 00 00 02"
                "00 0A 00 03 00 00 00 01 61 00 1E 00 03 00 00 00 01 31"
                "00 0A 00 03 00 00 00 01 62 00 1E 00 03 00 00 00 01 32"),
            packed(h));
  HxStringHash empty;
  EXPECT_EQ(hex("00 00 00 01 00 01 00 01 00 00 00 00"), packed(empty));
}

TEST(HxHashPack, IntAndRecordHashExactBytes) {
  HxIntHash ints;
  ints.set(-1, "x");
  EXPECT_EQ(hex("00 00 00 01 00 01 00 01 00 00 00 01 00 0A 00 03 00 00 00 01 78 00 1E 00 01 FF FF FF FF"), packed(ints));

  TPointHash points;
  auto* p = new TPoint();
  p->y = 2;
  points.set(p, "p");
  EXPECT_EQ(hex("00 00 00 01 00 01 00 01 00 00 00 01 00 0A 00 03 00 00 00 01 70"
                "00 1E 00 04 00 00 26 49 00 00 00 18"
                "00 01 00 01 00 00 00 00 00 02 00 01 00 00 00 02 00 03 00 03 00 00 00 00"),
            packed(points));
}

TEST(HxHashPack, RoundTripAndReplacementOnDecode) {
  HxStringHash h;
  for (int i = 0; i < 50; ++i) h.set(new HxString(HxString("v") + i), HxString("k") + i);
  HxStringHash back;
  back.set(new HxString("old"), "k7");
  back.set(new HxString("extra"), "extra");
  ASSERT_EQ(0, unpack(back, packed(h)));
  EXPECT_EQ(51, back.count());
  EXPECT_STREQ("v7", back.get("k7")->value());
  EXPECT_STREQ("extra", back.get("extra")->value());

  HxIntHash ints;
  for (int i = 0; i < 50; ++i) ints.set(i * i, HxString(i));
  HxIntHash ints_back;
  ASSERT_EQ(0, unpack(ints_back, packed(ints)));
  EXPECT_EQ(50, ints_back.count());
  EXPECT_EQ(49 * 49, ints_back.get("49"));
}

TEST(HxHashPack, MissingOrMismatchedPairs) {
  HxStringHash h;
  // A key without a value, then a pair whose key is an int (undefined key).
  ASSERT_EQ(0, unpack(h, hex("00 00 00 01 00 01 00 01 00 00 00 05"
                             "00 0A 00 03 00 00 00 01 61 00 1E 00 01 00 00 00 09"
                             "00 0A 00 01 00 00 00 01 00 1E 00 03 00 00 00 01 62"
                             "00 0A 00 03 00 00 00 01 63")));
  EXPECT_EQ(3, h.count());
  ASSERT_NE(nullptr, h.get("a"));
  EXPECT_TRUE(h.get("a")->isundef());
  EXPECT_STREQ("b", h.get("")->value());
  ASSERT_NE(nullptr, h.get("c"));

  HxStringHash zero;
  ASSERT_EQ(0, unpack(zero, hex("00 00 00 01 00 01 00 01 00 00 00 00 00 0A 00 03 00 00 00 01 61 00 1E 00 03 00 00 00 01 62")));
  EXPECT_EQ(0, zero.count());

  TPointHash points;
  ASSERT_EQ(0, unpack(points, hex("00 00 00 01 00 01 00 01 00 00 00 02"
                                  "00 0A 00 03 00 00 00 01 70 00 1E 00 04 00 00 00 07 00 00 00 00"
                                  "00 0A 00 03 00 00 00 01 71 00 1E 00 04 00 00 26 49 00 00 00 00")));
  EXPECT_EQ(1, points.count());  // the wrong type ended the hash after its pair
  EXPECT_NE(nullptr, points.get("p"));
}

TEST(HxHashPack, ManyCollidingKeysFromTheWire) {
  std::vector<HxString> keys = colliding_keys(600);
  std::string bytes = hex("00 00 00 01 00 01 00 01 00 00 02 58");
  for (auto const& k : keys) bytes += hex("00 0A 00 03 00 00 00 04") + std::string(k.value(), 4) + hex("00 1E 00 01 00 00 00 01");
  HxIntHash h;
  ASSERT_EQ(0, unpack(h, bytes));
  EXPECT_EQ(600, h.count());
  EXPECT_EQ(1, h.get(keys[599]));
}

}  // namespace

namespace {

// Every key of one table has the same specified hash: the keys fill the
// probe path, go on from their second hash once it is exhausted, and move to
// new slots as the table grows, with some removed and set again on the way.
// The slots are pinned: where a key lands is the table's layout on the wire.
TEST(HxHashProbe, EveryKeyOfOneHashLandsInItsSlot) {
  struct Row {
    int keys;                // twins of "ab" up to 30, four-byte keys of one hash beyond
    int random;              // the random term of growth
    std::vector<int> gone;   // removed after setting, then set again in order
    int size;
    std::vector<int> slots;  // of every key at the end
  };
  std::vector<Row> const rows = {
      {9, 0, {}, 17, {1, 5, 9, 0, 16, 14, 10, 2, 3}},
      {12, 3, {}, 72, {67, 23, 55, 63, 42, 31, 47, 71, 7, 58, 18, 34}},
      {30, 41, {}, 110, {17, 45, 77, 13, 85, 49, 31, 21, 29, 47, 81, 39, 65, 7, 1, 99, 75, 27, 41, 69, 15,
       100, 54, 108, 70, 46, 6, 14, 84, 60}},
      {30, 41, {0, 7, 8, 29}, 110, {17, 45, 77, 13, 85, 49, 31, 21, 29, 47, 81, 39, 65, 7, 1, 99, 75, 27, 41,
       69, 15, 100, 54, 108, 70, 46, 6, 14, 84, 60}},
      {200, 99, {5, 50, 150}, 772, {489, 642, 186, 21, 217, 650, 242, 655, 278, 290, 101, 350, 426, 10, 61,
       771, 757, 343, 625, 306, 201, 581, 627, 449, 733, 206, 725, 726, 234, 141, 398, 618, 741, 701, 661,
       261, 641, 437, 578, 626, 302, 434, 522, 402, 609, 727, 181, 667, 414, 491, 681, 378, 145, 690, 297,
       419, 94, 149, 529, 6, 397, 5, 178, 674, 673, 193, 89, 430, 465, 182, 682, 621, 209, 589, 675, 361,
       107, 614, 399, 194, 611, 561, 492, 210, 259, 577, 659, 265, 493, 677, 235, 29, 665, 317, 233, 494,
       389, 385, 765, 461, 218, 569, 357, 237, 142, 293, 728, 505, 125, 85, 551, 277, 215, 753, 275, 245, 51,
       585, 103, 229, 339, 570, 535, 390, 67, 466, 483, 345, 185, 441, 657, 579, 553, 169, 386, 246, 438,
       393, 537, 693, 469, 121, 266, 253, 517, 509, 43, 137, 383, 694, 651, 637, 219, 289, 531, 146, 299,
       195, 323, 645, 27, 369, 484, 470, 285, 147, 490, 409, 122, 646, 220, 247, 717, 662, 143, 734, 510,
       391, 643, 90, 729, 586, 119, 53, 108, 525, 619, 554, 311, 197, 279, 269, 68, 105, 71, 769, 435, 205,
       623, 593}},
  };
  for (Row const& r : rows) {
    WorldGuard g;
    g.world.value = r.random;
    std::vector<HxString> keys = r.keys <= 30 ? twins_of_ab(r.keys) : colliding_keys(r.keys);
    HxStringHash h;
    for (auto const& k : keys) h.set(new HxString(k), k);
    for (int i : r.gone) delete h.remove(keys[static_cast<size_t>(i)]);
    for (int i : r.gone) h.set(new HxString(keys[static_cast<size_t>(i)]), keys[static_cast<size_t>(i)]);
    std::vector<int> slots;
    for (auto const& k : keys) {
      slots.push_back(slot_of(h, k));
      ASSERT_NE(nullptr, h.get(k));
      EXPECT_EQ(k, *h.get(k));
    }
    EXPECT_EQ(r.keys, h.count());
    EXPECT_EQ(r.size, h.size()) << r.keys;
    EXPECT_EQ(r.slots, slots) << r.keys;
  }
}

}  // namespace

namespace {

// The layout of larger tables of everyday keys, through several growths and
// with removals, pinned as a digest of every key's slot.
TEST(HxHashProbe, LayoutOfManyKeysThroughGrowth) {
  struct Row {
    int keys;
    int random;
    int size;
    uint32_t digest;
  };
  for (Row r : {Row{100, 7, 312, 0x05e78cc1u}, Row{5000, 61, 9622, 0x96873751u}, Row{20000, 13, 88742, 0x9e37ebc5u}}) {
    WorldGuard g;
    g.world.value = r.random;
    HxIntHash h;
    std::vector<HxString> keys;
    for (int i = 0; i < r.keys; ++i) keys.push_back(HxString("job.") + i + ".frame");
    for (int i = 0; i < r.keys; ++i) h.set(i, keys[static_cast<size_t>(i)]);
    uint32_t digest = 2166136261u;
    for (int s = 0; s < h.size(); ++s) {
      if (h._key(s) == nullptr) continue;
      digest = (digest ^ static_cast<uint32_t>(s)) * 16777619u;
      digest = (digest ^ static_cast<uint32_t>(h._value(s))) * 16777619u;
    }
    for (int i = 0; i < r.keys; ++i) ASSERT_EQ(i, h.get(keys[static_cast<size_t>(i)]));
    EXPECT_EQ(r.size, h.size()) << r.keys;
    EXPECT_EQ(r.digest, digest) << r.keys;
  }
}

}  // namespace

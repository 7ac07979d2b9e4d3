#include "core/pack/HxPack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>
#include <functional>
#include <string>

#include "core/HxLimits.h"
#include "tests/core/pack/PackBytes.h"
#include "tests/core/pack/TestRecords.h"
#include "tests/TestUtil.h"

namespace {

std::string be32(int v) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = static_cast<char>(static_cast<unsigned>(v) >> (24 - 8 * i));
  return out;
}


// A class whose coding is given by the test.
class Probe : public HxPack {
 public:
  std::function<void(Probe&)> on_encode, on_decode;
  int decodes = 0;
  int type() const override { return 9900; }
  void encode() override {
    if (on_encode) on_encode(*this);
  }
  void decode() override {
    ++decodes;
    if (on_decode) on_decode(*this);
  }
  void encodeXML() override {}
  bool decodeXML() override { return true; }
};

// Objects that nest themselves through field 1; field 2 is an int.
class Chain : public HxPack {
 public:
  std::unique_ptr<Chain> next;
  int tail = 0;
  int type() const override { return 9950; }
  void encode() override {}
  void decode() override {
    if (_field() == 1 && _kind() == kHxKindObject) {
      next.reset(new Chain());
      restore(1, *next);
    }
    restore(2, tail);
  }
  void encodeXML() override {}
  bool decodeXML() override { return true; }
};

TShape sample_shape() {
  TShape s;
  s.name = "box";
  s.origin.x = 3;
  s.origin.y = -4;
  s.origin.label = "o";
  s.id = 0x0102030405060708LL;
  s.scale = 1.5f;
  s.visible = 1;
  s.mark = 'm';
  s.tags.append(new HxString("red"));
  s.tags.append(new HxString(""));
  return s;
}

// ---- exact bytes ----------------------------------------------------------------

TEST(HxPackBytes, IntAndStringExample) {
  Probe p;
  p.on_encode = [](Probe& q) {
    q.store(1, 5);
    q.store(2, "ab");
  };
  EXPECT_EQ(hex("00 00 00 01 | 00 01 00 01 00 00 00 05 | 00 02 00 03 00 00 00 02 61 62"), packed(p));
}

TEST(HxPackBytes, EveryKind) {
  Probe p;
  p.on_encode = [](Probe& q) {
    q.store(3, -1);
    q.store(4, 1.5f);
    q.store(5, 'z');
    q.store(6, static_cast<unsigned char>(200));
    q.store(7, -2LL);
    q.store(-1, HxString());
    q.store(8, HxString(""));
  };
  EXPECT_EQ(hex("00 00 00 01"
                "00 03 00 01 FF FF FF FF"
                "00 04 00 05 3F C0 00 00"
                "00 05 00 02 7A"
                "00 06 00 06 C8"
                "00 07 00 07 FF FF FF FF FF FF FF FE"
                "FF FF 00 03 00 00 00 00"
                "00 08 00 03 00 00 00 00"),
            packed(p));
}

TEST(HxPackBytes, NothingEncodedIsTheHeaderAlone) {
  Probe p;
  EXPECT_EQ(hex("00 00 00 01"), packed(p));
}

TEST(HxPackBytes, WholeRecordWithNestedRecordAndList) {
  TShape s = sample_shape();
  EXPECT_EQ(hex("00 00 00 01"
                "00 01 00 03 00 00 00 03 62 6F 78"                    // name "box"
                "00 02 00 04 00 00 26 49 00 00 00 19"                 // origin: type 9801, 25 bytes
                "  00 01 00 01 00 00 00 03"                           //   x 3
                "  00 02 00 01 FF FF FF FC"                           //   y -4
                "  00 03 00 03 00 00 00 01 6F"                        //   label "o"
                "00 03 00 07 01 02 03 04 05 06 07 08"                 // id
                "00 04 00 05 3F C0 00 00"                             // scale 1.5
                "00 05 00 06 01"                                      // visible
                "00 06 00 02 6D"                                      // mark 'm'
                "00 07 00 04 00 00 00 37 00 00 00 1B"                 // tags: type 55, 27 bytes
                "  00 01 00 01 00 00 00 02"                           //   count 2
                "  00 0A 00 03 00 00 00 03 72 65 64"                  //   "red"
                "  00 0A 00 03 00 00 00 00"),                         //   ""
            packed(s));
}

TEST(HxPackBytes, ObjectsNestedTwoDeep) {
  TDrawing d;
  d.title = "d";
  auto* p = new TPoint();
  p->x = 1;
  d.points.append(p);
  d.closed = true;
  EXPECT_EQ(hex("00 00 00 01"
                "00 01 00 03 00 00 00 01 64"                        // title "d"
                "00 02 00 04 00 00 26 4B 00 00 00 2C"               // points: type 9803, 44 bytes
                "  00 01 00 01 00 00 00 01"                         //   count 1
                "  00 0A 00 04 00 00 26 49 00 00 00 18"             //   a point: type 9801, 24 bytes
                "    00 01 00 01 00 00 00 01 00 02 00 01 00 00 00 00 00 03 00 03 00 00 00 00"
                "00 03 00 04 00 00 26 4C 00 00 00 08"               // marks: type 9804, 8 bytes
                "  00 01 00 01 00 00 00 00"                         //   count 0
                "00 04 00 06 01"),                                  // closed
            packed(d));
  EXPECT_EQ(nullptr, d.points.packContents());
  EXPECT_EQ(nullptr, p->packContents());
}

TEST(HxPackBytes, NestedStoreLeavesTheChildWithoutBuffer) {
  TPoint child;
  child.pack();
  ASSERT_NE(nullptr, child.packContents());
  Probe p;
  p.on_encode = [&child](Probe& q) { q.store(1, child); };
  EXPECT_EQ(hex("00 00 00 01 00 01 00 04 00 00 26 49 00 00 00 18"
                "00 01 00 01 00 00 00 00 00 02 00 01 00 00 00 00 00 03 00 03 00 00 00 00"),
            packed(p));
  EXPECT_EQ(nullptr, child.packContents());
  EXPECT_EQ(0, child.packSize());
}

TEST(HxPackBytes, PackReplacesThePreviousResult) {
  TPoint p;
  p.x = 1;
  std::string first = packed(p);
  p.x = 2;
  std::string second = packed(p);
  EXPECT_EQ(first.size(), second.size());
  EXPECT_EQ(2, second[11]);
  p._clear();
  EXPECT_EQ(nullptr, p.packContents());
  EXPECT_EQ(0, p.packSize());
  p._package();
  EXPECT_EQ(hex("00 01 00 01 00 00 00 02 00 02 00 01 00 00 00 00 00 03 00 03 00 00 00 00"),
            std::string(p.packContents(), static_cast<size_t>(p.packSize())));
}

TEST(HxPackBytes, RawStoreAndTag) {
  Probe p;
  p.on_encode = [](Probe& q) {
    q._tag(0x1234, 0x0102);
    q._store("xyz", 3);
    q._store("xyz", 0);
    q._store(nullptr, 3);
  };
  EXPECT_EQ(hex("00 00 00 01 12 34 01 02 78 79 7A"), packed(p));
}

TEST(HxPackBytes, DebugPrintShowsSignedBytes) {
  Probe p;
  p.on_encode = [](Probe& q) { q.store(1, static_cast<unsigned char>(0xff)); };
  p.pack();
  testing::internal::CaptureStdout();
  p._debug_print();
  EXPECT_EQ("0 0 0 1 0 1 0 6 -1 \n", testing::internal::GetCapturedStdout());

  // While reading, the bytes not yet read are shown.
  Probe r;
  r.on_decode = [](Probe& q) { q._debug_print(); };
  testing::internal::CaptureStdout();
  ASSERT_EQ(0, unpack(r, hex("00 00 00 01 00 02 00 02 FE")));
  EXPECT_EQ("-2 \n", testing::internal::GetCapturedStdout());
}

TEST(HxPackBytes, BigEndianReaders) {
  EXPECT_EQ(-2, _rc_int16("\xff\xfe"));
  EXPECT_EQ(0x1234, _rc_int16("\x12\x34"));
  EXPECT_EQ(-1, _rc_int32("\xff\xff\xff\xff"));
  EXPECT_EQ(0x01020304, _rc_int32("\x01\x02\x03\x04"));
  EXPECT_EQ(-2LL, _rc_int64("\xff\xff\xff\xff\xff\xff\xff\xfe"));
  EXPECT_EQ(0x0102030405060708LL, _rc_int64("\x01\x02\x03\x04\x05\x06\x07\x08"));
}

// ---- round trips ---------------------------------------------------------------------

TEST(HxPackRoundTrip, RecordWithNestedRecordAndList) {
  TShape s = sample_shape();
  std::string bytes = packed(s);
  TShape back;
  ASSERT_EQ(0, unpack(back, bytes));
  EXPECT_STREQ("box", back.name.value());
  EXPECT_EQ(3, back.origin.x);
  EXPECT_EQ(-4, back.origin.y);
  EXPECT_STREQ("o", back.origin.label.value());
  EXPECT_EQ(0x0102030405060708LL, back.id);
  EXPECT_EQ(1.5f, back.scale);
  EXPECT_EQ(1, back.visible);
  EXPECT_EQ('m', back.mark);
  ASSERT_EQ(2, back.tags.length());
  EXPECT_STREQ("red", back.tags.get(0)->value());
  EXPECT_EQ(0, back.tags.get(1)->length());
  EXPECT_EQ(bytes, packed(back));
}

TEST(HxPackRoundTrip, ListAndHashOfRecordsInsideARecord) {
  TDrawing d;
  d.title = "plan";
  d.closed = true;
  for (int i = 0; i < 5; ++i) {
    auto* p = new TPoint();
    p->x = i;
    d.points.append(p);
    auto* m = new TPoint();
    m->y = -i;
    d.marks.set(m, HxString("m") + i);
  }
  TDrawing back;
  ASSERT_EQ(0, unpack(back, packed(d)));
  EXPECT_STREQ("plan", back.title.value());
  EXPECT_TRUE(back.closed);
  ASSERT_EQ(5, back.points.length());
  EXPECT_EQ(4, back.points.get(4)->x);
  EXPECT_EQ(5, back.marks.count());
  ASSERT_NE(nullptr, back.marks.get("m3"));
  EXPECT_EQ(-3, back.marks.get("m3")->y);
}

TEST(HxPackRoundTrip, ExtremeValues) {
  TShape s;
  s.id = -9223372036854775807LL - 1;
  s.scale = -0.0f;
  s.mark = static_cast<char>(-128);
  s.visible = 255;
  s.origin.x = -2147483647 - 1;
  s.name = HxString("\0\xff\n", 3);
  TShape back;
  ASSERT_EQ(0, unpack(back, packed(s)));
  EXPECT_EQ(s.id, back.id);
  EXPECT_TRUE(std::signbit(back.scale));
  EXPECT_EQ(static_cast<char>(-128), back.mark);
  EXPECT_EQ(255, back.visible);
  EXPECT_EQ(s.origin.x, back.origin.x);
  EXPECT_EQ(3, back.name.length());
  EXPECT_EQ('\xff', back.name.get(1));
}

TEST(HxPackRoundTrip, CopyTakesMembersNotBuffers) {
  TShape s = sample_shape();
  s.pack();
  TShape c;
  c.copy(s);
  EXPECT_EQ(nullptr, c.packContents());
  EXPECT_STREQ("box", c.name.value());
  ASSERT_EQ(2, c.tags.length());
  EXPECT_NE(s.tags.get(0), c.tags.get(0));
  c.copy(c);
  EXPECT_EQ(2, c.tags.length());
}

TEST(HxPackRoundTrip, HeaderlessSequence) {
  TPoint p;
  p.x = 9;
  p._package();
  std::string body(p.packContents(), static_cast<size_t>(p.packSize()));
  TPoint back;
  EXPECT_EQ(0, back._unpack(body.data(), static_cast<int>(body.size())));
  EXPECT_EQ(9, back.x);
  EXPECT_EQ(nullptr, back.packContents());
  EXPECT_EQ(0, back._unpack(nullptr, 8));
}

TEST(HxPackRoundTrip, ArchiveAndRecover) {
  hxtest::TempDir tmp("hxpack");
  char const* dir = tmp.path().c_str();
  HxString path = HxString(dir) + "/shape.bin";
  TShape s = sample_shape();
  std::string bytes = packed(s);
  s._clear();
  EXPECT_EQ(static_cast<int>(bytes.size()), s.archive(path));
  EXPECT_EQ(nullptr, s.packContents());
  TShape back;
  EXPECT_EQ(static_cast<int>(bytes.size()), back.recover(path));
  EXPECT_EQ(bytes, packed(back));

  Probe empty;
  HxString header_only = HxString(dir) + "/empty.bin";
  EXPECT_EQ(4, empty.archive(header_only));
  EXPECT_EQ(0, back.recover(header_only));

  EXPECT_EQ(0, back.recover(HxString(dir) + "/missing.bin"));
  TPoint kept;
  kept.pack();
  EXPECT_EQ(0, kept.archive(HxString(dir) + "/no/such/dir/x.bin"));
  EXPECT_NE(nullptr, kept.packContents());
  EXPECT_EQ(0, back.recover(dir));  // a directory holds no form
  // A pipe without a writer is refused at once instead of blocking the open.
  HxString pipe = HxString(dir) + "/pipe.bin";
  ASSERT_EQ(0, mkfifo(pipe.value(), 0600));
  EXPECT_EQ(0, back.recover(pipe));
}

// ---- unpack results ---------------------------------------------------------------------

TEST(HxPackUnpack, ResultCodes) {
  Probe p;
  p.pack();
  char const* kept = p.packContents();
  EXPECT_EQ(1, p.unpack("\0\0\0", 3));
  EXPECT_EQ(1, p.unpack(nullptr, 10));
  EXPECT_EQ(kept, p.packContents());
  EXPECT_EQ(0, p.decodes);

  EXPECT_EQ(3, unpack(p, hex("00 00 00 02 00 01 00 01 00 00 00 05")));
  EXPECT_EQ(nullptr, p.packContents());
  EXPECT_EQ(0, p.decodes);

  EXPECT_EQ(2, unpack(p, hex("00 00 00 01")));
  EXPECT_EQ(0, p.decodes);

  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 00 01 00 01 00 00 00 05 AA BB CC")));
  EXPECT_EQ(1, p.decodes);
  EXPECT_EQ(0, p._remaining());
}

TEST(HxPackUnpack, ReadTagPullsRecordsWhileFourBytesRemain) {
  Probe p;
  unsigned char first = 0;
  std::vector<int> pulled;
  p.on_decode = [&](Probe& q) {
    q.restore(1, first);
    while (q._readtag()) {
      pulled.push_back(q._field() * 10 + q._kind());
      q._yank();
    }
  };
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 | 00 01 00 06 05 | 00 02 00 01 00 00 00 09 | 00 03 00 02 41 | 00 03 00")));
  EXPECT_EQ(5, first);
  EXPECT_EQ((std::vector<int>{21, 32}), pulled);
  EXPECT_EQ(1, p.decodes);
  EXPECT_FALSE(p._readtag());  // nothing is being read any more
}

TEST(HxPackUnpack, SameFieldReadTwiceReadsOnward) {
  Probe p;
  int a = 0, b = 0;
  p.on_decode = [&](Probe& q) {
    q.restore(1, a);
    q.restore(1, b);
  };
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 00 01 00 01 00 00 00 05 00 00 00 06")));
  EXPECT_EQ(5, a);
  EXPECT_EQ(6, b);
}

TEST(HxPackUnpack, EmptyStringOnTheWireKeepsTheMember) {
  TPoint p;
  p.label = "kept";
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 00 03 00 03 00 00 00 00 00 01 00 01 00 00 00 07")));
  EXPECT_STREQ("kept", p.label.value());
  EXPECT_EQ(7, p.x);
}

TEST(HxPackUnpack, UnconsumedKnownKindsArePassedOver) {
  TPoint p;
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01"
                             "00 09 00 01 00 00 00 01"
                             "00 09 00 02 41"
                             "00 09 00 03 00 00 00 02 41 42"
                             "00 09 00 04 00 00 00 05 00 00 00 04 00 01 00 06"
                             "00 09 00 05 3F C0 00 00"
                             "00 09 00 06 01"
                             "00 01 00 03 00 00 00 01 5A"  // x as a string: not x's kind
                             "00 01 00 01 00 00 00 0B")));
  EXPECT_EQ(11, p.x);
}

TEST(HxPackUnpack, UnconsumedSixtyFourBitValueIsPassedOver) {
  TPoint p;
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 00 63 00 07 01 02 03 04 05 06 07 08 00 01 00 01 00 00 00 05"
                             "00 02 00 01 00 00 00 06")));
  EXPECT_EQ(5, p.x);
  EXPECT_EQ(6, p.y);
}

TEST(HxPackUnpack, UnknownKindEndsTheObject) {
  TPoint p;
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 00 01 00 01 00 00 00 01 00 09 00 08 00 00 00 00 00 02 00 01 00 00 00 06")));
  EXPECT_EQ(1, p.x);
  EXPECT_EQ(0, p.y);
}

TEST(HxPackUnpack, TrashObjPassesOverANestedObject) {
  Probe p;
  int after = 0;
  p.on_decode = [&after](Probe& q) {
    q.trashObj(1);
    q.restore(2, after);
  };
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 00 01 00 04 00 00 00 63 00 00 00 04 AA BB CC DD 00 02 00 01 00 00 00 2A")));
  EXPECT_EQ(42, after);
  EXPECT_EQ(2, p.decodes);
}

TEST(HxPackUnpack, NestedRecordOfAnotherTypeEndsTheParent) {
  TShape s;
  EXPECT_EQ(0, unpack(s, hex("00 00 00 01"
                             "00 02 00 04 00 00 26 4A 00 00 00 08 00 01 00 01 00 00 00 03"  // type 9802, not 9801
                             "00 01 00 03 00 00 00 01 61")));
  EXPECT_EQ(0, s.origin.x);
  EXPECT_TRUE(s.name.isundef());
}

TEST(HxPackUnpack, EmptyNestedRecordDecodesToNothing) {
  TShape s;
  s.origin.x = 4;
  EXPECT_EQ(0, unpack(s, hex("00 00 00 01 00 02 00 04 00 00 26 49 00 00 00 00 00 01 00 03 00 00 00 01 61")));
  EXPECT_EQ(4, s.origin.x);
  EXPECT_STREQ("a", s.name.value());
}

// ---- short and lying input ------------------------------------------------------------------

TEST(HxPackHostile, StringLongerThanTheRestEndsTheObject) {
  TPoint p;
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 00 03 00 03 00 00 00 0B 61 62 00 01 00 01 00 00 00 05")));
  EXPECT_TRUE(p.label.isundef());
  EXPECT_EQ(0, p.x);
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 00 03 00 03 FF FF FF FF 00 01 00 01 00 00 00 05")));
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 00 03 00 03 7F FF FF FF 00 01 00 01 00 00 00 05")));
  EXPECT_EQ(0, unpack(p, hex("00 00 00 01 00 09 00 03 7F FF FF FC 00 01 00 01 00 00 00 05")));
  EXPECT_TRUE(p.label.isundef());
  EXPECT_EQ(0, p.x);
}

TEST(HxPackHostile, NestedLengthThatLies) {
  for (char const* len : {"7F FF FF FF", "FF FF FF FF", "80 00 00 00", "00 00 00 09"}) {
    TShape s;
    std::string bytes = hex("00 00 00 01 00 02 00 04 00 00 26 49") + hex(len) + hex("00 01 00 01 00 00 00 05");
    EXPECT_EQ(0, unpack(s, bytes)) << len;
    EXPECT_EQ(0, s.origin.x) << len;
    // The same lie in a record nobody reads.
    bytes = hex("00 00 00 01 00 63 00 04 00 00 26 49") + hex(len) + hex("00 01 00 03 00 00 00 01 61");
    EXPECT_EQ(0, unpack(s, bytes)) << len;
    EXPECT_TRUE(s.name.isundef()) << len;
  }
}

TEST(HxPackHostile, FixedValuesCutShort) {
  struct Case {
    char const* bytes;
  } cases[] = {{"00 00 00 01 00 01 00 01 00 00 00"},
               {"00 00 00 01 00 02 00 04 00 00 26"},
               {"00 00 00 01 00 02 00 04 00 00 26 49 00 00"},
               {"00 00 00 01 00 03 00 07 01 02 03 04 05 06 07"},
               {"00 00 00 01 00 04 00 05 3F C0 00"},
               {"00 00 00 01 00 05 00 06"},
               {"00 00 00 01 00 06 00 02"},
               {"00 00 00 01 00 01 00 03 00 00"}};
  for (auto const& c : cases) {
    TShape s;
    EXPECT_EQ(0, unpack(s, hex(c.bytes))) << c.bytes;
    EXPECT_EQ(0, s.id) << c.bytes;
    EXPECT_EQ(0.0f, s.scale) << c.bytes;
    EXPECT_EQ(0, s.origin.x) << c.bytes;
    EXPECT_TRUE(s.name.isundef()) << c.bytes;
  }
}

// Every prefix of a real form decodes without reading past its end, and each
// member ends up either untouched or whole.
TEST(HxPackHostile, EveryPrefixOfARealForm) {
  TShape s = sample_shape();
  std::string bytes = packed(s);
  for (size_t n = 0; n <= bytes.size(); ++n) {
    TShape back;
    int rc = unpack(back, bytes.substr(0, n));
    EXPECT_EQ(n < 4 ? 1 : n == 4 ? 2 : 0, rc) << n;
    EXPECT_TRUE(back.name.isundef() || back.name == s.name) << n;
    EXPECT_TRUE(back.origin.label.isundef() || back.origin.label == s.origin.label) << n;
    EXPECT_TRUE(back.id == 0 || back.id == s.id) << n;
    EXPECT_TRUE(back.tags.length() <= 2) << n;
    if (n == bytes.size()) {
      EXPECT_EQ(bytes, packed(back));
    }
  }
  TPoint p;
  p.x = 0x01020304;
  p.y = -1;
  p.label = "label";
  bytes = packed(p);
  for (size_t n = 4; n < bytes.size(); ++n) {
    TPoint back;
    EXPECT_EQ(n == 4 ? 2 : 0, unpack(back, bytes.substr(0, n))) << n;
    EXPECT_EQ(n >= 12 ? p.x : 0, back.x) << n;
    EXPECT_EQ(n >= 20 ? p.y : 0, back.y) << n;
    EXPECT_TRUE(back.label.isundef()) << n;
  }
}

TEST(HxPackHostile, DeepNestingIsBounded) {
  // 100,000 objects, each the only record of the one around it, then one
  // more record of the top object.
  int const levels = 100000;
  std::string bytes = hex("00 00 00 01");
  for (int i = 0; i < levels; ++i) {
    bytes += hex("00 01 00 04 00 00 26 DE");
    bytes += be32(12 * (levels - 1 - i));
  }
  bytes += hex("00 02 00 01 00 00 00 07");
  Chain top;
  EXPECT_EQ(0, unpack(top, bytes));
  EXPECT_EQ(7, top.tail);
  int depth = 0;
  for (Chain* c = top.next.get(); c != nullptr; c = c->next.get()) ++depth;
  EXPECT_GT(depth, 10);
  EXPECT_LT(depth, 1000);
}

TEST(HxPackHostile, ADecodeThatThrowsLeavesTheNestingBoundAsItWas) {
  // A chain exactly as deep as the bound decodes whole.
  std::string chain = hex("00 00 00 01");
  for (int i = 0; i < kHxMaxPackDepth; ++i) chain += hex("00 01 00 04 00 00 26 DE") + be32(12 * (kHxMaxPackDepth - 1 - i));
  auto depth_of = [&chain]() {
    Chain top;
    EXPECT_EQ(0, unpack(top, chain));
    int depth = 0;
    for (Chain* c = top.next.get(); c != nullptr; c = c->next.get()) ++depth;
    return depth;
  };
  EXPECT_EQ(kHxMaxPackDepth, depth_of());
  // A nested decode that throws (an allocation failing) must not leave the
  // thread's nesting level raised for every later decode.
  for (int i = 0; i < 3; ++i) {
    Probe parent;
    parent.on_decode = [](Probe& p) {
      Probe child;
      child.on_decode = [](Probe&) { throw std::bad_alloc(); };
      p.restore(1, child);
    };
    EXPECT_THROW(unpack(parent, hex("00 00 00 01 00 01 00 04 00 00 26 AC 00 00 00 08 00 02 00 01 00 00 00 01")),
                 std::bad_alloc);
  }
  EXPECT_EQ(kHxMaxPackDepth, depth_of());
}

// ---- the decode budget ----------------------------------------------------------

// n object records of this type with empty bodies: 12 bytes each on the wire.
std::string empty_items(int type, int n) {
  std::string one = hex("00 0A 00 04") + be32(type) + be32(0), out;
  out.reserve(one.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out += one;
  return out;
}

std::string count_of(int n) { return hex("00 01 00 01") + be32(n); }

std::string text_record(int field, std::string const& text) {
  return be32((field << 16) | 3) + be32(static_cast<int>(text.size())) + text;
}

std::string xml_doc(HxPack& p) {
  p.packXML();
  return "<pack>\n" + std::string(p.packContents(), static_cast<size_t>(p.packSize())) + "\n</pack>";
}

long long item_claim(size_t object) { return static_cast<long long>(object + 2 * sizeof(void*)); }

// Each decoder claims from the budget before it makes anything: lists and
// hashes, also nested in a record, texts, and the XML form. Input that asks
// for far more than the budget stops there, with the budget spent and what
// was made within it; a real record within the budget decodes whole.
TEST(HxPackBudget, EveryDecoderStopsAtTheBudget) {
  struct Row {
    char const* name;
    std::function<HxPack*()> make;
    std::function<std::string()> input;  // the binary form, or the XML document
    bool xml;
    long long budget;
    bool spent;
    std::function<long long(HxPack&)> made;  // bytes of what the decode made
  };
  auto leaves = [](HxPack& p) { return static_cast<LeafList&>(p).length() * item_claim(sizeof(Leaf)); };
  auto drawing = [] {
    auto* d = new TDrawing();
    d->title = "real";
    for (int i = 0; i < 1000; ++i) {
      auto* pt = new TPoint();
      pt->x = i;
      pt->label = "point";
      d->points.append(pt);
    }
    for (int i = 0; i < 100; ++i) d->marks.set(new TPoint(), HxString("mark") + HxString(i));
    return d;
  };
  std::vector<Row> const rows = {
      {"a list of 100,000 empty records", [] { return new LeafList(); },
       [] { return hex("00 00 00 01") + count_of(1000000) + empty_items(9101, 100000); }, false, 1 << 20, true,
       leaves},
      {"a list inside a record, values after it still read", [] { return new TDrawing(); },
       [] {
         std::string points = count_of(100000) + empty_items(9801, 100000);
         return hex("00 00 00 01") + text_record(1, "t") + hex("00 02 00 04 00 00 26 4B") +
                be32(static_cast<int>(points.size())) + points + hex("00 04 00 06 01");
       },
       false, 1 << 20, true,
       [](HxPack& p) {
         auto& d = static_cast<TDrawing&>(p);
         EXPECT_EQ(hxtest::S(d.title), "t");
         EXPECT_TRUE(d.closed);
         return d.points.length() * item_claim(sizeof(TPoint));
       }},
      {"a hash of 50,000 entries", [] { return new LeafHash(); },
       [] {
         std::string out = hex("00 00 00 01") + count_of(50000);
         for (int i = 0; i < 50000; ++i)
           out += text_record(10, "k" + std::to_string(100000 + i)) + hex("00 1E 00 04 00 00 23 8D 00 00 00 00");
         return out;
       },
       false, 1 << 20, true,
       [](HxPack& p) { return static_cast<LeafHash&>(p).count() * static_cast<long long>(sizeof(Leaf) + 32); }},
      {"a text of 1 MiB", [] {
         auto* pt = new TPoint();
         pt->label = "kept";
         return pt;
       },
       [] { return hex("00 00 00 01 00 01 00 01 00 00 00 05") + text_record(3, std::string(1 << 20, 'a')); }, false,
       1 << 20, true,
       [](HxPack& p) {
         auto& pt = static_cast<TPoint&>(p);
         EXPECT_EQ(pt.x, 5);
         EXPECT_EQ(hxtest::S(pt.label), "kept");
         return 0LL;
       }},
      {"200,000 short texts", [] { return new HxStringList(); },
       [] {
         std::string out = hex("00 00 00 01") + count_of(200000);
         for (int i = 0; i < 200000; ++i) out += text_record(10, "a");
         return out;
       },
       false, 1 << 20, true,
       [](HxPack& p) { return static_cast<HxStringList&>(p).length() * (item_claim(sizeof(HxString)) + 16); }},
      {"a real drawing within the budget", [] { return new TDrawing(); },
       [drawing] {
         std::unique_ptr<TDrawing> d(drawing());
         return packed(*d);
       },
       false, 1 << 20, false,
       [](HxPack& p) {
         auto& d = static_cast<TDrawing&>(p);
         EXPECT_EQ(d.points.length(), 1000);
         EXPECT_EQ(d.marks.count(), 100);
         return d.points.length() * item_claim(sizeof(TPoint));
       }},
      {"an XML list of 20,000 records", [] { return new LeafList(); },
       [] {
         LeafList l;
         for (int i = 0; i < 20000; ++i) l.append(new Leaf());
         return xml_doc(l);
       },
       true, 64 << 10, true, leaves},
      {"an XML hash of 5,000 entries", [] { return new LeafHash(); },
       [] {
         LeafHash h;
         for (int i = 0; i < 5000; ++i) h.set(new Leaf(), HxString("k") + HxString(i));
         return xml_doc(h);
       },
       true, 64 << 10, true,
       [](HxPack& p) { return static_cast<LeafHash&>(p).count() * static_cast<long long>(sizeof(Leaf) + 32); }},
      {"an XML text of 1 MiB", [] { return new TPoint(); },
       [] {
         TPoint pt;
         pt.label = HxString(std::string(1 << 20, 'a'));
         return xml_doc(pt);
       },
       true, 1 << 20, true, [](HxPack& p) { return static_cast<long long>(static_cast<TPoint&>(p).label.capacity()); }},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    std::string const input = row.input();
    std::unique_ptr<HxPack> p(row.make());
    HxDecodeBudget budget(row.budget);
    EXPECT_EQ(row.xml ? p->unpackXML(input.data(), static_cast<int>(input.size())) : unpack(*p, input), 0);
    EXPECT_EQ(budget.spent(), row.spent);
    EXPECT_LE(budget.claimed(), row.budget);
    long long const made = row.made(*p);
    EXPECT_LE(made, budget.claimed());
    if (!row.spent) { EXPECT_GT(made, 0); }
    // Once spent, nothing more is granted.
    EXPECT_EQ(HxDecodeBudget::claim(1), !row.spent);
  }
}

// Budgets nest: an inner one holds at most what the outer has left and its
// claims count for both; a refusal by the outer spends both, one by a
// tighter inner only the inner. A decode without a budget opens the default
// one for its own time. A file that decodes past the budget does not
// recover.
TEST(HxPackBudget, NestsOpensTheDefaultAndBoundsFiles) {
  EXPECT_FALSE(HxDecodeBudget::open());
  EXPECT_TRUE(HxDecodeBudget::claim(1LL << 40));
  {
    HxDecodeBudget outer(1000);
    {
      HxDecodeBudget inner(1 << 20);
      EXPECT_EQ(HxDecodeBudget::left(), 1000);
      EXPECT_TRUE(HxDecodeBudget::claim(600));
      EXPECT_FALSE(HxDecodeBudget::claim(600));
      EXPECT_TRUE(inner.spent());
      EXPECT_TRUE(outer.spent());
      EXPECT_EQ(HxDecodeBudget::left(), 0);
      EXPECT_EQ(inner.claimed(), 600);
    }
    EXPECT_EQ(outer.claimed(), 600);
    EXPECT_FALSE(HxDecodeBudget::claim(1));
  }
  {
    HxDecodeBudget outer(1000);
    {
      HxDecodeBudget inner(100);
      EXPECT_FALSE(HxDecodeBudget::claim(200));
      EXPECT_TRUE(inner.spent());
      EXPECT_FALSE(outer.spent());
    }
    EXPECT_TRUE(HxDecodeBudget::claim(200));
    EXPECT_EQ(HxDecodeBudget::left(), 800);
  }
  EXPECT_FALSE(HxDecodeBudget::open());

  // The default budget is open during a decode only.
  bool open_inside = false;
  Probe probe;
  probe.on_decode = [&open_inside](Probe&) { open_inside = HxDecodeBudget::open(); };
  ASSERT_EQ(unpack(probe, hex("00 00 00 01 00 01 00 01 00 00 00 01")), 0);
  EXPECT_TRUE(open_inside);
  EXPECT_FALSE(HxDecodeBudget::open());

  hxtest::TempDir tmp("hxbudget");
  LeafList list;
  for (int i = 0; i < 10000; ++i) list.append(new Leaf());
  HxString const bin = hxtest::H(tmp.file("list.bin")), xml = hxtest::H(tmp.file("list.xml"));
  int const bytes = list.archive(bin);
  int const text = list.archiveXML(xml);
  ASSERT_GT(bytes, 0);
  ASSERT_GT(text, 0);
  {
    HxDecodeBudget small(64 << 10);
    LeafList back, backxml;
    EXPECT_EQ(back.recover(bin), 0);
    EXPECT_EQ(backxml.recoverXML(xml), 0);
  }
  LeafList back, backxml;
  EXPECT_EQ(back.recover(bin), bytes);
  EXPECT_EQ(back.length(), 10000);
  EXPECT_GT(backxml.recoverXML(xml), 0);
  EXPECT_EQ(backxml.length(), 10000);
}

}  // namespace

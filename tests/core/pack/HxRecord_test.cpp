#include "core/pack/HxRecord.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/core/pack/PackBytes.h"
#include "tests/core/pack/TestRecords.h"

namespace {

// Two object members and an int share field number 5; the other numbers lie
// apart, so that the table by field number has gaps.
class Shared : public HxRecord<Shared> {
 public:
  int low = 0;
  TPoint point;
  Leaf leaf;
  int five = 0;
  HxString high;
  int type() const override { return 9850; }
  HxString typeXML() const override { return "shared"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(2, "low", &Shared::low), hx_field(5, "point", &Shared::point),
                           hx_field(5, "leaf", &Shared::leaf), hx_field(5, "five", &Shared::five),
                           hx_field(40, "high", &Shared::high));
  }
  std::string show() const {
    return std::to_string(low) + " " + std::to_string(point.x) + " " + std::to_string(leaf.n) + " " +
           std::to_string(five) + " " + high.value();
  }
};

TEST(HxRecordDecode, RecordsFindTheirMemberByNumberKindAndType) {
  struct Row {
    char const* what;
    char const* records;  // after the header
    char const* shows;
  };
  Row const rows[] = {
      {"plain numbers", "00 02 00 01 00 00 00 07 00 28 00 03 00 00 00 01 68", "7 0 0 0 h"},
      {"object of the first type", "00 05 00 04 00 00 26 49 00 00 00 08 00 01 00 01 00 00 00 03", "0 3 0 0 "},
      {"object of the second type", "00 05 00 04 00 00 23 8D 00 00 00 08 00 01 00 01 00 00 00 04", "0 0 4 0 "},
      {"int of the shared number", "00 05 00 01 00 00 00 09 00 02 00 01 00 00 00 01", "1 0 0 9 "},
      {"object of neither type ends the record",
       "00 05 00 04 00 00 00 01 00 00 00 00 00 02 00 01 00 00 00 01", "0 0 0 0 "},
      {"numbers outside the table pass over",
       "00 01 00 01 00 00 00 01 00 29 00 01 00 00 00 01 FF FF 00 01 00 00 00 01 7F FF 00 03 00 00 00 00"
       "00 02 00 01 00 00 00 02",
       "2 0 0 0 "},
      {"a number in a gap of the table", "00 03 00 03 00 00 00 01 78 00 28 00 03 00 00 00 01 79", "0 0 0 0 y"},
      {"a known number of another kind", "00 02 00 03 00 00 00 01 78 00 28 00 01 00 00 00 05", "0 0 0 0 "},
  };
  for (Row const& r : rows) {
    Shared s;
    ASSERT_EQ(0, unpack(s, hex("00 00 00 01") + hex(r.records))) << r.what;
    EXPECT_EQ(r.shows, s.show()) << r.what;
  }
}

TEST(HxRecordDecode, SharedNumberRoundTrip) {
  Shared s;
  s.low = -1;
  s.point.x = 11;
  s.leaf.n = 12;
  s.five = 13;
  s.high = "top";
  Shared back;
  ASSERT_EQ(0, unpack(back, packed(s)));
  EXPECT_EQ("-1 11 12 13 top", back.show());
}

// The test program calls hx_build_record_tables() first, as the library's
// users do (tests/TestMain.cpp): every record class it holds, the library's
// and these tests' own, was on the list and had its tables built by that
// call, and a decode builds none.
TEST(HxRecordTables, EveryClassIsBuiltByTheOneCall) {
  Shared s;
  ASSERT_EQ(0, unpack(s, hex("00 00 00 01 00 05 00 04 00 00 26 49 00 00 00 08 00 01 00 01 00 00 00 03")));
  HxRecordTableCount const count = hx_record_table_count();
  EXPECT_GT(count.built, 0);
  EXPECT_EQ(count.built, count.classes);
  EXPECT_EQ(count.lazily, 0);
}

}  // namespace

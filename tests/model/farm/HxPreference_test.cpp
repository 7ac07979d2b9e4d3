#include "model/farm/HxPreference.h"

#include <gtest/gtest.h>

#include <climits>

#include "model/farm/HxDomain.h"
#include "model/job/JobTestUtil.h"

namespace {

TEST(HxPreference, FieldsAndMandateInBothForms) {
  HxPreference p;
  p.type("ui");
  p.entity_path("/shows/a");
  p.entity_value("v");
  p.tier("site");
  p.preset("p1");
  p.user("bob");
  p.mandate(1);
  EXPECT_EQ(S(p.preftype()), "ui");
  EXPECT_EQ(p.type(), 204);
  expect_round_trip(p);
  EXPECT_NE(xml_of(p).find("<mandate>1</mandate>"), std::string::npos);
  std::string const bytes = packed(p);
  EXPECT_EQ(bytes.substr(bytes.size() - 5), hex("00 07 00 06 01"));
  HxPreference odd;
  unpack_xml(odd, "<version>1</version>\n<object type = 'preference'>\n<mandate>7</mandate>\n</object>");
  EXPECT_EQ(odd.mandate(), 1);
}

TEST(HxDbField, DefaultsAndRows) {
  HxDbField f;
  EXPECT_EQ(packed(f), hex("00 00 00 01 | 00 01 00 03 00 00 00 00 | 00 02 00 01 00 00 00 00"
                           "00 03 00 03 00 00 00 01 30"));
  struct Row {
    char const* data;
    int integer;
  } const rows[] = {{"42", 42}, {"-3x", -3}, {"x", 0}, {"", 0}, {" 7", 7}};
  for (auto const& r : rows) EXPECT_EQ(HxDbField("n", 10002, H(r.data)).integer(), r.integer) << r.data;
  HxDbRows rows_list;
  for (int i = 0; i < 2; ++i) {
    auto* row = new HxDbRow();
    row->append(new HxDbField("a", 10002, HxString(i)));
    row->append(new HxDbField("b", 10003, "1.5"));
    rows_list.append(row);
  }
  expect_round_trip(rows_list);
}

TEST(HxDataTable, CellsAndLabels) {
  HxDataTable t;
  t.add("r", "c", 5);
  EXPECT_EQ(S(t.data("r", "c")), "5");
  t.add("r", "c", -2);
  EXPECT_EQ(S(t.data("r", "c")), "3");
  t.data("r", "x", "text");
  t.add("r", "x", 4);
  EXPECT_EQ(S(t.data("r", "x")), "4");
  EXPECT_EQ(S(t.data("never", "set")), "");

  // Sums beyond the int range stay at its ends.
  t.data("big", "c", "2147483647");
  t.add("big", "c", 1);
  EXPECT_EQ(S(t.data("big", "c")), "2147483647");
  t.data("small", "c", "-2147483648");
  t.add("small", "c", INT_MIN);
  EXPECT_EQ(S(t.data("small", "c")), "-2147483648");

  // Setting a cell again changes only that cell.
  HxStringList before;
  t.rowlabels(before);
  t.data("r", "c", "new");
  HxStringList after;
  t.rowlabels(after);
  EXPECT_EQ(after.length(), before.length());

  // a:b + c and a + b:c are one cell, but each records its labels.
  HxDataTable k;
  k.data("a:b", "c", "1");
  k.data("a", "b:c", "2");
  EXPECT_EQ(S(k.data("a:b", "c")), "2");
  HxStringList rows, cols;
  rows.append(new HxString("first"));
  rows.append(new HxString("second"));
  k.rowlabels(rows);
  k.collabels(cols);
  // The second call found the cell: only the first call's labels exist,
  // appended after the list's own texts.
  ASSERT_EQ(rows.length(), 3);
  EXPECT_EQ(S(*rows.get(0)), "first");
  EXPECT_EQ(S(*rows.get(2)), "a:b");
  EXPECT_EQ(cols.length(), 1);
  k.data("a", "z", "3");
  rows.clear();
  k.rowlabels(rows);
  EXPECT_EQ(rows.length(), 2);
}

TEST(HxDataTable, RecordFormsAndCopies) {
  HxDataTable t(3, 4);
  t.title("Farm <load>");
  t.data("host1", "cpu", "80");
  t.data("host2", "mem", "12");
  expect_round_trip(t);
  // Only tags 1, 3, 4 and 7 on the wire.
  std::string const bytes = packed(t);
  EXPECT_EQ(bytes.substr(4, 4), hex("00 01 00 04"));
  HxDataTable copy(t);
  t.data("host1", "cpu", "changed");
  EXPECT_EQ(S(copy.data("host1", "cpu")), "80");
  EXPECT_EQ(S(copy.title()), "Farm <load>");
  HxDataTableList list;
  list.append(new HxDataTable(copy));
  expect_round_trip(list);
}

TEST(HxDomain, ConstructorsAndForms) {
  struct Row {
    HxDomain d;
    char const* name;
    int id;
    char const* region;
  } const rows[] = {
      {HxDomain(), "", -1, ""},
      {HxDomain("d"), "d", -1, ""},
      {HxDomain("d", 4), "d", 4, ""},
      {HxDomain("d", HxString("eu")), "d", -1, "eu"},
      {HxDomain("d", "eu", 7), "d", 7, "eu"},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(S(r.d.value()), r.name);
    EXPECT_EQ(r.d.id(), r.id);
    EXPECT_EQ(S(r.d.region()), r.region);
  }
  HxDomain d("north", "eu", 4);
  EXPECT_EQ(packed(d), hex("00 00 00 01 | 00 01 00 03 00 00 00 05 6E 6F 72 74 68 | 00 02 00 01 00 00 00 04"
                           "00 03 00 03 00 00 00 02 65 75"));
  EXPECT_NE(xml_of(d).find("<name>north</name>"), std::string::npos);
  expect_round_trip(d);
}

}  // namespace

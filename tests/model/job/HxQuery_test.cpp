#include "model/job/HxQuery.h"

#include <gtest/gtest.h>

#include "model/job/JobTestUtil.h"

namespace {

TEST(HxField, SignSplitLooksAtTheFirstCharacterOnly) {
  struct Row {
    char const* prior_sign;
    char const* text;
    char const* value;
    char const* sign;
  } const rows[] = {
      {"", ">=5", "=5", ">"},       {"", "~", "", "~"},       {"", "", "", ""},
      {"", "running", "running", ""}, {"<", "10", "10", "<"},   {"<", "", "", "<"},
      {"", "=a", "a", "="},         {"", ">a", "a", ">"},     {"", "<a", "a", "<"},
      {"", "%a", "a", "%"},         {"", "*", "", "*"},       {"", "a>b", "a>b", ""},
      {"", "-1", "-1", ""},         {"", "!a", "!a", ""},     {"x", "~~", "~", "~"},
  };
  for (auto const& r : rows) {
    HxField f;
    f.sign(r.prior_sign);
    f.value(r.text);
    EXPECT_EQ(S(f.value()), r.value) << r.text;
    EXPECT_EQ(S(f.sign()), r.sign) << r.text;
    HxField made{HxString(r.text)};
    EXPECT_EQ(S(made.value()), r.value) << r.text;
  }
}

TEST(HxFilter, ConstructorsPutTheValueSignIntoTheField) {
  struct Row {
    int args;
    char const* sign;
    char const* value;
    char const* filter_sign;
    int fields;
    char const* field_value;
    char const* field_sign;
  } const rows[] = {
      {1, nullptr, nullptr, "=", 0, nullptr, nullptr},
      {2, nullptr, "running", "=", 1, "running", ""},
      {2, nullptr, "~ren", "=", 1, "ren", "~"},
      {3, ">", "<10", ">", 1, "10", "<"},
      {3, "", "5", "", 1, "5", ""},
  };
  for (auto const& r : rows) {
    HxFilter f = r.args == 1   ? HxFilter("status")
                 : r.args == 2 ? HxFilter("status", HxString(r.value))
                               : HxFilter("status", HxString(r.sign), HxString(r.value));
    EXPECT_EQ(S(f.name()), "status");
    EXPECT_EQ(f.neg(), 0);
    EXPECT_EQ(S(f.sign()), r.filter_sign);
    ASSERT_EQ(f.fields().length(), r.fields);
    if (r.fields == 1) {
      EXPECT_EQ(S(f.fields().get(0)->value()), r.field_value);
      EXPECT_EQ(S(f.fields().get(0)->sign()), r.field_sign);
    }
  }
  EXPECT_EQ(S(HxFilter().sign()), "=");
  EXPECT_EQ(S(HxFilter().name()), "");
}

HxQuery sample_query() {
  HxQuery q;
  q.fields().append(new HxField("id"));
  q.filters().append(new HxFilter("user", "bob"));
  q.limit(5);
  q.order_by("id");
  return q;
}

TEST(HxQueryBytes, FieldNamesTravelBeforeFiltersAndFilterTagTwoStaysUnused) {
  HxQuery q = sample_query();
  EXPECT_EQ(hex("00 00 00 01"
                "00 02 00 04 00 00 00 17 00 00 00 26"                   // field list (23)
                "  00 01 00 01 00 00 00 01"                             //   count 1
                "  00 0A 00 04 00 00 00 16 00 00 00 12"                 //   field (22)
                "    00 01 00 03 00 00 00 02 69 64"                     //     value "id"
                "    00 02 00 03 00 00 00 00"                           //     sign ""
                "00 01 00 04 00 00 00 15 00 00 00 61"                   // filter list (21)
                "  00 01 00 01 00 00 00 01"                             //   count 1
                "  00 0A 00 04 00 00 00 14 00 00 00 4D"                 //   filter (20)
                "    00 01 00 03 00 00 00 04 75 73 65 72"               //     name "user"
                "    00 03 00 06 00"                                    //     neg 0
                "    00 04 00 04 00 00 00 17 00 00 00 27"               //     fields
                "      00 01 00 01 00 00 00 01"                         //
                "      00 0A 00 04 00 00 00 16 00 00 00 13"             //
                "        00 01 00 03 00 00 00 03 62 6F 62"              //       "bob"
                "        00 02 00 03 00 00 00 00"                       //
                "    00 05 00 03 00 00 00 01 3D"                        //     sign "="
                "00 03 00 01 00 00 00 05"                               // limit 5
                "00 04 00 03 00 00 00 02 69 64"),                       // order_by "id"
            packed(q));
}

TEST(HxQueryForms, EveryRecordKeepsItsFieldsThroughBothForms) {
  HxQuery q = sample_query();
  auto* f = new HxFilter("name", ">", "<a");
  f->neg(1);
  f->fields().append(new HxField("*b & \"c\""));
  q.filters().append(f);
  expect_round_trip(q);

  HxOrder o(7);
  o.lock("running=1");
  o.filters().append(new HxFilter("macaddress", "00:11:22:33:44:55"));
  expect_round_trip(o);
  HxField field("%x");
  expect_round_trip(field);
  EXPECT_NE(xml_of(field).find("<name>x</name>"), std::string::npos);
}

TEST(HxOrderForms, LockTravelsAsElementLockInXMLAndTagTwoInBinary) {
  HxOrder o(3);
  o.lock("idle > 10");
  std::string const text = xml_of(o);
  EXPECT_NE(text.find("\t<lock>idle &gt; 10</lock>\n"), std::string::npos) << text;
  HxOrder back;
  ASSERT_EQ(0, unpack_xml(back, text));
  EXPECT_EQ(S(back.lock()), "idle > 10");
  EXPECT_EQ(back.action(), 3);
  EXPECT_EQ(hex("00 00 00 01"
                "00 01 00 04 00 00 00 15 00 00 00 08 00 01 00 01 00 00 00 00"
                "00 02 00 03 00 00 00 09 69 64 6C 65 20 3E 20 31 30"
                "00 03 00 01 00 00 00 03"),
            packed(o));
}

TEST(HxOrderCopy, CopiesTakeTheFiltersOnly) {
  HxOrder source(9);
  source.lock("src");
  source.filters().append(new HxFilter("name", "a"));
  for (int how = 0; how < 3; ++how) {
    HxOrder target(4);
    target.lock("mine");
    target.filters().append(new HxFilter("gone"));
    target.filters().append(new HxFilter("gone too"));
    if (how == 0) target.copy(source);
    if (how == 1) target = source;
    if (how == 2) target.copy(target);
    EXPECT_EQ(S(target.lock()), "mine") << how;
    EXPECT_EQ(target.action(), 4) << how;
    ASSERT_EQ(target.filters().length(), how == 2 ? 2 : 1) << how;
    EXPECT_EQ(S(target.filters().get(0)->name()), how == 2 ? "gone" : "name") << how;
  }
  HxOrder made(source);
  EXPECT_EQ(S(made.lock()), "");
  EXPECT_EQ(made.action(), 0);
  ASSERT_EQ(made.filters().length(), 1);
  EXPECT_NE(made.filters().get(0), source.filters().get(0));
}

TEST(HxQueryCopy, CopiesAreDeepAndCopyingIntoItselfKeepsTheRecord) {
  HxQuery q = sample_query();
  HxQuery c(q);
  q.filters().get(0)->fields().get(0)->value("changed");
  EXPECT_EQ(S(c.filters().get(0)->fields().get(0)->value()), "bob");
  HxQuery fresh = sample_query();
  c.copy(c);
  auto& same = c;
  c = same;
  EXPECT_EQ(packed(c), packed(fresh));
  HxFilter f("n", "v");
  f.copy(f);
  ASSERT_EQ(f.fields().length(), 1);
  EXPECT_EQ(S(f.fields().get(0)->value()), "v");
}

}  // namespace

namespace {

TEST(HxOperationBytes, JobIdsTravelBeforeVariableIds) {
  HxOperation op;
  EXPECT_EQ(op.restrictions(), 1);
  EXPECT_EQ(op.limit(), 0);
  EXPECT_EQ(hex("00 00 00 01"
                "00 01 00 04 00 00 00 15 00 00 00 08 00 01 00 01 00 00 00 00"  // filters (21)
                "00 03 00 04 00 00 00 12 00 00 00 08 00 01 00 01 00 00 00 00"  // job ids (18)
                "00 02 00 04 00 00 00 83 00 00 00 08 00 01 00 01 00 00 00 00"  // variable ids (131)
                "00 05 00 06 01"                                               // restrictions
                "00 06 00 01 00 00 00 00"),                                    // limit
            packed(op));
  EXPECT_NE(xml_of(op).find("<object type = 'operation_id_list'>"), std::string::npos);
  op.filters().append(new HxFilter("user", "me"));
  op.jobids().append(new HxJobId(4));
  op.variableids().append(new HxVariableId(4, "frames"));
  op.restrictions(0);
  op.limit(9);
  expect_round_trip(op);
  HxOperation copy(op);
  EXPECT_EQ(packed(copy), packed(op));
  EXPECT_EQ(copy.restrictions(), 0);
}

}  // namespace

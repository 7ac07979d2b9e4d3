#include "model/job/HxReservation.h"

#include <gtest/gtest.h>

#include <climits>

#include "model/job/JobTestUtil.h"

namespace {

struct Fields {
  int cls;
  char const* name;
  int count, greediness, maximum;
};

void expect_fields(HxReservation const& r, Fields const& f) {
  EXPECT_EQ(r.cls(), f.cls);
  EXPECT_EQ(S(r.name()), f.name);
  EXPECT_EQ(r.count(), f.count);
  EXPECT_EQ(r.greediness(), f.greediness);
  EXPECT_EQ(r.maximum(), f.maximum);
}

TEST(HxReservation, ItemGrammarOnAFreshReservation) {
  struct Row {
    char const* text;
    Fields f;
    char const* printed;
  } const rows[] = {
      {"host.processors=2", {2, "processors", 2, 0, 0}, "host.processors=2"},
      {"host.processors=2+", {2, "processors", 2, -1, 0}, "host.processors=2+"},
      {"host.processors=2+4", {2, "processors", 2, -1, 4}, "host.processors=2+4"},
      {"host.processors=3*8", {2, "processors", 3, -2, 8}, "host.processors=3*8"},
      {"host.processors=2-4", {2, "processors", 2, -3, 4}, "host.processors=2-4"},
      {"host.processors=2*0", {2, "processors", 2, -2, 0}, "host.processors=2*"},
      {"host.processors=2+-4", {2, "processors", 2, -1, 0}, "host.processors=2+"},
      {"host.processors=all+4", {2, "processors", 1, -2, 0}, "host.processors=1*"},
      {"host.x = all", {2, "x", 1, -2, 0}, "host.x=1*"},
      {"host.processors", {2, "processors", 1, 0, 0}, "host.processors=1"},
      {"host.processors 2", {2, "processors", 1, 0, 0}, "host.processors=1"},
      {"host.processors>2", {2, "processors", 2, 0, 0}, "host.processors=2"},
      {"host.processors=-2", {2, "processors", 0, 0, 0}, "host.processors=0"},
      {"host.processors=2/4", {2, "processors", 2, 0, 4}, "host.processors=2/4"},
      {"host.processors=2 x 4", {2, "processors", 2, 0, 4}, "host.processors=2/4"},
      {"host.processors=x", {2, "processors", 0, 0, 0}, "host.processors=0"},
      {"global.lic=3+2", {3, "lic", 3, 0, 0}, "global.lic=3"},
      {"global.my-app=2", {3, "my", 0, 0, 0}, "global.my=0"},
      {"scoped.a=4", {4, "a", 4, 0, 0}, "scoped.a=4"},
      {"license.a=5", {5, "a", 5, 0, 0}, "license.a=5"},
      {"scopedlicense.a=6", {6, "a", 6, 0, 0}, "scopedlicense.a=6"},
      {"global_host.a=7", {7, "a", 7, 0, 0}, "global_host.a=7"},
      {"license_host.a=8", {8, "a", 8, 0, 0}, "license_host.a=8"},
      {"unlimited.foo=9", {1, "foo", 1, 0, 0}, "unlimited.foo"},
      {"foo.bar=3", {0, "bar", 1, 0, 0}, "unknown.bar=unknown"},
      {"Host.bar=3", {0, "bar", 1, 0, 0}, "unknown.bar=unknown"},
      {"host", {2, "", 1, 0, 0}, "host.=1"},
      {"host.a.b=2", {2, "a.b", 2, 0, 0}, "host.a.b=2"},
      {"", {0, "", 1, 0, 0}, "unknown.=unknown"},
      {"   ", {0, "", 1, 0, 0}, "unknown.=unknown"},
      {"host.p=99999999999", {2, "p", static_cast<int>(99999999999LL), 0, 0}, nullptr},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxReservation res{H(r.text)};
    expect_fields(res, r.f);
    if (r.printed) {
      EXPECT_EQ(S(res.fullname()), r.printed);
    }
  }
}

TEST(HxReservation, FieldsTheTextDoesNotReachKeepTheirValues) {
  struct Row {
    char const* text;
    Fields f;
  } const rows[] = {
      // Host items with three tokens reset greediness and maximum first.
      {"host.p=4", {2, "p", 4, 0, 0}},
      {"host.p 4", {2, "p", 7, -1, 9}},
      {"global.g=4+5", {3, "g", 4, -1, 9}},
      {"unlimited.u=4", {1, "u", 7, -1, 9}},
      {"", {6, "old", 7, -1, 9}},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxReservation res(6, "old", 7);
    res.greediness(-1);
    res.maximum(9);
    res.fullname(H(r.text));
    expect_fields(res, r.f);
  }
}

// A host's reservations go to text and back when it gives them up; every
// combination must survive.
TEST(HxReservation, EveryHostReservationReadsBackFromItsPrintedForm) {
  int const counts[] = {0, 1, 2, 10, 24, INT_MAX};
  int const greeds[] = {0, -1, -2, -3};
  int const maxima[] = {0, 1, 4, 40, INT_MAX};
  for (int cls : {2, 3, 8}) {
    for (int c : counts) {
      for (int g : greeds) {
        for (int m : maxima) {
          HxReservation r(cls, "processors", c);
          if (cls == 2) {
            r.greediness(g);
            r.maximum(m);
          }
          HxReservation back{r.fullname()};
          EXPECT_EQ(packed(back), packed(r)) << S(r.fullname());
        }
      }
    }
  }
  HxReservation r(2, "processors", 2);
  r.maximum(4);
  EXPECT_EQ(S(r.fullname()), "host.processors=2/4");
  HxReservation g(3, "lic", 2);
  g.maximum(4);
  EXPECT_EQ(S(g.fullname()), "global.lic=2/4");
}

TEST(HxReservation, ClassTable) {
  struct Row {
    int cls;
    char const* word;
    bool global, host;
  } const rows[] = {
      {0, "unknown", false, false},      {1, "unlimited", false, false},   {2, "host", false, true},
      {3, "global", true, false},        {4, "scoped", true, true},        {5, "license", true, false},
      {6, "scopedlicense", true, true},  {7, "global_host", true, false},  {8, "license_host", true, false},
      {9, "unknown", false, false},      {-1, "unknown", false, false},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.cls);
    HxReservation res(r.cls, "n", 1);
    EXPECT_EQ(S(res.clsstring()), r.word);
    EXPECT_EQ(res.isglobal(), r.global);
    EXPECT_EQ(res.ishost(), r.host);
    EXPECT_EQ(S(res.resname()), std::string(r.word) + ".n");
    HxReservation back;
    back.count(5);
    back.resname(res.resname());
    EXPECT_EQ(back.cls(), (r.cls >= 1 && r.cls <= 8) ? r.cls : 0);
    EXPECT_EQ(S(back.name()), "n");
    EXPECT_EQ(back.count(), 5);
  }
  HxReservation res;
  res.clsstring("global_hos");
  EXPECT_EQ(res.cls(), 0);
  res.resname("license");
  EXPECT_EQ(res.cls(), 5);
  EXPECT_EQ(S(res.name()), "");
}

TEST(HxReservation, RecordForms) {
  HxReservation r(2, "processors", 3);
  r.greediness(-2);
  r.maximum(8);
  EXPECT_EQ(packed(r), hex("00 00 00 01"
                           "00 01 00 03 00 00 00 0A 70 72 6F 63 65 73 73 6F 72 73"  // name
                           "00 02 00 01 00 00 00 03"                                // count
                           "00 03 00 01 00 00 00 02"                                // cls
                           "00 04 00 01 00 00 00 08"                                // maximum
                           "00 07 00 01 FF FF FF FE"));                             // greediness
  expect_round_trip(r);
  // A record without the maximum keeps the one already held.
  HxReservation keep;
  keep.maximum(6);
  ASSERT_EQ(unpack(keep, hex("00 00 00 01 | 00 02 00 01 00 00 00 04")), 0);
  EXPECT_EQ(keep.count(), 4);
  EXPECT_EQ(keep.maximum(), 6);
  HxReservation keep_xml;
  keep_xml.maximum(6);
  unpack_xml(keep_xml, "<version>1</version>\n<object type = 'reservation'>\n<count>4</count>\n</object>");
  EXPECT_EQ(keep_xml.maximum(), 6);
  EXPECT_EQ(keep_xml.count(), 4);
  EXPECT_EQ(HxReservation().count(), 1);
}

TEST(HxReservationContainers, ListTextBothWays) {
  struct Row {
    char const* text;
    int length;
    char const* printed;
    bool reads_back;
  } const rows[] = {
      {"host.processors=2,,global.lic=1", 3, "host.processors=2,unknown.=unknown,global.lic=1", true},
      {"", 0, "", true},
      {" host.a=1 , host.a=2 ", 2, "host.a=1,host.a=2", true},
      {"host.a=1,", 1, "host.a=1", true},
      {"host.p=2/4", 1, "host.p=2/4", true},
      // A quoted item keeps its comma, but the printed name is not quoted.
      {"host.p=2+4,'global.x,y'=3", 2, "host.p=2+4,global.x,y=3", false},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxReservationList list;
    list.append(new HxReservation(3, "stale", 1));
    list.revert(H(r.text));
    EXPECT_EQ(list.length(), r.length);
    EXPECT_EQ(S(list.convert()), r.printed);
    if (!r.reads_back) continue;
    HxReservationList again;
    again.revert(list.convert());
    EXPECT_EQ(packed(again), packed(list));
  }
}

TEST(HxReservationContainers, HashKeepsTheLaterItemOfAName) {
  HxReservationHash hash;
  hash.set(new HxReservation(3, "stale", 1), "global.stale");
  hash.revert("host.processors=2,host.processors=4");
  EXPECT_EQ(hash.count(), 1);
  ASSERT_NE(hash.get("host.processors"), nullptr);
  EXPECT_EQ(hash.get("host.processors")->count(), 4);
  EXPECT_EQ(hash.get("global.stale"), nullptr);
  EXPECT_EQ(S(hash.convert()), "host.processors=4");

  hash.revert("host.processors=2+4,global.lic=3,unlimited.u,,host.mem=all");
  EXPECT_EQ(hash.count(), 5);
  HxReservationHash back;
  back.revert(hash.convert());
  EXPECT_EQ(back.count(), 5);
  for (char const* key : {"host.processors", "global.lic", "unlimited.u", "unknown.", "host.mem"}) {
    SCOPED_TRACE(key);
    ASSERT_NE(back.get(key), nullptr);
    EXPECT_EQ(S(back.get(key)->fullname()), S(hash.get(key)->fullname()));
  }
  hash.revert("");
  EXPECT_EQ(hash.count(), 0);
  EXPECT_EQ(S(hash.convert()), "");
}

TEST(HxReservationContainers, RecordForms) {
  HxReservationList list;
  list.revert("host.processors=2+4,global.lic=3");
  EXPECT_EQ(list.type(), 28);
  EXPECT_EQ(S(list.typeXML()), "reservation_list");
  expect_round_trip(list);
  HxReservationHash hash;
  hash.revert("host.processors=2+4,global.lic=3");
  EXPECT_EQ(hash.type(), 68);
  EXPECT_EQ(S(hash.typeXML()), "reservation_hash");
  expect_round_trip(hash);
  HxReservationHash copy;
  copy.copy(hash);
  ASSERT_NE(copy.get("global.lic"), nullptr);
  EXPECT_EQ(copy.get("global.lic")->count(), 3);
}

}  // namespace

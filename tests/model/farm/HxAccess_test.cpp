#include "model/farm/HxAccess.h"

#include <gtest/gtest.h>

#include <climits>

#include "model/job/JobTestUtil.h"

namespace {

HxAccess sample_access() {
  HxAccess a;
  a.groups("render,comp");
  a.sudojobfilter("user=bob");
  a.sudouserfilter("group=fx");
  a.name("alice");
  a.access(0x40000001);
  a.lastupdate(HxTime(1234));
  a.valid(1);
  a.password("s3cret-pass");
  for (int i = 0; i < 3; ++i) {
    auto* g = new HxGroupAccess();
    g->fullname(HxString(i) + ":grp" + i);
    g->user("alice");
    a.groupaccess().append(g);
  }
  return a;
}

TEST(HxGroupAccess, FullNameBothWays) {
  struct Row {
    char const* text;
    int access;
    char const* name;
    char const* printed;
  } const rows[] = {
      {"12:render:farm", 12, "render:farm", "12:render:farm"},
      {"7", 7, "", "7:"},
      {"", 0, "", "0:"},
      {":comp", 0, "comp", "0:comp"},
      {"0:", 0, "", "0:"},
      {"3x:a", 3, "a", "3:a"},
      {"-5:neg", -5, "neg", "-5:neg"},
      {"2147483647:max", INT_MAX, "max", "2147483647:max"},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxGroupAccess g;
    g.name("old");
    g.user("u");
    g.valid(9);
    g.fullname(H(r.text));
    EXPECT_EQ(g.access(), r.access);
    EXPECT_EQ(S(g.name()), r.name);
    EXPECT_EQ(S(g.fullname()), r.printed);
    EXPECT_EQ(S(g.user()), "u");
    EXPECT_EQ(g.valid(), 9);
    HxGroupAccess back;
    back.fullname(g.fullname());
    EXPECT_EQ(back.access(), g.access());
    EXPECT_EQ(S(back.name()), S(g.name()));
  }
  EXPECT_EQ(HxGroupAccess().valid(), 1);
}

TEST(HxAccess, SharedTagAndExactBytes) {
  HxAccess a;
  a.sudojobfilter("j");
  a.sudouserfilter("u");
  a.valid(3);
  a.password("never");
  EXPECT_EQ(packed(a), hex("00 00 00 01"
                           "00 05 00 03 00 00 00 00"                  // groups ""
                           "00 08 00 03 00 00 00 01 6A"               // sudo job filter "j"
                           "00 06 00 03 00 00 00 01 75"               // sudo user filter "u"
                           "00 01 00 03 00 00 00 00"                  // name ""
                           "00 02 00 01 00 00 00 00"                  // access 0
                           "00 07 00 04 00 00 00 66 00 00 00 08"      // group access list, 102
                           "  00 01 00 01 00 00 00 00"
                           "00 09 00 04 00 00 00 21 00 00 00 08"      // last update, time 33
                           "  00 01 00 01 00 00 00 00"
                           "00 08 00 01 00 00 00 03"));               // valid 3
  // Either record of tag 8 may come first.
  HxAccess b;
  ASSERT_EQ(unpack(b, hex("00 00 00 01 | 00 08 00 01 00 00 00 05 | 00 08 00 03 00 00 00 02 6A 66")), 0);
  EXPECT_EQ(b.valid(), 5);
  EXPECT_EQ(S(b.sudojobfilter()), "jf");
  EXPECT_EQ(HxAccess().valid(), 0);
}

TEST(HxAccess, PasswordNeverTravelsNorCopies) {
  HxAccess a = sample_access();
  EXPECT_TRUE(a.password().secure());
  EXPECT_EQ(packed(a).find("s3cret"), std::string::npos);
  EXPECT_EQ(xml_of(a).find("s3cret"), std::string::npos);
  expect_round_trip(a);

  HxAccess dest;
  dest.password("mine");
  dest.copy(a);
  EXPECT_EQ(S(dest.password()), "mine");
  EXPECT_EQ(packed(dest), packed(a));
  HxAccess constructed(a);
  EXPECT_EQ(S(constructed.password()), "");
  EXPECT_TRUE(constructed.password().secure());

  // A list copy makes new records: their passwords are empty.
  HxAccessList list, copy;
  list.append(new HxAccess(sample_access()));
  list.get(0)->password("p");
  copy.copy(list);
  ASSERT_EQ(copy.length(), 1);
  EXPECT_EQ(S(copy.get(0)->password()), "");
  expect_round_trip(list);

  // The group entries are copied deeply, in order.
  ASSERT_EQ(dest.groupaccess().length(), 3);
  dest.groupaccess().get(1)->name("changed");
  EXPECT_EQ(S(a.groupaccess().get(1)->name()), "grp1");
  EXPECT_EQ(S(dest.groupaccess().get(2)->fullname()), "2:grp2");
}

TEST(HxPassword, AllFieldsTravelAndTheTextStaysSecure) {
  HxPassword p;
  EXPECT_EQ(p.verified(), 0);
  EXPECT_EQ(p.valid(), 0);
  p.user("bob");
  p.domain("farm");
  p.password("enc<&>");
  p.verified(1);
  p.valid(2);
  p.lastupdate(HxTime(77));
  EXPECT_TRUE(p.password().secure());
  expect_round_trip(p);
  HxPassword from_xml;
  unpack_xml(from_xml, xml_of(p));
  EXPECT_EQ(S(from_xml.password()), "enc<&>");
  EXPECT_TRUE(from_xml.password().secure());
  HxPassword copied(p);
  EXPECT_EQ(S(copied.password()), "enc<&>");
  EXPECT_TRUE(copied.password().secure());
  HxPasswordList list;
  list.append(new HxPassword(p));
  expect_round_trip(list);
  HxGroupAccessList groups;
  groups.append(new HxGroupAccess());
  groups.get(0)->fullname("5:lighting");
  groups.get(0)->lastupdate(HxTime(3));
  expect_round_trip(groups);
}

}  // namespace

#include "model/farm/HxResource.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>

#include "model/job/JobTestUtil.h"

// ---- one item -----------------------------------------------------------------

TEST(HxResourceText, ItemsParseAndPrint) {
  struct Row {
    char const* item;
    int cls;
    char const* name;
    int used, total;
    char const* full;
  } const rows[] = {
      {"host.processors=2/8", 2, "processors", 2, 8, "host.processors=2/8"},
      {"host.processors=8", 2, "processors", 0, 8, "host.processors=0/8"},
      {"host.processors = 3 / 4", 2, "processors", 3, 4, "host.processors=3/4"},
      {"host.processors=3/", 2, "processors", 0, 0, "host.processors=0/0"},  // two tokens: unchanged
      {"host.processors=", 2, "processors", 0, 0, "host.processors=0/0"},
      {"host.processors=1 of 6", 2, "processors", 1, 6, "host.processors=1/6"},
      {"host.processors=2/8/9", 2, "processors", 2, 8, "host.processors=2/8"},
      {"host.processors=x/y", 2, "processors", 0, 0, "host.processors=0/0"},
      {"host.a.b=1", 2, "a.b", 0, 1, "host.a.b=0/1"},
      {"unlimited.tokens=5", 1, "tokens", 0, 0, "unlimited.tokens"},
      // The unlimited form without "=" reads back; no other class does.
      {"unlimited . tokens", 1, "tokens", 0, 0, "unlimited.tokens"},
      {"host.processors", 0, "", 0, 0, ""},
      {"global.lic=1/3", 3, "lic", 1, 3, "global.lic=1/3"},
      {"scoped.s=1/3", 4, "s", 1, 3, "scoped.s=1/3"},
      {"license.l=1/3", 5, "l", 1, 3, "license.l=1/3"},
      {"scopedlicense.l=1/3", 6, "l", 1, 3, "scopedlicense.l=1/3"},
      {"global_host.g=1/3", 7, "g", 1, 3, "global_host.g=1/3"},
      {"license_host.g=1/3", 8, "g", 1, 3, "license_host.g=1/3"},
      {"floating.x=1/3", 0, "x", 0, 0, ""},
      {"Host.x=1/3", 0, "x", 0, 0, ""},
      {"host=4", 2, "", 0, 4, "host.=0/4"},
      {"no equals", 0, "", 0, 0, ""},
      // Counts beyond the int range read as the nearest bound.
      {"host.big=99999999999/99999999999", 2, "big", INT_MAX, INT_MAX, "host.big=2147483647/2147483647"},
      {"host.big=2147483648", 2, "big", 0, INT_MAX, "host.big=0/2147483647"},
      // A negative count reads back as written.
      {"host.neg=-2/8", 2, "neg", -2, 8, "host.neg=-2/8"},
      {"host.neg=-2147483648/-5", 2, "neg", INT_MIN, -5, "host.neg=-2147483648/-5"},
      {"host.neg=-", 2, "neg", 0, 0, "host.neg=0/0"},
      {"host.r=2-3", 2, "r", 2, 3, "host.r=2/3"},
  };
  for (auto const& r : rows) {
    HxResource x{HxString(r.item)};
    EXPECT_EQ(x.cls(), r.cls) << r.item;
    EXPECT_EQ(S(x.name()), r.name) << r.item;
    EXPECT_EQ(x.used(), r.used) << r.item;
    EXPECT_EQ(x.total(), r.total) << r.item;
    EXPECT_EQ(S(x.fullname()), r.full) << r.item;
    EXPECT_EQ(S(x.simplename()), r.full) << r.item;
    HxResource back{x.fullname()};
    if (r.cls >= 2) {
      EXPECT_EQ(S(back.fullname()), r.full) << r.item;
    }
  }
}

TEST(HxResourceText, ValueObjectSetsTheTotalAndIsNeverCopied) {
  HxResource r{HxString("host.load=value 6")};
  ASSERT_NE(r.objectvalue(), nullptr);
  EXPECT_EQ(r.total(), 0);  // the item leaves the counts alone
  EXPECT_EQ(S(r.fullname()), "host.load=value 6");
  EXPECT_EQ(S(r.simplename()), "host.load=0/0");

  HxStringHash stats;
  EXPECT_TRUE(r.refresh(stats));
  EXPECT_EQ(r.total(), 6);
  EXPECT_FALSE(r.refresh(stats));

  HxResource copied(r);
  EXPECT_EQ(copied.objectvalue(), nullptr);
  EXPECT_EQ(copied.total(), 6);
  EXPECT_FALSE(copied.refresh(stats));
  EXPECT_EQ(S(copied.fullname()), "host.load=0/6");

  HxValue* own = r.objectvalue();
  r = HxResource(3, "g", 1, 0);
  EXPECT_EQ(r.objectvalue(), own);
  r.total(own);  // handing over the same object keeps it alive
  ASSERT_EQ(r.objectvalue(), own);
  EXPECT_EQ(S(r.fullname()), "global.g=value 6");

  HxResource q;
  q.fullname("host.q=value 'a b'");
  EXPECT_EQ(S(q.fullname()), "host.q=value 'a b'");
  q.fullname("host.q=value {a\nb}");
  EXPECT_EQ(S(q.fullname()), "host.q=value {a\nb}");
  q.fullname("host.q=value {3,4}");
  EXPECT_EQ(S(q.fullname()), "host.q=value '3,4'");
  HxResourceList pair;
  pair.revert(q.fullname() + "," + q.fullname());
  EXPECT_EQ(pair.length(), 2);
  q.fullname("unlimited.q=value 5");
  EXPECT_EQ(S(q.fullname()), "unlimited.q");

  HxResource big{HxString("host.b=value 99999999999")};
  big.refresh(stats);
  EXPECT_EQ(big.total(), INT_MAX);

  std::ostringstream out;
  out << HxResource(2, "processors", 8, 2);
  EXPECT_EQ(out.str(), "host.processors=2/8");
}

TEST(HxResourceText, AvailableUnitsNearTheIntLimits) {
  struct Row {
    int total, used, avail;
  } const rows[] = {
      {8, 2, 6}, {2, 8, -6}, {INT_MAX, INT_MIN, INT_MAX}, {INT_MIN, INT_MAX, INT_MIN}, {INT_MIN, 1, INT_MIN}, {0, 0, 0},
  };
  for (auto const& r : rows) {
    HxResource x(2, "n", r.total, r.used);
    EXPECT_EQ(x.avail(), r.avail) << r.total << " " << r.used;
    x.clear();
    EXPECT_EQ(x.used(), 0);
  }
}

// ---- record forms ---------------------------------------------------------------

TEST(HxResourcePack, FieldsInTagOrder) {
  HxResource r(2, "p", 8, -1);
  EXPECT_EQ(packed(r), hex("00 00 00 01"
                           "00 01 00 03 00 00 00 01 70"
                           "00 02 00 01 00 00 00 08"
                           "00 03 00 01 FF FF FF FF"
                           "00 04 00 01 00 00 00 02"));
  EXPECT_EQ(xml_of(r),
            "<version>1</version>\n<object type = 'resource'>\n"
            "\t<name>p</name>\n\t<total>8</total>\n\t<used>-1</used>\n\t<cls>2</cls>\n</object>");

  HxResourceHash h;
  h.revert("host.processors=2/8,global.lic=1/3,unlimited.u,license.l=0/2");
  HxResourceHash hb, hx;
  ASSERT_EQ(unpack(hb, packed(h)), 0);
  ASSERT_EQ(unpack_xml(hx, xml_of(h)), 0);
  for (HxResourceHash* c : {&hb, &hx}) {
    ASSERT_EQ(c->count(), 4);
    EXPECT_EQ(S(c->get("host.processors")->fullname()), "host.processors=2/8");
    EXPECT_EQ(S(c->get("unlimited.u")->fullname()), "unlimited.u");
    EXPECT_EQ(c->type(), 67);
  }

  HxResourceList l;
  l.revert("host.processors=2/8,global.lic=1/3,unlimited.u");
  HxResourceList lb, lx;
  ASSERT_EQ(unpack(lb, packed(l)), 0);
  ASSERT_EQ(unpack_xml(lx, xml_of(l)), 0);
  EXPECT_EQ(S(lb.convert()), "host.processors=2/8,global.lic=1/3,unlimited.u");
  EXPECT_EQ(S(lx.convert()), "host.processors=2/8,global.lic=1/3,unlimited.u");
  EXPECT_EQ(lb.type(), 11);
}

// ---- containers -------------------------------------------------------------------

TEST(HxResourceContainers, RevertConvertResetAndLend) {
  HxResourceHash h;
  h.revert("host.p=1/4,host.p=3/4,floating.f=1,host.l=loadmonitor 'a|b|5',,unlimited.u");
  ASSERT_EQ(h.count(), 5);  // the two unparsable items share the key "unknown."
  EXPECT_EQ(h.get("host.p")->used(), 3);
  ASSERT_NE(h.get("unknown.f"), nullptr);
  ASSERT_NE(h.get("host.l")->objectvalue(), nullptr);

  HxResourceHash c(h);
  EXPECT_EQ(c.get("host.l")->objectvalue(), nullptr);
  EXPECT_EQ(c.get("host.p")->used(), 3);

  h.reset();
  EXPECT_EQ(h.get("host.p")->used(), 0);
  EXPECT_EQ(c.get("host.p")->used(), 3);

  // Every key reads back; unknown classes leave empty items.
  HxResourceHash again;
  again.revert(c.simpleconvert());
  EXPECT_NE(again.get("host.p"), nullptr);
  EXPECT_NE(again.get("unlimited.u"), nullptr);
  EXPECT_EQ(again.get("host.p")->used(), 3);

  HxResourceList l;
  l.revert("host.p=1/4,floating.f=1,unlimited.u");
  EXPECT_EQ(S(l.convert()), "host.p=1/4,,unlimited.u");
  EXPECT_EQ(l.find("p"), l.get(0));
  EXPECT_EQ(l.find("host.p"), nullptr);

  HxResourceList lent;
  c.values(lent);
  EXPECT_EQ(lent.length(), c.count());
  lent.forget();

  h.revert("");
  EXPECT_EQ(S(h.convert()), "");
}

// ---- accounting -------------------------------------------------------------------

TEST(HxResourceAccounting, OneReservationAgainstOneResource) {
  struct Row {
    char const* resource;
    char const* reservation;
    bool works, check;
    int after_accept, after_release;
  } const rows[] = {
      {"host.processors=0/4", "host.processors=2", true, true, 2, -2},
      {"host.processors=3/4", "host.processors=2", true, false, 5, 1},
      {"host.processors=0/4", "host.processors=5", false, false, 5, -5},
      {"host.processors=0/4", "global.processors=1", false, false, 1, -1},  // accept ignores the class
      {"host.processors=1/10", "host.processors=2*", true, false, 10, -1},  // the whole resource, in use
      {"host.processors=0/10", "host.processors=2*", true, true, 10, -2},
      {"host.processors=0/1", "host.processors=2*", false, false, 1, -2},
      {"host.processors=8/10", "host.processors=1+3", true, true, 10, 7},   // maximum 3 on 2 free
      {"host.processors=2/10", "host.processors=1+3", true, true, 5, 1},    // maximum 3 on 8 free
      {"host.processors=2/10", "host.processors=1+", true, true, 10, 1},    // greedy, no maximum
      {"host.processors=2/10", "host.processors=1-", true, true, 10, 1},
      // An overbooked resource has no free unit: greedy bookings add none.
      {"host.processors=12/10", "host.processors=1+3", true, false, 12, 11},
      {"host.processors=12/10", "host.processors=1+", true, false, 12, 11},
      {"host.processors=12/10", "host.processors=1", true, false, 13, 11},
      {"host.processors=0/4", "host.processors=all", true, true, 4, -1},
      {"unlimited.tokens", "unlimited.tokens=999", true, true, 1, -1},  // an unlimited item carries no count
      {"global.lic=0/2", "global.lic=3", false, false, 3, -3},
      {"license.lic=1/2", "license.lic=1", true, true, 2, 0},
      // Counts near the int limits neither wrap nor trap.
      {"host.p=-2147483648/2147483647", "host.p=2147483647", true, true, -1, INT_MIN},
      {"host.p=2147483647/2147483647", "host.p=2147483647", true, false, INT_MAX, 0},
      {"host.p=-5/2147483647", "host.p=1+2147483647", true, true, INT_MAX - 5, -6},
      {"host.p=2147483646/2147483647", "host.p=5", true, false, INT_MAX, 2147483641},
      {"host.p=-2147483647/0", "host.p=5", false, true, -2147483642, INT_MIN},
      {"host.p=2147483647/-2147483648", "host.p=1+5", false, false, INT_MAX, INT_MAX - 1},
  };
  for (auto const& r : rows) {
    HxReservation res{HxString(r.reservation)};
    HxResource x{HxString(r.resource)};
    EXPECT_EQ(x.works(res), r.works) << r.resource << " " << r.reservation;
    EXPECT_EQ(x.check(res), r.check) << r.resource << " " << r.reservation;
    HxResource booked(x);
    EXPECT_EQ(booked.accept(res), 1);
    EXPECT_EQ(booked.used(), r.after_accept) << r.resource << " " << r.reservation;
    HxResource freed(x);
    EXPECT_EQ(freed.release(res), 1);
    EXPECT_EQ(freed.used(), r.after_release) << r.resource << " " << r.reservation;
  }
}

TEST(HxResourceAccounting, ReservationTextsAgainstAHash) {
  HxResourceHash h;
  h.revert("host.processors=0/4,global.lic=1/3,unlimited.tokens,host.mem=0/16");
  struct Row {
    char const* text;
    bool works, check;
  } const rows[] = {
      {"", true, true},
      {"host.processors=2,global.lic=2", true, true},
      {"host.processors=2,global.lic=3", true, false},
      {"host.processors=5", false, false},
      {"host.gpu=1", false, false},
      {"host.processors=1,host.gpu=1", false, false},
      {"unlimited.tokens=50", true, true},
      {"host.processors=2*,host.mem=16", true, true},
      {",", false, false},  // two default reservations: no such resource
  };
  for (auto const& r : rows) {
    EXPECT_EQ(h.works(r.text), r.works) << r.text;
    EXPECT_EQ(h.check(r.text), r.check) << r.text;
  }

  h.accept("host.processors=2,global.lic=1,host.gpu=1,host.mem=3+8");
  EXPECT_EQ(h.get("host.processors")->used(), 2);
  EXPECT_EQ(h.get("global.lic")->used(), 2);
  EXPECT_EQ(h.get("host.mem")->used(), 8);
  EXPECT_EQ(h.get("host.gpu"), nullptr);
  h.release("host.processors=3,global.lic=1,host.gpu=1");
  EXPECT_EQ(h.get("host.processors")->used(), -1);
  EXPECT_EQ(h.get("host.processors")->avail(), 5);
  EXPECT_EQ(h.get("global.lic")->used(), 1);
  HxResourceHash back;
  back.revert(h.convert());
  EXPECT_EQ(back.get("host.processors")->used(), -1);
  EXPECT_EQ(back.get("host.processors")->total(), 4);
}

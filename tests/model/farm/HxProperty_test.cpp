#include "model/farm/HxProperty.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "model/job/JobTestUtil.h"

// ---- one item -----------------------------------------------------------------

TEST(HxPropertyText, ItemsParseAndPrint) {
  struct Row {
    char const* item;
    int cls;
    char const* name;
    char const* value;
    char const* full;
  } const rows[] = {
      {"host.site=north", 2, "site", "north", "host.site=north"},
      {"global.site=", 3, "site", "", "global.site="},
      {"foo.x=1", 0, "x", "", "unknown.x="},
      {"no equals sign", 0, "", "", "unknown.="},
      {" host . motto = 'fast and cheap'", 2, "motto", "fast and cheap", "host.motto='fast and cheap'"},
      {"host.a.b=1", 2, "a.b", "1", "host.a.b=1"},
      {"host.v={x y}", 2, "v", "x y", "host.v='x y'"},
      {"host.v=first second", 2, "v", "first", "host.v=first"},
      {"global", 0, "", "", "unknown.="},
      {"global=7", 3, "", "7", "global.=7"},
      {"Host.x=1", 0, "x", "", "unknown.x="},
      {"host.x='unterminated", 2, "x", "unterminated", "host.x=unterminated"},
      {"host.q='it\\'s'", 2, "q", "it's", "host.q='it\\'s'"},
  };
  for (auto const& r : rows) {
    HxProperty p{HxString(r.item)};
    EXPECT_EQ(p.cls(), r.cls) << r.item;
    EXPECT_EQ(S(p.name()), r.name) << r.item;
    EXPECT_EQ(S(p.value()), r.value) << r.item;
    EXPECT_EQ(S(p.fullname()), r.full) << r.item;
    EXPECT_EQ(S(p.simplename()), r.full) << r.item;
    EXPECT_EQ(p.objectvalue(), nullptr) << r.item;
  }
}

TEST(HxPropertyText, ItemsLeaveTheValueOfOtherClassesAndEmptyValuesAlone) {
  HxProperty p(0, "x", "kept");
  p.fullname("foo.x=new");
  EXPECT_EQ(S(p.value()), "kept");
  HxProperty q(2, "x", "kept");
  q.fullname("host.x=");
  EXPECT_EQ(S(q.value()), "kept");
  q.fullname("no equals");
  EXPECT_EQ(q.cls(), 2);
  EXPECT_EQ(S(q.name()), "x");
}

// Values that used to be written bare and read back as something else are
// quoted with "'" and "\" escaped; every other value keeps its old form.
TEST(HxPropertyText, ValuesReadBackAsWritten) {
  struct Row {
    char const* value;
    char const* written;
  } const rows[] = {
      {"north", "north"},
      {"", ""},
      {"a b", "'a b'"},
      {"tab\there", "'tab\there'"},
      {" lead", "' lead'"},
      {"two\nlines", "'two\nlines'"},
      {"a,b", "'a,b'"},
      {"it's", "'it\\'s'"},
      {"say \"hi\"", "'say \"hi\"'"},
      {"back\\slash", "'back\\\\slash'"},
      {"f(x)", "'f(x)'"},
      {"{x}", "'{x}'"},
      {"a}", "'a}'"},
      {"watchdog", "'watchdog'"},
      {"value 3", "'value 3'"},
      {"weekcalendar", "'weekcalendar'"},
      {"watchdogs", "watchdogs"},
      {"x=y", "x=y"},
      {"1.5/2", "1.5/2"},
  };
  for (auto const& r : rows) {
    for (int cls : {2, 3}) {
      HxProperty p(cls, "k", r.value);
      HxString item = p.fullname();
      EXPECT_EQ(S(item), S(p.resname()) + "=" + r.written) << r.value;
      HxProperty back(item);
      EXPECT_EQ(back.cls(), cls) << r.value;
      EXPECT_EQ(S(back.value()), r.value) << r.value;
      EXPECT_EQ(back.objectvalue(), nullptr) << r.value;
    }
  }

  // The same values side by side in one text.
  HxPropertyList list;
  for (auto const& r : rows) list.append(new HxProperty(2, HxString(r.value).length() ? "k" : "e", r.value));
  HxPropertyList back;
  back.revert(list.convert());
  ASSERT_EQ(back.length(), list.length());
  for (int i = 0; i < list.length(); ++i) EXPECT_EQ(S(back.get(i)->value()), S(list.get(i)->value())) << i;
}

// ---- value objects ------------------------------------------------------------

TEST(HxPropertyValueObject, ParsedPrintedRefreshedAndNeverCopied) {
  HxProperty p{HxString("host.lock=watchdog 30")};
  ASSERT_NE(p.objectvalue(), nullptr);
  EXPECT_EQ(S(p.value()), "1");  // no activity reported: the watchdog reads 1
  EXPECT_EQ(S(p.fullname()), "host.lock=watchdog 30");
  EXPECT_EQ(S(p.simplename()), "host.lock=1");

  HxStringHash stats;
  stats.set(new HxString("999999"), "last_activity");
  EXPECT_TRUE(p.refresh(stats));
  EXPECT_EQ(S(p.value()), "0");
  EXPECT_FALSE(p.refresh(stats));

  HxProperty copied(p);
  EXPECT_EQ(copied.objectvalue(), nullptr);
  EXPECT_EQ(S(copied.value()), "0");
  EXPECT_FALSE(copied.refresh(stats));
  HxProperty assigned(2, "other", "x");
  assigned = p;
  EXPECT_EQ(assigned.objectvalue(), nullptr);
  EXPECT_EQ(S(assigned.name()), "lock");

  // Copying into a property keeps its own value object.
  HxValue* own = p.objectvalue();
  p = HxProperty(3, "g", "v");
  EXPECT_EQ(p.objectvalue(), own);
  EXPECT_EQ(S(p.resname()), "global.g");

  // Handing over the object it already holds keeps it alive.
  p.value(own);
  ASSERT_EQ(p.objectvalue(), own);
  EXPECT_EQ(S(p.fullname()), "global.g=watchdog 30");

  std::ostringstream out;
  out << p;
  EXPECT_EQ(out.str(), "global.g=watchdog 30");

  // A composed text with blanks or line breaks is quoted or braced.
  HxProperty q;
  q.fullname("host.q=value 'a b'");
  EXPECT_EQ(S(q.fullname()), "host.q=value 'a b'");
  q.fullname("host.q=value {a\nb}");
  EXPECT_EQ(S(q.fullname()), "host.q=value {a\nb}");
  EXPECT_EQ(S(q.value()), "a\nb");

  // Composed texts that would split the item or cut the token are quoted.
  struct Row {
    char const* item;
    char const* composed;
    char const* full;
  } const rows[] = {
      {"host.q=value {a,b}", "a,b", "host.q=value 'a,b'"},
      {"host.q=value \"it's\"", "it's", "host.q=value 'it\\'s'"},
      {"host.q=value 'a \\\\ b'", "a \\ b", "host.q=value 'a \\\\ b'"},
      {"host.q=value f(x)", "f", "host.q=value f"},
  };
  for (auto const& r : rows) {
    HxProperty one{HxString(r.item)};
    EXPECT_EQ(S(one.value()), r.composed) << r.item;
    EXPECT_EQ(S(one.fullname()), r.full) << r.item;
    HxPropertyList list;
    list.revert(one.fullname() + "," + one.fullname());
    ASSERT_EQ(list.length(), 2) << r.item;
    EXPECT_EQ(S(list.get(1)->value()), r.composed) << r.item;
  }
}

// ---- record forms ---------------------------------------------------------------

TEST(HxPropertyPack, ValueGoesFirstOnTheWireAndInXML) {
  HxProperty p(2, "a", "b");
  EXPECT_EQ(packed(p), hex("00 00 00 01"
                           "00 02 00 03 00 00 00 01 62"
                           "00 01 00 03 00 00 00 01 61"
                           "00 03 00 01 00 00 00 02"));
  EXPECT_EQ(xml_of(p),
            "<version>1</version>\n<object type = 'property'>\n"
            "\t<value>b</value>\n\t<name>a</name>\n\t<cls>2</cls>\n</object>");

  HxProperty back;
  ASSERT_EQ(unpack(back, packed(p)), 0);
  EXPECT_EQ(S(back.fullname()), "host.a=b");
  HxProperty backx;
  ASSERT_EQ(unpack_xml(backx, xml_of(p)), 0);
  EXPECT_EQ(S(backx.fullname()), "host.a=b");
}

TEST(HxPropertyPack, ContainersRoundTripAndKeepTheirTexts) {
  char const* text = "host.site=north,global.motto='a, b',host.tarv_version=8.1-0,host.q='it\\'s'";
  HxPropertyHash h;
  h.revert(text);
  ASSERT_EQ(h.count(), 4);

  HxPropertyHash hb, hx;
  ASSERT_EQ(unpack(hb, packed(h)), 0);
  ASSERT_EQ(unpack_xml(hx, xml_of(h)), 0);
  for (HxPropertyHash* c : {&hb, &hx}) {
    ASSERT_EQ(c->count(), 4);
    EXPECT_EQ(S(c->get("global.motto")->value()), "a, b");
    EXPECT_EQ(S(c->get("host.q")->value()), "it's");
    EXPECT_EQ(S(c->get("host.tarv_version")->fullname()), "host.tarv_version=8.1-0");
  }

  HxPropertyList l;
  l.revert(text);
  HxPropertyList lb, lx;
  ASSERT_EQ(unpack(lb, packed(l)), 0);
  ASSERT_EQ(unpack_xml(lx, xml_of(l)), 0);
  EXPECT_EQ(S(lb.convert()), text);
  EXPECT_EQ(S(lx.convert()), text);
  EXPECT_EQ(lb.type(), 91);
  EXPECT_EQ(hb.type(), 92);
}

// ---- containers -------------------------------------------------------------------

TEST(HxPropertyContainers, HashKeysReplaceCopyAndLend) {
  HxPropertyHash h;
  h.revert("host.a=1,host.a=2,global.a=3,host.lock=watchdog 5,nothing");
  ASSERT_EQ(h.count(), 4);
  EXPECT_EQ(S(h.get("host.a")->value()), "2");
  EXPECT_EQ(S(h.get("global.a")->value()), "3");
  ASSERT_NE(h.get("unknown."), nullptr);
  ASSERT_NE(h.get("host.lock")->objectvalue(), nullptr);

  // A text of the hash reads back to the same hash, whatever the slot order.
  HxPropertyHash again;
  again.revert(h.convert());
  ASSERT_EQ(again.count(), 4);
  for (char const* key : {"host.a", "global.a", "host.lock", "unknown."})
    EXPECT_EQ(S(again.get(key)->fullname()), S(h.get(key)->fullname())) << key;

  // Copies carry the value texts but no value objects.
  HxPropertyHash c(h);
  HxPropertyHash d;
  d.copy(h);
  for (HxPropertyHash* x : {&c, &d}) {
    ASSERT_EQ(x->count(), 4);
    EXPECT_EQ(x->get("host.lock")->objectvalue(), nullptr);
    EXPECT_EQ(S(x->get("host.lock")->value()), "1");
    EXPECT_EQ(S(x->get("host.a")->value()), "2");
  }

  // values() lends the hash's own elements.
  HxPropertyList lent;
  lent.append(new HxProperty(2, "gone", "x"));
  h.values(lent);
  ASSERT_EQ(lent.length(), 4);
  bool found = false;
  for (int i = 0; i < lent.length(); ++i) found |= lent.get(i) == h.get("global.a");
  EXPECT_TRUE(found);
  lent.forget();

  h.revert("");
  EXPECT_EQ(h.count(), 0);
  EXPECT_EQ(S(h.convert()), "");
}

TEST(HxPropertyContainers, ListKeepsOrderAndFindsBareNames) {
  HxPropertyList l;
  l.revert("host.tarv_version=8.1-0, ,global.tarv_version=9,host.lock=watchdog 5");
  ASSERT_EQ(l.length(), 4);
  EXPECT_EQ(S(l.convert()), "host.tarv_version=8.1-0,unknown.=,global.tarv_version=9,host.lock=watchdog 5");
  EXPECT_EQ(S(l.simpleconvert()), "host.tarv_version=8.1-0,unknown.=,global.tarv_version=9,host.lock=1");
  EXPECT_EQ(l.find("tarv_version"), l.get(0));
  EXPECT_EQ(l.find("host.tarv_version"), nullptr);
  EXPECT_EQ(l.find("absent"), nullptr);
  l.revert("host.x=1");
  EXPECT_EQ(l.length(), 1);
}

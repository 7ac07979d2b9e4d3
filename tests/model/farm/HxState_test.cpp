#include "model/farm/HxState.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "model/job/JobTestUtil.h"

TEST(HxState, CodesNamesAndPredicates) {
  struct Row {
    int code;
    char const* name;
    bool active, registering, down;
  } const rows[] = {
      {0, "none", false, false, false},     {1, "active", true, false, false},
      {2, "panic", false, false, false},    {3, "registering", false, true, false},
      {257, "down", false, false, true},    {4, "none", false, false, false},
      {-1, "none", false, false, false},    {256, "none", false, false, false},
  };
  for (auto const& r : rows) {
    HxState st(r.code);
    EXPECT_EQ(S(st.value()), r.name) << r.code;
    EXPECT_EQ(st.integervalue(), r.code);
    EXPECT_EQ(st.active(), r.active) << r.code;
    EXPECT_EQ(st.registering(), r.registering) << r.code;
    EXPECT_EQ(st.down(), r.down) << r.code;
    std::ostringstream out;
    out << st;
    EXPECT_EQ(out.str(), r.name);

    // The code travels unchanged, also when it has no name.
    HxState back, backx;
    ASSERT_EQ(unpack(back, packed(st)), 0);
    ASSERT_EQ(unpack_xml(backx, xml_of(st)), 0);
    EXPECT_EQ(back.integervalue(), r.code);
    EXPECT_EQ(backx.integervalue(), r.code);
  }
  HxState down(257);
  EXPECT_EQ(packed(down), hex("00 00 00 01 00 01 00 01 00 00 01 01"));
  EXPECT_EQ(xml_of(down), "<version>1</version>\n<object type = 'state'>\n\t<value>257</value>\n</object>");
}

TEST(HxState, NamesParseExactly) {
  struct Row {
    char const* name;
    int code;
  } const rows[] = {{"down", 257}, {"active", 1}, {"panic", 2}, {"registering", 3}, {"none", 0},
                    {"Down", 0},   {"", 0},       {"down ", 0}, {"activ", 0},       {"257", 0}};
  for (auto const& r : rows) {
    EXPECT_EQ(HxState(HxString(r.name)).integervalue(), r.code) << r.name;
    HxState st(5);
    st = HxString(r.name);
    EXPECT_EQ(st.integervalue(), r.code) << r.name;
    HxState c(9);
    c.copy(HxString(r.name));
    EXPECT_EQ(c.integervalue(), r.code) << r.name;
  }
  HxState a(4), b;
  b = a;
  EXPECT_EQ(HxState(b).integervalue(), 4);
}

TEST(HxHostStats, EveryFieldTravels) {
  HxHostStats st;
  st.macaddress(HxMacAddress(HxString("0a:1b:2c:3d:4e:5f")));
  st.user_load(1);
  st.system_load(-2);
  st.user_memory(2147483647);
  st.system_memory(4);
  st.user_swap(5);
  st.system_swap(-2147483647 - 1);
  EXPECT_EQ(packed(st), hex("00 00 00 01"
                            "00 01 00 04 00 00 00 9B 00 00 00 19"  // MAC address record, 25 bytes
                            "00 01 00 03 00 00 00 11"
                            "30 41 3A 31 42 3A 32 43 3A 33 44 3A 34 45 3A 35 46"
                            "00 02 00 01 00 00 00 01"
                            "00 03 00 01 FF FF FF FE"
                            "00 04 00 01 7F FF FF FF"
                            "00 05 00 01 00 00 00 04"
                            "00 06 00 01 00 00 00 05"
                            "00 07 00 01 80 00 00 00"));
  std::string x = xml_of(st);
  EXPECT_NE(x.find("<object type = 'host_stats'>\n\t<mac_address>"), std::string::npos) << x;
  EXPECT_NE(x.find("<user_load>1</user_load>\n\t<system_load>-2</system_load>\n\t<user_memory>2147483647"),
            std::string::npos) << x;

  HxHostStats back, backx;
  ASSERT_EQ(unpack(back, packed(st)), 0);
  ASSERT_EQ(unpack_xml(backx, x), 0);
  for (HxHostStats const* b : {&back, &backx}) {
    EXPECT_EQ(S(b->macaddress().value()), "0A:1B:2C:3D:4E:5F");
    EXPECT_EQ(b->user_load(), 1);
    EXPECT_EQ(b->system_load(), -2);
    EXPECT_EQ(b->user_memory(), 2147483647);
    EXPECT_EQ(b->system_memory(), 4);
    EXPECT_EQ(b->user_swap(), 5);
    EXPECT_EQ(b->system_swap(), -2147483647 - 1);
  }
  HxHostStats c(st);
  EXPECT_EQ(c.system_swap(), st.system_swap());
  EXPECT_EQ(S(c.macaddress().value()), "0A:1B:2C:3D:4E:5F");
}

#include "model/farm/HxAdmin.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "model/farm/HxSupe.h"
#include "model/job/JobTestUtil.h"

namespace {

// The field number and kind of each top-level record of a packed object.
std::vector<std::pair<int, int>> records(std::string const& bytes) {
  std::vector<std::pair<int, int>> out;
  size_t at = 4;
  auto u32 = [&](size_t i) {
    auto const* p = reinterpret_cast<unsigned char const*>(bytes.data() + i);
    return (size_t{p[0]} << 24) | (size_t{p[1]} << 16) | (size_t{p[2]} << 8) | size_t{p[3]};
  };
  while (at + 4 <= bytes.size()) {
    int tag = (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
    int kind = (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
    out.emplace_back(tag, kind);
    at += 4;
    switch (kind) {
      case 1: case 5: at += 4; break;
      case 3: at += 4 + u32(at); break;
      case 4: at += 8 + u32(at + 4); break;
      case 7: at += 8; break;
      default: at += 1; break;
    }
  }
  return out;
}

HxAdminOrder sample_order() {
  HxAdminOrder o;
  o.filters().append(new HxFilter("user", "bob"));
  o.lock("L");
  o.action(3);
  o.value(5);
  o.username("alice");
  o.userdomain("farm");
  o.userlist().append(new HxString("a"));
  o.method("set");
  o.group("fx");
  o.password("pw");
  HxStringList w;
  w.append(new HxString("node1"));
  o.workers(w);
  return o;
}

TEST(HxAdminOrder, RecordOrderAndSharedTags) {
  HxAdminOrder o = sample_order();
  std::vector<std::pair<int, int>> const expected = {{1, 4}, {2, 3}, {3, 1}, {2, 1}, {3, 3}, {4, 3},
                                                     {5, 4}, {6, 3}, {7, 3}, {8, 4}, {9, 3}, {10, 4}};
  EXPECT_EQ(records(packed(o)), expected);
  // Part of the bytes: lock "L", action 3, value 5, user "alice".
  EXPECT_NE(packed(o).find(hex("00 02 00 03 00 00 00 01 4C | 00 03 00 01 00 00 00 03"
                               "00 02 00 01 00 00 00 05 | 00 03 00 03 00 00 00 05 61 6C 69 63 65")),
            std::string::npos);
  expect_round_trip(o);
  HxAdminOrder back;
  unpack(back, packed(o));
  EXPECT_EQ(S(back.lock()), "L");
  EXPECT_EQ(back.action(), 3);
  EXPECT_EQ(back.value(), 5);
  EXPECT_EQ(S(back.username()), "alice");
  EXPECT_TRUE(back.password().secure());
  std::string const x = xml_of(o);
  EXPECT_NE(x.find("<lock>L</lock>"), std::string::npos);
  EXPECT_NE(x.find("<value>5</value>"), std::string::npos);
  EXPECT_EQ(HxAdminOrder().value(), 0);
}

TEST(HxAdminOrder, WorkersAreCopied) {
  HxStringList w;
  w.append(new HxString("a"));
  HxAdminOrder o;
  HxStringList& mine = o.workers(w);
  EXPECT_EQ(&mine, &o.workers());
  w.append(new HxString("b"));
  *w.get(0) = "changed";
  ASSERT_EQ(o.workers().length(), 1);
  EXPECT_EQ(S(*o.workers().get(0)), "a");
}

TEST(HxAdminResult, BothListsOfFieldFiveComeBack) {
  HxAdminResult r;
  r.hostnames().append(new HxHostname());
  r.callbackids().append(new HxCallbackId(4, 2));
  r.jobids().append(new HxJobId(9));
  r.userlist().append(new HxString("alice"));
  r.userlist().append(new HxString("bob"));
  expect_round_trip(r);
  HxAdminResult back;
  unpack(back, packed(r));
  EXPECT_EQ(back.hostnames().length(), 1);
  ASSERT_EQ(back.callbackids().length(), 1);
  EXPECT_EQ(S(back.callbackids().get(0)->value()), "4^2");
  ASSERT_EQ(back.userlist().length(), 2);
  EXPECT_EQ(S(*back.userlist().get(1)), "bob");

  // The user list first, then the host names: each still finds its list.
  std::string const users = hex("00 05 00 04 00 00 00 37 00 00 00 11 | 00 01 00 01 00 00 00 01"
                                "00 0A 00 03 00 00 00 01 7A");
  std::string const hosts = hex("00 05 00 04 00 00 00 40 00 00 00 08 | 00 01 00 01 00 00 00 00");
  HxAdminResult swapped;
  ASSERT_EQ(unpack(swapped, hex("00 00 00 01") + users + hosts + hex("00 06 00 04 00 00 00 C6 00 00 00 08"
                                                                       "00 01 00 01 00 00 00 00")),
            0);
  ASSERT_EQ(swapped.userlist().length(), 1);
  EXPECT_EQ(S(*swapped.userlist().get(0)), "z");
  EXPECT_EQ(swapped.hostnames().length(), 0);
}

TEST(HxSupe, DefaultsCopyAndForms) {
  HxSupe s;
  EXPECT_EQ(s.id(), -1);
  EXPECT_EQ(s.flags(), 0);
  EXPECT_EQ(s.total(), 0);
  EXPECT_EQ(s.state().integervalue(), 0);
  EXPECT_EQ(s.lastsync().value(), 0);
  s.name("supe1");
  s.address(HxAddress(0x0A000001));
  s.state(HxState(257));
  s.flags(6);
  s.id(3);
  s.lastsync(HxTime(99));
  s.total(12);
  s.domain("main");
  s.region("eu");
  std::string const before = packed(s);
  s.clear();
  EXPECT_EQ(packed(s), before);
  std::vector<std::pair<int, int>> const expected = {{1, 3}, {2, 4}, {3, 4}, {4, 1}, {5, 1},
                                                     {6, 4}, {7, 1}, {8, 3}, {9, 3}};
  EXPECT_EQ(records(before), expected);
  expect_round_trip(s);
  HxSupe c;
  c.copy(s);
  EXPECT_EQ(packed(c), before);
  HxSupeList list;
  list.append(new HxSupe(s));
  expect_round_trip(list);
}

}  // namespace

#include "model/farm/HxAdmin.h"

#include <gtest/gtest.h>

#include <string>

#include "model/job/JobTestUtil.h"

TEST(HxAdminOrder, SharedFieldNumbersKeepBothRecords) {
  HxAdminOrder o;
  o.lock("L");
  o.action(3);
  o.value(5);
  o.username("u");
  o.method("m");
  o.userlist().append(new HxString("a"));
  EXPECT_EQ(packed(o), hex("00 00 00 01"
                           "00 01 00 04 00 00 00 15 00 00 00 08 00 01 00 01 00 00 00 00"  // filters
                           "00 02 00 03 00 00 00 01 4C"                                   // lock
                           "00 03 00 01 00 00 00 03"                                      // action
                           "00 02 00 01 00 00 00 05"                                      // value
                           "00 03 00 03 00 00 00 01 75"                                   // user name
                           "00 04 00 03 00 00 00 00"                                      // user domain
                           "00 05 00 04 00 00 00 37 00 00 00 11"
                           "00 01 00 01 00 00 00 01 00 0A 00 03 00 00 00 01 61"           // user list
                           "00 06 00 03 00 00 00 01 6D"                                   // method
                           "00 07 00 03 00 00 00 00"                                      // group
                           "00 08 00 04 00 00 00 33 00 00 00 08 00 01 00 01 00 00 00 00"  // config
                           "00 09 00 03 00 00 00 00"                                      // password
                           "00 0A 00 04 00 00 00 37 00 00 00 08 00 01 00 01 00 00 00 00"));  // workers

  HxAdminOrder back, backx;
  ASSERT_EQ(unpack(back, packed(o)), 0);
  ASSERT_EQ(unpack_xml(backx, xml_of(o)), 0);
  for (HxAdminOrder const* b : {&back, &backx}) {
    EXPECT_EQ(S(b->lock()), "L");
    EXPECT_EQ(b->action(), 3);
    EXPECT_EQ(b->value(), 5);
    EXPECT_EQ(S(b->username()), "u");
    EXPECT_EQ(S(b->method()), "m");
    ASSERT_EQ(b->userlist().length(), 1);
    EXPECT_EQ(S(*b->userlist().get(0)), "a");
  }
  EXPECT_NE(xml_of(o).find("\t<value>5</value>\n\t<user_name>u</user_name>\n"), std::string::npos);
}

TEST(HxAdminOrder, PasswordStaysSecureThroughCopiesAndReads) {
  HxAdminOrder order;
  order.password(HxString("s3cret"));
  HxAdminOrder copied(order);
  HxAdminOrder assigned;
  assigned = order;
  order.pack();
  HxAdminOrder read;
  ASSERT_EQ(read.unpack(order.packContents(), order.packSize()), 0);
  for (HxAdminOrder const* o : {&order, &copied, &assigned, &read}) {
    EXPECT_EQ(o->password().secure(), 1);
    EXPECT_STREQ(o->password().value(), "s3cret");
  }
  EXPECT_EQ(HxAdminOrder().password().secure(), 1);
}

TEST(HxAdminOrder, WorkersAreCopied) {
  HxStringList given;
  given.append(new HxString("w1"));
  HxAdminOrder o;
  HxStringList& held = o.workers(given);
  given.append(new HxString("w2"));
  EXPECT_EQ(&held, &o.workers());
  ASSERT_EQ(o.workers().length(), 1);
  EXPECT_EQ(S(*o.workers().get(0)), "w1");
}

TEST(HxAdminResult, HostNamesCallbacksAndUsersComeBack) {
  HxAdminResult r;
  r.hostnames().append(new HxHostname(HxString("h1"), 5));
  r.callbackids().append(new HxCallbackId());
  r.userlist().append(new HxString("alice"));
  r.userlist().append(new HxString("bob"));
  HxAdminResult back, backx;
  ASSERT_EQ(unpack(back, packed(r)), 0);
  ASSERT_EQ(unpack_xml(backx, xml_of(r)), 0);
  for (HxAdminResult const* b : {&back, &backx}) {
    ASSERT_EQ(b->hostnames().length(), 1);
    EXPECT_EQ(S(b->hostnames().get(0)->host()), "h1");
    EXPECT_EQ(b->callbackids().length(), 1);
    ASSERT_EQ(b->userlist().length(), 2);
    EXPECT_EQ(S(*b->userlist().get(1)), "bob");
  }
  // The user list travels last, after the callback ids, under field 5.
  std::string bytes = packed(r);
  EXPECT_EQ(bytes.substr(bytes.size() - 44, 12), hex("00 05 00 04 00 00 00 37 00 00 00 20"));
}

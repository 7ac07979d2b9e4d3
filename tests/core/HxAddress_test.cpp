#include "core/HxAddress.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/TestUtil.h"

namespace {

using hxtest::S;

std::string bytes(HxPack& p) {
  p.pack();
  return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
}

std::string xml(HxPack& p) {
  p.packXML();
  return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
}

// ---- IPv4 ----

TEST(HxAddressText, ValueStringAndHexForms) {
  HxAddress a(HxString("192.168.1.5"));
  EXPECT_EQ(a.value(), 3232235781u);
  EXPECT_FALSE(a.blank());
  EXPECT_EQ(S(a.stringvalue()), "192.168.1.5");
  EXPECT_EQ(S(a.hexvalue()), "C0.A8.01.05");
  EXPECT_EQ(S(HxAddress(HxString("10.0.0.1")).hexvalue()), "0A.00.00.01");
}

TEST(HxAddressText, LenientParsing) {
  EXPECT_EQ(S(HxAddress(HxString("10.1")).stringvalue()), "10.1.0.0");
  EXPECT_EQ(S(HxAddress(HxString("256.1.1.1")).stringvalue()), "0.1.1.1");
  EXPECT_EQ(S(HxAddress(HxString("300.1..4")).stringvalue()), "44.1.0.4");
  HxAddress empty(HxString(""));
  EXPECT_EQ(empty.value(), 0u);
  EXPECT_FALSE(empty.blank());
  // Too many groups: copy keeps the address, the constructor gives a blank one.
  HxAddress kept(HxString("1.2.3.4"));
  kept.copy(HxString("1.2.3.4.5"));
  EXPECT_EQ(S(kept.stringvalue()), "1.2.3.4");
  HxAddress refused(HxString("1.2.3.4."));
  EXPECT_TRUE(refused.blank());
  EXPECT_EQ(refused.value(), 0u);
  kept.wipe();
  EXPECT_TRUE(kept.blank());
}

TEST(HxAddressText, StrictDottedQuad) {
  EXPECT_TRUE(HxAddress::isaddress("010.0.0.1"));
  EXPECT_TRUE(HxAddress::isaddress("255.255.255.255"));
  for (char const* bad : {"1.2.3", "1.2.3.4.", "1.2.3.256", "", ".1.2.3", "1..2.3", "1.2.3.4 ", "a.b.c.d", "1.2.3.4.5"})
    EXPECT_FALSE(HxAddress::isaddress(bad)) << bad;
  EXPECT_FALSE(HxAddress::isaddress(HxString("1.2.3.4\0", 8)));
  EXPECT_FALSE(HxAddress::isaddress("1.2.3.00000000000000000000256"));
}

TEST(HxAddressResolve, LoopbackAndFailure) {
  HxAddress a = HxAddress::hostname("127.0.0.1");
  EXPECT_FALSE(a.blank());
  EXPECT_EQ(S(a.stringvalue()), "127.0.0.1");
  EXPECT_TRUE(HxAddress::hostname(HxString("127.0.0.1\0evil", 14)).blank());
  HxAddress bad = HxAddress::hostname("no such host.invalid");
  EXPECT_TRUE(bad.blank());
  EXPECT_EQ(bad.value(), 0u);
}

TEST(HxAddressForms, BinaryAndXmlLeaveTheBlankFlagAlone) {
  HxAddress a(HxString("192.168.1.5"));
  EXPECT_EQ(bytes(a), std::string("\x00\x00\x00\x01\x00\x01\x00\x01\xC0\xA8\x01\x05", 12));
  EXPECT_EQ(xml(a), "<version>1</version>\n<object type = 'address'>\n\t<value>-1062731515</value>\n</object>");
  HxAddress ten(HxString("10.0.0.1"));
  std::string rec = bytes(ten);
  HxAddress fresh;
  ASSERT_EQ(fresh.unpack(rec.data(), static_cast<int>(rec.size())), 0);
  EXPECT_EQ(S(fresh.stringvalue()), "10.0.0.1");
  EXPECT_TRUE(fresh.blank());
  std::string doc = "<pack>" + xml(a) + "</pack>";
  HxAddress back;
  ASSERT_EQ(back.unpackXML(doc.data(), static_cast<int>(doc.size())), 0);
  EXPECT_EQ(back.value(), 3232235781u);
  EXPECT_TRUE(back.blank());
}

// ---- MAC ----

TEST(HxMacAddressText, Normalising) {
  EXPECT_EQ(S(HxMacAddress(HxString("a:b:c:d:e:f")).value()), "0A:0B:0C:0D:0E:0F");
  EXPECT_EQ(S(HxMacAddress(HxString("abc:1")).value()), "AB:01");
  EXPECT_EQ(S(HxMacAddress(HxString("aa::zz:")).value()), "AA:00:00:00");
  HxMacAddress zero(HxString("0:0:0:0:0:0"));
  EXPECT_EQ(zero.text().length(), 0);
  EXPECT_EQ(S(zero.value()), "00:00:00:00:00:00");
  EXPECT_TRUE(zero.blank());
  EXPECT_TRUE(HxMacAddress().blank());
  EXPECT_FALSE(HxMacAddress(HxString("00:00:00:00:00:01")).blank());
  HxMacAddress m(HxString("11:22:33:44:55:66"));
  m.copy(m.text());
  EXPECT_EQ(S(m.value()), "11:22:33:44:55:66");
  m.copy(HxString(""));
  EXPECT_TRUE(m.blank());
}

TEST(HxMacAddressText, IsAddress) {
  EXPECT_TRUE(HxMacAddress::isaddress("AA:BB:CC:DD:EE:FF"));
  EXPECT_TRUE(HxMacAddress::isaddress("aa:bb:cc:dd:ee:ff "));
  EXPECT_TRUE(HxMacAddress::isaddress("0FF:1:2:3:4:5"));
  for (char const* bad : {"AA:BB:CC:DD:EE:FF  ", "AA:BB:CC:DD:EE", "AA:BB:CC:DD:EE:", "", "AA:BB:CC:DD::FF",
                          "100:BB:CC:DD:EE:FF", "AA-BB-CC-DD-EE-FF", "AA:BB:CC:DD:EE:FFF"})
    EXPECT_FALSE(HxMacAddress::isaddress(bad)) << bad;
}

TEST(HxMacAddressForms, DecodingKeepsTheTextAsItComes) {
  HxMacAddress m(HxString("aa:bb:cc:dd:ee:ff"));
  EXPECT_EQ(bytes(m), std::string("\x00\x00\x00\x01\x00\x01\x00\x03\x00\x00\x00\x11" "AA:BB:CC:DD:EE:FF", 29));
  HxMacAddress raw;
  raw.pack();
  std::string empty(raw.packContents(), static_cast<size_t>(raw.packSize()));
  EXPECT_EQ(empty, std::string("\x00\x00\x00\x01\x00\x01\x00\x03\x00\x00\x00\x00", 12));
  std::string odd("\x00\x00\x00\x01\x00\x01\x00\x03\x00\x00\x00\x03" "a:b", 15);
  HxMacAddress back;
  ASSERT_EQ(back.unpack(odd.data(), static_cast<int>(odd.size())), 0);
  EXPECT_EQ(S(back.value()), "a:b");
}

// ---- host names ----

TEST(HxHostnameText, ValueAndAssignment) {
  EXPECT_EQ(S(HxHostname("farm", 0).value()), "farm");
  EXPECT_EQ(S(HxHostname("farm", 50001).value()), "farm:50001");
  HxHostname h("x", 1, 7);
  h = HxString("farm:50001");
  EXPECT_EQ(S(h.host()), "farm");
  EXPECT_EQ(h.port(), 50001);
  EXPECT_EQ(h.id(), 7);
  h = HxString("farm");
  EXPECT_EQ(h.port(), 0);
  h.value(HxString("a:b:c"));
  EXPECT_EQ(S(h.host()), "a");
  EXPECT_EQ(h.port(), 0);
  h.value(HxString("farm:"));
  EXPECT_EQ(S(h.host()), "farm");
  EXPECT_EQ(h.port(), 0);
  HxHostname whole(HxString("farm:50001"));
  EXPECT_EQ(S(whole.host()), "farm:50001");
  EXPECT_EQ(whole.port(), 0);
  EXPECT_EQ(whole.id(), -1);
  EXPECT_EQ(HxHostname().id(), -1);
  EXPECT_TRUE(HxHostname().host().isundef());
}

TEST(HxHostnameForms, ListRoundTrip) {
  HxHostnameList list;
  list.append(new HxHostname("farm", 50001, 3));
  list.append(new HxHostname("b", 0));
  std::string rec = bytes(list);
  EXPECT_EQ(rec.substr(0, 12), std::string("\x00\x00\x00\x01\x00\x01\x00\x01\x00\x00\x00\x02", 12));
  HxHostnameList back;
  ASSERT_EQ(back.unpack(rec.data(), static_cast<int>(rec.size())), 0);
  ASSERT_EQ(back.length(), 2);
  EXPECT_EQ(S(back.get(0)->value()), "farm:50001");
  EXPECT_EQ(back.get(0)->id(), 3);
  EXPECT_EQ(back.get(1)->id(), -1);
  EXPECT_EQ(back.type(), 64);
  EXPECT_EQ(S(back.typeXML()), "host_name_list");
  HxMacAddressList macs;
  EXPECT_EQ(macs.type(), 177);
  EXPECT_EQ(S(macs.typeXML()), "macaddress_list");
  HxHostname h("farm", 50001, 3);
  EXPECT_EQ(xml(h),
            "<version>1</version>\n<object type = 'host_name'>\n\t<host>farm</host>\n\t<port>50001</port>\n"
            "\t<id>3</id>\n</object>");
}

}  // namespace

#include "config/HxOption.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HxOption, MatchIsAnExactPrefix) {
  HxOption o(7, "priority");
  EXPECT_EQ(o.match("pri"), 3);
  EXPECT_EQ(o.match("priority"), 8);
  EXPECT_EQ(o.match("priorityx"), 0);
  EXPECT_EQ(o.match(""), 0);
  EXPECT_EQ(o.match("Pri"), 0);
  EXPECT_EQ(o.match("prx"), 0);
  EXPECT_EQ(HxOption().match("a"), 0);
}

TEST(HxOption, FieldsAndCopy) {
  HxOption o(7, "priority");
  EXPECT_EQ(o.tag(), 7);
  EXPECT_EQ(o.exists(), 0);
  EXPECT_EQ(o.value().length(), 0);
  o.value("50");
  o.exists(1);
  HxOption c(o);
  EXPECT_EQ(c.tag(), 7);
  EXPECT_TRUE(c.name() == HxString("priority"));
  EXPECT_TRUE(c.value() == HxString("50"));
  EXPECT_EQ(c.exists(), 1);
  HxOption d;
  d = o;
  EXPECT_TRUE(d.value() == HxString("50"));
  EXPECT_EQ(d.type(), 53);
  EXPECT_TRUE(d.typeXML() == HxString("option"));
}

TEST(HxOptionList, TravelsAsEmptyRecords) {
  HxOptionList list;
  list.append(new HxOption(1, "a"));
  list.append(new HxOption(2, "b"));
  list.append(new HxOption(3, "c"));
  list.get(0)->value("x");
  list.pack();
  std::string bytes(list.packContents(), static_cast<size_t>(list.packSize()));
  static char const expected[] =
      "\x00\x00\x00\x01"
      "\x00\x01\x00\x01" "\x00\x00\x00\x03"
      "\x00\x0a\x00\x04" "\x00\x00\x00\x35" "\x00\x00\x00\x00"
      "\x00\x0a\x00\x04" "\x00\x00\x00\x35" "\x00\x00\x00\x00"
      "\x00\x0a\x00\x04" "\x00\x00\x00\x35" "\x00\x00\x00\x00";
  EXPECT_EQ(bytes, std::string(expected, sizeof expected - 1));

  HxOptionList back;
  ASSERT_EQ(back.unpack(bytes.data(), static_cast<int>(bytes.size())), 0);
  ASSERT_EQ(back.length(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(back.get(i)->tag(), 0);
    EXPECT_EQ(back.get(i)->name().length(), 0);
    EXPECT_EQ(back.get(i)->exists(), 0);
  }
  EXPECT_EQ(back.type(), 54);
  EXPECT_TRUE(back.typeXML() == HxString("option_list"));
}

}  // namespace

#include "model/job/HxVariable.h"

#include <gtest/gtest.h>

#include <sstream>

#include "model/job/JobTestUtil.h"

namespace {

TEST(HxVariableText, FullNamesWritten) {
  struct Row {
    int pid;
    int cls;
    char const* name;
    char const* fullname;
  } const rows[] = {
      {12, 1, "frames", "12-job.frames"},     {12, 2, "frames", "global.frames"},
      {-1, 2, "frames", "global.frames"},     {12, 0, "frames", "12-unknown.frames"},
      {-1, 256, "frames", "-1-host.frames"},  {3, 257, "a.b", "3-scoped.a.b"},
      {3, 258, "", "3-unknown."},
  };
  for (auto const& r : rows) {
    HxVariable v(r.pid);
    v.cls(r.cls);
    v.name(r.name);
    EXPECT_EQ(S(v.fullname()), r.fullname);
  }
}

TEST(HxVariableText, FullNamesParsed) {
  // The variable starts with pid 99, class 3 and name "old".
  struct Row {
    char const* text;
    int pid;
    int cls;
    char const* name;
  } const rows[] = {
      {"12-job.frames", 12, 1, "frames"},
      {"global.frames", 99, 2, "frames"},
      {"12-host.a.b", 12, 256, "a.b"},
      {"12-job", 12, 1, ""},
      {"12.frames", 12, 0, ""},
      {"frames", 99, 0, ""},
      {"-1-host.frames", 99, 0, "1-host.frames"},
      {"7-sco-ped.x", 7, 0, "x"},
      {"", 99, 0, ""},
      {"12-", 12, 0, ""},
      {"scoped.", 99, 257, ""},
      {"job-x.y", 99, 1, "x.y"},
  };
  for (auto const& r : rows) {
    HxVariable v(99);
    v.cls(3);
    v.name("old");
    v.value("value stays");
    v.fullname(r.text);
    EXPECT_EQ(v.pid(), r.pid) << r.text;
    EXPECT_EQ(v.cls(), r.cls) << r.text;
    EXPECT_EQ(S(v.name()), r.name) << r.text;
    EXPECT_EQ(S(v.value()), "value stays") << r.text;
  }
}

TEST(HxVariableText, ValueConstructorAndStreaming) {
  HxVariable text(HxString("the value"));
  EXPECT_EQ(S(text.value()), "the value");
  EXPECT_EQ(S(text.name()), "");
  EXPECT_EQ(text.pid(), -1);
  text.name("n");
  std::ostringstream out;
  out << text;
  EXPECT_EQ(out.str(), "the value");
}

TEST(HxVariableForms, RecordsListsAndHashesKeepEveryField) {
  HxVariable v(12);
  v.name("frames", 3);
  v.value("1-100 & <x>", 11);
  v.cls(1);
  v.lastupdate(HxTime(12345));
  EXPECT_EQ(S(v.name()), "fra");
  EXPECT_EQ(hex("00 00 00 01"
                "00 01 00 01 00 00 00 0C"
                "00 02 00 03 00 00 00 03 66 72 61"
                "00 03 00 03 00 00 00 0B 31 2D 31 30 30 20 26 20 3C 78 3E"
                "00 04 00 01 00 00 00 01"
                "00 05 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 30 39"),
            packed(v));
  EXPECT_NE(xml_of(v).find("<last_update>"), std::string::npos);

  HxVariableList list;
  list.append(new HxVariable(v));
  list.append(new HxVariable(HxString("other")));
  expect_round_trip(list);

  HxVariableHash hash;
  hash.set(new HxVariable(v), "12-job.frames");
  hash.set(new HxVariable(HxString("b")), "any key at all");
  for (int form = 0; form < 2; ++form) {
    HxVariableHash back;
    ASSERT_EQ(0, form == 0 ? unpack(back, packed(hash)) : unpack_xml(back, xml_of(hash)));
    ASSERT_EQ(back.count(), 2);
    ASSERT_NE(back.get("12-job.frames"), nullptr);
    EXPECT_EQ(packed(*back.get("12-job.frames")), packed(v));
    ASSERT_NE(back.get("any key at all"), nullptr);
    EXPECT_EQ(S(back.get("any key at all")->value()), "b");
  }
}

}  // namespace

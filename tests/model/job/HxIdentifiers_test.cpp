#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <sstream>

#include "model/job/HxCallbackId.h"
#include "model/job/HxIdText.h"
#include "model/job/HxJobId.h"
#include "model/job/HxVariableId.h"
#include "model/job/HxWorkId.h"
#include "model/job/JobTestUtil.h"

namespace {

template <class T>
std::string streamed(T const& id) {
  std::ostringstream out;
  out << id;
  return out.str();
}

// ---- text forms ----

// Numbers inside identifier texts read as atoi reads them.
TEST(HxIdentifierText, NumbersReadAsAtoi) {
  char const* const rows[] = {
      "0",          "12",           "-12",          "+7",          " \t\n\v\f\r9", "- 3",         "--3",
      "2147483647", "2147483648",   "-2147483648",  "-2147483649", "4294967297",        "9223372036854775807",
      "9223372036854775808", "-9223372036854775808", "-9223372036854775809", "99999999999999999999999", "",
      "x1",         "7b",           "3.2",          "\2405",       "0000000000000000000000042",
  };
  for (char const* r : rows) {
    HxString text(r);
    EXPECT_EQ(hx_id_text::int_from(text, 0), std::atoi(r)) << r;
    EXPECT_EQ(HxJobId(text).id(), std::atoi(r)) << r;
  }
  HxString embedded("1\0" "2", 3);
  EXPECT_EQ(hx_id_text::int_from(embedded, 0), 1);
}

TEST(HxJobId, TextBothWays) {
  struct Row {
    char const* text;
    int id, subid;
    char const* printed;
  } const rows[] = {
      {"12", 12, -1, "12"},      {"12.3", 12, 3, "12.3"},   {"12.*", 12, -2, "12.*"}, {"12.", 12, -1, "12"},
      {".5", 0, 5, "0.5"},       {"12.3.4", 12, 3, "12.3"}, {"abc", 0, -1, "0"},      {"12.x", 12, 0, "12.0"},
      {"12.**", 12, 0, "12.0"},  {"-1", -1, -1, "-1"},      {"12.-3", 12, -3, "12"},  {"", 0, -1, "0"},
      {" 7. 8", 7, 8, "7.8"},    {"7b.2", 7, 2, "7.2"},     {"3.2e", 3, 2, "3.2"},    {"12.-2", 12, -2, "12.*"},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxJobId j(55, 66);
    j.value(H(r.text));
    EXPECT_EQ(j.id(), r.id);
    EXPECT_EQ(j.subid(), r.subid);
    EXPECT_EQ(S(j.value()), r.printed);
    EXPECT_EQ(streamed(j), r.printed);
    HxJobId k{H(r.text)};
    EXPECT_EQ(k.id(), r.id);
    EXPECT_EQ(k.subid(), r.subid);
  }
  EXPECT_EQ(S(HxJobId().value()), "-1");
  EXPECT_EQ(S(HxJobId(12, 0).value()), "12.0");
  EXPECT_EQ(S(HxJobId(INT_MIN, INT_MAX).value()), "-2147483648.2147483647");
}

TEST(HxJobId, SidIsASignedRemainderAndNeverTraps) {
  struct Row {
    int id, n, sid;
  } const rows[] = {
      {17, 5, 2}, {-17, 5, -2}, {17, 1, 0}, {17, 0, 0}, {INT_MIN, -1, 0}, {INT_MIN, 0, 0},
      {INT_MIN, 7, INT_MIN % 7}, {5, -3, 2}, {-1, 100, -1},
  };
  for (auto const& r : rows) EXPECT_EQ(HxJobId(r.id).sid(r.n), r.sid) << r.id << " % " << r.n;
}

TEST(HxWorkId, TextBothWays) {
  struct Row {
    char const* text;
    int id;
    char const* name;
    char const* printed;
  } const rows[] = {
      {"12:a", 12, "a", "12:a"}, {"12", 12, "", "12"},       {"12:a:b", 12, "a:b", "12:a:b"},
      {":a", 0, "a", "0:a"},     {"12:", 12, "", "12"},      {"x:frame0001", 0, "frame0001", "0:frame0001"},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxWorkId w{H(r.text)};
    EXPECT_EQ(w.id(), r.id);
    EXPECT_EQ(S(w.name()), r.name);
    EXPECT_EQ(w.workid(), -1);
    EXPECT_EQ(S(w.value()), r.printed);
    EXPECT_EQ(streamed(w), r.printed);
  }
  // A second parse appends to the name and keeps the work number.
  HxWorkId w(1, "x");
  w.workid(9);
  w.value("12:a");
  w.value("13:b");
  EXPECT_EQ(w.id(), 13);
  EXPECT_EQ(S(w.name()), "xab");
  EXPECT_EQ(w.workid(), 9);
  w.value("14");
  EXPECT_EQ(S(w.value()), "14:xab");
}

TEST(HxCallbackId, TextBothWays) {
  struct Row {
    char const* text;
    int id, callid;
    char const* printed;
  } const rows[] = {
      {"12", 12, -1, "12"},  {"12^4", 12, 4, "12^4"}, {"12^*", 12, -2, "12^*"}, {"12^-1", 12, -1, "12"},
      {"12^", 12, -1, "12"}, {"-1^4", -1, 4, "-1^4"}, {"12^0", 12, 0, "12^0"},  {"12^-3", 12, -3, "12"},
      {"^7", 0, 7, "0^7"},   {"12^4^5", 12, 4, "12^4"}, {"12.3", 12, -1, "12"},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxCallbackId c(5, 5);
    c.value(H(r.text));
    EXPECT_EQ(c.id(), r.id);
    EXPECT_EQ(c.callid(), r.callid);
    EXPECT_EQ(S(c.value()), r.printed);
    EXPECT_EQ(streamed(c), r.printed);
  }
}

TEST(HxVariableId, ShortTextBothWays) {
  struct Row {
    char const* text;
    int pid;
    char const* name;
    char const* printed;
  } const rows[] = {
      {"12_frames", 12, "frames", "12_frames"}, {"12_a_b", 12, "a_b", "12_a_b"}, {"12", 12, "", "12"},
      {"12_-x", 12, "-x", "12_-x"},             {"_x", 0, "x", "0_x"},           {"12_", 12, "", "12"},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxVariableId v{H(r.text)};
    EXPECT_EQ(v.pid(), r.pid);
    EXPECT_EQ(S(v.name()), r.name);
    EXPECT_EQ(v.cls(), 0);
    EXPECT_EQ(S(v.value()), r.printed);
    EXPECT_EQ(streamed(v), r.printed);
  }
}

TEST(HxVariableId, FullNameBothWays) {
  struct Row {
    char const* text;
    int pid, cls;
    char const* name;
    char const* printed;
  } const rows[] = {
      {"12-job.frames", 12, 1, "frames", "12-job.frames"},
      {"global.frames", 77, 2, "frames", "77-global.frames"},
      {"12-host.a.b", 12, 256, "a.b", "12-host.a.b"},
      {"12-job", 12, 1, "", "12-job."},
      {"12.frames", 12, 0, "", "12-unknown."},
      {"frames", 77, 0, "", "77-unknown."},
      {"12-scoped.v", 12, 257, "v", "12-scoped.v"},
      {"12-Job.v", 12, 0, "v", "12-unknown.v"},
      {"-1-global.frames", 77, 0, "1-global.frames", "77-unknown.1-global.frames"},
      {"", 77, 0, "", "77-unknown."},
      {"12-", 12, 0, "", "12-unknown."},
      {"1a-job.x", 77, 0, "job.x", "77-unknown.job.x"},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxVariableId v(77, "old");
    v.cls(9);
    v.fullname(H(r.text));
    EXPECT_EQ(v.pid(), r.pid);
    EXPECT_EQ(v.cls(), r.cls);
    EXPECT_EQ(S(v.name()), r.name);
    EXPECT_EQ(S(v.fullname()), r.printed);
  }
  HxVariableId g(-1, "frames");
  g.clsstring("global");
  EXPECT_EQ(S(g.fullname()), "-1-global.frames");
  struct Word {
    char const* word;
    int cls;
  } const words[] = {{"job", 1}, {"global", 2}, {"host", 256}, {"scoped", 257}, {"Host", 0}, {"unknown", 0}, {"", 0}};
  for (auto const& w : words) {
    HxVariableId v;
    v.clsstring(H(w.word));
    EXPECT_EQ(v.cls(), w.cls) << w.word;
    EXPECT_EQ(S(v.clsstring()), w.cls ? w.word : "unknown");
  }
}

// ---- record forms ----

TEST(HxIdentifierRecords, GoldenBytes) {
  HxVariableId v(12, "fr");
  v.cls(257);
  EXPECT_EQ(packed(v), hex("00 00 00 01"
                           "00 01 00 01 00 00 00 0C"         // pid 12
                           "00 02 00 03 00 00 00 02 66 72"   // name "fr"
                           "00 03 00 01 00 00 01 01"));      // cls 257
  HxJobId j(12, -2);
  EXPECT_EQ(packed(j), hex("00 00 00 01 | 00 01 00 01 00 00 00 0C | 00 02 00 01 FF FF FF FE"));
  HxWorkId w(3, "a");
  w.workid(4);
  EXPECT_EQ(packed(w), hex("00 00 00 01 | 00 01 00 01 00 00 00 03 | 00 02 00 03 00 00 00 01 61"
                           "00 03 00 01 00 00 00 04"));
  HxCallbackId c(3, 4);
  EXPECT_EQ(packed(c), hex("00 00 00 01 | 00 01 00 01 00 00 00 03 | 00 02 00 01 00 00 00 04"));
  HxJobIdList list;
  list.append(new HxJobId(7, 1));
  EXPECT_EQ(packed(list), hex("00 00 00 01 | 00 01 00 01 00 00 00 01"
                              "00 0A 00 04 00 00 00 13 00 00 00 10"  // job id: type 19, 16 bytes
                              "  00 01 00 01 00 00 00 07 | 00 02 00 01 00 00 00 01"));
}

TEST(HxIdentifierRecords, XmlTags) {
  struct Row {
    HxPack* record;
    char const* tag;
    int type;
    char const* fields;
  };
  HxJobId j(1, 2);
  HxWorkId w(1, "n");
  HxCallbackId c(1, 2);
  HxVariableId v(1, "n");
  HxJobIdList jl;
  HxWorkIdList wl;
  HxCallbackIdList cl;
  HxVariableIdList vl;
  HxJobIdHash jh;
  Row const rows[] = {
      {&j, "job_id", 19, "id sub_id"},           {&w, "work_id", 59, "id name work_id"},
      {&c, "callback_id", 197, "id callid"},     {&v, "variable_id", 130, "pid name cls"},
      {&jl, "job_id_list", 18, ""},              {&wl, "work_id_list", 60, ""},
      {&cl, "callback_id_list", 198, ""},        {&vl, "variable_id_list", 131, ""},
      {&jh, "job_id_hash", 174, ""},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.tag);
    EXPECT_EQ(S(r.record->typeXML()), r.tag);
    EXPECT_EQ(r.record->type(), r.type);
    std::string x = xml_of(*r.record);
    std::istringstream names(r.fields);
    size_t at = 0;
    for (std::string name; names >> name;) {
      size_t next = x.find("<" + name + ">", at);
      EXPECT_NE(next, std::string::npos) << name << " in\n" << x;
      at = next;
    }
  }
}

TEST(HxIdentifierRecords, RoundTripFilledRecordsAndContainers) {
  HxJobId j(INT_MIN, 4);
  expect_round_trip(j);
  HxWorkId w(9, "frame <0001> & \"x\"");
  w.workid(INT_MAX);
  expect_round_trip(w);
  HxCallbackId c(-5, -2);
  expect_round_trip(c);
  HxVariableId v(3, "v'1");
  v.cls(256);
  expect_round_trip(v);

  HxJobIdList jl;
  HxWorkIdList wl;
  HxCallbackIdList cl;
  HxVariableIdList vl;
  HxJobIdHash jh;
  for (int i = 0; i < 3; ++i) {
    jl.append(new HxJobId(i, i + 1));
    wl.append(new HxWorkId(i, HxString("w") + i));
    cl.append(new HxCallbackId(i, -2));
    vl.append(new HxVariableId(i, HxString("v") + i));
    jh.set(new HxJobId(i, 0), HxString("k") + i);
  }
  expect_round_trip(jl);
  expect_round_trip(wl);
  expect_round_trip(cl);
  expect_round_trip(vl);
  expect_round_trip(jh);

  // A decoded list keeps the order; copy and steal keep the elements whole.
  HxJobIdList back;
  unpack(back, packed(jl));
  ASSERT_EQ(back.length(), 3);
  EXPECT_EQ(S(back.get(2)->value()), "2.3");
  HxJobIdList stolen;
  stolen.append(new HxJobId(99));
  stolen.steal(back);
  EXPECT_EQ(back.length(), 0);
  ASSERT_EQ(stolen.length(), 3);
  HxJobIdList copied;
  copied.copy(stolen);
  EXPECT_EQ(packed(copied), packed(jl));
  HxJobIdHash hcopy;
  hcopy.copy(jh);
  ASSERT_NE(hcopy.get("k1"), nullptr);
  EXPECT_EQ(S(hcopy.get("k1")->value()), "1.0");
}

TEST(HxIdentifierRecords, AbsentFieldsKeepTheirValues) {
  HxWorkId w(5, "keep");
  w.workid(6);
  // Only the work number arrives; an empty name on the wire changes nothing.
  ASSERT_EQ(unpack(w, hex("00 00 00 01 | 00 02 00 03 00 00 00 00 | 00 03 00 01 00 00 00 07")), 0);
  EXPECT_EQ(w.id(), 5);
  EXPECT_EQ(S(w.name()), "keep");
  EXPECT_EQ(w.workid(), 7);
  // A nested record of another type ends the list.
  HxJobIdList l;
  unpack(l, hex("00 00 00 01 | 00 01 00 01 00 00 00 02"
                "00 0A 00 04 00 00 00 13 00 00 00 08 | 00 01 00 01 00 00 00 05"
                "00 0A 00 04 00 00 00 3B 00 00 00 08 | 00 01 00 01 00 00 00 06"));
  ASSERT_GE(l.length(), 1);
  EXPECT_EQ(l.get(0)->id(), 5);
}

}  // namespace

#include "model/job/HxEvent.h"

#include <gtest/gtest.h>

#include "model/job/JobTestUtil.h"

namespace {

TEST(HxEventText, FullNamesParse) {
  // back: what fullname() gives after the parse ("=" for the text itself).
  struct Row {
    char const* text;
    char const* name;
    int category;
    char const* label;
    int subid;
    char const* textid;
    int start;
    int interval;
    char const* back;
    bool valid;
  } const rows[] = {
      {"done-job-render", "done", 0, "render", -1, "", 0, -1, "=", true},
      {"done-subjob-render-3", "done", 1, "render", 3, "", 0, -1, "=", true},
      {"done-subjob-render-*", "done", 1, "render", -2, "", 0, -1, "=", true},
      {"done-subjob-render", "done", 1, "render", -2, "", 0, -1, "done-subjob-render-*", true},
      {"done-subjob-render-x", "done", 1, "render", 0, "", 0, -1, "done-subjob-render-0", true},
      {"done-work-render-frame-0001", "done", 2, "render", -1, "frame-0001", 0, -1, "=", true},
      {"done-work-render", "done", 2, "render", -1, "", 0, -1, "done-work-render-", true},
      {"done-work-render-", "done", 2, "render", -1, "", 0, -1, "=", true},
      {"set-variable-job-frames-x", "set", 5, "job", -1, "frames", 0, -1, "set-variable-job-frames", true},
      {"hi-client-me", "hi", 6, "me", -1, "", 0, -1, "=", true},
      {"t-time-clock-100", "t", 8, "clock", -1, "", 100, -1, "=", true},
      {"x-repeat-tick-10", "x", 16, "tick", -1, "", 10, 0, "x-repeat-tick-10-0", true},
      {"x-repeat-tick-10-5", "x", 16, "tick", -1, "", 10, 5, "=", true},
      // Past the range of an int a number stays at the end: a wrapped one would print a '-'.
      {"x-repeat-tick-2999999999-5", "x", 16, "tick", -1, "", 2147483647, 5, "x-repeat-tick-2147483647-5", true},
      {"x-global", "x", 128, "", -1, "", 0, -1, "=", true},
      {"x-global-ignored", "x", 128, "", -1, "", 0, -1, "x-global", true},
      {"x-globaltime-100", "x", 136, "", -1, "", 100, -1, "=", true},
      {"x-globalrepeat-7-3", "x", 152, "", -1, "", 7, 3, "=", true},
      {"x-globalrepeat", "x", 152, "", -1, "", 0, 0, "x-globalrepeat-0-0", true},
      {"x-host-a-b", "x", 4, "", -1, "", 0, -1, "x-", false},
      {"plain", "plain", 4, "", -1, "", 0, -1, "plain-", false},
      {"a-b-c", "a", 4, "", -1, "", 0, -1, "a-", false},
      {"a-Job-c", "a", 4, "", -1, "", 0, -1, "a-", false},
      {"", "", 4, "", -1, "", 0, -1, "-", false},
      {"-job-", "", 0, "", -1, "", 0, -1, "=", true},
      {"my-name-job-x", "my", 4, "", -1, "", 0, -1, "my-", false},
  };
  for (auto const& r : rows) {
    HxEvent e{HxString(r.text)};
    EXPECT_EQ(S(e.name()), r.name) << r.text;
    EXPECT_EQ(e.category(), r.category) << r.text;
    EXPECT_EQ(S(e.label()), r.label) << r.text;
    EXPECT_EQ(e.subid(), r.subid) << r.text;
    EXPECT_EQ(S(e.workid()), r.textid) << r.text;
    EXPECT_EQ(e.start(), r.start) << r.text;
    EXPECT_EQ(e.interval(), r.interval) << r.text;
    EXPECT_EQ(S(e.fullname()), std::string(r.back) == "=" ? r.text : r.back) << r.text;
    EXPECT_EQ(HxEvent::isvalid(r.text), r.valid) << r.text;
  }
}

TEST(HxEventText, ParsingKeepsTheFieldsTheCategoryDoesNotCarry) {
  HxEvent e;
  e.label("kept");
  e.workid("id");
  e.start(4);
  e.fullname("x-globaltime-100");
  EXPECT_EQ(S(e.label()), "kept");
  EXPECT_EQ(S(e.workid()), "id");
  e.fullname("y-job-z");
  EXPECT_EQ(e.start(), 100);
  EXPECT_EQ(S(e.workid()), "id");
}

TEST(HxEventText, CategoryWordsBitsAndNames) {
  struct Row {
    int category;
    char const* word;
    int bit;
    bool global;
    char const* fullname;
    char const* effective;
  } const rows[] = {
      {0, "job", 1, false, "n-job-L", "n-job-12"},
      {1, "subjob", 2, false, "n-subjob-L-*", "n-subjob-12-*"},
      {2, "work", 4, false, "n-work-L-w-1", "n-work-12-w-1"},
      {4, "unknown", 0, false, "n-", "n-"},
      {5, "variable", 32, false, "n-variable-L-w-1", "n-"},
      {6, "client", 64, false, "n-client-L", "n-client-12"},
      {8, "time", 128, false, "n-time-L-30", "n-"},
      {16, "repeat", 256, false, "n-repeat-L-30-60", "n-"},
      {32, "unknown", 0, false, "n-host-L-w-1", "n-"},
      {128, "global", 1024, true, "n-global", "n-"},
      {136, "globaltime", 2048, true, "n-globaltime-30", "n-"},
      {152, "globalrepeat", 4096, true, "n-globalrepeat-30-60", "n-"},
      {3, "unknown", 0, false, "n-", "n-"},
      {200, "unknown", 0, true, "n-", "n-"},
      {-1, "unknown", 0, false, "n-", "n-"},
  };
  for (auto const& r : rows) {
    HxEvent e;
    e.category(r.category);
    e.name("n");
    e.label("L");
    e.jobid(12);
    e.subid(-2);
    e.hostid("w-1");
    e.start(30);
    e.interval(60);
    EXPECT_EQ(S(e.categorystring()), r.word) << r.category;
    EXPECT_EQ(e.categorybit(), r.bit) << r.category;
    EXPECT_EQ(e.isglobal(), r.global) << r.category;
    EXPECT_EQ(S(e.fullname()), r.fullname) << r.category;
    EXPECT_EQ(S(e.effectivename()), r.effective) << r.category;
    HxEvent word;
    word.categorystring(r.word);
    EXPECT_EQ(word.category(), r.bit == 0 ? 4 : r.category) << r.category;
  }
}

TEST(HxEvent, SubjobTextAndSid) {
  HxEvent plain;

  struct SubRow {
    char const* text;
    int subid;
    char const* back;
  } const subs[] = {{"*", -2, "*"}, {"", -2, "*"}, {"7", 7, "7"}, {"-1", -1, "-1"}, {"x", 0, "0"}, {" 4z", 4, "4"}};
  for (auto const& r : subs) {
    plain.subidstring(r.text);
    EXPECT_EQ(plain.subid(), r.subid) << r.text;
    EXPECT_EQ(S(plain.subidstring()), r.back) << r.text;
  }

  struct SidRow {
    int pid, n, sid;
  } const sids[] = {{7, 4, 3}, {-1, 4, -1}, {7, 0, 0}, {-5, 0, -1}, {0, 1, 0}, {2147483647, 10, 7}};
  for (auto const& r : sids) {
    plain.pid(r.pid);
    EXPECT_EQ(plain.sid(r.n), r.sid) << r.pid << " " << r.n;
  }
}

TEST(HxEvent, CopiesTakeEveryFieldButTheProcessGroup) {
  HxEvent source(HxString("done-work-render-f-1"));
  source.jobid(5);
  source.extra("x");
  source.flag(2);
  source.callback(9);
  source.pid(3);
  source.id(8);
  source.pgrp(77);
  HxEvent made(source);
  EXPECT_EQ(made.pgrp(), -1);
  EXPECT_EQ(packed(made), packed(source));
  HxEvent assigned;
  assigned.pgrp(5);
  assigned = source;
  EXPECT_EQ(assigned.pgrp(), 5);
  EXPECT_EQ(packed(assigned), packed(source));
  HxEvent copied;
  copied.copy(source);
  EXPECT_EQ(copied.pgrp(), -1);
  EXPECT_EQ(xml_of(copied), xml_of(source));
}

TEST(HxEventBytes, FieldsTravelInTheirOwnOrder) {
  HxEvent e;
  e.name("n");
  e.label("L");
  e.extra("x");
  e.workid("w");
  EXPECT_EQ(hex("00 00 00 01"
                "00 01 00 01 00 00 00 04"      // category
                "00 0B 00 03 00 00 00 01 4C"   // label
                "00 02 00 01 FF FF FF FF"      // job id
                "00 03 00 01 FF FF FF FF"      // subjob id
                "00 04 00 03 00 00 00 01 77"   // text id
                "00 08 00 03 00 00 00 01 6E"   // name
                "00 07 00 03 00 00 00 01 78"   // extra
                "00 05 00 01 00 00 00 00"      // start
                "00 06 00 01 FF FF FF FF"      // interval
                "00 09 00 01 00 00 00 00"      // flag
                "00 0A 00 01 FF FF FF FF"      // callback
                "00 0C 00 01 FF FF FF FF"      // pid
                "00 0D 00 01 00 00 00 00"),    // id
            packed(e));
  std::string const text = xml_of(e);
  EXPECT_NE(text.find("<job_id>-1</job_id>"), std::string::npos);
  EXPECT_NE(text.find("<sub_id>-1</sub_id>"), std::string::npos);
  EXPECT_NE(text.find("<text_id>w</text_id>"), std::string::npos);

  HxEventList list;
  list.append(new HxEvent(HxString("done-repeat-t-1-2")));
  list.append(new HxEvent(7, 2, HxString("go")));
  list.get(1)->pid(4);
  expect_round_trip(list);
}

}  // namespace

#include "model/job/HxStatus.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "model/job/JobTestUtil.h"

namespace {

// ---- HxStatus ----

TEST(HxStatus, NamesAndPredicatesOfEveryCode) {
  struct Row {
    int code;
    char const* name;
    bool active, assigned;
  } const rows[] = {
      {0, "none", false, false},         {5, "saved", false, false},       {16, "complete", false, false},
      {21, "warning", false, false},     {32, "failed", false, false},     {48, "killed", false, false},
      {261, "dying", true, true},        {262, "exiting", true, true},     {265, "registering", true, false},
      {272, "blocked", true, false},     {293, "paused", true, false},     {304, "suspended", true, true},
      {320, "pending", true, false},     {323, "waiting", true, true},     {325, "badlogin", true, false},
      {336, "running", true, true},      {999, "none", true, false},       {-1, "none", true, false},
      {1, "none", false, false},         {0x200, "none", false, false},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.code);
    HxStatus s(r.code);
    EXPECT_EQ(S(s.value()), r.name);
    EXPECT_EQ(s.integervalue(), r.code);
    EXPECT_EQ(s.active(), r.active);
    EXPECT_EQ(s.done(), !r.active);
    EXPECT_EQ(s.assigned(), r.assigned);
    // One predicate per name, true only for its own code.
    bool (HxStatus::*const preds[])() const = {
        &HxStatus::none,    &HxStatus::saved,   &HxStatus::complete, &HxStatus::warning,     &HxStatus::failed,
        &HxStatus::killed,  &HxStatus::dying,   &HxStatus::exiting,  &HxStatus::registering, &HxStatus::blocked,
        &HxStatus::paused,  &HxStatus::suspended, &HxStatus::pending, &HxStatus::waiting,    &HxStatus::badlogin,
        &HxStatus::running};
    int const codes[] = {0, 5, 16, 21, 32, 48, 261, 262, 265, 272, 293, 304, 320, 323, 325, 336};
    for (int i = 0; i < 16; ++i) EXPECT_EQ((s.*preds[i])(), r.code == codes[i]) << codes[i];
    std::ostringstream out;
    out << s;
    EXPECT_EQ(out.str(), r.name);
  }
}

TEST(HxStatus, ParsesOnlyExactNames) {
  struct Row {
    char const* text;
    int code;
  } const rows[] = {
      {"running", 336}, {"blocked", 272},  {"complete", 16},  {"registering", 265}, {"pending", 320},
      {"suspended", 304}, {"failed", 32},  {"killed", 48},    {"dying", 261},       {"exiting", 262},
      {"waiting", 323}, {"warning", 21},   {"none", 0},       {"badlogin", 325},    {"saved", 5},
      {"paused", 293},  {"Running", 0},    {"336", 0},        {"", 0},              {"running ", 0},
      {"run", 0},       {"runningx", 0},   {"done", 0},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxStatus s(7);
    s.value(H(r.text));
    EXPECT_EQ(s.integervalue(), r.code);
    EXPECT_EQ(HxStatus(H(r.text)).integervalue(), r.code);
    HxStatus t(7);
    t = H(r.text);
    EXPECT_EQ(t.integervalue(), r.code);
  }
  // A name with a byte after an embedded zero is not the name.
  EXPECT_EQ(HxStatus(HxString("running\0x", 9)).integervalue(), 0);
}

TEST(HxStatus, EqualsTheNameOrAClassWord) {
  struct Row {
    int code;
    char const* word;
    bool result;
  } const rows[] = {
      {336, "running", true},  {336, "Running", false}, {336, "active", true},  {336, "assigned", true},
      {336, "done", false},    {999, "none", true},     {0, "none", true},      {320, "active", true},
      {293, "active", true},   {16, "active", false},   {21, "done", true},     {5, "done", true},
      {320, "assigned", false}, {272, "assigned", false}, {262, "assigned", true}, {16, "complete", true},
      {16, "failed", false},   {16, "", false},         {336, "all", false},
  };
  for (auto const& r : rows) EXPECT_EQ(HxStatus(r.code).equals(H(r.word)), r.result) << r.code << " " << r.word;
}

TEST(HxStatus, CarriesTheNumberInBothForms) {
  HxStatus s(336);
  EXPECT_EQ(packed(s), hex("00 00 00 01 | 00 01 00 01 00 00 01 50"));
  EXPECT_EQ(xml_of(s).find("running"), std::string::npos);
  EXPECT_NE(xml_of(s).find("336"), std::string::npos);
  HxStatus odd(-12345);
  expect_round_trip(odd);
}

// ---- HxStatusTally ----

HxStatusTally numbered() {
  HxStatusTally t;
  t.running(1);
  t.blocked(2);
  t.complete(3);
  t.pending(4);
  t.suspended(5);
  t.failed(6);
  t.killed(7);
  t.waiting(8);
  t.unknown(9);
  t.warning(10);
  t.badlogin(11);
  return t;
}

TEST(HxStatusTally, WireBytesStartAtTagZeroInTextOrder) {
  HxStatusTally t = numbered();
  EXPECT_EQ(packed(t), hex("00 00 00 01"
                           "00 00 00 01 00 00 00 01"
                           "00 01 00 01 00 00 00 02"
                           "00 02 00 01 00 00 00 03"
                           "00 03 00 01 00 00 00 04"
                           "00 04 00 01 00 00 00 05"
                           "00 05 00 01 00 00 00 06"
                           "00 06 00 01 00 00 00 07"
                           "00 07 00 01 00 00 00 08"
                           "00 08 00 01 00 00 00 09"
                           "00 09 00 01 00 00 00 0A"
                           "00 0A 00 01 00 00 00 0B"));
  EXPECT_EQ(S(t.convert()), "1 2 3 4 5 6 7 8 9 10 11");
  std::string x = xml_of(t);
  char const* tags[] = {"running", "blocked", "complete", "pending", "suspended", "failed",
                        "killed",  "waiting", "unknown",  "warning", "badlogin"};
  size_t at = 0;
  for (char const* tag : tags) {
    size_t next = x.find(tag, at);
    EXPECT_NE(next, std::string::npos) << tag;
    at = next;
  }
  expect_round_trip(t);
}

TEST(HxStatusTally, DecodingOnlyTagZeroKeepsTheRest) {
  HxStatusTally t = numbered();
  ASSERT_EQ(unpack(t, hex("00 00 00 01 | 00 00 00 01 00 00 00 63")), 0);
  EXPECT_EQ(S(t.convert()), "99 2 3 4 5 6 7 8 9 10 11");
}

TEST(HxStatusTally, AddAndGetByCode) {
  // The tally text after add(code, 1).
  struct Row {
    int code;
    char const* text;
  } const rows[] = {
      {336, "1 0 0 0 0 0 0 0 0 0 0"}, {272, "0 1 0 0 0 0 0 0 0 0 0"}, {16, "0 0 1 0 0 0 0 0 0 0 0"},
      {320, "0 0 0 1 0 0 0 0 0 0 0"}, {304, "0 0 0 0 1 0 0 0 0 0 0"}, {32, "0 0 0 0 0 1 0 0 0 0 0"},
      {48, "0 0 0 0 0 0 1 0 0 0 0"},  {323, "0 0 0 0 0 0 0 1 0 0 0"}, {21, "0 0 0 0 0 0 0 0 0 1 0"},
      {325, "0 0 0 0 0 0 0 0 0 0 1"}, {0, "0 0 0 0 0 0 0 0 1 0 0"},   {5, "0 0 0 0 0 0 0 0 1 0 0"},
      {261, "0 0 0 0 0 0 0 0 1 0 0"}, {262, "0 0 0 0 0 0 0 0 1 0 0"}, {265, "0 0 0 0 0 0 0 0 1 0 0"},
      {293, "0 0 0 0 0 0 0 0 1 0 0"}, {999, "0 0 0 0 0 0 0 0 1 0 0"},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.code);
    HxStatusTally t;
    t.add(r.code, 1);
    EXPECT_EQ(S(t.convert()), r.text);
    EXPECT_EQ(t.get(r.code), 1);
    t.add(r.code, -1);
    EXPECT_EQ(t.total(), 0);
  }
}

TEST(HxStatusTally, SumsWrapInsteadOfOverflowing) {
  HxStatusTally t = numbered();
  EXPECT_EQ(t.done(), 3 + 6 + 7 + 10);
  EXPECT_EQ(t.active(), 1 + 2 + 8 + 5 + 4);
  EXPECT_EQ(t.assigned(), 1 + 8 + 5);
  EXPECT_EQ(t.total(), 66);
  HxStatusTally sum = numbered();
  sum.add(t);
  EXPECT_EQ(S(sum.convert()), "2 4 6 8 10 12 14 16 18 20 22");

  // Counters as a decoder may deliver them.
  HxStatusTally big;
  big.running(INT_MAX);
  big.waiting(INT_MAX);
  big.complete(INT_MAX);
  big.failed(1);
  EXPECT_EQ(big.assigned(), -2);
  EXPECT_EQ(big.done(), INT_MIN);
  big.add(336, 1);
  EXPECT_EQ(big.running(), INT_MIN);
  big.add(big);
  EXPECT_EQ(big.running(), 0);
  big.clear();
  EXPECT_EQ(S(big.convert()), "0 0 0 0 0 0 0 0 0 0 0");
}

TEST(HxStatusTally, RevertsTheTextForm) {
  struct Row {
    char const* text;
    char const* result;
  } const rows[] = {
      {"1 2 3", "1 2 3 0 0 0 0 0 0 0 0"},
      {"5 -3 7", "5 0 0 0 0 0 0 0 0 0 0"},
      {"", "0 0 0 0 0 0 0 0 0 0 0"},
      {" 4 5", "0 4 5 0 0 0 0 0 0 0 0"},
      {"1   2", "1 2 0 0 0 0 0 0 0 0 0"},
      {"1\t2", "1 0 0 0 0 0 0 0 0 0 0"},
      {"12x 5", "12 0 0 0 0 0 0 0 0 0 0"},
      {"+3", "0 0 0 0 0 0 0 0 0 0 0"},
      {"1 2 3 4 5 6 7 8 9 10 11 12 13", "1 2 3 4 5 6 7 8 9 10 11"},
      {"007 08", "7 8 0 0 0 0 0 0 0 0 0"},
      {"2147483647 2147483648 99999999999999999999999", "2147483647 2147483647 2147483647 0 0 0 0 0 0 0 0"},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.text);
    HxStatusTally t = numbered();
    t.revert(H(r.text));
    EXPECT_EQ(S(t.convert()), r.result);
  }
  HxStatusTally t = numbered(), back;
  back.revert(t.convert());
  EXPECT_EQ(packed(back), packed(t));
  // Negative counters print with their sign.
  t.failed(-4);
  EXPECT_EQ(S(t.convert()), "1 2 3 4 5 -4 7 8 9 10 11");
}

}  // namespace

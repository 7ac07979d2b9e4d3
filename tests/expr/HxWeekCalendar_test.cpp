#include "expr/HxWeekCalendar.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "core/HxTime.h"
#include "core/HxWorld.h"

namespace {

class PinnedWorld : public HxWorld {
 public:
  int64_t now() override { return now_; }
  int64_t now_ = 0;
};

// Tuesday 2 January 2024, 14:30:00 UTC.
constexpr int64_t kTuesdayAfternoon = 1704205800;

std::string s(HxString const& text) { return text.value(); }

std::string empty_lines() {
  std::string out;
  for (int h = 0; h < 24; ++h) out += std::to_string(h) + " '' '' '' '' '' '' '' \n";
  return out;
}

}  // namespace

TEST(HxWeekCalendarText, ComposeAndParse) {
  HxWeekCalendar w;
  EXPECT_EQ(s(w.compose()), empty_lines());

  w.parse(HxString("9 'a' 'b'"));
  EXPECT_EQ(s(w.get(0, 9)), "a");
  EXPECT_EQ(s(w.get(1, 9)), "b");
  EXPECT_EQ(s(w.get(2, 9)), "");
  std::string line9 = "9 'a' 'b' '' '' '' '' '' \n";
  EXPECT_NE(s(w.compose()).find(line9), std::string::npos);

  HxWeekCalendar all;
  all.parse(HxString("x y 3 1 1 1 1 1 1 1"));
  for (int day = 0; day < 7; ++day) EXPECT_EQ(s(all.get(day, 3)), "1");

  // An hour above 23 runs on into the following days; outside the week is ignored.
  HxWeekCalendar spill;
  spill.parse(HxString("25 a"));
  EXPECT_EQ(s(spill.get(1, 1)), "a");
  spill.parse(HxString("150 b c"));
  EXPECT_EQ(s(spill.get(6, 6)), "b");
  EXPECT_EQ(s(spill.get(0, 150)), "b");
  spill.parse(HxString("9999999999999 d 99999999999999999999999 e"));
  // An hour at the end of 64 bits: every position lies outside the week.
  spill.parse(HxString("99999999999999999999 f g h i j k l"));
  spill.parse(HxString("168 v"));
  std::string text = s(spill.compose());
  for (char const* gone : {"'c'", "'d'", "'f'", "'l'", "'v'"}) EXPECT_EQ(text.find(gone), std::string::npos) << gone;
  spill.parse(HxString("167 w"));
  EXPECT_EQ(s(spill.get(6, 23)), "w");

  // Parsing never clears.
  w.parse(HxString("10 z"));
  EXPECT_EQ(s(w.get(0, 9)), "a");
  EXPECT_EQ(s(w.get(0, 10)), "z");
}

TEST(HxWeekCalendarText, RoundTrip) {
  HxWeekCalendar w;
  for (int day = 0; day < 7; ++day)
    for (int hour = 0; hour < 24; ++hour)
      if ((day + hour) % 3 != 0) w.set(day, hour, HxString(std::to_string(day * 100 + hour)));
  w.set(3, 4, HxString("two words"));
  HxWeekCalendar back;
  back.parse(w.compose());
  for (int day = 0; day < 7; ++day)
    for (int hour = 0; hour < 24; ++hour) EXPECT_EQ(s(back.get(day, hour)), s(w.get(day, hour))) << day << " " << hour;
}

TEST(HxWeekCalendarText, SlotsOutOfRangeAndCalendarsWithoutSlots) {
  HxWeekCalendar w;
  EXPECT_EQ(s(w.get(7, 0)), "");
  EXPECT_EQ(s(w.get(-1, 5)), "");
  w.set(0, 200, HxString("x"));
  w.set(0, -1, HxString("x"));
  w.set(2147483647, 2147483647, HxString("x"));
  EXPECT_EQ(s(w.compose()), empty_lines());
  w.set(0, 167, HxString("last"));
  EXPECT_EQ(s(w.get(6, 23)), "last");

  HxWeekCalendar bare{HxString("current")};
  EXPECT_EQ(s(bare.value()), "current");
  bare.set(0, 0, HxString("x"));
  bare.parse(HxString("0 a b c d e f g"));
  EXPECT_EQ(s(bare.get(0, 0)), "");
  EXPECT_EQ(s(bare.compose()), empty_lines());
  HxWeekCalendar copied(w);
  EXPECT_EQ(s(copied.get(6, 23)), "");
}

TEST(HxWeekCalendarText, LockDescription) {
  HxWeekCalendar w;
  EXPECT_EQ(s(w.parse_lock()), "\n\n\n\n\n\n\n");
  w.set(1, 0, HxString("1"));
  w.set(1, 1, HxString("1"));
  w.set(1, 13, HxString("1"));
  w.set(5, 23, HxString("1"));
  w.set(5, 22, HxString("yes"));
  EXPECT_EQ(s(w.parse_lock()),
            "\nMonday : 12 to 1am,1 to 2am,1 to 2pm,\n\n\n\nFriday : 11 to 12am,\n\n");
  // The header markers start afresh with every description.
  EXPECT_EQ(s(w.parse_lock()),
            "\nMonday : 12 to 1am,1 to 2am,1 to 2pm,\n\n\n\nFriday : 11 to 12am,\n\n");
  EXPECT_EQ(s(w.parse_hour(0)), "12 to 1pm,");
  EXPECT_EQ(s(w.parse_hour(23)), "11 to 12pm,");
  EXPECT_EQ(s(w.parse_hour(24)), "");
  EXPECT_EQ(s(w.parse_hour(-1)), "");
  EXPECT_EQ(s(w.parse_calendar(7, 1)), "");
  EXPECT_EQ(s(w.parse_calendar(2, 30)), "Tuesday : ");
  EXPECT_EQ(s(w.parse_calendar(2, 12)), "12 to 1pm,");
}

class HxWeekCalendarClock : public ::testing::Test {
 protected:
  void SetUp() override {
    char const* tz = std::getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) old_tz_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
    hx_set_world(&world_);
    HxTime::_setDiff(0);
  }
  void TearDown() override {
    hx_set_world(nullptr);
    HxTime::_resetClock();
    if (had_tz_)
      setenv("TZ", old_tz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  PinnedWorld world_;
  bool had_tz_ = false;
  std::string old_tz_;
};

TEST_F(HxWeekCalendarClock, RefreshTakesTheSlotOfTheLocalHour) {
  HxWeekCalendar w;
  for (int pos = 0; pos < 168; ++pos) w.set(0, pos, HxString(std::to_string(pos)));
  HxStringHash stats;
  world_.now_ = kTuesdayAfternoon;
  w.refresh(stats);
  EXPECT_EQ(s(w.value()), "62");
  world_.now_ = kTuesdayAfternoon + 2 * 86400 - 14 * 3600 - 1800;  // Thursday 0:00
  w.refresh(stats);
  EXPECT_EQ(s(w.value()), "96");
  world_.now_ = kTuesdayAfternoon + 4 * 86400 + 9 * 3600 + 1799;  // Saturday 23:59:59
  w.refresh(stats);
  EXPECT_EQ(s(w.value()), "167");
  world_.now_ = kTuesdayAfternoon - 2 * 86400 - 14 * 3600 - 1800;  // Sunday 0:00
  w.refresh(stats);
  EXPECT_EQ(s(w.value()), "0");

  HxWeekCalendar bare{HxString("stale")};
  bare.refresh(stats);
  EXPECT_EQ(s(bare.value()), "");
}

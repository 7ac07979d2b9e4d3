#include "expr/HxValue.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <sstream>
#include <string>

#include "core/HxTime.h"
#include "core/HxWorld.h"
#include "expr/HxWeekCalendar.h"

namespace {

// A clock that moves only when the test says so.
class PinnedWorld : public HxWorld {
 public:
  int64_t now() override { return now_; }
  int64_t now_ = 1700000000;
};

class HxValueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hx_set_world(&world_);
    HxTime::_setDiff(0);
  }
  void TearDown() override {
    hx_set_world(nullptr);
    HxTime::_resetClock();
  }
  void advance(int64_t seconds) { world_.now_ += seconds; }

  std::string stat(char const* name) {
    HxString* s = stats_.get(HxString(name));
    return s == nullptr ? "<absent>" : s->value();
  }
  void setstat(char const* name, char const* text) { stats_.set(new HxString(text), HxString(name)); }

  PinnedWorld world_;
  HxStringHash stats_;
};

std::string s(HxString const& text) { return text.value(); }

std::unique_ptr<HxValue> made(char const* text) { return std::unique_ptr<HxValue>(parsevalue(HxString(text))); }

}  // namespace

TEST(HxValueParse, KindWords) {
  EXPECT_EQ(made(""), nullptr);
  EXPECT_EQ(made("   "), nullptr);
  EXPECT_EQ(made("Watchdog 5"), nullptr);
  EXPECT_EQ(made("timer 5"), nullptr);
  EXPECT_EQ(made("valuex 'a'"), nullptr);

  auto saver = made("  screensaver");
  ASSERT_NE(saver, nullptr);
  EXPECT_EQ(s(saver->cls()), "screensaver");
  EXPECT_EQ(static_cast<HxScreenSaver*>(saver.get())->threshold(), 120);
  EXPECT_EQ(s(saver->value()), "");

  auto dog = made("watchdog 30");
  ASSERT_NE(dog, nullptr);
  EXPECT_EQ(static_cast<HxWatchDog*>(dog.get())->threshold(), 1800);

  auto fixed = made("value 'locked' 'ignored'");
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(s(fixed->cls()), "value");
  EXPECT_EQ(s(fixed->value()), "locked");
  EXPECT_EQ(s(fixed->compose()), "locked");

  auto monitor = made("\r\nloadmonitor\t1|0|300");
  ASSERT_NE(monitor, nullptr);
  auto* m = static_cast<HxLoadMonitor*>(monitor.get());
  EXPECT_EQ(s(m->busy()), "1");
  EXPECT_EQ(s(m->idle()), "0");
  EXPECT_EQ(m->window(), 300);

  auto week = made("weekcalendar {0 '1' '1' '1' '1' '1' '1' '1'}");
  ASSERT_NE(week, nullptr);
  auto* w = static_cast<HxWeekCalendar*>(week.get());
  EXPECT_EQ(s(w->cls()), "weekcalendar");
  for (int day = 0; day < 7; ++day) EXPECT_EQ(s(w->get(day, 0)), "1");
  EXPECT_EQ(s(w->get(0, 1)), "");

  // A parenthesis after the kind word must not stall the value tokenizer.
  auto paren = made("value (x");
  ASSERT_NE(paren, nullptr);
}

TEST(HxValueParse, WatchdogAndScreenSaverThresholds) {
  HxWatchDog dog;
  EXPECT_EQ(s(dog.compose()), "30");
  dog.parse(HxString("abc"));
  EXPECT_EQ(dog.threshold(), 1800);
  dog.parse(HxString("0"));
  EXPECT_EQ(dog.threshold(), 60);
  dog.parse(HxString("-3"));
  EXPECT_EQ(dog.threshold(), 60);
  dog.parse(HxString("7"));
  EXPECT_EQ(s(dog.get()), "7");
  // Minutes beyond what 32-bit seconds hold do not wrap to a negative threshold.
  dog.parse(HxString("99999999"));
  EXPECT_EQ(dog.threshold(), INT_MAX);
  dog.parse(HxString("99999999999999999999"));
  EXPECT_EQ(dog.threshold(), INT_MAX);

  HxScreenSaver saver;
  EXPECT_EQ(s(saver.get()), "2");
  saver.parse(HxString("6"));
  EXPECT_EQ(saver.threshold(), 360);
  EXPECT_EQ(s(saver.get()), "5");
  saver.parse(HxString("60"));
  EXPECT_EQ(s(saver.get()), "5");
  EXPECT_EQ(s(saver.compose()), "60");
  saver.parse(HxString("-"));
  EXPECT_EQ(saver.threshold(), 60);
  saver.parse(HxString("1.5"));
  EXPECT_EQ(saver.threshold(), 60);
}

TEST(HxValueParse, LoadMonitorFields) {
  HxLoadMonitor m;
  m.parse(HxString("a|b|30"));
  EXPECT_EQ(s(m.busy()), "a");
  EXPECT_EQ(s(m.idle()), "b");
  EXPECT_EQ(m.window(), 30);
  HxLoadMonitor one;
  one.parse(HxString("a"));
  EXPECT_EQ(s(one.busy()), "a");
  EXPECT_EQ(s(one.idle()), "");
  EXPECT_EQ(one.window(), 120);
  HxLoadMonitor odd;
  odd.parse(HxString("|x|9m|40"));
  EXPECT_EQ(s(odd.busy()), "");
  EXPECT_EQ(s(odd.idle()), "x");
  EXPECT_EQ(odd.window(), 120);
  // Texts are appended, not replaced.
  odd.parse(HxString("b|y|45|"));
  EXPECT_EQ(s(odd.busy()), "b");
  EXPECT_EQ(s(odd.idle()), "xy");
  EXPECT_EQ(odd.window(), 45);
  m.value(HxString("now"));
  HxLoadMonitor copy(m);
  EXPECT_EQ(s(copy.value()), "now");
  EXPECT_EQ(s(copy.busy()), "");
  EXPECT_EQ(copy.window(), 120);
}

TEST_F(HxValueTest, WatchdogFollowsLastActivity) {
  HxWatchDog dog;
  dog.refresh(stats_);
  EXPECT_EQ(s(dog.value()), "1");
  setstat("last_activity", "1800");
  dog.refresh(stats_);
  EXPECT_EQ(s(dog.value()), "1");
  setstat("last_activity", "1801");
  dog.refresh(stats_);
  EXPECT_EQ(s(dog.value()), "0");
  setstat("last_activity", "idle");
  dog.refresh(stats_);
  EXPECT_EQ(s(dog.value()), "1");
  setstat("last_activity", "99999999999");
  dog.refresh(stats_);
  EXPECT_EQ(s(dog.value()), "0");
}

TEST_F(HxValueTest, ScreenSaverConsumesItsStatistic) {
  HxScreenSaver saver;
  saver.refresh(stats_);
  EXPECT_EQ(s(saver.value()), "1");  // never seen at 0
  setstat("ScreenSaver", "0");
  saver.refresh(stats_);
  EXPECT_EQ(s(saver.value()), "0");
  EXPECT_EQ(stat("ScreenSaver"), "1");
  advance(120);
  saver.refresh(stats_);
  EXPECT_EQ(s(saver.value()), "0");
  advance(1);
  saver.refresh(stats_);
  EXPECT_EQ(s(saver.value()), "1");
  setstat("ScreenSaver", "abc");
  saver.refresh(stats_);
  EXPECT_EQ(stat("ScreenSaver"), "abc");
}

TEST_F(HxValueTest, LoadMonitorShowsBusyWithinTheWindow) {
  HxLoadMonitor m;
  m.parse(HxString("busy|idle|30"));
  m.refresh(stats_);
  EXPECT_EQ(s(m.value()), "idle");
  setstat("loadmonitor", "0");
  m.refresh(stats_);
  EXPECT_EQ(s(m.value()), "idle");
  setstat("loadmonitor", "3");
  m.refresh(stats_);
  EXPECT_EQ(s(m.value()), "busy");
  EXPECT_EQ(stat("loadmonitor"), "0");
  advance(30);
  m.refresh(stats_);
  EXPECT_EQ(s(m.value()), "busy");
  advance(1);
  m.refresh(stats_);
  EXPECT_EQ(s(m.value()), "idle");
  setstat("loadmonitor", "x1");
  m.refresh(stats_);
  EXPECT_EQ(s(m.value()), "idle");
  EXPECT_EQ(stat("loadmonitor"), "x1");
}

TEST(HxValueCoding, TravelsAsAPlainValue) {
  HxLoadMonitor m;
  m.parse(HxString("busy|idle|30"));
  m.value(HxString("idle"));
  m.pack();
  std::string bytes(m.packContents(), static_cast<size_t>(m.packSize()));
  EXPECT_EQ(bytes, std::string("\x00\x00\x00\x01\x00\x01\x00\x03\x00\x00\x00\x04idle", 16));
  HxValue back;
  back.unpack(m.packContents(), m.packSize());
  EXPECT_EQ(s(back.value()), "idle");
  EXPECT_EQ(back.type(), 200);
  EXPECT_EQ(m.type(), 200);
  EXPECT_EQ(s(m.typeXML()), "value");
  HxWatchDog dog;
  dog.value(HxString("0"));
  dog.packXML();
  std::string xml(dog.packContents(), static_cast<size_t>(dog.packSize()));
  EXPECT_EQ(xml, "<version>1</version>\n<object type = 'value'>\n\t<value>0</value>\n</object>");
  std::string doc = "<pack>" + xml + "</pack>";
  HxValue fromxml;
  ASSERT_EQ(fromxml.unpackXML(doc.data(), static_cast<int>(doc.size())), 0);
  EXPECT_EQ(s(fromxml.value()), "0");

  HxValue v{HxString("on")};
  std::ostringstream shown;
  shown << v;
  EXPECT_EQ(shown.str(), "on");
  HxValue w;
  w = v;
  EXPECT_EQ(s(w.value()), "on");
  w = HxString("off");
  EXPECT_EQ(s(w.value()), "off");
  w.copy(v);
  EXPECT_EQ(s(w.value()), "on");
}

#pragma once

#include <iosfwd>
#include <tuple>

#include "core/HxHash.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"

// A dynamic value: a text that its owner recomputes from the host statistics
// or the clock on every refresh. The base class holds a fixed text; the
// subclasses are the worker lock conditions. Every kind travels as a plain
// value holding only its current text: the configuration never does.
class HxValue : public HxRecord<HxValue> {
 public:
  HxValue() = default;
  HxValue(HxString const& text);
  HxValue(HxValue const& other);
  ~HxValue() override = default;

  int type() const override { return 200; }
  HxString typeXML() const override { return HxString("value"); }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "value", &HxValue::value_)); }

  HxString const& value() const { return value_; }
  void value(HxString const& text) { value_ = text; }
  void copy(HxValue const& other);
  void copy(HxString const& text);
  HxValue& operator=(HxValue const& other);
  HxValue& operator=(HxString const& text);

  // Recomputes the current text from host statistics (name to text).
  virtual void refresh(HxStringHash& stats);
  // Configures the value from a text; here the text becomes the value.
  virtual void parse(HxString const& text);
  // The configuration as text; here the current value.
  virtual HxString compose() const;
  // The kind word that parsevalue() reads.
  virtual HxString cls() const;

 protected:
  HxString value_;
};

std::ostream& operator<<(std::ostream& out, HxValue const& value);

// Shows the busy text while the statistic "loadmonitor" reported load within
// the last `window` seconds, the idle text otherwise. Configured as
// 'busy|idle|window'.
class HxLoadMonitor : public HxValue {
 public:
  HxLoadMonitor() = default;
  // Copies the current text only; the copy has the default configuration.
  HxLoadMonitor(HxLoadMonitor const& other);

  void refresh(HxStringHash& stats) override;
  void parse(HxString const& text) override;
  HxString cls() const override { return HxString("loadmonitor"); }

  HxString const& idle() const { return idle_; }
  HxString const& busy() const { return busy_; }
  int window() const { return window_; }

 private:
  HxString idle_;
  HxString busy_;
  HxTime last_;
  int window_ = 120;
};

// "1" once the statistic "ScreenSaver" has not been seen at 0 for longer than
// the threshold, "0" when it is seen at 0. Configured in minutes.
class HxScreenSaver : public HxValue {
 public:
  HxScreenSaver() = default;

  void refresh(HxStringHash& stats) override;
  void parse(HxString const& text) override;
  HxString compose() const override;
  HxString cls() const override { return HxString("screensaver"); }
  // The threshold in whole minutes, at most "5".
  HxString get() const;

  long long threshold() const { return threshold_; }

 private:
  HxTime seen_;
  long long threshold_ = 120;
};

// "1" while the statistic "last_activity" (seconds) is within the threshold,
// "0" past it. Configured in minutes.
class HxWatchDog : public HxValue {
 public:
  HxWatchDog() = default;

  void refresh(HxStringHash& stats) override;
  void parse(HxString const& text) override;
  HxString compose() const override;
  HxString cls() const override { return HxString("watchdog"); }
  // The threshold in whole minutes.
  HxString get() const;

  int threshold() const { return threshold_; }

 private:
  int threshold_ = 1800;
};

// Makes the value a text such as 'watchdog 30' or "value 'locked'" names: the
// kind word ("value", "weekcalendar", "loadmonitor", "watchdog",
// "screensaver", case-sensitive), configured from the first value token that
// follows. Null for any other word. The caller owns the result.
HxValue* parsevalue(HxString const& text);

#include "expr/HxValue.h"

#include <climits>
#include <cstdlib>
#include <ostream>

#include "core/HxList.h"
#include "expr/HxExpression.h"
#include "expr/HxWeekCalendar.h"

namespace {

// The integer of a text the way atoi reads it (leading blanks, a sign,
// digits, 0 otherwise), but a number beyond 32 bits reads as the nearest
// bound instead of wrapping.
long long integer_of(HxString const& text) {
  long long v = std::strtoll(text.value(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return v;
}

// A threshold given in minutes, in seconds; below one minute gives one.
long long minutes_to_seconds(HxString const& text) {
  long long minutes = integer_of(text);
  return minutes < 1 ? 60 : minutes * 60;
}

// Seconds from `then` to now, in 64 bits so that no pair of stamps overflows.
long long seconds_since(HxTime const& then) {
  HxTime now;
  now.setToNow();
  return static_cast<long long>(now.value()) - then.value();
}

bool is_blank(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

}  // namespace

// ---- HxValue ----------------------------------------------------------------

HxValue::HxValue(HxString const& text) : value_(text) {}

HxValue::HxValue(HxValue const& other) : HxRecord<HxValue>(), value_(other.value_) {}

void HxValue::copy(HxValue const& other) {
  if (&other != this) value_ = other.value_;
}

void HxValue::copy(HxString const& text) { value_ = text; }

HxValue& HxValue::operator=(HxValue const& other) {
  copy(other);
  return *this;
}

HxValue& HxValue::operator=(HxString const& text) {
  copy(text);
  return *this;
}

void HxValue::refresh(HxStringHash&) {}

void HxValue::parse(HxString const& text) { value_ = text; }

HxString HxValue::compose() const { return value_; }

HxString HxValue::cls() const { return HxString("value"); }

std::ostream& operator<<(std::ostream& out, HxValue const& value) { return out << value.value(); }

// ---- HxLoadMonitor ----------------------------------------------------------

HxLoadMonitor::HxLoadMonitor(HxLoadMonitor const& other) : HxValue(other) {}

void HxLoadMonitor::parse(HxString const& text) {
  int n = text.length();
  int pos = 0;
  int start = 0;
  while (pos < n && text.get(pos) != '|') ++pos;
  busy_.append(text.value() + start, pos - start);
  if (pos >= n) return;
  start = ++pos;
  while (pos < n && text.get(pos) != '|') ++pos;
  idle_.append(text.value() + start, pos - start);
  if (pos >= n) return;
  start = ++pos;
  while (pos < n && text.get(pos) != '|') ++pos;
  HxString window = text.substr(start, pos - start);
  if (window.isinteger()) window_ = static_cast<int>(integer_of(window));
}

void HxLoadMonitor::refresh(HxStringHash& stats) {
  HxString* load = stats.get(HxString("loadmonitor"));
  if (load != nullptr && load->isinteger() && integer_of(*load) != 0) {
    last_.setToNow();
    *load = "0";
  }
  // A monitor that never saw load has the time 0 and shows the idle text.
  value_ = seconds_since(last_) <= window_ ? busy_ : idle_;
}

// ---- HxScreenSaver ----------------------------------------------------------

void HxScreenSaver::parse(HxString const& text) {
  if (text.isinteger()) threshold_ = minutes_to_seconds(text);
}

void HxScreenSaver::refresh(HxStringHash& stats) {
  HxString* saver = stats.get(HxString("ScreenSaver"));
  if (saver != nullptr && saver->isinteger() && integer_of(*saver) == 0) {
    value_ = "0";
    seen_.setToNow();
    *saver = "1";
    return;
  }
  if (seconds_since(seen_) > threshold_) value_ = "1";
}

HxString HxScreenSaver::compose() const { return HxString(threshold_ / 60); }

HxString HxScreenSaver::get() const {
  if (threshold_ >= 360) return HxString("5");
  return HxString(threshold_ / 60);
}

// ---- HxWatchDog ---------------------------------------------------------------

void HxWatchDog::parse(HxString const& text) {
  if (!text.isinteger()) return;
  long long seconds = minutes_to_seconds(text);
  // A threshold beyond the 32-bit range means "never".
  threshold_ = seconds > INT_MAX ? INT_MAX : static_cast<int>(seconds);
}

void HxWatchDog::refresh(HxStringHash& stats) {
  HxString* activity = stats.get(HxString("last_activity"));
  if (activity == nullptr) {
    value_ = "1";
    return;
  }
  long long idle = std::strtoll(activity->value(), nullptr, 10);
  value_ = idle <= threshold_ ? "1" : "0";
}

HxString HxWatchDog::compose() const { return HxString(threshold_ / 60); }

HxString HxWatchDog::get() const { return compose(); }

// ---- parsevalue -----------------------------------------------------------

HxValue* parsevalue(HxString const& text) {
  int n = text.length();
  int pos = 0;
  while (pos < n && is_blank(text.get(pos))) ++pos;
  int start = pos;
  while (pos < n && !is_blank(text.get(pos))) ++pos;
  HxString kind = text.substr(start, pos - start);

  HxValue* made = nullptr;
  if (kind == HxString("value"))
    made = new HxValue();
  else if (kind == HxString("weekcalendar"))
    made = new HxWeekCalendar();
  else if (kind == HxString("loadmonitor"))
    made = new HxLoadMonitor();
  else if (kind == HxString("watchdog"))
    made = new HxWatchDog();
  else if (kind == HxString("screensaver"))
    made = new HxScreenSaver();
  else
    return nullptr;

  HxStringList tokens;
  HxExpression::valuetokenize(text.substr(pos, n - pos), tokens);
  if (tokens.length() > 0) made->parse(*tokens.get(0));
  return made;
}

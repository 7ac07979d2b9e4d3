#include "expr/HxWeekCalendar.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "core/HxTime.h"
#include "expr/HxExpression.h"

namespace {

constexpr int kSlots = 7 * 24;

char const* const kHourLabels[24] = {
    "12 to 1pm,", "1 to 2pm,",  "2 to 3pm,",   "3 to 4pm,",   "4 to 5pm,",  "5 to 6pm,",
    "6 to 7pm,",  "7 to 8pm,",  "8 to 9pm,",   "9 to 10pm,",  "10 to 11pm,", "11 to 12am,",
    "12 to 1am,", "1 to 2am,",  "2 to 3am,",   "3 to 4am,",   "4 to 5am,",  "5 to 6am,",
    "6 to 7am,",  "7 to 8am,",  "8 to 9am,",   "9 to 10am,",  "10 to 11am,", "11 to 12pm,",
};

char const* const kDayHeaders[7] = {
    "Sunday : ", "Monday : ", "Tuesday : ", "Wednesday : ", "Thursday : ", "Friday : ", "Saturday : ",
};

// The day names HxTime::day() gives, Sunday first.
char const* const kDayNames[7] = {"Sun", "Mon", "Tues", "Wed", "Thurs", "Fri", "Sat"};

long long position(long long day, long long hour) { return day * 24 + hour; }

}  // namespace

HxWeekCalendar::HxWeekCalendar() {
  for (int i = 0; i < kSlots; ++i) slots_.append(new HxString(""));
}

HxWeekCalendar::HxWeekCalendar(HxString const& text) : HxValue(text) {}

HxWeekCalendar::HxWeekCalendar(HxWeekCalendar const& other) : HxValue(other) {}

HxWeekCalendar& HxWeekCalendar::operator=(HxWeekCalendar const& other) {
  copy(other);
  return *this;
}

HxString const& HxWeekCalendar::slot_(long long pos) const {
  if (pos < 0 || pos >= slots_.length()) return default_;
  return *slots_.get(static_cast<int>(pos));
}

void HxWeekCalendar::parse(HxString const& text) {
  HxStringList tokens;
  HxExpression::tokenize(text, tokens);
  int n = tokens.length();
  for (int i = 0; i < n;) {
    HxString const& token = *tokens.get(i++);
    if (!token.isinteger()) continue;
    // Read in 64 bits and bounded to one week either way: an hour beyond
    // that lands outside the slots and is ignored like any other position
    // out of range, and the position arithmetic cannot overflow.
    long long hour = std::strtoll(token.value(), nullptr, 10);
    hour = std::max<long long>(-kSlots, std::min<long long>(kSlots, hour));
    for (int day = 0; day < 7 && i < n; ++day, ++i) {
      long long pos = position(day, hour);
      if (pos >= 0 && pos < slots_.length()) *slots_.get(static_cast<int>(pos)) = *tokens.get(i);
    }
  }
}

void HxWeekCalendar::set(int day, int hour, HxString const& text) {
  long long pos = position(day, hour);
  if (pos >= 0 && pos < slots_.length()) *slots_.get(static_cast<int>(pos)) = text;
}

HxString const& HxWeekCalendar::get(int day, int hour) const { return slot_(position(day, hour)); }

HxString HxWeekCalendar::compose() const {
  HxString out("");
  for (int hour = 0; hour < 24; ++hour) {
    out += hour;
    out += " ";
    for (int day = 0; day < 7; ++day) {
      out += "'";
      out += slot_(position(day, hour));
      out += "' ";
    }
    out += "\n";
  }
  return out;
}

void HxWeekCalendar::refresh(HxStringHash&) {
  HxTime now;
  now.setToNow();
  HxString day = now.day();
  int offset = 0;
  for (int d = 0; d < 7; ++d) {
    if (day == HxString(kDayNames[d])) {
      offset = d * 24;
      break;
    }
  }
  value_ = slot_(offset + now.hour());
}

HxString HxWeekCalendar::parse_hour(int hour) const {
  if (hour < 0 || hour > 23) return HxString("");
  return HxString(kHourLabels[hour]);
}

HxString HxWeekCalendar::parse_calendar(int day, int hour) {
  HxString out("");
  if (day < 0 || day > 6) return out;
  if (!headers_[day]) {
    headers_[day] = true;
    out += kDayHeaders[day];
  }
  // The stored labels start at noon: the label of clock hour h is entry
  // h + 12 (mod 24), so that hour 0 reads "12 to 1am,".
  if (hour >= 0 && hour <= 23) out += parse_hour((hour + 12) % 24);
  return out;
}

HxString HxWeekCalendar::parse_lock() {
  for (bool& h : headers_) h = false;
  HxString days[7];
  HxString locked("1");
  for (int day = 0; day < 7; ++day)
    for (int hour = 0; hour < 24; ++hour)
      if (slot_(position(day, hour)) == locked) days[day] += parse_calendar(day, hour);
  HxString out("");
  for (HxString const& d : days) {
    out += d;
    out += "\n";
  }
  return out;
}

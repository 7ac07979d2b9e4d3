#pragma once

#include "core/HxList.h"
#include "core/HxString.h"
#include "expr/HxValue.h"

// A time-of-week lock condition: one text for each of the 168 hours of a
// week (slot day * 24 + hour, day 0 Sunday, hour 0 the hour after local
// midnight); a refresh takes the text of the current local hour. A slot text
// of "1" marks a locked hour.
//
// Calendar text: 24 lines "h 'sun' 'mon' 'tue' 'wed' 'thu' 'fri' 'sat' ",
// one per hour.
class HxWeekCalendar : public HxValue {
 public:
  // 168 empty slots.
  HxWeekCalendar();
  // These hold only a current value and no slots: every slot reads empty and
  // writes to slots are ignored.
  explicit HxWeekCalendar(HxString const& text);
  HxWeekCalendar(HxWeekCalendar const& other);
  // Copies the current value only; the slots stay as they are.
  HxWeekCalendar& operator=(HxWeekCalendar const& other);

  // Fills slots from calendar text; slots not mentioned keep their texts.
  void parse(HxString const& text) override;
  void set(int day, int hour, HxString const& text);
  HxString const& get(int day, int hour) const;
  HxString compose() const override;
  // The current value becomes the slot of the current local day and hour;
  // the statistics are not read.
  void refresh(HxStringHash& stats) override;
  HxString cls() const override { return HxString("weekcalendar"); }

  // Entry `hour` of the stored label table ("12 to 1pm," first), empty
  // outside 0 to 23.
  HxString parse_hour(int hour) const;
  // The day's header the first time in a description, then the label of the
  // clock hour.
  HxString parse_calendar(int day, int hour);
  // One line per day, Sunday first, listing the hours whose slot is "1".
  HxString parse_lock();

 private:
  HxString const& slot_(long long position) const;

  HxStringList slots_;
  HxString default_;
  bool headers_[7] = {false, false, false, false, false, false, false};
};

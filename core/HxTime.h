#pragma once

#include <iosfwd>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

class HxDebug;

// Unix time of the system's time base: 1 January 2000, 05:00:00 UTC.
constexpr int HX_TIME_EPOCH_OFFSET = 946702800;

// A point in time as seconds since the system's time base; 0 means no time.
// The process keeps one correction of the local clock towards the
// supervisor's clock, read once from the user's clock-offset file.
class HxTime : public HxRecord<HxTime> {
 public:
  enum HxTime_epoch { HX_TIME_SYSTEM = 0, HX_TIME_UNIX = 1 };

  HxTime() = default;
  explicit HxTime(int value) : value_(value) {}
  // With HX_TIME_UNIX the input is Unix time.
  HxTime(int seconds, HxTime_epoch flag);

  int type() const override { return 33; }
  HxString typeXML() const override { return "time"; }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "value", &HxTime::value_)); }

  int value() const { return value_; }
  void value(int v) { value_ = v; }
  int unixvalue() const;
  void unixvalue(int unix);

  // The local clock, uncorrected; returns the new value.
  int setToLocalClock();
  // The local clock corrected by the process's clock difference.
  void setToNow();
  // Makes later setToNow calls follow t (the time reference ignores it).
  void syncToDatabase(HxTime const& t);

  // This process's clock is the reference: its difference is 0 and the
  // offset file is never read.
  static void setAsReference();
  static int diff();
  // Sets the difference measured against the supervisor (the clock
  // synchronisation stores it here and in offsetPath()).
  static void _setDiff(int diff);
  static bool _isReference();
  // Forgets the difference, as at process start (for tests).
  static void _resetClock();
  // The per-user clock-offset file: <temp dir>/time_<user>.tmp
  static HxString offsetPath();
  // Reads the difference from the offset file; 0 when it is missing, not
  // numeric, or not a regular file of this user reached without a link
  // that group and others cannot write.
  static int readOffsetFile(HxString const& path);

  // Measures the difference against the supervisor's clock (asking the
  // given host first, then wherever the client finds a supervisor), puts it
  // in force and writes it to offsetPath(). A failed exchange leaves the
  // difference 0; the time reference only zeroes it. Defined with the
  // client in net/.
  static void syncToServer();
  static void syncToServer(HxString const& host);

  static void sleep_seconds(int s);
  static void sleep_milliseconds(int ms);

  // "Mar 3, 2024 9:05:07" in local time; "None" for 0.
  HxString ascii() const;
  // Parse the text form as local time or as UTC; text that does not parse
  // leaves the value unchanged.
  void ascii(HxString const& text);
  void ascii_utc(HxString const& text);
  // The value as a duration: "119 s", "2.9 m", "2.5 h".
  HxString counter() const;
  // Local weekday: "Sun", "Mon", "Tues", "Wed", "Thurs", "Fri", "Sat".
  HxString day() const;
  // Local hour, 0-23.
  int hour() const;

 private:
  void parse_(HxString const& text, bool utc);

  int value_ = 0;
};

std::ostream& operator<<(std::ostream& out, HxTime const& t);
HxDebug& operator<<(HxDebug& out, HxTime const& t);

// Splits a time text: blanks end a token, "," and ":" are tokens of their own.
void hx_time_tokenize(HxString const& text, HxStringList& tokens);

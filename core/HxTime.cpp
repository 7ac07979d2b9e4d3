#include "core/HxTime.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <ostream>

#include "core/HxAtLoad.h"
#include "core/HxDebug.h"
#include "core/HxProcessEnv.h"
#include "core/HxProcessLocks.h"
#include "core/HxWorld.h"
#include "core/HxUser.h"

namespace {

// The process's clock correction, under the process lock kClock.
struct ClockState {
  int diff = 0;
  bool init = false;
  bool reference = false;
};

ClockState& clock_state() {
  static ClockState* state = new ClockState();  // used until exit
  return *state;
}

HxAtLoad const g_clock_at_load(clock_state);

char const* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
char const* const kDays[] = {"Sun", "Mon", "Tues", "Wed", "Thurs", "Fri", "Sat"};

// Narrows a 64-bit count of seconds to the 32-bit value, wrapping like the
// 32-bit arithmetic of the record.
int to_value(long long v) { return static_cast<int>(static_cast<unsigned int>(v)); }

bool local_tm(int value, tm& out) {
  time_t t = static_cast<time_t>(static_cast<long long>(value) + HX_TIME_EPOCH_OFFSET);
  return hx_localtime(t, &out);
}

// The offset file holds a short decimal number; more than this is not one.
constexpr ssize_t kMaxOffsetFileBytes = 64;

}  // namespace

HxTime::HxTime(int seconds, HxTime_epoch flag)
    : value_(flag != HX_TIME_SYSTEM ? to_value(static_cast<long long>(seconds) - HX_TIME_EPOCH_OFFSET) : seconds) {}

int HxTime::unixvalue() const { return to_value(static_cast<long long>(value_) + HX_TIME_EPOCH_OFFSET); }

void HxTime::unixvalue(int unix) { value_ = to_value(static_cast<long long>(unix) - HX_TIME_EPOCH_OFFSET); }

int HxTime::setToLocalClock() {
  value_ = to_value(hx_world().now() - HX_TIME_EPOCH_OFFSET);
  return value_;
}

void HxTime::setToNow() {
  ClockState& s = clock_state();
  int diff;
  bool load;
  {
    HxProcessLockHold hold(HxProcessLock::kClock);
    load = !s.reference && !s.init;
    diff = s.diff;
  }
  if (load) {
    // The file is read without the clock lock: finding the user may write
    // to the debug log, whose lock a thread may hold while it asks for the
    // time. Two first callers may both read it; the first result stays.
    int read = readOffsetFile(offsetPath());
    HxProcessLockHold hold(HxProcessLock::kClock);
    if (!s.reference && !s.init) {
      s.diff = read;
      s.init = true;
    }
    diff = s.diff;
  }
  value_ = to_value(hx_world().now() + diff - HX_TIME_EPOCH_OFFSET);
}

void HxTime::syncToDatabase(HxTime const& t) {
  ClockState& s = clock_state();
  HxProcessLockHold hold(HxProcessLock::kClock);
  if (s.reference) return;
  // The difference is measured from the uncorrected clock, so that calls
  // made at once with the same time agree instead of adding up.
  s.diff = to_value(static_cast<long long>(t.value_) - (hx_world().now() - HX_TIME_EPOCH_OFFSET));
  s.init = true;
}

void HxTime::setAsReference() {
  ClockState& s = clock_state();
  HxProcessLockHold hold(HxProcessLock::kClock);
  s.diff = 0;
  s.init = true;
  s.reference = true;
}

int HxTime::diff() {
  ClockState& s = clock_state();
  HxProcessLockHold hold(HxProcessLock::kClock);
  return s.diff;
}

void HxTime::_setDiff(int diff) {
  ClockState& s = clock_state();
  HxProcessLockHold hold(HxProcessLock::kClock);
  s.diff = diff;
  s.init = true;
}

bool HxTime::_isReference() {
  ClockState& s = clock_state();
  HxProcessLockHold hold(HxProcessLock::kClock);
  return s.reference;
}

void HxTime::_resetClock() {
  ClockState& s = clock_state();
  HxProcessLockHold hold(HxProcessLock::kClock);
  s.diff = 0;
  s.init = false;
  s.reference = false;
}

HxString HxTime::offsetPath() { return hx_world().tempDir() + "/time_" + hx_current_user() + ".tmp"; }

int HxTime::readOffsetFile(HxString const& path) {
  // The temporary directory is writable by everyone: another user could
  // plant a file or a link under this predictable name, or write into a file
  // of ours left open to them. Only a regular file of our own that nobody
  // else may write, opened without following a link, is believed.
  int fd = open(path.value(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    close(fd);
    return 0;
  }
  char buf[kMaxOffsetFileBytes + 1];
  ssize_t n = read(fd, buf, kMaxOffsetFileBytes);
  close(fd);
  if (n <= 0) return 0;
  buf[n] = 0;
  errno = 0;
  long long v = std::strtoll(buf, nullptr, 10);
  if (errno != 0 || v < INT_MIN || v > INT_MAX) return 0;
  return static_cast<int>(v);
}

void HxTime::sleep_seconds(int s) {
  if (s > 0) hx_world().sleepMillis(static_cast<int64_t>(s) * 1000);
}

void HxTime::sleep_milliseconds(int ms) {
  if (ms > 0) hx_world().sleepMillis(ms);
}

HxString HxTime::ascii() const {
  if (value_ == 0) return HxString("None");
  tm t;
  if (!local_tm(value_, t)) return HxString("None");
  HxString out(kMonths[t.tm_mon]);
  out += ' ';
  out += t.tm_mday;
  out += ", ";
  out.integervalue(t.tm_year + 1900, 4);
  out += ' ';
  out += t.tm_hour;
  out += ':';
  out.integervalue(t.tm_min, 2);
  out += ':';
  out.integervalue(t.tm_sec, 2);
  return out;
}

void hx_time_tokenize(HxString const& text, HxStringList& tokens) {
  HxString token("");
  auto flush = [&]() {
    if (token.length() > 0) tokens.append(new HxString(token));
    token = "";
  };
  char const* p = text.value();
  for (int i = 0; i < text.length(); ++i) {
    char c = p[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      flush();
    } else if (c == ',' || c == ':') {
      flush();
      tokens.append(new HxString(&c, 1));
    } else {
      token += c;
    }
  }
  flush();
}

void HxTime::ascii(HxString const& text) { parse_(text, false); }

void HxTime::ascii_utc(HxString const& text) { parse_(text, true); }

void HxTime::parse_(HxString const& text, bool utc) {
  HxStringList tok;
  hx_time_tokenize(text, tok);
  int n = tok.length();
  if (n < 4) return;
  if (!(*tok.get(2) == HxString(","))) return;
  tm t;
  std::memset(&t, 0, sizeof t);
  for (int m = 0; m < 12; ++m) {
    if (*tok.get(0) == HxString(kMonths[m])) {
      t.tm_mon = m;
      break;
    }
  }
  t.tm_mday = tok.get(1)->integervalue();
  long long year = static_cast<long long>(tok.get(3)->integervalue()) - 1900;
  if (year < INT_MIN || year > INT_MAX) return;
  t.tm_year = static_cast<int>(year);
  if (n >= 5) t.tm_hour = tok.get(4)->integervalue();
  if (n >= 7) t.tm_min = tok.get(6)->integervalue();
  if (n >= 9) t.tm_sec = tok.get(8)->integervalue();
  // The text is wall-clock time: whether daylight saving is in effect on
  // that date decides the offset, as it did when the text was written.
  t.tm_isdst = utc ? 0 : -1;
  errno = 0;
  time_t unix = utc ? hx_timegm(&t) : hx_mktime(&t);
  if (unix == static_cast<time_t>(-1) && errno != 0) return;
  long long v = static_cast<long long>(unix) - HX_TIME_EPOCH_OFFSET;
  // A time the 32-bit value cannot hold does not parse.
  if (v < INT_MIN || v > INT_MAX) return;
  value_ = static_cast<int>(v);
}

HxString HxTime::counter() const {
  int v = value_;
  HxString out;
  if (v < 120) {
    out += v;
    out += " s";
  } else if (v > 7199) {
    out += v / 3600;
    out += '.';
    out += (v % 3600) / 360;
    out += " h";
  } else {
    out += v / 60;
    out += '.';
    out += (v % 60) / 6;
    out += " m";
  }
  return out;
}

HxString HxTime::day() const {
  tm t;
  if (!local_tm(value_, t)) return HxString("");
  return HxString(kDays[t.tm_wday]);
}

int HxTime::hour() const {
  tm t;
  if (!local_tm(value_, t)) return 0;
  return t.tm_hour;
}

std::ostream& operator<<(std::ostream& out, HxTime const& t) { return out << t.ascii(); }

HxDebug& operator<<(HxDebug& out, HxTime const& t) { return out << t.ascii(); }

#include "core/HxDebug.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/HxAtLoad.h"
#include "core/HxFile.h"
#include "core/HxProcessEnv.h"
#include "core/HxProcessLocks.h"
#include "core/HxWorld.h"

namespace {

// Everything the log shares between threads, under the process lock
// kDebugLog. The stream is one per process: chosen by the first write of a
// message and closed by unlock().
struct LogState {
  bool chosen = false;  // a message has chosen its file (ofs null: it could not be opened)
  FILE* ofs = nullptr;
};

// Never destroyed: code that runs at exit may still log.
LogState& log_state() {
  static LogState* s = new LogState;
  return *s;
}

HxAtLoad const g_log_state_at_load(log_state);

std::atomic<uint32_t> g_verbosity{0xFFFFEFFFu};

constexpr HxProcessLock kLogLock = HxProcessLock::kDebugLog;

// How many lock() calls of this thread still wait for their unlock().
thread_local int t_held = 0;

char const* const kMonths[12] = {"Jan ", "Feb ", "Mar ", "Apr ", "May ", "Jun ",
                                 "Jul ", "Aug ", "Sep ", "Oct ", "Nov ", "Dec "};

struct tm local_now() {
  time_t now = static_cast<time_t>(hx_world().now());
  struct tm t;
  std::memset(&t, 0, sizeof t);
  hx_localtime(now, &t);
  return t;
}

// A log that names a pipe nobody reads swallows the message instead of
// stopping every thread that logs.
FILE* open_append(HxString const& name) { return HxFile::_fopenWrite(name, true); }

// Writes one number in the given printf form.
template <class T>
HxDebug& put_formatted(HxDebug& d, char const* format, T v) {
  char b[64];
  int n = std::snprintf(b, sizeof b, format, v);
  d.write(b, n < static_cast<int>(sizeof b) ? n : static_cast<int>(sizeof b) - 1);
  return d;
}

}  // namespace

HxDebug::~HxDebug() { delete filename_; }

void HxDebug::mode(int m) {
  HxProcessLockHold g(kLogLock);
  mode_ = m;
}

int HxDebug::mode() const {
  HxProcessLockHold g(kLogLock);
  return mode_;
}

void HxDebug::filename(HxString const& name) {
  HxProcessLockHold g(kLogLock);
  delete filename_;
  filename_ = new HxString(name);
}

void HxDebug::lock() {
  hx_process_lock(kLogLock);
  ++t_held;
}

void HxDebug::unlock() {
  LogState& s = log_state();
  {
    HxProcessLockHold g(kLogLock);
    if (s.ofs != nullptr) std::fclose(s.ofs);
    s.ofs = nullptr;
    s.chosen = false;
    std::fflush(stdout);
  }
  if (t_held > 0) {
    --t_held;
    hx_process_unlock(kLogLock);
  }
}

void HxDebug::write(char const* bytes, int n) {
  if (bytes == nullptr || n < 1) return;
  LogState& s = log_state();
  HxProcessLockHold g(kLogLock);
  if (!s.chosen) {
    bool named = filename_ != nullptr && filename_->length() > 0;
    if (!named || (mode_ != 0 && mode_ != 1)) {
      std::fwrite(bytes, 1, static_cast<size_t>(n), stdout);
      return;
    }
    HxString name(*filename_);
    if (mode_ == 1) {
      // The week is fixed when the file opens, so a message never spans two files.
      name += ".";
      name += local_now().tm_yday / 7;
    }
    // A file that cannot be opened swallows the rest of the message.
    s.ofs = open_append(name);
    s.chosen = true;
  }
  if (s.ofs != nullptr) std::fwrite(bytes, 1, static_cast<size_t>(n), s.ofs);
}

HxDebug& HxDebug::mark() {
  struct tm t = local_now();
  char host[1024];
  if (::gethostname(host, 1023) != 0) std::strcpy(host, "unknown");
  host[1023] = 0;
  char head[96];
  int month = t.tm_mon >= 0 && t.tm_mon < 12 ? t.tm_mon : 0;
  int n = std::snprintf(head, sizeof head, "[%s%d, %04d %d:%02d:%02d] ", kMonths[month], t.tm_mday,
                        t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  HxString prefix(head, n > 0 && n < static_cast<int>(sizeof head) ? n : 0);
  prefix += host;
  prefix += "[";
  prefix += static_cast<int>(::getpid());
  prefix += "]: ";
  write(prefix.value(), prefix.length());
  return *this;
}

HxDebug& HxDebug::operator<<(HxString const& s) {
  write(s.value(), s.length());
  return *this;
}

HxDebug& HxDebug::operator<<(char const* text) {
  if (text != nullptr) write(text, static_cast<int>(std::strlen(text)));
  return *this;
}

HxDebug& HxDebug::operator<<(int v) { return put_formatted(*this, "%d", v); }

HxDebug& HxDebug::operator<<(unsigned int v) { return put_formatted(*this, "%u", v); }

HxDebug& HxDebug::operator<<(long long v) { return put_formatted(*this, "%lld", v); }

HxDebug& HxDebug::operator<<(unsigned long v) { return put_formatted(*this, "%lu", v); }

HxDebug& HxDebug::operator<<(float v) { return put_formatted(*this, "%g", static_cast<double>(v)); }

HxDebug& HxDebug::operator<<(char c) {
  write(&c, 1);
  return *this;
}

HxDebug* hx_debug_obj() {
  static HxDebug* obj = new HxDebug();
  return obj;
}

namespace {
HxAtLoad const g_debug_obj_at_load(hx_debug_obj);
}  // namespace

int hx_debug_verb() { return static_cast<int>(g_verbosity.load()); }

void hx_debug_verbosity(int mask) { g_verbosity.store(static_cast<uint32_t>(mask)); }

void hx_debug_filename(HxString const& name, int mode) {
  // Name and mode change together: no message sees one without the other.
  HxProcessLockHold g(kLogLock);
  HxDebug* d = hx_debug_obj();
  d->mode(mode);
  d->filename(name);
}

void hx_debug_logfiles(HxString const& base, HxStringList& files) {
  for (int n = 0; n <= 52; ++n) {
    HxString name(base);
    name += ".";
    name += n;
    if (HxFile::exists(name)) files.append(new HxString(name));
  }
}

#pragma once

#include "core/HxList.h"
#include "core/HxString.h"

// The process-wide debug log. A message is written by one caller at a time:
//
//   if (hx_debug_verb() & 0x2000) {
//     HxDebug& d = *hx_debug_obj();
//     d.lock();
//     d.mark() << "ERROR: " << text << '\n';
//     d.unlock();
//   }
//
// lock() takes the log's mutex (other threads wait until unlock()), mark()
// writes the line prefix "[Mar 3, 2024 9:05:07] host[pid]: ", and unlock()
// closes the log file, which the next message opens again for appending.
// Lines go to the file set by hx_debug_filename() (mode 0 one file, mode 1
// one file per week of the year: name.0 to name.52), else to standard output.
class HxDebug {
 public:
  HxDebug() = default;
  HxDebug(HxDebug const&) = delete;
  HxDebug& operator=(HxDebug const&) = delete;
  virtual ~HxDebug();

  void mode(int m);
  int mode() const;
  void filename(HxString const& name);

  // Start of a message: holds the log for this thread until unlock().
  void lock();
  // End of a message: closes the open log file and lets other threads in.
  void unlock();
  // Writes the line prefix.
  HxDebug& mark();

  HxDebug& operator<<(HxString const& s);
  HxDebug& operator<<(char const* text);
  HxDebug& operator<<(int v);
  HxDebug& operator<<(unsigned int v);
  HxDebug& operator<<(long long v);
  HxDebug& operator<<(float v);
  HxDebug& operator<<(char c);
  // So that sizes, system counts and double values need no cast.
  HxDebug& operator<<(long v) { return *this << static_cast<long long>(v); }
  HxDebug& operator<<(unsigned long v);
  HxDebug& operator<<(double v) { return *this << static_cast<float>(v); }

  // Writes n bytes to the log stream (what every operator<< comes down to).
  void write(char const* bytes, int n);

 private:
  HxString* filename_ = nullptr;
  int mode_ = 0;
};

// The one log object of the process.
HxDebug* hx_debug_obj();
// The verbosity mask: 0x2000 "ERROR: " lines, 0x4000 "WARNING: ", 0x100000
// "INFO: ", 0x1000 debug lines (off at start: 0xFFFFEFFF).
int hx_debug_verb();
void hx_debug_verbosity(int mask);
// Sets the process-wide log's file name and mode.
void hx_debug_filename(HxString const& name, int mode);
// Appends base.0 ... base.52 that exist as regular files, in that order.
void hx_debug_logfiles(HxString const& base, HxStringList& files);

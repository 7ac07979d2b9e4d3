#pragma once

#include <ctime>
#include <mutex>

// The live process environment is one table that setenv and putenv may move
// and free while another thread walks it. Every reader and writer of it in the
// library (capturing, looking up and setting variables, starting a child,
// and the C library's time-zone look-ups, which read "TZ") holds this lock.
std::mutex& hx_environ_lock();

// localtime_r and gmtime_r read "TZ" only the first time the process converts
// a time; that first reading is done here, under the lock.
void hx_tz_ready();

// mktime reads "TZ" again on every call: it runs under the lock.
time_t hx_mktime(struct tm* t);

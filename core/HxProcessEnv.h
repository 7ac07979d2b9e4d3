#pragma once

#include <ctime>
#include <shared_mutex>

// The live process environment is one table that setenv and putenv may move
// and free while another thread walks it. Every reader of it in the library
// (capturing and looking up variables, starting a child, the C library's
// time-zone look-ups, which read "TZ", and host name look-ups, which read
// the resolver's variables) holds this lock shared; setting a variable holds
// it alone.
std::shared_mutex& hx_environ_lock();

// localtime_r and gmtime_r read "TZ" only the first time the process converts
// a time; that first reading is done here, under the lock.
void hx_tz_ready();

// mktime reads "TZ" again on every call: it runs under the lock.
time_t hx_mktime(struct tm* t);

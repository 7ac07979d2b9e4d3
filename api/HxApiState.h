#pragma once

#include <memory>

#include "core/HxError.h"
#include "core/HxString.h"

class HxAssignment;

// The process-wide state of the client API: the last error, the explicit
// supervisor host, the conversation time-out, the client log path, the
// dry-run file and, in a job process on a worker, the current assignment,
// the development cursor and the work sequence table. Calls run on many
// threads at once (the module lets go of the interpreter around network
// waits), so every value lives behind one lock and every accessor hands out
// copies, never references into the state.

// "8.1-0"
HxString hxversion();

// A copy of the last error of any request (number -1 before the first).
// A successful request never clears it.
HxError hxerror();

// Pauses the calling thread through the world's clock for that many seconds
// and returns the seconds left unslept (always 0). A negative count pauses
// nothing.
unsigned int hxsleep(int seconds);

// The conversation time-out in milliseconds, stored unchecked; a value below
// 1 stands for the configuration's client_timeout, which hxgettimeout then
// reads afresh.
void hxsettimeout(int ms);
int hxgettimeout();

// The supervisor host every request uses; empty leaves locating it to the
// client.
void hxsetsupervisor(HxString const& host);
HxString hxgetsupervisor();

// The client log path, or the keyword "USE_SUPERVISOR" (ask the supervisor
// for logs instead of reading them). Empty falls back to the configuration's
// client_logpath (itself falling back to supervisor_logpath).
void hxsetclientlogpath(HxString const& path);
HxString hxgetclientlogpath();

// The keyword of hxsetclientlogpath.
constexpr char const* kHxUseSupervisor = "USE_SUPERVISOR";

// Sets the installation directory of the built-in defaults to path without
// its last `depth` components, at the highest level: neither the
// environment nor the configuration file changes it afterwards, and only the
// first such call takes effect.
void _hx_init_api(HxString const& path, int depth);

// Sets the dry-run switch (a non-empty file name: submission completes the
// jobs and sends nothing) and returns it.
HxString hx_debug(HxString const& file);
HxString _hx_debug_file();

// The state as the request functions use it.
// The time-out as stored (below 1: the configuration's).
int _hx_timeout();
// Replaces the API error, in one locked step.
void _hx_set_error(HxError const& error);
void _hx_set_error(int number);

// Worker-side state of a job process. The assignment is shared: a reader
// keeps the one it got alive while another thread installs a new one.
std::shared_ptr<HxAssignment const> _hx_assignment();
void _hx_assignment(std::shared_ptr<HxAssignment const> assignment);
int _hx_dev_env();
void _hx_dev_env(int flag);
int _hx_work_pos();
void _hx_work_pos(int pos);
// The last sequence number stored under a work id text (0 when none).
int _hx_seq(HxString const& key);
// Adds step to the stored number (0 when none), stores and returns it, in
// one locked step.
int _hx_seq_advance(HxString const& key, int step);
// Stores value under a work id text.
void _hx_seq(HxString const& key, int value);
// The development cursor when it is below limit, moved on by one in the same
// locked step (so that two threads never get one item); -1 at the end.
int _hx_work_pos_take(int limit);

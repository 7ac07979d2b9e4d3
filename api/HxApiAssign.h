#pragma once

#include <memory>

#include "core/HxString.h"

class HxAssignment;
class HxClientConfig;
class HxJob;
class HxSubjob;

// The assignment of a job process: which job instance it runs, fetched from
// the worker on its own host (or, in development mode, made from a job file),
// and the accessors the job process reads it through.
//
// The assignment is shared state. The object accessors hand out shared
// pointers into the assignment, which keep the whole assignment alive for as
// long as the caller holds them, also when another thread installs a new one
// meanwhile; a replaced assignment goes when its last reader lets go.

// Fetches the assignment for the job and subjob ids in HXJOBID and HXSUBID
// from the local worker (worker_address, else 127.0.0.1), trying up to
// kHxAssignAttempts times with pauses of 5 to 10 seconds, and installs it.
// Only an assignment record is installed: after failures, or a reply of
// any other kind, the process is left without one.
void _hx_init_assign();

// Installs a (owned from now on; null clears the assignment). A non-null one
// sets development mode to its develop flag; null leaves the mode as it is.
void _hx_set_assign(HxAssignment* a);

// Development mode: the job stored in file becomes the assignment's job with
// ids 0, every status pending and as much work to do as it has agenda items;
// the agenda cursor starts again at 0. Requests and reports then stay in
// the process.
void _hx_set_job(HxString const& file);

// Takes two ids and does nothing.
void _hx_set_jobid(int jobid, int subid);

// The ids of the assignment's job and subjob, and the records themselves.
// Without an assignment each writes "ERROR: couldn't obtain assignment" on
// standard error and gives 0 or null.
int hxjobid();
int hxsubid();
std::shared_ptr<HxJob const> hxjobobj();
std::shared_ptr<HxSubjob const> hxsubjobobj();

// The name of this host; "127.0.0.1" when the system gives none.
HxString hxthishostname();

// The worker a job process reports to: the configuration's worker_address,
// else "127.0.0.1".
HxString _hx_local_worker(HxClientConfig const& config);
HxString _hx_local_worker();

// One line in the debug log (its prefix, the text, a newline), under the
// log's lock.
void _hx_debug_line(HxString const& text);
// One line on standard output, flushed.
void _hx_out_line(HxString const& text);

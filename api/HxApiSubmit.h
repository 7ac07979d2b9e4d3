#pragma once

#include <atomic>

#include "config/HxEnv.h"
#include "core/HxString.h"
#include "model/job/HxJob.h"
#include "net/HxMessage.h"

// Job submission: every job is completed on the client side (ids of an
// enclosing job process, search path, client and job-type defaults,
// environment and mounts), a job that asks for a preview has a few of its
// agenda items split off into a preview job sent just before it, and the
// whole list goes to the supervisor in one request.

// Job flag bits submission reads and sets.
constexpr int kHxJobFlagAutoMount = 0x8;
constexpr int kHxJobFlagExportEnvironment = 0x10;
constexpr int kHxJobFlagPAgenda = 0x8000;

// The counter of the debugging hooks, zero at load.
extern std::atomic<int> _hx_debug_id;

// Completes and sends jobs (request 200, or 200 + 32 when variant is
// non-zero) and appends the jobs the supervisor accepted to submitted. 1 on
// success; 0 with the API error set on failure, when every job that had a
// preview split off gets its agenda and preview flag back. With a dry-run
// file set nothing is sent and the result is 1.
int hxsubmit(HxJobList& jobs, HxJobList& submitted, unsigned char variant);

// Completes one job (its children first) from the client configuration, the
// job type's settings and the running process. Null is ignored.
void _hx_jobinit(HxJob* job, HxString& searchpath);

// Debugging hooks: the first numbers the job with the counter and counts
// on; the second resets the counter to 1. Both give 1.
int _hx_debug_init_job(HxJob* job);
int _hx_debug_submit(HxJobList& jobs, HxJobList& submitted);

// ---- shared with graph submission, and the parts the tests reach ----

// "HXPATH" of the captured environment, then ":" and the "template_path" of
// "$HOME/.hx.conf" when that file was read.
HxString _hx_search_path(HxEnv const& env);

// pid from "HXJOBID" and pgrp from "HXPGRPID", each only while below 0 and
// when the variable is non-empty.
void _hx_job_process_ids(HxJob& job, HxEnv const& env);

// The reply tests of a submission after a conversation that succeeded: an
// error reply (tag 3 or 4) sets the API error from its content; no content
// gives 2052; anything but a job list gives 2053 with the content type as
// macro ID; else the accepted jobs move into submitted. 1 or 0.
int _hx_submit_reply(HxMessage& reply, HxJobList& submitted);

// The line of a job left out because it asks for more preview items than
// the supervisor allows.
HxString _hx_p_agenda_limit_line(HxString const& name, int count, int limit);

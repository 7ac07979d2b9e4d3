#pragma once

#include <array>
#include <utility>

#include "core/HxString.h"

class HxStatus;
class HxSubjob;
class HxWork;

// The job process's agenda: asking the supervisor for the next item,
// reporting items, and reporting the job instance to the local worker.

// Asks the supervisor (sub port, up to 1440 retries) for the next item of
// the assignment's job. A running item sets the frame variables, passes the
// agenda preflights and is acknowledged (602) to the supervisor and the
// local worker before it lands in work; a complete or pending item (the job
// is done, or should stop) is copied as it came. 1 when work holds an item
// (a failed preflight gives the item's name with status failed); 0 with
// work complete when none could be had. In development mode the items come
// from the assignment's own agenda, then complete.
unsigned char hxrequestwork(HxWork& work);

// Reports work's status (after the agenda postflights of a finished item,
// which turn a failure into status failed) to the supervisor, up to 1440
// attempts; fills in the item's job, subjob, sequence number and host. 1
// when delivered (in development mode nothing is sent), 0 otherwise.
unsigned char hxreportwork(HxWork& work);

// Reports the job instance's status to the local worker, up to 64 attempts
// with doubling pauses. 1 on the worker's confirmation; 0 without an
// assignment, and 0 when a signal ended the request (core/HxInterrupt.h):
// the report stops there and the process goes on. The worker's order to
// shut down, or a worker that never confirms, ends the process with
// status 1.
unsigned char hxreportjob(HxStatus const& status);
unsigned char hxreportjob(HxSubjob& subjob);

// The padding width of the frame variables from the text of
// HX_FRAME_PADDING: its integer value, read in 64 bits and clamped to int,
// a width above kHxMaxFramePadding taken as that limit.
int _hx_frame_padding(HxString const& text);

// The ten frame variables of an item name, names and values in the order
// they are set, for the given padding text.
using HxFrameVariables = std::array<std::pair<char const*, HxString>, 10>;
HxFrameVariables _hx_frame_variables(HxString const& name, HxString const& padding);

#pragma once

#include "core/HxList.h"
#include "core/HxString.h"

class HxConfig;
class HxJob;

// Checks run around a job instance and around each agenda item: the job's
// own command strings, then the programs in the worker's check directories.
enum HxFlightCheckType {
  HX_INSTANCE_PREFLIGHT = 0,   // job preflights(), worker "/instance/pre"
  HX_INSTANCE_POSTFLIGHT = 1,  // job postflights(), worker "/instance/post"
  HX_AGENDA_PREFLIGHT = 2,     // job agenda_preflights(), worker "/agenda/pre"
  HX_AGENDA_POSTFLIGHT = 3,    // job agenda_postflights(), worker "/agenda/post"
};

// The full paths of the check programs of the given worker configuration:
// for each directory of its worker_flight_check_path, in order, the names of
// directory + the type's sub-directory in listing order, without ".", ".."
// and ".txt" (any case). Entries are not tested for being programs.
HxStringList _hx_worker_flight_checks(HxConfig const& worker, HxFlightCheckType type);

// Runs the job's commands of the type, then the worker's check programs, each
// through hxsystem, and stops at the first that ends with a code other than
// 0, which it returns; 0 when all passed. The job's strings are shell
// commands; the programs' paths are quoted, so that a name is never read as
// anything but that file.
int _hx_run_flight_checks(HxJob const& job, HxFlightCheckType type, HxStringList const& worker_checks);

// A text as one single-quoted shell word.
HxString _hx_shell_quote(HxString const& text);

// The check programs of the worker on this host ("localhost"), whose
// configuration is asked for; none when it does not answer.
HxStringList _hx_get_worker_flight_checks(HxFlightCheckType type);

// The job's commands of the type, then the local worker's check programs.
int _hx_run_flight_checks(HxJob const& job, HxFlightCheckType type);

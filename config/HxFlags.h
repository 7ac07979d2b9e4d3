#pragma once

#include "core/HxString.h"

// Flag sets are 32-bit integers whose bits are written as words. Each table
// fixes the words, their bits and the order in which they are printed.
//
// Integer to text: the names of the set bits in the table's order, joined
// with "," ("0" when no named bit is set; unnamed bits are never printed).
// Text to integer: an integer text is taken as it is; otherwise the text is
// split as a list and the bits of the named items are combined (unknown
// items, integer items and empty items add nothing; case matters).

// Supervisor log verbosity (two names for the same table).
HxString hx_supelog_flag_string(int value);
int hx_supelog_flag_int(HxString const& text);
HxString hx_supervisor_verbosity_string(int value);
int hx_supervisor_verbosity_int(HxString const& text);

HxString hx_supervisor_mode_flag_string(int value);
int hx_supervisor_mode_flag_int(HxString const& text);

HxString hx_worker_flag_string(int value);
int hx_worker_flag_int(HxString const& text);

HxString hx_supervisor_flag_string(int value);
int hx_supervisor_flag_int(HxString const& text);

HxString hx_supervisor_language_flag_string(int value);
int hx_supervisor_language_flag_int(HxString const& text);

HxString hx_supervisor_log_flag_string(int value);
int hx_supervisor_log_flag_int(HxString const& text);

HxString hx_supervisor_manifest_flag_string(int value);
int hx_supervisor_manifest_flag_int(HxString const& text);

HxString hx_client_flag_string(int value);
int hx_client_flag_int(HxString const& text);

HxString hx_database_flag_string(int value);
int hx_database_flag_int(HxString const& text);

// Job flags; "uninterruptable" is read as "uninterruptible".
HxString hx_job_flag_string(int value);
int hx_job_flag_int(HxString const& text);
// False when an item of the list converts to 0 on its own (an unknown word,
// an empty item, "0"); an integer text and an empty text are valid.
bool hx_job_flag_valid(HxString const& text);

HxString hx_permission_flag_string(int value);
int hx_permission_flag_int(HxString const& text);

// Enumerations. Texts are compared exactly; integer texts are not accepted.
enum HxPreemptPolicy {
  kHxPreemptDefault = -1,
  kHxPreemptDisabled = 0,
  kHxPreemptPassive = 1,
  kHxPreemptAggressive = 2,
  kHxPreemptMixed = 3,
};

enum HxSmartShareMode {
  kHxSmartShareNone = 0,
  kHxSmartShareJobs = 1,
};

enum HxWorkerExecMode {
  kHxWorkerExecService = 0,
  kHxWorkerExecDesktop = 1,
};

// An unknown value gives an empty text; an unknown text gives 0.
HxString hx_preempt_policy_string(HxPreemptPolicy value);
int hx_preempt_policy_int(HxString const& text);
// An unknown value gives an empty text; an unknown text gives 0.
HxString hx_smart_share_mode_string(HxSmartShareMode value);
int hx_smart_share_mode_int(HxString const& text);
// An unknown value gives "unknown"; an unknown text gives -1.
HxString hx_worker_exec_mode_string(HxWorkerExecMode value);
int hx_worker_exec_mode_int(HxString const& text);

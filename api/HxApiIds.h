#pragma once

#include "core/HxString.h"
#include "model/job/HxCallbackId.h"
#include "model/job/HxJobId.h"
#include "model/job/HxWorkId.h"

// Identifier texts as users write them (12, 12.3, 10-20.0-3, 12:frame0001,
// 7^2) turned into identifier records appended to a list, number ranges
// expanded job-major. The first part runs to the first separator ('.' for
// jobs, ':' for work, '^' for callbacks); everything after it is the second
// part. A character of another kind of identifier before the separator
// (':' or '^' for jobs, '.' or '^' for work, '.' or ':' for callbacks)
// rejects the text. A rejected text, an empty one, or one naming more than
// kHxMaxIdsPerCall identifiers appends nothing. The list is not emptied
// first; the result is always 0 and the caller judges by what was appended.

int _hx_interprit_jobids(HxString const& text, HxJobIdList& ids);
// The work name after ':' is taken whole, never expanded.
int _hx_interprit_workids(HxString const& text, HxWorkIdList& ids);
int _hx_interprit_callbackids(HxString const& text, HxCallbackIdList& ids);

// Whether the command number acts on jobs (200 to 299) or on work items
// (600 to 699).
bool _hx_is_job_command(int action);
bool _hx_is_work_command(int action);

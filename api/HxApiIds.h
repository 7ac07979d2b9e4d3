#pragma once

#include "api/HxApiLimits.h"
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
// kHxMaxIdsPerCall identifiers appends nothing. The identifiers of a text
// are counted before any is made. The list is not emptied first; the result
// is always 0 and the caller judges by what was appended. Running out of
// memory sets the API error "out of memory" (the list may then hold part of
// the text's identifiers).

int _hx_interprit_jobids(HxString const& text, HxJobIdList& ids);
// The work name after ':' is taken whole, never expanded.
int _hx_interprit_workids(HxString const& text, HxWorkIdList& ids);
int _hx_interprit_callbackids(HxString const& text, HxCallbackIdList& ids);

// Whether the command number acts on jobs (200 to 299) or on work items
// (600 to 699).
bool _hx_is_job_command(int action);
bool _hx_is_work_command(int action);

// The identifiers one call may still append, over all of its texts.
class HxIdBudget {
 public:
  explicit HxIdBudget(long long limit = kHxMaxIdsPerCall) : limit_(limit), left_(limit) {}
  long long limit() const { return limit_; }
  long long left() const { return left_; }
  // Takes n identifiers; false, taking nothing, when fewer are left.
  bool take(long long n) {
    if (n > left_) return false;
    left_ -= n;
    return true;
  }

 private:
  long long limit_;
  long long left_;
};

// How reading the identifier texts of a call ended.
enum class HxIdsRead { kOk, kTooMany, kNoMemory };

// Reads one identifier text of a job or work command as the command
// functions read it: offered to the work parser, then to the job parser,
// each appending what it accepts. Both counts are taken from the budget
// before anything is made; when they pass what is left, nothing of the text
// is appended, the API error is _hx_ids_limit_text(budget.limit()) and the
// result kTooMany. Running out of memory gives kNoMemory with the API error
// "out of memory"; the lists may then hold part of the text, and the call
// is to be given up.
HxIdsRead _hx_interprit_command_ids(HxString const& text, HxWorkIdList& work, HxJobIdList& jobs,
                                    HxIdBudget& budget);

// "too many ids in one call (limit <limit>)"
HxString _hx_ids_limit_text(long long limit);

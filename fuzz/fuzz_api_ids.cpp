// Arbitrary text into the identifier parsers: they end, return 0, append
// only to the end of the list and never more than the limit of one call.
#include <cstddef>
#include <cstdint>

#include "api/HxApiIds.h"
#include "api/HxApiLimits.h"
#include "expr/HxRange.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > 256) return 0;
  HxString const text(reinterpret_cast<char const*>(data), static_cast<int>(size));
  // Texts naming millions of identifiers are legal and slow; the fuzzer
  // looks for faults, not for the largest selection, so texts whose parts
  // hold big ranges are left out.
  int cut = 0;
  while (cut < text.length() && text.value()[cut] != '.' && text.value()[cut] != ':' && text.value()[cut] != '^') ++cut;
  HxRange first(HxString(text.value(), cut));
  HxRange second(cut < text.length() ? HxString(text.value() + cut + 1, text.length() - cut - 1) : HxString(""));
  if (static_cast<long long>(first.length()) * (second.length() + 1) > 100000) return 0;
  HxJobIdList jobs;
  jobs.append(new HxJobId(-7, -7));
  check(_hx_interprit_jobids(text, jobs) == 0);
  check(jobs.get(0)->id() == -7 && jobs.length() - 1 <= kHxMaxIdsPerCall);

  HxWorkIdList work;
  check(_hx_interprit_workids(text, work) == 0);
  check(work.length() <= kHxMaxIdsPerCall);

  HxCallbackIdList calls;
  check(_hx_interprit_callbackids(text, calls) == 0);
  check(calls.length() <= kHxMaxIdsPerCall);

  // The command functions' reading: the text twice on one small budget,
  // which never lets more through than it holds.
  HxIdBudget budget(1000);
  HxWorkIdList cmd_work;
  HxJobIdList cmd_jobs;
  for (int i = 0; i < 2; ++i) {
    HxIdsRead const read = _hx_interprit_command_ids(text, cmd_work, cmd_jobs, budget);
    check(read == HxIdsRead::kOk || read == HxIdsRead::kTooMany);
  }
  check(cmd_work.length() + cmd_jobs.length() + budget.left() == 1000);
  return 0;
}

#include "api/HxApiIds.h"

#include "api/HxApiLimits.h"
#include "expr/HxRange.h"

namespace {

// Splits text at the first separator. False when one of the refused
// characters comes before it.
bool split(HxString const& text, char separator, char refused_a, char refused_b, HxString& first,
           HxString& second) {
  char const* s = text.value();
  int const n = text.length();
  int i = 0;
  for (; i < n && s[i] != separator; ++i)
    if (s[i] == refused_a || s[i] == refused_b) return false;
  first = HxString(s, i);
  second = i < n ? HxString(s + i + 1, n - i - 1) : HxString("");
  return true;
}

// Appends make(first, second) for every pair of the two ranges, job-major,
// or make(first) alone when the second range is empty.
template <class List, class Make, class MakeOne>
void append_pairs(HxString const& first, HxString const& second, List& ids, Make make, MakeOne make_one) {
  HxRange outer(first);
  HxRange inner(second);
  long long const per = inner.length() > 0 ? inner.length() : 1;
  if (static_cast<long long>(outer.length()) * per > kHxMaxIdsPerCall) return;
  for (int i = 0; i < outer.length(); ++i) {
    if (inner.length() == 0) {
      ids.append(make_one(outer.get(i)));
      continue;
    }
    for (int k = 0; k < inner.length(); ++k) ids.append(make(outer.get(i), inner.get(k)));
  }
}

}  // namespace

int _hx_interprit_jobids(HxString const& text, HxJobIdList& ids) {
  HxString first, second;
  if (!split(text, '.', '^', ':', first, second)) return 0;
  append_pairs(
      first, second, ids, [](int job, int sub) { return new HxJobId(job, sub); },
      [](int job) { return new HxJobId(job); });
  return 0;
}

int _hx_interprit_workids(HxString const& text, HxWorkIdList& ids) {
  HxString first, name;
  if (!split(text, ':', '^', '.', first, name)) return 0;
  HxRange jobs(first);
  for (int i = 0; i < jobs.length(); ++i)
    ids.append(name.length() > 0 ? new HxWorkId(jobs.get(i), name) : new HxWorkId(jobs.get(i)));
  return 0;
}

int _hx_interprit_callbackids(HxString const& text, HxCallbackIdList& ids) {
  HxString first, second;
  if (!split(text, '^', ':', '.', first, second)) return 0;
  append_pairs(
      first, second, ids, [](int id, int call) { return new HxCallbackId(id, call); },
      [](int id) { return new HxCallbackId(id); });
  return 0;
}

bool _hx_is_job_command(int action) { return action >= 200 && action <= 299; }
bool _hx_is_work_command(int action) { return action >= 600 && action <= 699; }

#include "api/HxApiIds.h"

#include <memory>
#include <new>
#include <string>

#include "api/HxApiReply.h"
#include "api/HxApiState.h"
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

// One identifier text split for one parser, with the count of the
// identifiers it names, taken from the range texts alone: nothing is
// expanded to count them.
struct Parsed {
  bool accepted = false;
  HxString first, second;
  long long count = 0;
};

// A text of two ranges (jobs and subjobs, callbacks and calls): one
// identifier per pair, or per member of the first when the second is empty.
Parsed parse_pairs(HxString const& text, char separator, char refused_a, char refused_b) {
  Parsed p;
  if (!split(text, separator, refused_a, refused_b, p.first, p.second)) return p;
  p.accepted = true;
  long long const outer = HxRange::count(p.first);
  long long const inner = HxRange::count(p.second);
  p.count = outer * (inner > 0 ? inner : 1);
  return p;
}

// A work text: one identifier per job of the first part.
Parsed parse_work(HxString const& text) {
  Parsed p;
  if (!split(text, ':', '^', '.', p.first, p.second)) return p;
  p.accepted = true;
  p.count = HxRange::count(p.first);
  return p;
}

// Appends a new record; it is freed, not lost, when the list cannot grow.
template <class List, class T>
void append_new(List& ids, T* made) {
  std::unique_ptr<T> hold(made);
  ids.append(hold.get());
  hold.release();
}

// Appends make(first, second) for every pair of the two ranges, job-major,
// or make_one(first) alone when the second range is empty.
template <class List, class Make, class MakeOne>
void append_pairs(Parsed const& p, List& ids, Make make, MakeOne make_one) {
  HxRange outer(p.first);
  HxRange inner(p.second);
  for (int i = 0; i < outer.length(); ++i) {
    if (inner.length() == 0) {
      append_new(ids, make_one(outer.get(i)));
      continue;
    }
    for (int k = 0; k < inner.length(); ++k) append_new(ids, make(outer.get(i), inner.get(k)));
  }
}

void append_jobs(Parsed const& p, HxJobIdList& ids) {
  append_pairs(
      p, ids, [](int job, int sub) { return new HxJobId(job, sub); }, [](int job) { return new HxJobId(job); });
}

void append_work(Parsed const& p, HxWorkIdList& ids) {
  HxRange jobs(p.first);
  for (int i = 0; i < jobs.length(); ++i)
    append_new(ids, p.second.length() > 0 ? new HxWorkId(jobs.get(i), p.second) : new HxWorkId(jobs.get(i)));
}

void append_callbacks(Parsed const& p, HxCallbackIdList& ids) {
  append_pairs(
      p, ids, [](int id, int call) { return new HxCallbackId(id, call); },
      [](int id) { return new HxCallbackId(id); });
}

// One parser on its own: a text past the bound of one call appends nothing.
template <class Parse, class Append>
int interprit_one(Parse parse, Append append) {
  _hx_api_guard(0, [&] {
    Parsed const p = parse();
    if (p.accepted && p.count > 0 && p.count <= kHxMaxIdsPerCall) append(p);
    return 0;
  });
  return 0;
}

}  // namespace

int _hx_interprit_jobids(HxString const& text, HxJobIdList& ids) {
  return interprit_one([&] { return parse_pairs(text, '.', '^', ':'); },
                       [&](Parsed const& p) { append_jobs(p, ids); });
}

int _hx_interprit_workids(HxString const& text, HxWorkIdList& ids) {
  return interprit_one([&] { return parse_work(text); }, [&](Parsed const& p) { append_work(p, ids); });
}

int _hx_interprit_callbackids(HxString const& text, HxCallbackIdList& ids) {
  return interprit_one([&] { return parse_pairs(text, '^', ':', '.'); },
                       [&](Parsed const& p) { append_callbacks(p, ids); });
}

bool _hx_is_job_command(int action) { return action >= 200 && action <= 299; }
bool _hx_is_work_command(int action) { return action >= 600 && action <= 699; }

HxString _hx_ids_limit_text(long long limit) {
  return HxString(("too many ids in one call (limit " + std::to_string(limit) + ")").c_str());
}

HxIdsRead _hx_interprit_command_ids(HxString const& text, HxWorkIdList& work, HxJobIdList& jobs,
                                    HxIdBudget& budget) {
  return _hx_api_guard(HxIdsRead::kNoMemory, [&] {
    Parsed const w = parse_work(text);
    Parsed const j = parse_pairs(text, '.', '^', ':');
    long long const need = (w.accepted ? w.count : 0) + (j.accepted ? j.count : 0);
    if (!budget.take(need)) {
      _hx_set_cause(_hx_ids_limit_text(budget.limit()));
      return HxIdsRead::kTooMany;
    }
    if (w.accepted) append_work(w, work);
    if (j.accepted) append_jobs(j, jobs);
    return HxIdsRead::kOk;
  });
}

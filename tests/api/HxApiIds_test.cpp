#include "api/HxApiIds.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "api/HxApiState.h"
#include "tests/api/ApiTestUtil.h"

using hxtest::S;

namespace {

std::string text(HxJobIdList const& l) {
  std::string out;
  for (int i = 0; i < l.length(); ++i) out += "(" + std::to_string(l.get(i)->id()) + "," + std::to_string(l.get(i)->subid()) + ")";
  return out;
}
std::string text(HxCallbackIdList const& l) {
  std::string out;
  for (int i = 0; i < l.length(); ++i)
    out += "(" + std::to_string(l.get(i)->id()) + "," + std::to_string(l.get(i)->callid()) + ")";
  return out;
}
std::string text(HxWorkIdList const& l) {
  std::string out;
  for (int i = 0; i < l.length(); ++i) out += "(" + std::to_string(l.get(i)->id()) + "," + S(l.get(i)->name()) + ")";
  return out;
}

}  // namespace

// Every parser appends to what the list held ("(0,0)" here) and returns 0.
TEST(HxApiIds, Parsers) {
  struct Row {
    char kind;  // j, w, c
    char const* input;
    char const* appended;
  } const rows[] = {
      {'j', "12", "(12,-1)"},
      {'j', "12.3", "(12,3)"},
      {'j', "10-11.0-1", "(10,0)(10,1)(11,0)(11,1)"},
      {'j', "11-10.1,0", "(11,1)(11,0)(10,1)(10,0)"},  // each range in its own order
      {'j', "12.", "(12,-1)"},
      {'j', "12^3", ""},
      {'j', "12:3", ""},
      {'j', "12.3:4", "(12,3)"},  // after the separator anything goes to the range reader
      {'j', "", ""},
      {'j', ".3", ""},
      {'j', "1-16777216.1-16777216", ""},  // 2^48 pairs: over the limit, nothing
      {'j', "1-4097.1-4096", ""},          // one over 2^24
      {'w', "5-7:frame_0001", "(5,frame_0001)(6,frame_0001)(7,frame_0001)"},
      {'w', "5", "(5,)"},
      {'w', "5:", "(5,)"},
      {'w', "5:1-3", "(5,1-3)"},  // names are never expanded
      {'w', "5:a:b.c^d", "(5,a:b.c^d)"},
      {'w', "5.1:x", ""},
      {'w', "5^1:x", ""},
      {'w', "", ""},
      {'c', "7^2", "(7,2)"},
      {'c', "7", "(7,-1)"},
      {'c', "7-8^1-2", "(7,1)(7,2)(8,1)(8,2)"},
      {'c', "7.2", ""},
      {'c', "7:2", ""},
      {'c', "1-65536^1-65536", ""},
  };
  for (auto const& r : rows) {
    std::string got;
    int result = -1;
    if (r.kind == 'j') {
      HxJobIdList l;
      l.append(new HxJobId(0, 0));
      result = _hx_interprit_jobids(r.input, l);
      got = text(l);
    } else if (r.kind == 'w') {
      HxWorkIdList l;
      l.append(new HxWorkId(0, "0"));
      result = _hx_interprit_workids(r.input, l);
      got = text(l);
    } else {
      HxCallbackIdList l;
      l.append(new HxCallbackId(0, 0));
      result = _hx_interprit_callbackids(r.input, l);
      got = text(l);
    }
    std::string const before = "(0,0)";
    EXPECT_EQ(result, 0) << r.input;
    EXPECT_EQ(got, before + r.appended) << r.kind << " " << r.input;
  }
}

TEST(HxApiIds, CommandKinds) {
  struct Row {
    int action;
    bool job, work;
  } const rows[] = {{199, false, false}, {200, true, false}, {299, true, false}, {300, false, false},
                    {599, false, false}, {600, false, true},  {699, false, true}, {700, false, false},
                    {-200, false, false}};
  for (auto const& r : rows) {
    EXPECT_EQ(_hx_is_job_command(r.action), r.job) << r.action;
    EXPECT_EQ(_hx_is_work_command(r.action), r.work) << r.action;
  }
}

// The command functions' reading of their texts: every text goes to the
// work parser and then to the job parser, and all the texts of one call draw
// on one budget, counted before anything is made. A text that would pass
// what is left appends nothing and fails the call with an error naming the
// limit.
TEST(HxApiIds, CommandTextsShareOneBudget) {
  struct Row {
    std::vector<char const*> texts;
    long long limit;  // 0: the bound of one call
    HxIdsRead last;   // how the last text read ended
    char const* work;
    char const* jobs;
    char const* error;  // the API error afterwards ("" when left alone)
  } const rows[] = {
      {{"12"}, 10, HxIdsRead::kOk, "(12,)", "(12,-1)", ""},
      {{"1-3", "7"}, 8, HxIdsRead::kOk, "(1,)(2,)(3,)(7,)", "(1,-1)(2,-1)(3,-1)(7,-1)", ""},
      {{"1-2.0-1"}, 4, HxIdsRead::kOk, "", "(1,0)(1,1)(2,0)(2,1)", ""},
      {{"5:f"}, 1, HxIdsRead::kOk, "(5,f)", "", ""},
      {{"12^3"}, 10, HxIdsRead::kOk, "", "", ""},
      // Each text within the bound, together past it: the text that passes
      // it adds nothing.
      {{"1-3", "4-6"}, 10, HxIdsRead::kTooMany, "(1,)(2,)(3,)", "(1,-1)(2,-1)(3,-1)",
       "too many ids in one call (limit 10)"},
      {{"1-6"}, 10, HxIdsRead::kTooMany, "", "", "too many ids in one call (limit 10)"},
      {{"1-2.0-4"}, 9, HxIdsRead::kTooMany, "", "", "too many ids in one call (limit 9)"},
      {{"1-16777216"}, 0, HxIdsRead::kTooMany, "", "", "too many ids in one call (limit 1048576)"},
      {{"1-4096.1-4096"}, 0, HxIdsRead::kTooMany, "", "", "too many ids in one call (limit 1048576)"},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.texts.back());
    _hx_set_error(7);
    HxIdBudget budget = r.limit > 0 ? HxIdBudget(r.limit) : HxIdBudget();
    HxWorkIdList work;
    HxJobIdList jobs;
    HxIdsRead read = HxIdsRead::kOk;
    for (char const* t : r.texts) read = _hx_interprit_command_ids(t, work, jobs, budget);
    EXPECT_EQ(read, r.last);
    EXPECT_EQ(text(work), r.work);
    EXPECT_EQ(text(jobs), r.jobs);
    EXPECT_EQ(S(hxerror().value()), r.error[0] != '\0' ? std::string(r.error) : S(HxError(7).value()));
  }
}

// Texts naming millions of identifiers are counted, not expanded, before
// they are refused: in a child whose address space may grow by far less
// than one such expansion, each call ends at once with nothing appended and
// without running out of memory (which would set the API error).
TEST(HxApiIds, HugeTextsAreRefusedBeforeTheyAreMade) {
  if (hxtest::kShadowMemory) GTEST_SKIP() << "no address-space limit under a sanitizer";
  struct Row {
    char const* name;
    std::function<bool()> refused;
  } const rows[] = {
      {"job pairs",
       [] {
         HxJobIdList l;
         _hx_interprit_jobids("1-16777216.1-16777216", l);
         return l.length() == 0;
       }},
      {"callback pairs",
       [] {
         HxCallbackIdList l;
         _hx_interprit_callbackids("1-16777216^1-16777216", l);
         return l.length() == 0;
       }},
      {"work",
       [] {
         HxWorkIdList l;
         _hx_interprit_workids("1-16777216:f", l);
         return l.length() == 0;
       }},
      {"command texts",
       [] {
         HxIdBudget budget;
         HxWorkIdList work;
         HxJobIdList jobs;
         for (int i = 0; i < 4; ++i)
           if (_hx_interprit_command_ids("1-16777216", work, jobs, budget) != HxIdsRead::kTooMany) return false;
         _hx_set_error(7);  // the limit's text, checked above, is no fault of memory
         return work.length() == 0 && jobs.length() == 0;
       }},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(hxtest::run_with_memory_limit(16u << 20, [&] {
                _hx_set_error(7);
                if (!r.refused()) return 1;
                return hxerror().integervalue() == 7 ? 0 : 2;
              }),
              0);
  }
}

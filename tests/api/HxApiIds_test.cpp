#include "api/HxApiIds.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestUtil.h"

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

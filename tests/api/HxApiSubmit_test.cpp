#include "api/HxApiSubmit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "config/HxConfig.h"
#include "tests/api/ApiTestUtil.h"

namespace {

using hxtest::S;
using Names = std::vector<std::string>;

HxJob* job_with(Names const& agenda, int flags, Names const& p_agenda = {}) {
  auto* job = new HxJob;
  job->name("x");
  job->flags(flags);
  for (auto const& n : agenda) {
    auto* w = new HxWork;
    w->name(n.c_str());
    job->agenda().append(w);
  }
  for (auto const& n : p_agenda) {
    auto* w = new HxWork;
    w->name(n.c_str());
    job->p_agenda().append(w);
  }
  return job;
}

Names names_of(HxWorkList const& list) {
  Names out;
  for (int i = 0; i < list.length(); ++i) out.push_back(S(list.get(i)->name()));
  return out;
}

Names ten() { return {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}; }

// A supervisor that answers its configuration with the given options and a
// submission with the jobs it got.
FakePeer::Handler supervisor(std::string const& options) {
  return [options](HxMessage& req, HxMessage& rep) {
    if (req.tag() == kHxReqConfig) {
      auto* config = new HxConfig;
      config->parse(options.c_str());
      return hxtest::answer(rep, 1, config);
    }
    auto* got = dynamic_cast<HxJobList*>(req.content());
    return hxtest::answer(rep, 1, new HxJobList(got != nullptr ? *got : HxJobList()));
  };
}

// The job list of the last submission the farm got.
HxJobList sent(hxtest::FakeFarm const& farm, int* tag = nullptr, int* config_requests = nullptr) {
  HxJobList out;
  int configs = 0;
  for (auto& m : farm.requests()) {
    if (m->tag() == kHxReqConfig) {
      ++configs;
      continue;
    }
    if (tag != nullptr) *tag = m->tag();
    if (auto* jobs = dynamic_cast<HxJobList*>(m->content())) out.copy(*jobs);
  }
  if (config_requests != nullptr) *config_requests = configs;
  return out;
}

// The preview split: which items go to the preview (first, last, then the
// middle one of the rest; or the p_agenda names, each taking the first equal
// item; or all of one or two), and that the preview travels just before its
// job with the preview flag, the job without it.
TEST(HxSubmit, PreviewSplit) {
  struct Row {
    Names agenda;
    bool flag;
    Names p_agenda;
    bool split;
    Names preview;
    Names job;
  } const rows[] = {
      {ten(), true, {}, true, {"0", "9", "5"}, {"1", "2", "3", "4", "6", "7", "8"}},
      {ten(), false, {"3", "7", "none"}, true, {"3", "7", "none"}, {"0", "1", "2", "4", "5", "6", "8", "9"}},
      {{"a", "b", "a", "a"}, false, {"a", "a"}, true, {"a", "a"}, {"b", "a"}},
      {{"0", "1", "2", "3", "4"}, true, {}, true, {"0", "4", "2"}, {"1", "3"}},
      {{"0", "1", "2"}, true, {}, true, {"0", "2", "1"}, {}},
      {{"0", "1"}, true, {}, true, {"0", "1"}, {}},
      {{"0"}, true, {}, true, {"0"}, {}},
      {{}, true, {"a"}, false, {}, {}},
      {{"0", "1", "2"}, false, {}, false, {}, {"0", "1", "2"}},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.agenda.size() * 10 + row.p_agenda.size());
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, supervisor(""));
    HxJobList jobs, submitted;
    jobs.append(job_with(row.agenda, row.flag ? kHxJobFlagPAgenda : 0, row.p_agenda));
    ASSERT_EQ(hxsubmit(jobs, submitted, 0), 1);
    HxJobList got = sent(farm);
    ASSERT_EQ(got.length(), row.split ? 2 : 1);
    HxJob* job = got.get(got.length() - 1);
    EXPECT_EQ(names_of(job->agenda()), row.job);
    EXPECT_EQ(names_of(jobs.get(0)->agenda()), row.job);
    EXPECT_EQ((job->flags() & kHxJobFlagPAgenda) != 0, row.flag && !row.split);
    if (!row.split) continue;
    HxJob* preview = got.get(0);
    EXPECT_EQ(names_of(preview->agenda()), row.preview);
    EXPECT_NE(preview->flags() & kHxJobFlagPAgenda, 0);
    EXPECT_EQ(preview->cpus(), static_cast<int>(row.preview.size()) < 2 ? 1 : static_cast<int>(row.preview.size()));
    EXPECT_EQ(submitted.length(), 2);
  }
}

// The supervisor's limit on preview items: fetched once per call, 0 means
// none, a negative one refuses every job that needs a preview; a refused job
// is left out with its line and the rest still goes.
TEST(HxSubmit, PreviewLimit) {
  struct Row {
    char const* options;
    int items;
    bool sent;
    char const* line;
  } const rows[] = {
      {"supervisor_p_agenda_max = 3\n", 4, false,
       "ERROR: job (name[\"x\"]) has requested more p-agenda items[4] than the supervisor allows "
       "(supervisor_p_agenda_max[3])... job NOT submitted\n"},
      {"supervisor_p_agenda_max = 3\n", 3, true, ""},
      {"supervisor_p_agenda_max = 0\n", 50, true, ""},
      {"", 50, true, ""},
      {"supervisor_p_agenda_max = -1\n", 0, false,
       "ERROR: job (name[\"x\"]) has requested more p-agenda items[0] than the supervisor allows "
       "(supervisor_p_agenda_max[-1])... job NOT submitted\n"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(std::string(row.options) + std::to_string(row.items));
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, supervisor(row.options));
    Names p;
    for (int i = 0; i < row.items; ++i) p.push_back(std::to_string(i));
    HxJobList jobs, submitted;
    // Two jobs asking for the same preview, and one plain job.
    jobs.append(job_with(ten(), kHxJobFlagPAgenda, p));
    jobs.append(job_with(ten(), kHxJobFlagPAgenda, p));
    jobs.append(job_with({"a"}, 0));
    testing::internal::CaptureStderr();
    EXPECT_EQ(hxsubmit(jobs, submitted, 0), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(row.line) + row.line);
    int configs = 0;
    HxJobList got = sent(farm, nullptr, &configs);
    EXPECT_EQ(configs, 1);
    EXPECT_EQ(got.length(), row.sent ? 5 : 1);
    // A refused job is not completed nor split.
    EXPECT_EQ(jobs.get(0)->agenda().length(), row.sent ? 10 - std::min(row.items, 10) : 10);
  }
}

// Completion from the client configuration, the environment and the per-user
// file: preview priority and cpus, ids of an enclosing job process, the
// search path and the exported environment.
TEST(HxSubmit, Completion) {
  hxtest::TempDir home("hxhome");
  home.write(".hx.conf", "template_path = /b\n");
  hxtest::TempDir nohome("hxnohome");
  struct Row {
    char const* hxpath;
    std::string home;
    int pid;
    int flags;
    char const* path;
    int want_pid;
    bool exported;
  } const rows[] = {
      {"/a", home.path(), -1, 0, "/a:/b", 1234, false},
      {nullptr, home.path(), 7, 0, ":/b", 7, false},
      {"/a", nohome.path(), -1, kHxJobFlagExportEnvironment, "/a", 1234, true},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.path);
    hxtest::ScopedEnv env{{"HXPATH", row.hxpath}, {"HOME", row.home.c_str()}, {"HXJOBID", "1234"},
                          {"HXPGRPID", "99"}, {"HXTEST_PROCESS_VAR", "proc"}, {"HXTEST_BOTH", "proc"}};
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, supervisor(""), "client_p_agenda_priority = 50\nclient_priority = 20\n");
    HxJobList jobs, submitted;
    HxJob* job = job_with({"0", "1", "2"}, kHxJobFlagPAgenda | row.flags);
    job->pid(row.pid);
    job->p_agenda_priority(0);
    job->env().set("HXTEST_BOTH", "mine");
    job->env().set("HXTEST_OWN", "own");
    jobs.append(job);
    ASSERT_EQ(hxsubmit(jobs, submitted, 0), 1);
    HxJobList got = sent(farm);
    ASSERT_EQ(got.length(), 2);
    HxJob* preview = got.get(0);
    HxJob* sentjob = got.get(1);
    EXPECT_EQ(preview->priority(), 50);
    EXPECT_EQ(preview->cpus(), 3);
    EXPECT_EQ(sentjob->priority(), 20);
    for (HxJob* j : {preview, sentjob}) {
      EXPECT_EQ(S(j->path()), row.path);
      EXPECT_EQ(j->pid(), row.want_pid);
      EXPECT_EQ(j->pgrp(), 99);
      EXPECT_EQ(S(j->env().value("HXTEST_BOTH")), "mine");
      EXPECT_EQ(S(j->env().value("HXTEST_OWN")), "own");
      EXPECT_EQ(j->env().exists("HXTEST_PROCESS_VAR"), row.exported);
      EXPECT_NE(j->flags() & kHxJobFlagAutoMount, 0);
    }
  }
}

// The request's tag, and the replies: accepted jobs appended behind the
// caller's, each failure with its API error, and on failure every split job
// gets its agenda back in order with its preview flag.
TEST(HxSubmit, Replies) {
  enum Kind { kJobs, kNone, kStrings, kError, kOld, kJobsAsError, kDown };
  struct Row {
    int tag;
    Kind kind;
    unsigned char variant;
    int result;
    int error;
    char const* macro;
    char const* value;
  } const rows[] = {
      {1, kJobs, 0, 1, 7, "", ""},
      {1, kJobs, 1, 1, 7, "", ""},
      {1, kNone, 0, 0, 2052, "", ""},
      {1, kStrings, 0, 0, 2053, "ID", "55"},
      {3, kError, 0, 0, 1234, "", ""},
      {4, kError, 0, 0, 1234, "", ""},
      {4, kOld, 0, 0, 100000, "ERROR", "old words"},
      {4, kNone, 0, 0, 2051, "", ""},
      {4, kJobsAsError, 0, 0, 2051, "", ""},
      {1, kDown, 0, 0, -2, "", ""},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.tag * 10 + row.kind);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, [&row](HxMessage& req, HxMessage& rep) {
      if (req.tag() == kHxReqConfig) return hxtest::answer(rep, 1, new HxConfig);
      switch (row.kind) {
        case kJobs: {
          auto* jobs = new HxJobList;
          jobs->append(new HxJob);
          jobs->get(0)->id(501);
          jobs->append(new HxJob);
          jobs->get(1)->id(502);
          return hxtest::answer(rep, row.tag, jobs);
        }
        case kStrings:
          return hxtest::answer(rep, row.tag, new HxStringList);
        case kError:
          return hxtest::answer(rep, row.tag, new HxError(1234));
        case kOld:
          return hxtest::answer(rep, row.tag, new HxOldError(HxString("old words")));
        case kJobsAsError:
          return hxtest::answer(rep, row.tag, new HxJobList);
        default:
          return hxtest::answer(rep, row.tag);
      }
    });
    if (row.kind == kDown) {
      int closed = 0;
      {
        FakePeer gone;
        closed = gone.tcpPort();
      }
      world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + std::to_string(closed) + "\n");
    }
    _hx_set_error(7);
    HxJobList jobs, submitted;
    jobs.append(job_with(ten(), kHxJobFlagPAgenda));
    submitted.append(new HxJob);
    submitted.get(0)->id(9);
    testing::internal::CaptureStderr();
    EXPECT_EQ(hxsubmit(jobs, submitted, row.variant), row.result);
    std::string const err = testing::internal::GetCapturedStderr();
    if (row.kind != kDown) {
      EXPECT_EQ(err, "");
    }
    HxError e = hxerror();
    if (row.error == -2) {
      EXPECT_NE(e.integervalue(), 7);
    } else {
      EXPECT_EQ(e.integervalue(), row.error);
    }
    if (row.macro[0] != 0) {
      HxString v;
      EXPECT_TRUE(e.values().get(row.macro, v));
      EXPECT_EQ(S(v), row.value);
    }
    ASSERT_EQ(submitted.length(), row.result == 1 ? 3 : 1);
    EXPECT_EQ(submitted.get(0)->id(), 9);
    if (row.result == 1) {
      EXPECT_EQ(submitted.get(1)->id(), 501);
      EXPECT_EQ(submitted.get(2)->id(), 502);
      EXPECT_EQ(names_of(jobs.get(0)->agenda()), (Names{"1", "2", "3", "4", "6", "7", "8"}));
      EXPECT_EQ(jobs.get(0)->flags() & kHxJobFlagPAgenda, 0);
    } else {
      EXPECT_EQ(names_of(jobs.get(0)->agenda()), ten());
      EXPECT_NE(jobs.get(0)->flags() & kHxJobFlagPAgenda, 0);
    }
    if (row.kind == kDown) continue;
    int tag = 0;
    sent(farm, &tag);
    EXPECT_EQ(tag, row.variant ? 232 : 200);
  }
}

// An empty list still goes to the supervisor; a dry run sends nothing,
// writes nothing, leaves the accepted list alone and resets the hooks'
// counter, which numbers jobs from there.
TEST(HxSubmit, EmptyListAndDryRun) {
  hxtest::TempDir dir("hxdry");
  std::string const file = dir.file("dry.out");
  for (bool dry : {false, true}) {
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, supervisor(""));
    hx_debug(dry ? HxString(file.c_str()) : HxString(""));
    _hx_debug_id = 40;
    HxJobList jobs, submitted;
    if (dry) jobs.append(job_with(ten(), kHxJobFlagPAgenda));
    EXPECT_EQ(hxsubmit(jobs, submitted, 0), 1);
    hx_debug("");
    EXPECT_EQ(submitted.length(), 0);
    EXPECT_EQ(farm.requests().size(), 1u);
    if (dry) {
      EXPECT_EQ(farm.requests()[0]->tag(), kHxReqConfig);
      EXPECT_EQ(jobs.get(0)->agenda().length(), 7);
      EXPECT_FALSE(std::ifstream(file).good());
      HxJob a, b;
      EXPECT_EQ(_hx_debug_init_job(&a), 1);
      EXPECT_EQ(_hx_debug_init_job(&b), 1);
      EXPECT_EQ(a.id(), 1);
      EXPECT_EQ(b.id(), 2);
      EXPECT_EQ(_hx_debug_submit(jobs, submitted), 1);
      EXPECT_EQ(_hx_debug_id.load(), 1);
    } else {
      EXPECT_EQ(farm.requests()[0]->tag(), 200);
      EXPECT_EQ(sent(farm).length(), 0);
      EXPECT_EQ(_hx_debug_id.load(), 40);
    }
  }
}

}  // namespace

#include "api/HxApiAssign.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "api/HxApiState.h"
#include "core/HxError.h"
#include "model/job/HxAssignment.h"
#include "model/job/HxJobId.h"
#include "tests/api/JobProcessTestUtil.h"

namespace {

using hxtest::out_lines;
using hxtest::S;
using Step = hxtest::Scripted::Step;

Step assignment_step() {
  return {1, [] { return hxtest::made_assignment(12, 3); }};
}

// The fetch from the local worker: the request sent each time, the attempts,
// the pauses of the loop (6 s from the pinned draw; the client's own 1 s
// after a refusal), the warnings, the final line only after failed
// conversations, and only an assignment record ever installed.
TEST(HxApiAssign, InitAssignAttemptsPausesAndWhatIsInstalled) {
  struct Row {
    char const* name;
    bool up;
    std::vector<Step> steps;
    size_t requests;
    std::vector<int64_t> sleeps;
    int failed_lines, worker_down_lines, sleeping_lines;
    char const* err;
    int jobid;  // -1: no assignment
  };
  std::vector<int64_t> const errors(1440, 6000);
  char const* const final_line = "ERROR: unable to contact worker... recommending immediate shutdown.\n";
  Row const rows[] = {
      {"at once", true, {assignment_step()}, 1, {}, 0, 0, 0, "", 12},
      {"refused twice", true, {{5, nullptr}, {5, nullptr}, assignment_step()}, 3, {1000, 1000}, 2, 0, 0, "", 12},
      {"error then assignment", true, {{4, nullptr}, assignment_step()}, 2, {6000}, 0, 1, 1, "", 12},
      {"1440 errors", true, {{4, [] { return new HxError(3); }}}, 1440, errors, 0, 1440, 1440, "", -1},
      {"error record under tag 1", true, {{1, [] { return new HxError(3); }}}, 1, {}, 0, 0, 0, "", -1},
      {"no content", true, {{1, nullptr}}, 1, {}, 0, 0, 0, "", -1},
      {"unreachable", false, {}, 0, errors, 1440, 0, 1440, final_line, -1},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::JobWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::JobStateGuard state;
    hxtest::FakeFarm farm(world, hxtest::Scripted{row.steps});
    ASSERT_TRUE(farm.ok());
    if (!row.up) world.config(hxtest::closed_farm_config());
    _hx_assignment(std::shared_ptr<HxAssignment const>(hxtest::made_assignment(99, 9)));
    setenv("HXJOBID", "12", 1);
    setenv("HXSUBID", "3", 1);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    _hx_init_assign();
    std::string const err = testing::internal::GetCapturedStderr();
    auto const lines = out_lines(testing::internal::GetCapturedStdout());
    unsetenv("HXJOBID");
    unsetenv("HXSUBID");
    EXPECT_EQ(err, row.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "getting job details for: 12.3");
    int failed = 0, down = 0, sleeping = 0;
    for (auto const& l : lines) {
      failed += l.find("] failed; resending.") != std::string::npos;
      down += l.find("] failed (worker down?); resending.") != std::string::npos;
      sleeping += l == "WARNING: sleeping [6] seconds before retry.";
    }
    EXPECT_EQ(failed, row.failed_lines);
    EXPECT_EQ(down, row.worker_down_lines);
    EXPECT_EQ(sleeping, row.sleeping_lines);
    EXPECT_EQ(world.sleeps(), row.sleeps);
    auto const requests = farm.requests();
    ASSERT_EQ(requests.size(), row.requests);
    for (auto const& m : requests) {
      EXPECT_EQ(m->tag(), 100);
      auto const* id = dynamic_cast<HxJobId const*>(m->content());
      ASSERT_NE(id, nullptr);
      EXPECT_EQ(id->id(), 12);
      EXPECT_EQ(id->subid(), 3);
    }
    std::shared_ptr<HxAssignment const> a = _hx_assignment();
    EXPECT_EQ(a ? a->job().id() : -1, row.jobid);
  }
}

// Development mode from a job file in each form the file may take, and from
// a file that is missing: ids 0, every status pending, the count of work to
// do, the cursor back at 0; no network is needed.
TEST(HxApiAssign, SetJobFromFileForms) {
  hxtest::TempDir dir("hxsetjob");
  HxJob job;
  job.id(44);
  job.subjobstatus(HxStatus(HxStatus::kRunning));
  for (char const* name : {"1", "2-5", "6"}) {
    auto* w = new HxWork;
    w->name(name);
    w->status(HxStatus(HxStatus::kComplete));
    job.agenda().append(w);
  }
  HxJobList list;
  list.append(new HxJob(job));
  ASSERT_GT(job.archive(dir.hxfile("job.bin")), 0);
  ASSERT_GT(job.archiveXML(dir.hxfile("job.xml")), 0);
  ASSERT_GT(list.archiveXML(dir.hxfile("list.xml")), 0);
  struct Row {
    char const* file;
    int items;
  } const rows[] = {{"job.bin", 3}, {"job.xml", 3}, {"list.xml", 3}, {"missing", 0}};
  for (Row const& row : rows) {
    SCOPED_TRACE(row.file);
    hxtest::JobStateGuard state;
    _hx_work_pos(2);
    HxString const path = dir.hxfile(row.file);
    testing::internal::CaptureStdout();
    _hx_set_job(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "loading development environment. using file: " + S(path) + "\n");
    std::shared_ptr<HxAssignment const> a = _hx_assignment();
    ASSERT_TRUE(a);
    EXPECT_EQ(_hx_dev_env(), 1);
    EXPECT_EQ(_hx_work_pos(), 0);
    EXPECT_EQ(a->job().id(), 0);
    EXPECT_EQ(a->job().subjobstatus().integervalue(), HxStatus::kPending);
    EXPECT_EQ(a->subjob().id(), 0);
    EXPECT_EQ(a->subjob().pid(), 0);
    EXPECT_EQ(a->subjob().status().integervalue(), HxStatus::kPending);
    EXPECT_EQ(a->job().todo(), row.items);
    ASSERT_EQ(a->job().agenda().length(), row.items);
    for (int i = 0; i < row.items; ++i) EXPECT_EQ(a->job().agenda().get(i)->status().integervalue(), HxStatus::kPending);
  }
}

// The accessors: without an assignment one line each and 0 or null; with
// one, its records, which a reader keeps alive while another assignment
// replaces it. Installing sets the development switch from the record;
// clearing leaves it.
TEST(HxApiAssign, AccessorsAndInstalling) {
  hxtest::JobStateGuard state;
  std::string const line = "ERROR: couldn't obtain assignment\n";
  struct Row {
    char const* name;
    std::function<bool()> empty;
  } const rows[] = {
      {"hxjobid", [] { return hxjobid() == 0; }},
      {"hxsubid", [] { return hxsubid() == 0; }},
      {"hxjobobj", [] { return hxjobobj() == nullptr; }},
      {"hxsubjobobj", [] { return hxsubjobobj() == nullptr; }},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(row.empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), line);
  }

  HxAssignment* dev = hxtest::made_assignment(5, 6);
  dev->develop(true);
  _hx_set_assign(dev);
  EXPECT_EQ(_hx_dev_env(), 1);
  EXPECT_EQ(hxjobid(), 5);
  EXPECT_EQ(hxsubid(), 6);
  std::shared_ptr<HxJob const> held = hxjobobj();
  std::shared_ptr<HxSubjob const> held_sub = hxsubjobobj();
  _hx_set_assign(hxtest::made_assignment(7, 8));
  EXPECT_EQ(_hx_dev_env(), 0);
  EXPECT_EQ(held->id(), 5);
  EXPECT_EQ(held_sub->id(), 6);
  EXPECT_EQ(hxjobobj()->id(), 7);
  _hx_dev_env(1);
  _hx_set_assign(nullptr);
  EXPECT_EQ(_hx_dev_env(), 1);
  EXPECT_FALSE(_hx_assignment());
  _hx_set_jobid(3, 4);
  EXPECT_FALSE(_hx_assignment());
  EXPECT_GT(hxthishostname().length(), 0);
}

}  // namespace

// What a job process asks of the worker on its own host: the flight-check
// programs and the path map of its configuration.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "api/HxApiFlight.h"
#include "api/HxApiLocal.h"
#include "api/HxApiState.h"
#include "config/HxConfig.h"
#include "config/HxPathMap.h"
#include "model/job/HxJob.h"
#include "tests/api/JobProcessTestUtil.h"

namespace {

using hxtest::H;
using hxtest::S;

// The job's commands, then the programs the worker's configuration names
// (a name that a shell would misread runs as the file it is); a worker
// that does not answer leaves only the job's commands.
TEST(HxApiWorkerLocal, FlightChecksFromTheLocalWorker) {
  hxtest::TempDir dir("hxfc");
  ASSERT_EQ(0, mkdir(dir.file("agenda").c_str(), 0755));
  ASSERT_EQ(0, mkdir(dir.file("agenda/pre").c_str(), 0755));
  std::string const odd = "agenda/pre/a b;$(x)";
  dir.write(odd, "#!/bin/sh\necho ran >> '" + dir.file("log") + "'\n");
  ASSERT_EQ(0, chmod(dir.file(odd).c_str(), 0755));
  dir.write("agenda/pre/.txt", "not run\n");
  for (bool up : {true, false}) {
    SCOPED_TRACE(up);
    hxtest::JobWorld world;
    hxtest::ApiWorldGuard guard(world);
    std::string const path = dir.path();
    hxtest::FakeFarm farm(world, hxtest::ByTag().on(111, {{1, [path] {
                                                             auto* c = new HxConfig;
                                                             c->option("worker_flight_check_path", H(path));
                                                             return c;
                                                           }}}));
    if (!up) world.config(hxtest::closed_farm_config());
    HxJob job;
    job.agenda_preflights("true");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(_hx_run_flight_checks(job, HX_AGENDA_PREFLIGHT), 0);
    std::string const err = testing::internal::GetCapturedStderr();
    std::string const out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("INFO: running flightcheck [0:true]\n"), std::string::npos);
    EXPECT_EQ(out.find("INFO: running flightcheck [1:" + dir.file(odd) + "]\n") != std::string::npos, up);
    EXPECT_EQ(out.find("[2:"), std::string::npos);
    EXPECT_EQ(err, up ? "" : "ERROR: unable to contact worker.\n");
    auto const requests = farm.requests();
    ASSERT_EQ(requests.size(), up ? 1u : 0u);
    if (up) {
      EXPECT_EQ(requests[0]->tag(), 111);
    }
  }
  EXPECT_EQ(dir.read("log"), "ran\n");
}

// The worker's path map: the assignment's in a job process, else the
// worker's "worker_path_map", else empty.
TEST(HxApiWorkerLocal, WorkerPathMap) {
  struct Row {
    char const* name;
    bool up;
    bool assigned;
    char const* expected;
  } const rows[] = {
      {"from the worker", true, false, "[direct]\n/w=/x\n"},
      {"from the assignment", true, true, "[direct]\n/a=/b\n"},
      {"no worker", false, false, ""},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::JobWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::JobStateGuard state;
    hxtest::FakeFarm farm(world, hxtest::ByTag().on(111, {{1, [] {
                                                             auto* c = new HxConfig;
                                                             c->option("worker_path_map", "[direct]\n/w = /x\n");
                                                             return c;
                                                           }}}));
    if (!row.up) world.config(hxtest::closed_farm_config());
    if (row.assigned) {
      HxAssignment* a = hxtest::made_assignment(1, 0);
      a->pathmap().parse("[direct]\n/a = /b\n");
      _hx_assignment(std::shared_ptr<HxAssignment const>(a));
    }
    testing::internal::CaptureStderr();
    HxPathMap const map = hxworkerpathmap();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(map.is_empty() ? "" : S(map.convert()), row.expected);
    EXPECT_EQ(farm.requests().size(), row.up && !row.assigned ? 1u : 0u);
  }
}

}  // namespace

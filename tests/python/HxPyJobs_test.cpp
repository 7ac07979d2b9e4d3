// Module functions that move whole jobs and those of a job's own process,
// called from Python against a fake supervisor and worker in this process.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "api/HxRequestTypes.h"
#include "model/job/HxAssignment.h"
#include "tests/api/FakeSupervisor.h"
#include "tests/api/JobProcessTestUtil.h"
#include "tests/python/PyTestUtil.h"

using hxtest::py_exec;
using hxtest::py_raises;
using hxtest::py_repr;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// The bytes of a record in its binary form, bound to a Python name.
void bind_packed(char const* name, HxPack& record) {
  record.pack();
  hxtest::py_set(name, PyBytes_FromStringAndSize(record.packContents(), record.packSize()));
}

class PyJobs : public hxtest::PyModuleTest {
 protected:
  hxtest::JobWorld world;
  hxtest::ApiWorldGuard guard{world};
  hxtest::JobStateGuard state;
};

// submit: list items that are not dicts are skipped, the flag picks the
// request, the supervisor's ids come back; argument errors send nothing.
TEST_F(PyJobs, SubmitSendsJobsAndGivesThemBackWithIds) {
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  EXPECT_EQ(py_repr("[(j['id'], j['name'], j['sourcehost']) for j in _hx.submit([{'name': 'a', "
                    "'sourcehost': '10.0.0.5'}, 7, {'name': 'b'}], True)]"),
            "[(200, 'a', '10.0.0.5'), (201, 'b', '0.0.0.0')]");
  EXPECT_TRUE(supe.hasJob(201));
  EXPECT_EQ(py_repr("_hx.submit([], False)"), "[]");
  auto sent = supe.requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]->tag(), kHxReqSubmit + kHxReqSubmitFlag);
  EXPECT_EQ(sent[1]->tag(), kHxReqSubmit);
  // A job dict written by the module, sent again, keeps its source host.
  EXPECT_EQ(py_repr("_hx.submit([_hx.submit([{'sourcehost': '10.0.0.5'}], False)[0]], False)[0]['sourcehost']"),
            "'10.0.0.5'");

  struct Row {
    char const* call;
    char const* raises;
  } const rows[] = {
      {"_hx.submit({'name': 'a'}, True)", "TypeError"},
      {"_hx.submit(({'name': 'a'},), True)", "TypeError"},
      {"_hx.submit([{'name': 'a'}], 1)", "TypeError"},
      {"_hx.submit([{'name': 'a'}])", "TypeError"},
      {"d = {'name': 'loop'}; d['children'] = [d]; _hx.submit([{'name': 'a'}, d], True)", "RecursionError"},
  };
  size_t before = supe.requests().size();
  for (Row const& row : rows) EXPECT_EQ(py_raises(row.call), row.raises) << row.call;
  EXPECT_EQ(supe.requests().size(), before);

  supe.refuse(true);
  EXPECT_EQ(py_repr("_hx.submit([{'name': 'a'}], False)"), "False");
}

// archivejob writes only formats 1 and 2; recoverjob reads either back.
TEST_F(PyJobs, ArchiveAndRecover) {
  hxtest::TempDir dir("pyjobs");
  hxtest::py_set("base", PyUnicode_FromString(dir.path().c_str()));
  ASSERT_EQ(py_exec("J = {'name': 'arch', 'sourcehost': '10.0.0.5', 'agenda': [{'name': '1'}], "
                    "'package': {'k': ['v']}, 'timestart': 2208988800}"),
            "");
  struct Row {
    char const* file;
    char const* format;
    char const* result;  // of archivejob
    char const* back;    // recoverjob's view of the file
  } const rows[] = {
      {"b1", "1", "nonzero", "('arch', '10.0.0.5', ['1'], {'k': ['v']}, 2208988800)"},
      {"x2", "2", "nonzero", "('arch', '10.0.0.5', ['1'], {'k': ['v']}, 2208988800)"},
      {"s2", "'2'", "nonzero", "('arch', '10.0.0.5', ['1'], {'k': ['v']}, 2208988800)"},
      {"f0", "0", "0", "0"},
      {"f3", "3", "0", "0"},
      {"fl", "2.0", "0", "0"},
      {"fn", "None", "0", "0"},
  };
  for (Row const& row : rows) {
    std::string path = std::string("base + '/") + row.file + "'";
    std::string result = py_repr("_hx.archivejob(" + path + ", J, " + row.format + ")");
    EXPECT_EQ(result == "0" ? "0" : "nonzero", std::string(row.result)) << row.file << ": " << result;
    EXPECT_EQ(py_repr("(lambda d: d if d == 0 else (d['name'], d['sourcehost'], [w['name'] for w in d['agenda']], "
                      "d['package'], d['timestart']))(_hx.recoverjob(" +
                      path + ", 'ignored'))"),
              row.back)
        << row.file;
  }
  // The XML file is the job's XML form.
  std::ifstream xml(dir.path() + "/x2");
  std::string text((std::istreambuf_iterator<char>(xml)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind("<version>1</version>\n<object type = 'job'>", 0), 0u) << text.substr(0, 60);

  EXPECT_EQ(py_repr("_hx.archivejob(base + '/nd', 'job', 1), _hx.recoverjob(), _hx.recoverjob(base + '/none')"),
            "(0, 0, 0)");
  EXPECT_EQ(py_raises("_hx.archivejob(base + '/two', J)"), "TypeError");
  EXPECT_EQ(py_raises("d = {}; d['children'] = [d]; _hx.archivejob(base + '/rec', d, 1)"), "RecursionError");
  EXPECT_EQ(py_repr("[os.path.exists(base + '/' + f) for f in ('f0', 'f3', 'nd', 'two', 'rec')]"
                    " if (os := __import__('os')) else 0"),
            "[False, False, False, False, False]");
}

// The assignment from packed bytes, the accessors, and the lines of the
// argument errors.
TEST_F(PyJobs, AssignmentAccessorsAndLines) {
  CaptureStderr();
  EXPECT_EQ(py_repr("_hx.jobobj(), _hx.subjobobj(), _hx.jobid(), _hx.subid()"), "({}, {}, 0, 0)");
  std::string err = GetCapturedStderr();
  EXPECT_EQ(hxtest::count_lines(hxtest::out_lines(err), "ERROR: couldn't obtain assignment"), 4) << err;

  HxAssignment a;
  a.job().id(12);
  a.job().name("from the worker");
  a.subjob().id(3);
  a.subjob().allocations("host.processors=2");
  bind_packed("packed", a);
  // A later argument sets only the fields it holds: here the develop flag.
  hxtest::py_set("later", PyBytes_FromStringAndSize("\x00\x00\x00\x01\x00\x09\x00\x06\x00", 9));

  CaptureStderr();
  EXPECT_EQ(py_repr("_hx._assignment(packed, 5, later, 'text')"), "None");
  err = GetCapturedStderr();
  EXPECT_EQ(hxtest::count_lines(hxtest::out_lines(err), "ERROR: PyBytes_AsStringAndSize() returned -1"), 2) << err;
  EXPECT_EQ(py_repr("_hx.jobid(), _hx.subid(), _hx.jobobj()['name'], _hx.subjobobj()['slots']"),
            "(12, 3, 'from the worker', 2)");
  EXPECT_EQ(py_repr("_hx._assignment(b''), _hx.jobid(), _hx._setjob()"), "(None, 1, 0)");

  CaptureStdout();
  EXPECT_EQ(py_repr("_hx.reportwork('x'), _hx.reportwork(), _hx.reportjob(5), _hx.reportjob()"),
            "(None, None, None, None)");
  EXPECT_EQ(GetCapturedStdout(),
            "ERROR: unable to report back work status.\n"
            "ERROR: unable to report back job status-- input not a string representing status or a dict "
            "representing a subjob\n");
}

// Development mode from a job file: the agenda is handed out item by item.
TEST_F(PyJobs, DevelopmentJobFromFile) {
  // The reports go to the worker; here one that nobody is, on a port of the
  // test's own.
  world.config(hxtest::closed_farm_config());
  hxtest::TempDir dir("pyjobs");
  hxtest::py_set("path", PyUnicode_FromString((dir.path() + "/job.xml").c_str()));
  ASSERT_EQ(py_exec("_hx.archivejob(path, {'name': 'dev', 'agenda': [{'name': '1'}, {'name': '2'}]}, 2)"), "");
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ(py_repr("_hx._setjob(path)"), "0");
  EXPECT_EQ(py_repr("[(w['name'], w['status']) for w in (_hx.requestwork() for _ in range(3))]"),
            "[('1', 'running'), ('2', 'running'), ('', 'complete')]");
  EXPECT_EQ(py_repr("_hx.reportwork({'name': '1', 'status': 'complete'}), _hx.reportjob('complete')"),
            "(None, None)");
  GetCapturedStderr();
  EXPECT_NE(GetCapturedStdout().find("loading development environment. using file: "), std::string::npos);
  EXPECT_EQ(py_repr("_hx.jobid(), _hx.jobobj()['name'], _hx.jobobj()['todo']"), "(0, 'dev', 2)");
}

// Reports against the fake: only the report's keys are sent, a package
// result as its compact text; the job report carries the status or the
// subjob's fields.
TEST_F(PyJobs, ReportsReachSupervisorAndWorker) {
  hxtest::FakeFarm farm(world, hxtest::ByTag{});
  ASSERT_TRUE(farm.ok());
  _hx_assignment(std::shared_ptr<HxAssignment const>(hxtest::made_assignment(12, 3, "node1")));
  CaptureStderr();
  EXPECT_EQ(py_repr("_hx.reportwork({'name': '7', 'status': 'complete', 'resultpackage': {'frames': 1}, "
                    "'result': 'lost', 'data': 'not sent', 'timestart': 5, 'address': 167772165})"),
            "None");
  EXPECT_EQ(py_repr("_hx.reportjob('running'), _hx.reportjob({'status': 'complete', 'package': ['x'], "
                    "'result': 'r', 'id': 99})"),
            "(None, None)");
  GetCapturedStderr();
  // The reports, without the flight-check questions to the worker.
  auto all = farm.requests();
  std::vector<std::unique_ptr<HxMessage>> sent;
  for (auto& m : all)
    if (m->tag() == kHxReqReportWork || m->tag() == kHxReqReportJob) sent.push_back(std::move(m));
  ASSERT_EQ(sent.size(), 3u);
  ASSERT_EQ(sent[0]->tag(), kHxReqReportWork);
  HxWork const* w = static_cast<HxWork const*>(sent[0]->content());
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(hxtest::S(w->name()), "7");
  EXPECT_EQ(hxtest::S(w->status().value()), "complete");
  EXPECT_EQ(hxtest::S(w->result()), "(=(frames=1))");
  EXPECT_EQ(hxtest::S(w->data()), "");
  EXPECT_EQ(hxtest::S(w->address().stringvalue()), "10.0.0.5");
  EXPECT_EQ(w->timestart().value(), 0);
  EXPECT_EQ(w->pid(), 12);
  ASSERT_EQ(sent[1]->tag(), kHxReqReportJob);
  HxSubjob const* s = static_cast<HxSubjob const*>(sent[1]->content());
  EXPECT_EQ(hxtest::S(s->status().value()), "running");
  ASSERT_EQ(sent[2]->tag(), kHxReqReportJob);
  s = static_cast<HxSubjob const*>(sent[2]->content());
  EXPECT_EQ(hxtest::S(s->status().value()), "complete");
  EXPECT_EQ(hxtest::S(s->data()), "(=(=x))");
  EXPECT_EQ(hxtest::S(s->result()), "r");
  EXPECT_EQ(s->id(), 3);  // the assignment's, not the dict's
}

// requestwork gives the item as the supervisor sent it.
TEST_F(PyJobs, RequestWorkGivesTheItem) {
  hxtest::FakeFarm farm(world, hxtest::ByTag{}.on(kHxReqRequestWork, {{kHxReplyConfirmed, [] {
                                                                         auto* w = new HxWork;
                                                                         w->name("done");
                                                                         w->pid(12);
                                                                         w->status(HxStatus(HxString("complete")));
                                                                         return w;
                                                                       }}}));
  ASSERT_TRUE(farm.ok());
  _hx_assignment(std::shared_ptr<HxAssignment const>(hxtest::made_assignment(12, 3)));
  CaptureStderr();
  EXPECT_EQ(py_repr("(lambda w: (w['name'], w['pid'], w['status']))(_hx.requestwork())"), "('done', 12, 'complete')");
  GetCapturedStderr();
}

// Eight threads read the job while another installs assignments: each
// reader keeps the assignment it converts alive.
TEST_F(PyJobs, JobObjectWhileAssignmentsChange) {
  HxAssignment a;
  a.job().id(5);
  for (int i = 0; i < 20; ++i) {
    HxWork* w = new HxWork;
    w->name(HxString(i));
    a.job().agenda().append(w);
  }
  bind_packed("packed", a);
  ASSERT_EQ(py_exec("import threading, sys\n"
                    "sys.setswitchinterval(1e-5)\n"
                    "bad = []\n"
                    "def read():\n"
                    "    for _ in range(300):\n"
                    "        j = _hx.jobobj()\n"
                    "        if j and (j['id'] != 5 or len(j['agenda']) != 20): bad.append(j['id'])\n"
                    "        _hx.subjobobj()\n"
                    "ts = [threading.Thread(target=read) for _ in range(8)]\n"
                    "_hx._assignment(packed)\n"
                    "for t in ts: t.start()\n"
                    "for _ in range(300): _hx._assignment(packed)\n"
                    "for t in ts: t.join()\n"
                    "sys.setswitchinterval(0.005)\n"),
            "");
  EXPECT_EQ(py_repr("bad"), "[]");
}

}  // namespace

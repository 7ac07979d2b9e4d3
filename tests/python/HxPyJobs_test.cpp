// Module functions that move whole jobs and those of a job's own process,
// called from Python against a fake supervisor and worker in this process.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "api/HxRequestTypes.h"
#include "tests/api/FakeSupervisor.h"
#include "tests/python/PyTestUtil.h"

using hxtest::py_exec;
using hxtest::py_raises;
using hxtest::py_repr;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

class PyJobs : public hxtest::PyModuleTest {
 protected:
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard{world};
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

}  // namespace

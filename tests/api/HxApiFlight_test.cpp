#include "api/HxApiFlight.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "config/HxConfig.h"
#include "model/job/HxJob.h"

namespace {

using hxtest::H;
using hxtest::S;

// A tree of check directories whose programs append their own path to a log.
class HxFlightTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
  void program(std::string const& rel, int code = 0) {
    std::string path = dir_.file(rel);
    std::string script = "#!/bin/sh\nprintf '%s\\n' \"$0\" >> '" + dir_.file("log") + "'\nexit " + std::to_string(code) + "\n";
    dir_.write(rel, script);
    ASSERT_EQ(0, chmod(path.c_str(), 0755)) << rel;
  }
  void mkdirs(std::string const& rel) {
    std::string p;
    for (char c : rel + "/") {
      if (c == '/' && !p.empty()) mkdir(dir_.file(p).c_str(), 0755);
      p += c;
    }
  }
  HxConfig worker(std::string const& paths) {
    HxConfig c;
    c.option(HxString("worker_flight_check_path"), H(paths));
    return c;
  }
  struct Run {
    int code;
    std::string out, err;
  };
  Run run(HxJob const& job, HxFlightCheckType type, HxStringList const& checks) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int code = _hx_run_flight_checks(job, type, checks);
    std::string err = testing::internal::GetCapturedStderr();
    return {code, testing::internal::GetCapturedStdout(), err};
  }
  // The "INFO: running flightcheck" lines only.
  static std::string checks_of(std::string const& out) {
    std::string lines;
    size_t at = 0;
    while ((at = out.find("INFO: running flightcheck [", at)) != std::string::npos) {
      size_t end = out.find("]\n", at);
      lines += out.substr(at, end + 2 - at);
      at = end;
    }
    return lines;
  }
  hxtest::TempDir dir_;
};

TEST_F(HxFlightTest, WorkerListingSkipsOnlyDotNames) {
  mkdirs("fc/agenda/pre");
  for (char const* n : {"x", ".txt", ".TXT", "notes.txt", ".hidden", "..."}) program(std::string("fc/agenda/pre/") + n);
  HxStringList got = _hx_worker_flight_checks(worker(dir_.file("fc")), HX_AGENDA_PREFLIGHT);
  std::vector<std::string> names;
  for (int i = 0; i < got.length(); ++i) names.push_back(S(*got.get(i)));
  std::sort(names.begin(), names.end());
  std::string pre = dir_.file("fc/agenda/pre/");
  EXPECT_EQ((std::vector<std::string>{pre + "...", pre + ".hidden", pre + "notes.txt", pre + "x"}), names);
  // Other types read their own sub-directory; missing ones give nothing.
  for (HxFlightCheckType t : {HX_INSTANCE_PREFLIGHT, HX_INSTANCE_POSTFLIGHT, HX_AGENDA_POSTFLIGHT})
    EXPECT_EQ(0, _hx_worker_flight_checks(worker(dir_.file("fc")), t).length()) << t;
  EXPECT_EQ(0, _hx_worker_flight_checks(worker(""), HX_AGENDA_PREFLIGHT).length());
}

TEST_F(HxFlightTest, OrderIndexesAndFirstFailure) {
  mkdirs("a/agenda/pre");
  mkdirs("b/agenda/pre");
  program("a/agenda/pre/x");
  program("b/agenda/pre/y");
  HxStringList checks = _hx_worker_flight_checks(worker(dir_.file("a") + "," + dir_.file("b")), HX_AGENDA_PREFLIGHT);
  ASSERT_EQ(2, checks.length());
  std::string log = dir_.file("log");
  struct Row {
    char const* commands;
    int code;
    char const* checks;  // {a} and {b} stand for the programs' paths
    char const* error;
  } const rows[] = {
      {"echo a.sh, echo b.sh", 0, "0:echo a.sh|1:echo b.sh|2:{a}|3:{b}|", ""},
      {"echo a.sh, exit 3", 3, "0:echo a.sh|1:exit 3|",
       "ERROR: flight-check command[exit 3] returned non-zero exit code[3]. Stopping processing of any additional "
       "flight-checks and returning.\n"},
      {"echo \"x,y\"", 0, "0:echo \"x,y\"|1:{a}|2:{b}|", ""},
      {"", 0, "0:{a}|1:{b}|", ""},
  };
  for (Row const& r : rows) {
    SCOPED_TRACE(r.commands);
    unlink(log.c_str());
    HxJob job;
    job.agenda_preflights(HxString(r.commands));
    Run got = run(job, HX_AGENDA_PREFLIGHT, checks);
    EXPECT_EQ(r.code, got.code);
    std::string want;
    for (char const* p = r.checks; *p; ++p) {
      std::string tail(p);
      if (tail.rfind("{a}", 0) == 0) { want += dir_.file("a/agenda/pre/x"); p += 2; }
      else if (tail.rfind("{b}", 0) == 0) { want += dir_.file("b/agenda/pre/y"); p += 2; }
      else if (*p == '|') want += "]\n";
      else if (p == r.checks || p[-1] == '|') want += std::string("INFO: running flightcheck [") + *p;
      else want += *p;
    }
    EXPECT_EQ(want, checks_of(got.out));
    EXPECT_NE(std::string::npos, got.err.find(r.error));
    std::string ran = r.code == 0 ? dir_.file("a/agenda/pre/x") + "\n" + dir_.file("b/agenda/pre/y") + "\n" : "";
    EXPECT_EQ(ran, dir_.read("log"));
  }
  // Nothing to run: nothing printed.
  HxJob none;
  Run quiet = run(none, HX_AGENDA_PREFLIGHT, HxStringList());
  EXPECT_EQ(0, quiet.code);
  EXPECT_EQ("", quiet.out);
  EXPECT_EQ("", quiet.err);
}

// A program's name is never shell text: each of these runs the file named,
// and nothing else.
TEST_F(HxFlightTest, HostileNamesRunTheFileNamed) {
  mkdirs("fc/instance/post");
  char const* const names[] = {"with blank", "it's", "say \"hi\"", "a;touch pwned", "$(touch pwned)",
                               "`touch pwned`", "line\nfeed", "-dash", "a&&b|c>d"};
  for (char const* n : names) program(std::string("fc/instance/post/") + n);
  HxStringList checks = _hx_worker_flight_checks(worker(dir_.file("fc")), HX_INSTANCE_POSTFLIGHT);
  ASSERT_EQ(static_cast<int>(std::size(names)), checks.length());
  HxJob job;
  Run got = run(job, HX_INSTANCE_POSTFLIGHT, checks);
  EXPECT_EQ(0, got.code) << got.err;
  std::string want;
  for (int i = 0; i < checks.length(); ++i) {
    want += S(*checks.get(i)) + "\n";
    // The printed line names the path as listed, not its quoted form.
    EXPECT_NE(std::string::npos, got.out.find("[" + std::to_string(i) + ":" + S(*checks.get(i)) + "]\n"));
  }
  EXPECT_EQ(want, dir_.read("log"));
  struct stat st;
  EXPECT_NE(0, stat("pwned", &st));
  EXPECT_NE(0, stat(dir_.file("fc/instance/post/pwned").c_str(), &st));
  EXPECT_NE(0, stat(dir_.file("fc/instance/post/d").c_str(), &st));
}

TEST(HxShellQuote, SingleQuotedWords) {
  struct Row {
    char const* in;
    char const* out;
  } const rows[] = {{"", "''"}, {"/a b", "'/a b'"}, {"it's", "'it'\\''s'"}, {"''", "''\\'''\\'''"}, {"$(x)`y`", "'$(x)`y`'"}};
  for (Row const& r : rows) EXPECT_EQ(r.out, S(_hx_shell_quote(HxString(r.in)))) << r.in;
}

}  // namespace

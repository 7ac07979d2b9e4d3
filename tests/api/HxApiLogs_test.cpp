#include "api/HxApiLogs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "model/job/HxJobId.h"
#include "model/job/HxQuery.h"
#include "tests/api/ApiExchange.h"
#include "tests/api/ApiTestUtil.h"

namespace {

using hxtest::S;

std::string body(size_t n, char seed) {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 23);
  return s;
}

struct Served {
  int job;
  int sub;
  std::string text;
};

// The first field of the command's last filter of that name ("" when none).
std::string filter_value(HxCommand const& cmd, char const* name) {
  std::string out;
  for (int i = 0; i < cmd.filters().length(); ++i) {
    HxFilter const* f = cmd.filters().get(i);
    if (f->name() == HxString(name) && f->fields().length() > 0) out = S(f->fields().get(0)->value());
  }
  return out;
}

// A supervisor serving these logs from the command's "pos" for its "len"
// (or, ignoring them, the first `ignoring` bytes every time).
FakePeer::Handler log_server(std::vector<Served> logs, size_t ignoring = 0) {
  return [logs, ignoring](HxMessage& req, HxMessage& rep) {
    auto* cmd = dynamic_cast<HxCommand*>(req.content());
    if (cmd == nullptr) return hxtest::answer(rep, 4);
    long long pos = std::strtoll(filter_value(*cmd, "pos").c_str(), nullptr, 10);
    long long len = std::strtoll(filter_value(*cmd, "len").c_str(), nullptr, 10);
    auto* list = new HxLogList;
    for (auto const& l : logs) {
      auto* log = new HxLog;
      log->jobid(l.job);
      log->subid(l.sub);
      std::string piece = ignoring > 0 ? l.text.substr(0, ignoring)
                          : static_cast<size_t>(pos) < l.text.size() ? l.text.substr(static_cast<size_t>(pos), static_cast<size_t>(len))
                                                                     : std::string();
      log->data(hxtest::H(piece));
      list->append(log);
    }
    return hxtest::answer(rep, 1, list);
  };
}

HxCommand command(char const* pos, char const* len = nullptr) {
  HxCommand cmd;
  cmd.jobids().append(new HxJobId(1234));
  if (pos != nullptr) cmd.filters().append(new HxFilter(HxString("pos"), HxString(pos)));
  if (len != nullptr) cmd.filters().append(new HxFilter(HxString("len"), HxString(len)));
  return cmd;
}

// Paging against the supervisor: the positions asked for, the logs merged
// by job and subjob, the end at the first page without text, and the final
// "pos" and "len" of the command.
TEST(HxLogs, Paging) {
  std::string const big = body(2500000, 'a'), huge = body(3000000, 'A'), small = body(10, '0'),
                    mid = body(10000, 'k');
  struct Row {
    char const* pos;
    std::vector<Served> served;
    std::vector<std::string> asked;
    char const* final_pos;
    std::vector<std::string> texts;
  } const rows[] = {
      {nullptr, {{1234, 0, big}}, {"0", "1024000", "2048000", "2500000"}, "2500000", {big}},
      {nullptr,
       {{1234, 0, small}, {1234, 1, huge}},
       {"0", "1024000", "2048000", "3000000"},
       "3000000",
       {small, huge}},
      {"-5", {{1234, 0, mid}}, {"0", "10000"}, "10000", {mid}},
      {"4096", {{1234, 0, mid}}, {"4096", "10000"}, "10000", {mid.substr(4096)}},
      {"99999999999999999999", {{1234, 0, mid}}, {"99999999999999999999"}, "99999999999999999999", {""}},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.final_pos);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, log_server(row.served));
    hxsetclientlogpath(kHxUseSupervisor);
    HxCommand cmd = command(row.pos);
    HxLogList logs;
    testing::internal::CaptureStderr();
    EXPECT_EQ(hxstdout(cmd, logs), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    hxsetclientlogpath("");
    std::vector<std::string> asked;
    for (auto& m : farm.requests()) {
      EXPECT_EQ(m->tag(), kHxReqStdout);
      auto* sent = dynamic_cast<HxCommand*>(m->content());
      ASSERT_NE(sent, nullptr);
      asked.push_back(filter_value(*sent, "pos"));
      EXPECT_EQ(filter_value(*sent, "len"), "1024000");
    }
    EXPECT_EQ(asked, row.asked);
    EXPECT_EQ(filter_value(cmd, "pos"), row.final_pos);
    EXPECT_EQ(filter_value(cmd, "len"), "1024000");
    ASSERT_EQ(logs.length(), static_cast<int>(row.texts.size()));
    for (size_t i = 0; i < row.texts.size(); ++i) EXPECT_TRUE(S(logs.get(static_cast<int>(i))->data()) == row.texts[i]);
  }
}

// The one-request and failing cases: a caller's "len" asks once and keeps
// the pieces apart; stderr takes 105; an unknown type, a blank reply, a
// reply of another class; a supervisor that ignores "pos" stops at the
// bound with what came and "pos" naming the next page.
TEST(HxLogs, SingleRequestsAndFailures) {
  enum Kind { kServe, kBlank, kStrings, kIgnore };
  struct Row {
    int type;
    char const* len;
    Kind kind;
    int result;
    size_t requests;
    int tag;
    char const* line;
    int logs;
    char const* final_pos;
  } const rows[] = {
      {1, "5", kServe, 1, 1, 104, "", 2, ""},
      {2, nullptr, kServe, 1, 2, 105, "", 1, "5"},
      {3, nullptr, kServe, 0, 0, 0, "ERROR: unknown logtype: 3\n", 0, ""},
      {1, nullptr, kBlank, 0, 1, 104, "ERROR: data returned blank\n", 0, "0"},
      {1, nullptr, kStrings, 0, 1, 104, "ERROR: list object returned invalid. - 55\n", 0, "0"},
      {1, nullptr, kIgnore, 0, 5, 104, "", 1, "4000"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.kind * 10 + row.type);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    std::vector<Served> served{{1234, 0, "hello"}, {1234, 0, "again"}};
    FakePeer::Handler serve = log_server(row.kind == kIgnore ? std::vector<Served>{{1234, 0, body(5000, 'a')}} : served,
                                         row.kind == kIgnore ? 1000 : 0);
    hxtest::FakeFarm farm(world, [&](HxMessage& req, HxMessage& rep) {
      if (row.kind == kBlank) return hxtest::answer(rep, 1);
      if (row.kind == kStrings) return hxtest::answer(rep, 1, new HxStringList);
      return serve(req, rep);
    });
    hxsetclientlogpath(kHxUseSupervisor);
    HxCommand cmd = command(nullptr, row.len);
    HxLogList logs;
    _hx_set_error(7);
    testing::internal::CaptureStderr();
    int got = row.kind == kIgnore ? _hx_log_pages(cmd, logs, kHxReqStdout, 4500) : _hx_get_log(cmd, logs, row.type);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.line);
    hxsetclientlogpath("");
    EXPECT_EQ(got, row.result);
    // A line is the API error too; without one the earlier error stays.
    if (row.line[0] == '\0') {
      EXPECT_EQ(hxerror().integervalue(), 7);
    } else {
      EXPECT_EQ(S(hxerror().value()), hxtest::cause_of(row.line));
    }
    auto requests = farm.requests();
    ASSERT_EQ(requests.size(), row.requests);
    if (!requests.empty()) {
      EXPECT_EQ(requests[0]->tag(), row.tag);
    }
    ASSERT_EQ(logs.length(), row.logs);
    if (row.kind == kIgnore) {
      EXPECT_EQ(logs.get(0)->data().length(), 4000);
    }
    EXPECT_EQ(filter_value(cmd, "pos"), row.final_pos);
  }
}

// The local log tree is read in place of the supervisor unless the client
// log path says "USE_SUPERVISOR".
TEST(HxLogs, LocalTreeOrSupervisor) {
  for (bool use_supervisor : {false, true}) {
    hxtest::TempDir tree("hxlogs");
    std::filesystem::create_directories(tree.path() + "/job/1000/1234");
    tree.write("job/1000/1234/1234_0.out", "local text");
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, log_server({{1234, 0, "remote"}}));
    hxsetclientlogpath(use_supervisor ? HxString(kHxUseSupervisor) : HxString(tree.path().c_str()));
    HxCommand cmd = command(nullptr);
    HxLogList logs;
    EXPECT_EQ(hxstdout(cmd, logs), 1);
    hxsetclientlogpath("");
    ASSERT_EQ(logs.length(), 1);
    EXPECT_EQ(S(logs.get(0)->data()), use_supervisor ? "remote" : "local text");
    EXPECT_EQ(farm.requests().size(), use_supervisor ? 2u : 0u);
  }
}

// Following one subjob's log under the worker log directory: growth between
// calls, zero bytes skipped but counted, high bytes kept, and the offsets and
// files that give -1 or nothing.
TEST(HxLogs, Stream) {
  hxtest::TempDir dir("hxstream");
  std::string const sub = "job/1000/1234/";
  std::filesystem::create_directories(dir.path() + "/" + sub);
  ::mkfifo((dir.path() + "/job/1000/1234/1234_2.out").c_str(), 0600);
  struct Row {
    int subid;
    int type;
    std::string before;  // the file before the call; empty: left as it is
    int offset;
    int result;
    std::string text;
  } const rows[] = {
      {0, 1, "hello", 0, 5, "hello"},
      {0, 1, "hello world", 5, 11, " world"},
      {0, 1, std::string("ab\0\0cd\xff\x80", 8), 0, 8, std::string("abcd\xff\x80", 6)},
      {0, 1, std::string("ab\0\0cd", 6), 3, 6, "cd"},
      {0, 1, "", -1, -1, ""},
      {0, 1, "", 100, 100, ""},
      {0, 2, "", 0, 3, "err"},
      {1, 1, "", 0, -1, ""},
      {2, 1, "", 0, -1, ""},
  };
  dir.write(sub + "1234_0.err", "err");
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  world.config("worker_logpath = " + dir.path() + "\n");
  for (Row const& row : rows) {
    SCOPED_TRACE(row.offset);
    if (!row.before.empty()) dir.write(sub + "1234_0.out", row.before);
    HxString text("stale");
    int got = row.type == 1 ? hxstdoutstream(1234, row.subid, row.offset, text)
                            : hxstderrstream(1234, row.subid, row.offset, text);
    EXPECT_EQ(got, row.result);
    EXPECT_EQ(S(text), row.text);
  }
}

}  // namespace

#include "api/HxApiCommand.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "api/HxApiState.h"
#include "core/HxDebug.h"
#include "model/farm/HxHost.h"
#include "model/job/HxCommand.h"
#include "model/job/HxJob.h"
#include "model/job/HxResult.h"
#include "tests/api/ApiTestUtil.h"

using hxtest::S;

namespace {

constexpr int kSentinel = 7777;

HxJobIdList* job_ids(std::vector<int> ids) {
  auto* l = new HxJobIdList;
  for (int id : ids) l->append(new HxJobId(id, 0));
  return l;
}

HxWorkIdList* work_ids(std::vector<char const*> names) {
  auto* l = new HxWorkIdList;
  for (char const* n : names) l->append(new HxWorkId(5, n));
  return l;
}

HxResult* result_of(std::vector<int> jobs, std::vector<char const*> work) {
  auto* r = new HxResult;
  std::unique_ptr<HxJobIdList> j(job_ids(jobs));
  std::unique_ptr<HxWorkIdList> w(work_ids(work));
  r->jobids().steal(*j);
  r->workids().steal(*w);
  r->callbackids().append(new HxCallbackId(5, 1));
  return r;
}

std::string ids_text(HxJobIdList const& l) {
  std::string out;
  for (int i = 0; i < l.length(); ++i) out += std::to_string(l.get(i)->id()) + " ";
  return out;
}

std::string ids_text(HxWorkIdList const& l) {
  std::string out;
  for (int i = 0; i < l.length(); ++i) out += S(l.get(i)->name()) + " ";
  return out;
}

// A peer that answers every request with these bytes.
struct RawFarm {
  RawFarm(hxtest::ApiWorld& world, std::string const& bytes) : peer(script(bytes)) {
    std::string const port = std::to_string(peer.tcpPort());
    world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + port + "\n");
  }
  static std::vector<FakeStep> script(std::string const& bytes) {
    FakeStep s = FakeStep::of(FakeStep::kRaw);
    s.raw = bytes;
    return {s};
  }
  FakePeer peer;
};

struct Reply {
  int version, tag;
  std::function<HxPack*()> content;
  int declare_from = 0, declare_to = 0;
  std::string bytes() const {
    HxMessage m(tag);
    m.version(version);
    if (content) m.content(content());
    std::string b = hxtest::packed(m);
    return declare_from != 0 ? hxtest::redeclared(b, declare_from, declare_to) : b;
  }
};

// Which actions go out, under which tag and as which record; a refused
// action sends nothing and leaves its line in the debug log.
TEST(HxApiCommand, ActionsOnTheWire) {
  struct Row {
    char const* name;
    std::function<int(HxCommand&)> call;
    int action;   // the caller's action before the call
    int tag;      // 0: nothing sent
    int type;     // content type sent
    int sent_action, direction;
  } const rows[] = {
      {"0", [](HxCommand& c) { HxResult r; return hxcommand(c, r); }, 0, 0, 0, 0, 0},
      {"202", [](HxCommand& c) { HxResult r; return hxcommand(c, r); }, 202, 0, 0, 0, 0},
      {"616", [](HxCommand& c) { HxResult r; return hxcommandwork(c, r); }, 616, 0, 0, 0, 0},
      {"289", [](HxCommand& c) { HxResult r; return hxcommand(c, r); }, 289, 0, 0, 0, 0},
      {"207", [](HxCommand& c) { HxResult r; return hxcommand(c, r); }, 207, 207, 30, 207, 0},
      {"221", [](HxCommand& c) { HxResult r; return hxcommand(c, r); }, 221, 221, 30, 221, 0},
      {"615", [](HxCommand& c) { HxResult r; return hxcommandwork(c, r); }, 615, 615, 30, 615, 0},
      {"802", [](HxCommand& c) { HxResult r; return hxcommand(c, r); }, 802, 802, 30, 802, 0},
      {"290 top", [](HxCommand& c) { HxResult r; return hxcommand(c, r); }, 290, 223, 69, 290, 1},
      {"291 bottom", [](HxCommand& c) { HxResult r; return hxcommand(c, r); }, 291, 223, 69, 291, 2},
      {"kill over block", [](HxCommand& c) { HxJobIdList l; return hxkill(c, l); }, 210, 207, 30, 207, 0},
      {"killwork", [](HxCommand& c) { HxWorkIdList l; return hxkillwork(c, l); }, 0, 605, 30, 605, 0},
      {"removecallback", [](HxCommand& c) { HxCallbackIdList l; return hxremovecallback(c, l); }, 0, 802, 30, 802,
       0},
      {"top keeps action", [](HxCommand& c) { HxJobIdList l; return hxtop(c, l); }, 5, 223, 69, 5, 1},
      {"bottom", [](HxCommand& c) { HxJobIdList l; return hxbottom(c, l); }, 0, 223, 69, 0, 2},
      {"modify",
       [](HxCommand&) {
         HxModifyCommand m;
         m.job().name("template");
         HxJobIdList l;
         return hxmodify(m, l);
       },
       0, 211, 48, 0, 0},
  };
  hxtest::TempDir dir("hxcmd");
  hx_debug_filename(hxtest::H(dir.file("debug.log")), 0);
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, [](HxMessage&, HxMessage& rep) {
      return hxtest::answer(rep, 1, result_of({1}, {}));
    });
    ASSERT_TRUE(farm.ok());
    dir.write("debug.log", "");
    _hx_set_error(kSentinel);
    HxCommand cmd(row.action);
    cmd.jobids().append(new HxJobId(42, 0));
    int const result = row.call(cmd);
    EXPECT_EQ(result, row.tag != 0 ? 1 : 0);
    EXPECT_EQ(hxerror().integervalue(), kSentinel);
    std::string const log = dir.read("debug.log");
    auto got = farm.requests();
    if (row.tag == 0) {
      EXPECT_EQ(got.size(), 0u);
      std::string const line = "ERROR: unknown command: " + std::to_string(row.action) + "\n";
      ASSERT_GE(log.size(), line.size());
      EXPECT_EQ(log.substr(log.size() - line.size()), line);
      continue;
    }
    EXPECT_EQ(log, "");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]->tag(), row.tag);
    EXPECT_EQ(got[0]->contenttype(), row.type);
    auto* sent = dynamic_cast<HxCommand*>(got[0]->content());
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(sent->action(), row.sent_action);
    if (row.type != 48) {
      EXPECT_EQ(ids_text(sent->jobids()), "42 ");
    }
    if (auto* b = dynamic_cast<HxBumpCommand*>(sent)) {
      EXPECT_EQ(b->direction(), row.direction);
    }
    if (auto* m = dynamic_cast<HxModifyCommand*>(sent)) {
      EXPECT_EQ(S(m->job().name()), "template");
    }
    // The caller's command is lent, never changed beyond its action.
    EXPECT_EQ(ids_text(cmd.jobids()), "42 ");
  }
  hx_debug_filename("", 0);
}

// The versioned reply: a current peer's result is taken over whole; an older
// peer's bare ids are appended after those the caller held; anything an
// older peer says otherwise counts only when it is not a refusal or error.
TEST(HxApiCommand, VersionedReply) {
  auto hosts = [] {
    auto* l = new HxHostList;
    l->append(new HxHost);
    return l;
  };
  struct Row {
    char const* name;
    Reply reply;
    int result;
    char const* err;
    char const* jobs;  // the result's job ids after the call (it held "1 ")
    char const* work;  // its work ids (it held "old ")
    int callbacks;
  } const rows[] = {
      {"530 result", {530, 1, [] { return result_of({10, 11}, {"a"}); }}, 1, "", "10 11 ", "a ", 1},
      {"530 error reply", {530, 4, [] { return new HxError(2040); }}, 0,
       "ERROR: report object returned invalid. - 175\n", "1 ", "old ", 0},
      {"530 bare ids", {530, 1, [] { return job_ids({10}); }}, 0, "ERROR: report object returned invalid. - 18\n",
       "1 ", "old ", 0},
      {"530 blank", {530, 1, nullptr}, 0, "ERROR: data returned blank\n", "1 ", "old ", 0},
      {"529 job ids", {529, 1, [] { return job_ids({10, 11}); }}, 1, "", "1 10 11 ", "old ", 0},
      {"529 work ids", {529, 1, [] { return work_ids({"a", "b"}); }}, 1, "", "1 ", "old a b ", 0},
      {"529 job list", {529, 1, [] { return new HxJobList; }}, 1, "", "1 ", "old ", 0},
      {"529 blank", {529, 1, nullptr}, 1, "", "1 ", "old ", 0},
      {"529 old error", {529, 4, [] { return new HxOldError("no"); }}, 0, "", "1 ", "old ", 0},
      {"529 refused ids", {529, 3, [] { return job_ids({10}); }}, 0, "", "1 ", "old ", 0},
      {"529 18 over hosts", {529, 1, hosts, 12, 18}, 0, "ERROR: data returned blank\n", "1 ", "old ", 0},
      {"529 60 over hosts", {529, 1, hosts, 12, 60}, 0, "ERROR: data returned blank\n", "1 ", "old ", 0},
      {"530 188 over jobs", {530, 1, [] { return job_ids({3}); }, 18, 188}, 0,
       "ERROR: report object returned invalid. - 188\n", "1 ", "old ", 0},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    RawFarm farm(world, row.reply.bytes());
    HxCommand cmd(605);
    HxResult result;
    result.jobids().append(new HxJobId(1, 0));
    result.workids().append(new HxWorkId(1, "old"));
    _hx_set_error(kSentinel);
    testing::internal::CaptureStderr();
    EXPECT_EQ(hxcommandwork(cmd, result), row.result);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.err);
    EXPECT_EQ(ids_text(result.jobids()), row.jobs);
    EXPECT_EQ(ids_text(result.workids()), row.work);
    EXPECT_EQ(result.callbackids().length(), row.callbacks);
    // A failure's line is the API error too (without "ERROR: " and the line
    // end); a silent one leaves the earlier error.
    std::string const line = row.err;
    if (line.empty()) {
      EXPECT_EQ(hxerror().integervalue(), kSentinel);
    } else {
      EXPECT_EQ(S(hxerror().value()), line.substr(7, line.size() - 8));
    }
  }
}

int kill_ids(HxJobIdList& l) {
  HxCommand c;
  return hxkill(c, l);
}
int kill_by_number_ids(HxJobIdList& l) {
  HxCommand c;
  return hxcommand(207, c, l);
}
int top_ids(HxJobIdList& l) {
  HxCommand c;
  return hxtop(c, l);
}
int bottom_ids(HxJobIdList& l) {
  HxCommand c;
  return hxbottom(c, l);
}
int modify_ids(HxJobIdList& l) {
  HxModifyCommand m;
  return hxmodify(m, l);
}

// The id-list forms, the moves and the modification append to the caller's
// ids, whatever they held, from a result or from an older peer's list.
TEST(HxApiCommand, IdFormsAppend) {
  struct Row {
    char const* name;
    Reply reply;
    std::function<int(HxJobIdList&)> call;
    int result;
    char const* ids;  // held "7 " before
  } const rows[] = {
      {"kill result", {530, 1, [] { return result_of({10, 11}, {}); }}, kill_ids, 1, "7 10 11 "},
      {"kill old ids", {529, 1, [] { return job_ids({10}); }}, kill_by_number_ids, 1, "7 10 "},
      {"kill 530 bare ids", {530, 1, [] { return job_ids({10}); }}, kill_ids, 0, "7 "},
      {"top result", {530, 1, [] { return result_of({10}, {}); }}, top_ids, 1, "7 10 "},
      {"bottom old ids", {529, 1, [] { return job_ids({10, 12}); }}, bottom_ids, 1, "7 10 12 "},
      {"top old work ids", {529, 1, [] { return work_ids({"a"}); }}, top_ids, 1, "7 "},
      {"top old error", {529, 4, [] { return new HxOldError("no"); }}, top_ids, 0, "7 "},
      {"modify result", {530, 1, [] { return result_of({10}, {}); }}, modify_ids, 1, "7 10 "},
      {"modify blank", {530, 1, nullptr}, modify_ids, 0, "7 "},
      {"modify old 18 over hosts", {529, 1, [] { return new HxHostList; }, 12, 18}, modify_ids, 0, "7 "},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    RawFarm farm(world, row.reply.bytes());
    HxJobIdList ids;
    ids.append(new HxJobId(7, 0));
    testing::internal::CaptureStderr();
    EXPECT_EQ(row.call(ids), row.result);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ids_text(ids), row.ids);
  }
  // Work and callback forms take their own lists of the result.
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  RawFarm farm(world, Reply{530, 1, [] { return result_of({10}, {"a", "b"}); }}.bytes());
  HxCommand c;
  HxWorkIdList work;
  EXPECT_EQ(hxretirework(c, work), 1);
  EXPECT_EQ(ids_text(work), "a b ");
  HxCallbackIdList callbacks;
  EXPECT_EQ(hxremovecallback(c, callbacks), 1);
  EXPECT_EQ(callbacks.length(), 1);
}

// Nobody answering: 0, silent, nothing moved; the API error names the cause
// after each call.
TEST(HxApiCommand, UnreachableIsSilent) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  int closed = 0;
  {
    FakePeer gone;
    closed = gone.tcpPort();
  }
  world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + std::to_string(closed) + "\n");
  HxCommand c;
  HxJobIdList ids;
  ids.append(new HxJobId(7, 0));
  HxModifyCommand m;
  testing::internal::CaptureStderr();
  for (auto call : std::vector<std::function<int()>>{[&] { return hxkill(c, ids); }, [&] { return hxtop(c, ids); },
                                                     [&] { return hxmodify(m, ids); }}) {
    _hx_set_error(kSentinel);
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(S(hxerror().value()), "unable to contact supervisor.");
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(ids_text(ids), "7 ");
}

}  // namespace

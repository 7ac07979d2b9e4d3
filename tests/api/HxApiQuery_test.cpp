#include "api/HxApiQuery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "api/HxApiState.h"
#include "config/HxConfig.h"
#include "core/HxHash.h"
#include "core/HxTime.h"
#include "model/farm/HxAccess.h"
#include "model/farm/HxDuty.h"
#include "model/farm/HxHost.h"
#include "model/farm/HxResource.h"
#include "model/farm/HxSupe.h"
#include "model/job/HxAssignment.h"
#include "model/job/HxJob.h"
#include "model/job/HxQuery.h"
#include "tests/api/ApiExchange.h"
#include "tests/api/ApiTestUtil.h"

using hxtest::S;

namespace {

constexpr int kSentinel = 7777;

// Two elements of the list's own element class.
template <class List>
HxPack* two() {
  auto* l = new List;
  for (int i = 0; i < 2; ++i) l->append(new typename std::remove_pointer<decltype(l->get(0))>::type);
  return l;
}

// A call into the API with its own caller's container: the result and the
// container's length afterwards.
struct Call {
  int result;
  int length;
};
using Caller = std::function<Call()>;

template <class List>
Caller list_call(int (*fn)(List&)) {
  return [fn] {
    List l;
    int r = fn(l);
    return Call{r, l.length()};
  };
}

template <class List>
Caller query_call(int (*fn)(HxQuery&, List&)) {
  return [fn] {
    HxQuery q;
    q.limit(9);
    List l;
    int r = fn(q, l);
    EXPECT_EQ(q.limit(), 9);
    return Call{r, l.length()};
  };
}

Caller names_call(int (*fn)(HxStringList&)) {
  return [fn] {
    HxStringList hosts;
    hosts.append(new HxString("w1"));
    hosts.append(new HxString("w2"));
    int r = fn(hosts);
    return Call{r, hosts.length()};
  };
}

// The worker requests and the configuration, each into a fresh record.
Call worker_config() {
  HxConfig c;
  return Call{hxworkerconfig("127.0.0.1", c), 0};
}
Call supervisor_config() {
  HxConfig c;
  return Call{hxsupervisorconfig(c), 0};
}
Call assignment_info() {
  HxAssignmentList l;
  return Call{hxassignmentinfo("127.0.0.1", l), l.length()};
}
Call worker_assign() {
  HxAssignmentList l;
  return Call{hxworkerassign("127.0.0.1", l), l.length()};
}
// length 1 when the caller's host record was replaced by the reply's.
Call worker_info() {
  HxHost h;
  h.name("mine");
  int r = hxworkerinfo("127.0.0.1", h);
  return Call{r, S(h.name()) == "mine" ? 0 : 1};
}
Call update_vars() {
  HxStringHash vars;
  vars.set(new HxString("v"), "k");
  int r = hxworkerupdatevars(vars, "127.0.0.1");
  return Call{r, vars.get("k") != nullptr ? 1 : 0};
}

struct Outcome {
  Call call;
  std::string err, out;
  int error;
  std::string error_text;
};

Outcome run(Caller const& call) {
  _hx_set_error(kSentinel);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  Call c = call();
  Outcome o{c, testing::internal::GetCapturedStderr(), testing::internal::GetCapturedStdout(), 0, ""};
  o.error = hxerror().integervalue();
  o.error_text = S(hxerror().value());
  return o;
}

// The bytes of a record as the codec writes it.
std::string bytes_of(HxPack& p) {
  p.pack();
  return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
}

// Points the world at a port where nothing listens.
void nothing_listens(hxtest::ApiWorld& world) {
  int closed = 0;
  {
    FakePeer gone;
    closed = gone.tcpPort();
  }
  std::string const port = std::to_string(closed);
  world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + port + "\nsupervisor_sub_port = " + port +
               "\nworker_port = " + port + "\n");
}

// Every request: what arrives (tag, the class of the content and the
// caller's records intact), the answer taken on a good reply, and the line
// written (or not) where nobody answers; the API error then names the
// unreachable peer, written or not.
TEST(HxApiQuery, RequestsOnTheWireAndUnreachableLines) {
  constexpr char kSup[] = "ERROR: unable to contact supervisor.\n";
  struct Row {
    char const* name;
    Caller call;
    int tag;
    int sent_type;  // 0: no content
    std::function<HxPack*()> answer;
    int length;  // the caller's container after a good reply
    char const* err_down;
    char const* out_down;
  } const rows[] = {
      {"jobinfo", query_call<HxJobList>(hxjobinfo), 100, 24, two<HxJobList>, 2, kSup, ""},
      {"joborder", query_call<HxJobList>(hxjoborder), 1002, 24, two<HxJobList>, 2, "", ""},
      {"hostorder", query_call<HxHostList>(hxhostorder), 1003, 24, two<HxHostList>, 2, "", ""},
      {"hostinfo", query_call<HxHostList>(hxhostinfo), 101, 24, two<HxHostList>, 2, "", ""},
      {"dutyinfo", list_call<HxDutyList>(hxdutyinfo), 112, 0, two<HxDutyList>, 2, kSup, ""},
      {"resource", list_call<HxResourceList>(hxresource), 1020, 0, two<HxResourceList>, 2, kSup, ""},
      {"supervisorinfo", list_call<HxSupeList>(hxsupervisorinfo), 1035, 0, two<HxSupeList>, 2, "", ""},
      {"users", list_call<HxAccessList>(hxusers), 1008, 0, two<HxAccessList>, 2, kSup, ""},
      {"bannedworkers", list_call<HxHostList>(hxbannedworkers), 118, 0, two<HxHostList>, 2, kSup, ""},
      {"updateresource",
       [] {
         HxResourceList l;
         l.append(new HxResource);
         int r = hxupdateresource(l);
         return Call{r, l.length()};
       },
       1014, 11, two<HxJobList>, 1, kSup, ""},
      {"workerdelete", names_call(hxworkerdelete), 1001, 55, two<HxJobList>, 2, kSup, ""},
      {"workerundelete", names_call(hxworkerundelete), 1038, 55, two<HxJobList>, 2, kSup, ""},
      {"removehost", names_call(hxremovehost), 1001, 55, nullptr, 2, kSup, ""},
      {"supervisorconfig", supervisor_config, 111, 0, [] { return new HxConfig; }, 0, kSup, ""},
      {"workerconfig", worker_config, 111, 0, [] { return new HxConfig; }, 0, "ERROR: unable to contact worker.\n", ""},
      {"assignmentinfo", assignment_info, 108, 0, two<HxAssignmentList>, 2, "", "Could not talk to worker\n"},
      {"workerassign", worker_assign, 108, 0, two<HxAssignmentList>, 2, "", ""},
      {"workerinfo", worker_info, 101, 0, [] { return new HxHost; }, 1, "", ""},
      {"workerupdatevars", update_vars, 1010, 56, nullptr, 1, "", ""},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, [&row](HxMessage&, HxMessage& rep) {
      return hxtest::answer(rep, 1, row.answer ? row.answer() : nullptr);
    });
    ASSERT_TRUE(farm.ok());
    Outcome up = run(row.call);
    EXPECT_EQ(up.call.result, 1);
    EXPECT_EQ(up.call.length, row.length);
    EXPECT_EQ(up.err, "");
    EXPECT_EQ(up.error, kSentinel);
    auto got = farm.requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]->tag(), row.tag);
    EXPECT_EQ(got[0]->contenttype(), row.sent_type);
    EXPECT_EQ(got[0]->content() == nullptr, row.sent_type == 0);
    EXPECT_EQ(got[0]->version(), 530);

    nothing_listens(world);
    Outcome down = run(row.call);
    EXPECT_EQ(down.call.result, 0);
    EXPECT_EQ(down.err, row.err_down);
    // Standard output also carries the debug log's lines here.
    EXPECT_EQ(down.out.find("Could not talk to worker\n") != std::string::npos, *row.out_down != 0);
    std::string const name = row.name;
    bool const worker = name == "workerconfig" || name == "assignmentinfo" || name == "workerassign" ||
                        name == "workerinfo" || name == "workerupdatevars";
    EXPECT_EQ(down.error, 100000);
    EXPECT_EQ(down.error_text, worker ? "unable to contact worker." : "unable to contact supervisor.");
  }
}

// The lent records arrive whole: the query's fields, the host names, the
// variables.
TEST(HxApiQuery, LentContentArrivesWhole) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeFarm farm(world, [](HxMessage&, HxMessage& rep) { return hxtest::answer(rep, 1, new HxHostList); });
  ASSERT_TRUE(farm.ok());
  HxQuery q;
  q.limit(3);
  q.order_by("name");
  HxHostList hosts;
  ASSERT_EQ(hxhostinfo(q, hosts), 1);
  HxStringList names;
  names.append(new HxString("w1"));
  ASSERT_EQ(hxworkerundelete(names), 1);
  HxStringHash vars;
  vars.set(new HxString("value"), "NAME");
  ASSERT_EQ(hxworkerupdatevars(vars, "127.0.0.1"), 1);
  auto got = farm.requests();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(bytes_of(*got[0]->content()), bytes_of(q));
  EXPECT_EQ(bytes_of(*got[1]->content()),
            std::string("\x00\x00\x00\x01\x00\x01\x00\x01\x00\x00\x00\x01"
                        "\x00\x0a\x00\x03\x00\x00\x00\x02w1",
                        22));
  EXPECT_EQ(bytes_of(*got[2]->content()), bytes_of(vars));
}

// The reply tests of each family: what fails, what it writes, whether the
// API error is set (a line written is the API error too), and what reaches
// the caller.
TEST(HxApiQuery, ReplyOutcomesByFamily) {
  constexpr int kNone = -1;
  auto old_error = [] { return new HxOldError("boom"); };
  auto error_record = [] { return new HxError(2040); };
  struct Row {
    char const* name;
    Caller call;
    int tag;
    std::function<HxPack*()> content;
    int result, length;
    char const* err;
    int error;  // kNone: left as it was, unless a line is written
  } const rows[] = {
      // L: an error reply sets the API error; N: it fails as a wrong list.
      {"jobinfo old error", query_call<HxJobList>(hxjobinfo), 4, old_error, 0, 0, "", 100000},
      {"jobinfo bare error", query_call<HxJobList>(hxjobinfo), 4, nullptr, 0, 0, "", 2051},
      {"hostinfo old error", query_call<HxHostList>(hxhostinfo), 4, old_error, 0, 0,
       "ERROR: list object returned invalid. - 52\n", kNone},
      {"jobinfo hosts", query_call<HxJobList>(hxjobinfo), 1, two<HxHostList>, 0, 0,
       "ERROR: list object returned invalid. - 12\n", kNone},
      {"jobinfo blank", query_call<HxJobList>(hxjobinfo), 1, nullptr, 0, 0, "ERROR: data returned blank\n", kNone},
      {"jobinfo empty list", query_call<HxJobList>(hxjobinfo), 1, [] { return new HxJobList; }, 1, 0, "", kNone},
      {"users error", list_call<HxAccessList>(hxusers), 4, error_record, 0, 0,
       "ERROR: list object returned invalid. - 175\n", kNone},
      {"dutyinfo error", list_call<HxDutyList>(hxdutyinfo), 4, error_record, 0, 0, "", 2040},
      // The banned list: a refusal first, then N.
      {"banned refused", list_call<HxHostList>(hxbannedworkers), 3, two<HxHostList>, 0, 0, "", 2054},
      {"banned error", list_call<HxHostList>(hxbannedworkers), 4, old_error, 0, 0,
       "ERROR: list object returned invalid. - 52\n", kNone},
      // A3: only a refusal fails, whatever the content.
      {"delete refused", names_call(hxworkerdelete), 3, nullptr, 0, 2, "", 2054},
      {"delete error", names_call(hxworkerdelete), 4, old_error, 1, 2, "", kNone},
      {"delete other tag", names_call(hxworkerdelete), 203, two<HxHostList>, 1, 2, "", kNone},
      {"removehost refused", names_call(hxremovehost), 3, nullptr, 0, 2, "", 2054},
      {"undelete refused", names_call(hxworkerundelete), 3, nullptr, 0, 2, "", 2054},
      // R towards the worker.
      {"workerconfig hosts", worker_config, 1, two<HxHostList>, 0, 0, "ERROR: config object returned invalid. - 12\n", kNone},
      {"workerconfig error", worker_config, 4, error_record, 0, 0, "", 2040},
      {"assignmentinfo error", assignment_info, 4, old_error, 0, 0, "ERROR: list object returned invalid. - 52\n", kNone},
      // The worker's own replies are used only when of the class asked for;
      // their tag is not read.
      {"workerassign hosts", worker_assign, 1, two<HxHostList>, 0, 0, "", kNone},
      {"workerassign blank", worker_assign, 1, nullptr, 0, 0, "", kNone},
      {"workerassign tag 4", worker_assign, 4, two<HxAssignmentList>, 1, 2, "", kNone},
      {"workerinfo jobs", worker_info, 1, two<HxJobList>, 0, 0, "", kNone},
      {"workerinfo host", worker_info, 1,
       [] {
         auto* h = new HxHost;
         h->name("theirs");
         return h;
       },
       1, 1, "", kNone},
      {"updatevars refused", update_vars, 3, nullptr, 1, 1, "", kNone},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, [&row](HxMessage&, HxMessage& rep) {
      return hxtest::answer(rep, row.tag, row.content ? row.content() : nullptr);
    });
    ASSERT_TRUE(farm.ok());
    Outcome o = run(row.call);
    EXPECT_EQ(o.call.result, row.result);
    EXPECT_EQ(o.call.length, row.length);
    EXPECT_EQ(o.err, row.err);
    if (row.err[0] != '\0') {
      EXPECT_EQ(o.error, 100000);
      EXPECT_EQ(o.error_text, hxtest::cause_of(row.err));
    } else {
      EXPECT_EQ(o.error, row.error == kNone ? kSentinel : row.error);
    }
  }
}

// The supervisor's configuration reaches the caller's; an error reply leaves
// the caller's as it was.
TEST(HxApiQuery, SupervisorConfigCopiedOrKept) {
  for (int tag : {1, 4}) {
    SCOPED_TRACE(tag);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, [tag](HxMessage&, HxMessage& rep) {
      auto* c = new HxConfig;
      c->option("supervisor_p_agenda_max", "250");
      return hxtest::answer(rep, tag, c);
    });
    HxConfig mine;
    mine.option("supervisor_p_agenda_max", "7");
    EXPECT_EQ(hxsupervisorconfig(mine), tag == 1 ? 1 : 0);
    EXPECT_EQ(S(mine.option("supervisor_p_agenda_max")), tag == 1 ? "250" : "7");
  }
}

// The three worker requests keep the client's own 30000 ms whatever the API's
// time-out says; the others follow it (a time-out of 1000 ms gives up on a
// peer that takes longer to answer). A worker request is answered after
// 1.3 s; any other is answered only once the call has given up, or after
// 20 s, which a call that waited 30 s would take.
TEST(HxApiQuery, WorkerRequestsKeepTheirOwnTimeout) {
  struct Row {
    char const* name;
    Caller call;
    int result;
  } const rows[] = {
      {"workerinfo", worker_info, 1},
      {"workerassign", worker_assign, 1},
      {"workerconfig", worker_config, 0},
      {"supervisorinfo", list_call<HxSupeList>(hxsupervisorinfo), 0},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    std::atomic<bool> returned{false};
    bool const gives_up = row.result == 0;
    hxtest::FakeFarm farm(world, [&returned, gives_up](HxMessage& req, HxMessage& rep) {
      if (!gives_up) std::this_thread::sleep_for(std::chrono::milliseconds(1300));
      for (int i = 0; gives_up && i < 2000 && !returned.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      HxPack* content = nullptr;
      if (req.tag() == 101) content = new HxHost;
      if (req.tag() == 108) content = new HxAssignmentList;
      if (req.tag() == 111) content = new HxConfig;
      if (req.tag() == 1035) content = new HxSupeList;
      return hxtest::answer(rep, 1, content);
    });
    hxsettimeout(1000);
    testing::internal::CaptureStderr();
    EXPECT_EQ(row.call().result, row.result);
    returned.store(true);
    testing::internal::GetCapturedStderr();
    hxsettimeout(0);
  }
}

// Job types found in a directory of its own are appended; the count is that
// of the whole list, modulo 256.
TEST(HxApiQuery, JobTypeCountTruncated) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  unsetenv("HXPATH");
  hxtest::TempDir types("hxtypes");
  for (char const* t : {"alpha", "beta"}) {
    ::mkdir(types.file(t).c_str(), 0755);
    types.write(std::string(t) + "/job.conf", "version = 1\n");
  }
  for (int before : {3, 298}) {
    SCOPED_TRACE(before);
    HxStringList list;
    for (int i = 0; i < before; ++i) list.append(new HxString("x"));
    unsigned char n = hxjobtypeavailable(hxtest::H(types.path()), list);
    EXPECT_EQ(n, static_cast<unsigned char>((before + 2) & 0xff));
    EXPECT_EQ(list.length(), before + 2);
  }
  EXPECT_EQ(S(hxjobconfig("alpha", "version", 0)), "");  // not on the search path
  setenv("HXPATH", types.path().c_str(), 1);
  EXPECT_EQ(S(hxjobconfig("alpha", "version", 0)), "1");
  unsetenv("HXPATH");
}

// The current time follows the supervisor's clock.
TEST(HxApiQuery, CurrentTimeFollowsTheSupervisor) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  HxTime local;
  local.setToLocalClock();
  int const ahead = local.value() + 3600;
  hxtest::FakeFarm farm(world, [ahead](HxMessage&, HxMessage& rep) {
    return hxtest::answer(rep, 1, new HxTime(ahead));
  });
  int const now = hxcurrenttime();
  EXPECT_NEAR(now, ahead, 3);
  ASSERT_EQ(farm.requests().size(), 1u);
  EXPECT_EQ(farm.requests()[0]->tag(), 107);
}

}  // namespace

namespace {

// Eight threads in the request functions at once against one peer while a
// ninth changes the settings they read: every call gets its own answer, and
// a race on the state or the shared peer shows under ThreadSanitizer.
TEST(HxApiQuery, EightThreadsAgainstTheFarm) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeFarm farm(world, [](HxMessage& req, HxMessage& rep) {
    switch (req.tag()) {
      case 100:
        return hxtest::answer(rep, 1, two<HxJobList>());
      case 101:
        return hxtest::answer(rep, 1, two<HxHostList>());
      case 118:
        return hxtest::answer(rep, 3);
      default:
        return hxtest::answer(rep, 1, two<HxDutyList>());
    }
  });
  ASSERT_TRUE(farm.ok());
  constexpr int kCalls = 20;
  std::atomic<int> wrong{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> callers;
  for (int t = 0; t < 8; ++t) {
    callers.emplace_back([t, &wrong] {
      for (int i = 0; i < kCalls; ++i) {
        HxQuery q;
        switch (t % 4) {
          case 0: {
            HxJobList jobs;
            if (hxjobinfo(q, jobs) != 1 || jobs.length() != 2) ++wrong;
            break;
          }
          case 1: {
            HxHostList hosts;
            if (hxhostinfo(q, hosts) != 1 || hosts.length() != 2) ++wrong;
            break;
          }
          case 2: {
            HxHostList hosts;
            if (hxbannedworkers(hosts) != 0 || hosts.length() != 0) ++wrong;
            break;
          }
          default: {
            HxDutyList duties;
            if (hxdutyinfo(duties) != 1 || duties.length() != 2) ++wrong;
            break;
          }
        }
      }
    });
  }
  std::thread settings([&stop] {
    for (int i = 0; !stop; ++i) {
      hxsettimeout(i % 2 ? 5000 : 0);
      hxsetsupervisor(i % 2 ? "127.0.0.1" : "");
      hxsetclientlogpath(i % 2 ? kHxUseSupervisor : "");
      std::this_thread::yield();
    }
  });
  for (auto& c : callers) c.join();
  stop = true;
  settings.join();
  hxsettimeout(0);
  hxsetsupervisor("");
  hxsetclientlogpath("");
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(farm.requests().size(), 8u * kCalls);
  EXPECT_EQ(hxerror().integervalue(), 2054);
}

}  // namespace

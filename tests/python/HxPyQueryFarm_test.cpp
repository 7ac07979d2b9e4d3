// The query, command, history and log functions end to end: Python calls
// in this process against a fake supervisor on 127.0.0.1.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "model/job/HxCommand.h"
#include "model/job/HxHistory.h"
#include "model/job/HxLog.h"
#include "tests/api/ApiTestUtil.h"
#include "tests/api/FakeSupervisor.h"
#include "tests/python/PyTestUtil.h"

namespace {

using hxtest::py_repr;
using hxtest::py_str;

std::string T(HxString const& s) { return s.value() == nullptr ? "" : std::string(s.value(), s.length()); }

// The command a request carried, as text: restrictions, action, job ids,
// work ids, filters.
std::string Sent(HxMessage const& m) {
  auto const* c = dynamic_cast<HxCommand const*>(m.content());
  if (c == nullptr) return "<none>";
  std::string out = std::to_string(m.tag()) + " r" + std::to_string(c->restrictions()) + " a" +
                    std::to_string(c->action()) + " J{";
  for (int i = 0; i < c->jobids().length(); ++i) out += (i > 0 ? " " : "") + T(c->jobids().get(i)->value());
  out += "} K{";
  for (int i = 0; i < c->workids().length(); ++i) out += (i > 0 ? " " : "") + T(c->workids().get(i)->value());
  out += "} W{";
  for (int i = 0; i < c->filters().length(); ++i) {
    HxFilter const* f = c->filters().get(i);
    out += (i > 0 ? " " : "") + T(f->name()) + "(";
    for (int k = 0; k < f->fields().length(); ++k)
      out += (k > 0 ? "," : "") + T(f->fields().get(k)->sign()) + T(f->fields().get(k)->value());
    out += ")";
  }
  return out + "}";
}

class PyFarm : public hxtest::PyModuleTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(supe.ok());
    supe.addJob(12, "ann", "a", {"f1", "f2"});
    supe.addJob(13, "bob", "b", {"f1"});
    supe.addHost("hostA", "/x");
    supe.addHost("hostB", "/y");
  }
  // The commands the fake received, one text each, joined by "|".
  std::string SentAll() {
    std::string out;
    for (auto& m : supe.requests()) out += (out.empty() ? "" : "|") + Sent(*m);
    return out;
  }

  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard{world};
  hxtest::FakeSupervisor supe{world};
};

// Job and work commands at both protocol versions: what is sent, what comes
// back, and what the fake did with it.
using PyFarmEach = hxtest::PyModuleTest;

TEST_F(PyFarmEach, CommandsAtBothVersions) {
  struct Row {
    int version;
    char const* call;
    char const* result;
    char const* sent;
  } const rows[] = {
      {530, "_hx.kill('12')", "['12']", "207 r0 a207 J{12} K{12} W{}"},
      {530, "_hx.kill(12)", "['12']", "207 r0 a207 J{12} K{12} W{}"},
      {529, "_hx.block('12-13')", "['12', '13']", "210 r0 a210 J{12 13} K{12 13} W{}"},
      {530, "_hx.kill({'user': ('bob', None)}, '12.1')", "['12', '13']", "207 r0 a207 J{12.1} K{} W{user(bob)}"},
      {530, "_hx.kill({'jobids': '12'}, '13')", "['12']", "207 r1 a207 J{12} K{} W{}"},
      {530, "_hx.kill({'jobids': ['12', 2**32 + 13]})", "['12']", "207 r1 a207 J{12} K{} W{}"},
      {530, "_hx.killwork('12:f1')", "['12:f1']", "605 r0 a605 J{} K{12:f1} W{}"},
      {529, "_hx.blockwork('12-13')", "['12:f1', '12:f2', '13:f1']", "608 r0 a608 J{12 13} K{12 13} W{}"},
      {530, "_hx.top(13)", "['13']", "223 r0 a290 J{13} K{13} W{}"},
      {530, "_hx.kill('99')", "[]", "207 r0 a207 J{99} K{99} W{}"},
      {530, "_hx.command({'action': 207, 'jobids': ['12']})", "{'jobids': ['12']}", "207 r1 a207 J{12} K{} W{}"},
      {530, "_hx.command({'action': 605, 'workids': ['13:f1']})", "{'workids': ['13:f1']}",
       "605 r1 a605 J{} K{13:f1} W{}"},
      {530, "_hx.command({'action': 210, 'jobids': ['99']})", "{}", "210 r1 a210 J{99} K{} W{}"},
      {530, "_hx.command({'jobids': ['12']})", "None", ""},  // action 0 is refused before sending
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.call);
    hxtest::ApiWorld w;
    hxtest::ApiWorldGuard g(w);
    hxtest::FakeSupervisor s(w, row.version);
    s.addJob(12, "ann", "a", {"f1", "f2"});
    s.addJob(13, "bob", "b", {"f1"});
    EXPECT_EQ(py_repr(row.call), row.result);
    auto sent = s.requests();
    std::string got = sent.empty() ? "" : Sent(*sent.back());
    EXPECT_EQ(got, row.sent);
  }
}

TEST_F(PyFarm, CommandsChangeTheFarmAndBadIdsSendNothing) {
  EXPECT_EQ(py_repr("_hx.kill({'jobids': '12'})"), "['12']");
  EXPECT_EQ(T(supe.job(12).status().value()), "killed");
  EXPECT_EQ(T(supe.job(13).status().value()), "pending");
  EXPECT_EQ(py_repr("_hx.kill(2**32 + 13)"), "<error RuntimeError: incorrect parameter at pos[0]>");
  EXPECT_EQ(py_repr("_hx.retrywork('13:f1', 1.5)"), "<error RuntimeError: incorrect parameter at pos[1]>");
  EXPECT_EQ(supe.requests().size(), 1u);
  EXPECT_EQ(T(supe.job(13).status().value()), "pending");
}

// Queries: the positional form and the query dictionary select on the
// fake; hostinfo and the orders give the list as filled.
TEST_F(PyFarm, Queries) {
  struct Row {
    char const* call;
    char const* result;
  } const rows[] = {
      {"[j['id'] for j in _hx.jobinfo()]", "[12, 13]"},
      {"[j['id'] for j in _hx.jobinfo({}, {'limit': 1})]", "[12]"},
      {"[j['id'] for j in _hx.jobinfo(['id'], {'user': 'bob'})]", "[13]"},
      {"[j['id'] for j in _hx.jobinfo({'limit': 5})]", "[]"},  // a filter named "limit"
      {"[j['id'] for j in _hx.joborder({'filters': [{'name': 'id', 'fields': [{'value': '12'}]}]})]", "[12]"},
      {"[h['name'] for h in _hx.hostinfo()]", "['hostA', 'hostB']"},
      {"[h['name'] for h in _hx.hostorder({'cluster': {'name': 'cluster', 'fields': [{'value': '/y'}]}})]",
       "['hostB']"},
  };
  for (Row const& row : rows) EXPECT_EQ(py_repr(row.call), row.result) << row.call;
}

TEST_F(PyFarmEach, UnreachableSupervisor) {
  hxtest::ApiWorld w;
  hxtest::ApiWorldGuard g(w);
  int closed = 0;
  {
    FakePeer gone;
    closed = gone.tcpPort();
  }
  std::string const port = std::to_string(closed);
  w.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + port + "\n");
  // Each failure names its cause in error(), in place of an earlier,
  // unrelated error; jobinfo raises with it.
  struct Row {
    char const* call;
    std::string result;
  } const rows[] = {
      {"_hx.hostinfo()", "[]"},
      {"_hx.joborder()", "[]"},
      {"_hx.jobinfo()", "<error RuntimeError: unable to contact supervisor.>"},
      {"_hx.bannedworkers()", "<error OSError: Unable to retrieve banned worker list>"},
      {"_hx.kill(12)", "[]"},
      {"_hx.command({'action': 207, 'jobids': ['12']})", "None"},
  };
  for (Row const& row : rows) {
    _hx_set_error(kHxErrAccessDenied);
    EXPECT_EQ(py_repr(row.call), row.result) << row.call;
    EXPECT_EQ(py_str("_hx.error()"), "unable to contact supervisor.") << row.call;
  }
}

// Objects of the caller's own whose methods raise while the module reads
// them. A Twin key hashes like another key and raises from __eq__ once
// armed (after the dicts holding it are built), when that key is looked up.
char const kRaising[] = R"(
class Items(list):
    """A list whose item `at` raises exc."""
    def __init__(self, items, exc=KeyboardInterrupt, at=1):
        super().__init__(items)
        self.exc, self.at = exc, at
    def __getitem__(self, i):
        if i == self.at:
            raise self.exc
        return list.__getitem__(self, i)

class Sized(list):
    def __len__(self):
        raise MemoryError

class Twin(str):
    armed = False
    def __new__(cls, text, like):
        self = super().__new__(cls, text)
        self.like = like
        return self
    def __hash__(self):
        return hash(self.like)
    def __eq__(self, other):
        if Twin.armed:
            raise SystemExit(3)
        return str.__eq__(self, other)

def twin(d, like, value=1):
    """d with a key that collides with `like` when `like` is looked up."""
    d[Twin('twin of ' + like, like)] = value
    return d

class Keys:
    """A mapping whose keys() raises."""
    def keys(self):
        raise KeyboardInterrupt
    def __getitem__(self, k):
        return k

class Values:
    """A mapping whose __getitem__ raises."""
    def keys(self):
        return ['a', 'b']
    def __getitem__(self, k):
        raise SystemExit(4)

class Index:
    def __index__(self):
        raise SystemExit(5)

class Indexes:
    """Indexes without a length: no list of items."""
    def __getitem__(self, i):
        return '13'
)";

// What the caller's objects raise while a function reads its arguments
// reaches the caller, and nothing is sent: the command, modify, query,
// submit and administration functions and the dictionary converters. Values
// of another type than a key reads are still skipped or read as 0, and sent.
TEST_F(PyFarmEach, CallersOwnExceptionsPropagateAndNothingIsSent) {
  ASSERT_EQ(hxtest::py_exec(kRaising), "");
  struct Row {
    char const* function;
    char const* args;
    char const* raises;  // "" for a call that returns
    char const* sent;    // the one request sent, when it returns ("" not compared)
  } const rows[] = {
      // Commands: a list's item, its length, a key colliding with a read key.
      {"kill", "{'jobids': Items(['100', '101'])}", "KeyboardInterrupt", ""},
      {"kill", "{'jobids': Sized(['100'])}", "MemoryError", ""},
      {"command", "{'action': 207, 'jobids': Sized(['1'])}", "MemoryError", ""},
      {"command", "twin({'action': 207, 'filters': [{'name': 'user'}]}, 'jobids')", "SystemExit", ""},
      {"kill", "twin({'jobids': ['12']}, 'action')", "SystemExit", ""},
      {"killwork", "{'workids': Items(['1:a', '1:b'], SystemExit)}", "SystemExit", ""},
      {"kill", "{'filters': [twin({'name': 'user'}, 'sign')]}", "SystemExit", ""},
      {"kill", "{'filters': [{'name': 'user', 'fields': Items([{'value': 'a'}, {'value': 'b'}])}]}",
       "KeyboardInterrupt", ""},
      {"kill", "{'jobids': ['12'], 'groups': Items(['a', 'b'], MemoryError, 0)}", "MemoryError", ""},
      {"hist", "{'jobids': Items(['12', '13'])}", "KeyboardInterrupt", ""},
      {"stats", "{'workids': Sized(['12:a'])}", "MemoryError", ""},
      {"stdout", "Items(['12', '13']), 0, 1", "KeyboardInterrupt", ""},
      {"stderr", "['12'], Index(), 1", "SystemExit", ""},
      // Modify: its command keys, fields, template keys, package and job.
      {"modify", "{'priority': 1, 'jobids': Sized([])}, 12", "MemoryError", ""},
      {"modify", "{'fields': Items([{'value': 'priority'}, {'value': 'name'}]), 'priority': 1}, 12",
       "KeyboardInterrupt", ""},
      {"modify", "twin({'priority': 1}, 'agenda_timeout'), 12", "SystemExit", ""},
      {"modify", "twin({'agendatimeout': 1}, 'agenda_timeout'), 12", "SystemExit", ""},
      {"modify", "{'package': Keys()}, 12", "KeyboardInterrupt", ""},
      {"modify", "{'package': Values()}, 12", "SystemExit", ""},
      {"modify", "{'fields': [{'value': 'name'}], 'job': {'agenda': Items([{'name': '1'}, {'name': '2'}])}}, 12",
       "KeyboardInterrupt", ""},
      // Queries: the query dictionary and the positional form.
      {"jobinfo", "{'fields': Items([{'value': 'id'}, {'value': 'name'}])}", "KeyboardInterrupt", ""},
      {"hostinfo", "twin({'fields': ['name']}, 'filters')", "SystemExit", ""},
      {"joborder", "('id',), {'user': twin({'name': 'user'}, 'fields')}", "SystemExit", ""},
      {"hostorder", "[], {}, twin({'limit': 5}, 'orderby')", "SystemExit", ""},
      // Submission and administration.
      {"submit", "[{'name': 'j', 'agenda': Items([{'name': '1'}, {'name': '2'}])}], False", "KeyboardInterrupt",
       ""},
      {"submit", "[{'name': 'j', 'package': Keys()}], False", "KeyboardInterrupt", ""},
      {"admincommand", "{'action': 3, 'userlist': Items(['ann', 'bob'])}", "KeyboardInterrupt", ""},
      {"admincommand", "{'action': 3, 'workers': Sized(['a'])}", "MemoryError", ""},
      {"admincommand", "twin({'action': 1}, 'username')", "SystemExit", ""},
      {"admincommand", "{'action': 1, 'config': {'section': twin({'option': 'v'}, 'option')}}", "SystemExit", ""},
      {"admincommand", "{'action': 1, 'filters': Sized([])}", "MemoryError", ""},
      {"reportwork", "{'name': '1', 'resultpackage': Values()}", "SystemExit", ""},
      {"configDictToStr", "twin({'option': 'v'}, 'option'), 'x'", "SystemExit", ""},
      // Values of another type: skipped, or read as 0, and sent.
      {"kill", "{'jobids': ['12'], 'workids': Indexes()}", "", "207 r1 a207 J{12} K{} W{}"},
      {"kill", "{'jobids': ['12'], 'restrictions': 'none'}", "", "207 r0 a207 J{12} K{} W{}"},
      {"kill", "{'jobids': ['12', 2**40], 'groups': 1.5}", "", "207 r1 a207 J{12} K{} W{}"},
      {"modify", "{'priority': 'high', 'package': b'raw'}, 12", "", ""},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(std::string(row.function) + "(" + row.args + ")");
    hxtest::ApiWorld w;
    hxtest::ApiWorldGuard g(w);
    hxtest::FakeSupervisor s(w);
    ASSERT_TRUE(s.ok());
    s.addJob(12, "ann", "a", {"f1"});
    // The arguments are built unarmed; the call runs armed.
    ASSERT_EQ(hxtest::py_exec("args = (" + std::string(row.args) + ",)\nTwin.armed = True"), "");
    EXPECT_EQ(hxtest::py_raises("_hx." + std::string(row.function) + "(*args)"), row.raises);
    ASSERT_EQ(hxtest::py_exec("Twin.armed = False\ndel args"), "");
    auto const sent = s.requests();
    if (*row.raises != '\0') {
      EXPECT_EQ(sent.size(), 0u);
    } else {
      ASSERT_EQ(sent.size(), 1u);
      if (*row.sent != '\0') {
        EXPECT_EQ(Sent(*sent.back()), row.sent);
      }
    }
  }
}

// Memory that runs out inside the library, where the request road fails
// the call instead of letting it escape, still reaches Python as
// MemoryError: the reply's one job carries a name of 128 MB that the child,
// allowed 192 MB more, can receive but not also decode.
TEST_F(PyFarmEach, MemoryRunningOutInTheLibraryRaisesMemoryError) {
  if (hxtest::kShadowMemory) GTEST_SKIP() << "no address-space limit under a sanitizer";
  hxtest::ApiWorld w;
  hxtest::ApiWorldGuard g(w);
  hxtest::FakeSupervisor supe(w);
  ASSERT_TRUE(supe.ok());
  HxJob job;
  job.id(12);
  job.name(HxString(std::string(128u << 20, 'x').c_str()));
  supe.addJob(job);
  // The interpreter is told of the fork as os.fork() tells it: before it
  // (it takes its own locks), then after it in the child and in the parent.
  PyOS_BeforeFork();
  int const code = hxtest::run_with_memory_limit(192u << 20, [&] {
    PyOS_AfterFork_Child();
    std::string const got = py_repr("_hx.jobinfo()");
    if (got == "<error MemoryError: >") return 0;
    std::fprintf(stderr, "jobinfo() gave %s\n", got.c_str());
    return 1;
  });
  PyOS_AfterFork_Parent();
  EXPECT_EQ(code, 0);
}

// The modify command: the fields and template sent for each form; an int
// target beyond 32 bits sends nothing.
TEST_F(PyFarm, Modify) {
  struct Row {
    char const* call;
    char const* result;
    char const* fields;
    int priority;
  } const rows[] = {
      {"_hx.modify({'priority': 10}, 12)", "['12']", "priority", 10},
      {"_hx.modify({'priority': '7', 'name': 'n'}, '13.0')", "['13']", "priority,name", 7},
      {"_hx.modify({'fields': [{'value': 'priority'}], 'job': {'priority': 3}}, 12)", "['12']", "priority", -2},
      {"_hx.modify({'fields': []}, 12)", "['12']", "", -2},
      {"_hx.modify({'jobids': ['12'], 'priority': 1})", "['12']", "priority", 1},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.call);
    size_t before = supe.requests(kHxReqModify).size();
    EXPECT_EQ(py_repr(row.call), row.result);
    auto sent = supe.requests(kHxReqModify);
    ASSERT_EQ(sent.size(), before + 1);
    auto const* m = dynamic_cast<HxModifyCommand const*>(sent.back()->content());
    ASSERT_NE(m, nullptr);
    std::string fields;
    for (int i = 0; i < m->fields().length(); ++i) fields += (i > 0 ? "," : "") + T(m->fields().get(i)->value());
    EXPECT_EQ(fields, row.fields);
    if (row.priority != -2) {
      EXPECT_EQ(m->job().priority(), row.priority);
    }
  }
  EXPECT_EQ(py_repr("_hx.modify({'priority': 1}, 2**32 + 12)"), "'invalid reference'");
  // A template or package nested without end fails the call: sent, its
  // fields would take default values.
  EXPECT_EQ(hxtest::py_raises("d = {}; d['children'] = [d]\n"
                              "_hx.modify({'fields': [{'value': 'priority'}], 'job': d}, 12)"),
            "RecursionError");
  EXPECT_EQ(hxtest::py_raises("p = {}; p['x'] = p; _hx.modify({'package': p, 'priority': 1}, 12)"), "RecursionError");
  EXPECT_EQ(supe.requests(kHxReqModify).size(), 5u);
}

// History and statistics: the command each sends, and the reply's
// records as dictionaries.
TEST_F(PyFarm, HistoryAndStatistics) {
  auto logs = [](HxMessage& q, HxMessage& r) {
    auto* list = new HxLogList;
    auto const* c = dynamic_cast<HxCommand const*>(q.content());
    for (int i = 0; c != nullptr && i < c->jobids().length(); ++i) {
      auto* log = new HxLog;
      log->jobid(c->jobids().get(i)->id());
      log->subid(c->jobids().get(i)->subid());
      log->fullsize(5LL << 32);
      log->data("text");
      list->append(log);
    }
    return hxtest::answer(r, kHxReplyConfirmed, list);
  };
  supe.on(kHxReqStats, logs);
  supe.on(kHxReqHistory, [](HxMessage&, HxMessage& r) {
    auto* list = new HxHistoryList;
    auto* h = new HxHistory;
    h->jobid(1234);
    h->comment("done");
    list->append(h);
    return hxtest::answer(r, kHxReplyConfirmed, list);
  });
  struct Row {
    char const* call;
    char const* result;
    char const* sent;
  } const rows[] = {
      {"[(h['jobid'], h['comment'], h['stamp']) for h in _hx.hist(1234)]", "[(1234, 'done', 'None')]",
       "103 r0 a0 J{1234} K{1234} W{}"},
      {"len(_hx.hist('1234.2'))", "1", "103 r0 a0 J{1234.2} K{} W{}"},
      {"len(_hx.hist('1234:frame_0001'))", "1", "103 r0 a0 J{} K{1234:frame_0001} W{}"},
      {"_hx.stats({'user': 'a'}, 12)", "[{'jobid': 12, 'subid': -1, 'fullsize': 21474836480, 'data': 'text'}]",
       "110 r0 a0 J{12} K{12} W{user(a)}"},
      {"_hx.stats({'user': {'x': 1}}, 12)[0]['jobid']", "12", "110 r0 a0 J{12} K{12} W{user()}"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.call);
    EXPECT_EQ(py_repr(row.call), row.result);
    auto sent = supe.requests();
    EXPECT_EQ(sent.empty() ? "" : Sent(*sent.back()), row.sent);
  }
}

// Logs: one job id per list item (a subjob below 0 read as 0) with a "pos"
// and a "len" filter each; the interpreter lock stays held.
TEST_F(PyFarm, Logs) {
  auto logs = [](HxMessage& q, HxMessage& r) {
    auto* list = new HxLogList;
    auto const* c = dynamic_cast<HxCommand const*>(q.content());
    for (int i = 0; c != nullptr && i < c->jobids().length(); ++i) {
      auto* log = new HxLog;
      log->jobid(c->jobids().get(i)->id());
      log->subid(c->jobids().get(i)->subid());
      log->fullsize(5LL << 32);
      log->data("text");
      list->append(log);
    }
    return hxtest::answer(r, kHxReplyConfirmed, list);
  };
  for (int tag : {kHxReqStdout, kHxReqStderr}) supe.on(tag, logs);
  struct Row {
    char const* call;
    char const* result;
    char const* sent;
  } const rows[] = {
      {"_hx.stdout(['12', '13.1'], 0, 1000)",
       "[{'jobid': 12, 'subid': 0, 'fullsize': 21474836480, 'data': 'text'}, "
       "{'jobid': 13, 'subid': 1, 'fullsize': 21474836480, 'data': 'text'}]",
       "104 r1 a0 J{12.0 13.1} K{} W{pos(0) len(1000) pos(0) len(1000)}"},
      {"[(l['jobid'], l['subid']) for l in _hx.stderr('12.*', 5, 10)]", "[(12, 0)]",
       "105 r1 a0 J{12.0} K{} W{pos(5) len(10)}"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.call);
    EXPECT_EQ(py_repr(row.call), row.result);
    auto sent = supe.requests();
    EXPECT_EQ(sent.empty() ? "" : Sent(*sent.back()), row.sent);
  }
  supe.refuse(true);
  EXPECT_EQ(py_repr("_hx.stdout(['12'], 0, 10)"), "[]");
}

// Worker locks and tag values: what is sent, the lists that come back and
// the OSError of a refused list.
TEST_F(PyFarm, WorkerLocksAndTagValues) {
  supe.on(kHxReqWorkerLock, [](HxMessage&, HxMessage& r) {
    auto* result = new HxResult;
    result->hostnames().append(new HxHostname("hostA", 0));
    result->hostnames().append(new HxHostname("hostB", 7));
    return hxtest::answer(r, kHxReplyConfirmed, result);
  });
  supe.on(kHxReqJobTagValues, [](HxMessage& q, HxMessage& r) {
    auto const* asked = dynamic_cast<HxStringList const*>(q.content());
    auto* values = new HxStringList;
    values->append(new HxString(asked != nullptr && asked->length() == 1 && asked->get(0)->length() > 0
                                    ? *asked->get(0) : HxString("none")));
    values->append(new HxString("b\xc3\xa9"));
    return hxtest::answer(r, kHxReplyConfirmed, values);
  });
  EXPECT_EQ(py_repr("_hx.workerlock({'name': ['hostA', None], 'x': {'y': 1}}, '1')"), "['hostA', 'hostB:7']");
  auto sent = supe.requests(kHxReqWorkerLock);
  ASSERT_EQ(sent.size(), 1u);
  auto const* order = dynamic_cast<HxOrder const*>(sent[0]->content());
  ASSERT_NE(order, nullptr);
  ASSERT_EQ(order->filters().length(), 2);
  EXPECT_EQ(T(order->filters().get(0)->name()) + ":" + T(order->filters().get(0)->fields().get(0)->value()) + "/" +
                std::to_string(order->filters().get(0)->fields().length()),
            "name:hostA/1");
  EXPECT_EQ(T(order->filters().get(1)->fields().get(0)->value()), "");  // a dict value: the empty text
  EXPECT_EQ(T(order->lock()) + "/" + std::to_string(order->action()), "1/0");
  EXPECT_EQ(py_repr("_hx.workerlock(1)"), "['hostA', 'hostB:7']");
  EXPECT_EQ(py_repr("_hx.jobtagvalues('show')"), "['show', 'b\\xe9']");
  EXPECT_EQ(py_repr("_hx.jobtagvalues()"), "['none', 'b\\xe9']");
  supe.refuse(true);
  EXPECT_EQ(py_repr("_hx.jobtagvalues('show')"), "<error OSError: Unable to retrieve list of tag values>");
  EXPECT_EQ(py_repr("_hx.workerlock('1')"), "[]");
}

TEST_F(PyFarm, BannedWorkersAndAssignment) {
  supe.on(kHxReqBannedWorkers, [](HxMessage&, HxMessage& r) {
    auto* hosts = new HxHostList;
    hosts->append(new HxHost);
    hosts->get(0)->name("banned");
    return hxtest::answer(r, kHxReplyConfirmed, hosts);
  });
  EXPECT_EQ(py_repr("[(h['name'], h['flagsstring']) for h in _hx.bannedworkers()]"), "[('banned', '0')]");
  supe.refuse(true);
  EXPECT_EQ(py_repr("_hx.bannedworkers()"), "<error OSError: Unable to retrieve banned worker list>");
  // Without a job to fetch the assignment of, nothing is kept: None all the same.
  EXPECT_EQ(py_repr("_hx._init_assign()"), "None");
}

// Many calls against the fake keep Python's memory flat. Every text that
// comes back is longer than one character: the interpreter shares one
// object per one-character text, so a leaked reference to one would not
// show.
TEST_F(PyFarm, CallsKeepMemoryFlat) {
  supe.on(kHxReqJobTagValues, [](HxMessage&, HxMessage& r) {
    auto* values = new HxStringList;
    values->append(new HxString("a tag value"));
    return hxtest::answer(r, kHxReplyConfirmed, values);
  });
  supe.on(kHxReqWorkerLock, [](HxMessage&, HxMessage& r) {
    auto* result = new HxResult;
    result->hostnames().append(new HxHostname("a locked host", 7));
    return hxtest::answer(r, kHxReplyConfirmed, result);
  });
  supe.on(kHxReqStderr, [](HxMessage& q, HxMessage& r) {
    auto* list = new HxLogList;
    auto const* c = dynamic_cast<HxCommand const*>(q.content());
    for (int i = 0; c != nullptr && i < c->jobids().length(); ++i) {
      auto* log = new HxLog;
      log->jobid(c->jobids().get(i)->id());
      log->data("a line of the log");
      list->append(log);
    }
    return hxtest::answer(r, kHxReplyConfirmed, list);
  });
  for (char const* call : {"_hx.jobtagvalues('a tag')", "_hx.workerlock({'name': ('a host', None)}, 'a lock')",
                           "_hx.stderr(['12', '13.1'], 0, 5)", "_hx.kill({'user': 'someone'}, '12-13', 1.5)",
                           "_hx.jobinfo()", "_hx.hostinfo()"}) {
    SCOPED_TRACE(call);
    std::string code = std::string("import tracemalloc, gc\n"
                                   "def once():\n"
                                   "    try:\n"
                                   "        ") + call + "\n"
                       "    except RuntimeError:\n"
                       "        pass\n"
                       "for _ in range(50): once()\n"
                       "gc.collect()\n"
                       "def window():\n"
                       "    tracemalloc.start()\n"
                       "    before = tracemalloc.get_traced_memory()[0]\n"
                       "    for _ in range(300): once()\n"
                       "    gc.collect()\n"
                       "    grown = tracemalloc.get_traced_memory()[0] - before\n"
                       "    tracemalloc.stop()\n"
                       "    return grown\n"
                       // A leak grows both windows; the interpreter's own
                       // tables (the interned texts) may grow once in either.
                       "grown = min(window(), window())\n";
    ASSERT_EQ(hxtest::py_exec(code), "");
    EXPECT_LT(hxtest::py_int("grown"), 4096);
  }
}

}  // namespace

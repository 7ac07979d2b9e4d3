// The query, command, history and log functions end to end: Python calls
// in this process against a fake supervisor on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>

#include "model/job/HxCommand.h"
#include "model/job/HxHistory.h"
#include "model/job/HxLog.h"
#include "tests/api/FakeSupervisor.h"
#include "tests/python/PyTestUtil.h"

namespace {

using hxtest::py_repr;

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

// Many calls against the fake keep Python's memory flat.
TEST_F(PyFarm, CallsKeepMemoryFlat) {
  supe.on(kHxReqJobTagValues, [](HxMessage&, HxMessage& r) {
    auto* values = new HxStringList;
    values->append(new HxString("a"));
    return hxtest::answer(r, kHxReplyConfirmed, values);
  });
  for (char const* call : {"_hx.jobtagvalues('x')", "_hx.workerlock({'n': ('a', None)}, 'l')",
                           "_hx.stderr(['12', '13.1'], 0, 5)", "_hx.kill({'u': 'a'}, '12-13', 1.5)"}) {
    SCOPED_TRACE(call);
    std::string code = std::string("import tracemalloc, gc\n"
                                   "def once():\n"
                                   "    try:\n"
                                   "        ") + call + "\n"
                       "    except RuntimeError:\n"
                       "        pass\n"
                       "for _ in range(50): once()\n"
                       "gc.collect()\n"
                       "tracemalloc.start()\n"
                       "before = tracemalloc.get_traced_memory()[0]\n"
                       "for _ in range(300): once()\n"
                       "gc.collect()\n"
                       "grown = tracemalloc.get_traced_memory()[0] - before\n"
                       "tracemalloc.stop()\n";
    ASSERT_EQ(hxtest::py_exec(code), "");
    EXPECT_LT(hxtest::py_int("grown"), 4096);
  }
}

}  // namespace

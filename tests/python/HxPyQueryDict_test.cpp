#include "python/HxPyQueryDict.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/python/PyTestUtil.h"

namespace {

using hxtest::py_ascii;
using hxtest::py_eval;

std::string T(HxString const& s) { return s.value() == nullptr ? "" : std::string(s.value(), s.length()); }

// Compact texts of the records, so that one row states a whole record.
std::string D(HxField const& f) { return "[" + T(f.sign()) + "]" + T(f.value()); }
std::string D(HxFilter const& f) {
  std::string out = T(f.name()) + (f.neg() != 0 ? "!" + std::to_string(f.neg()) : "") + T(f.sign()) + "(";
  for (int i = 0; i < f.fields().length(); ++i) out += (i > 0 ? "," : "") + D(*f.fields().get(i));
  return out + ")";
}
std::string D(HxJobId const& id) { return T(id.value()); }
std::string D(HxWorkId const& id) { return T(id.value()); }
std::string D(HxString const& s) { return T(s); }
template <class List>
std::string L(List const& list) {
  std::string out;
  for (int i = 0; i < list.length(); ++i) out += (i > 0 ? " " : "") + D(*list.get(i));
  return out;
}
std::string D(HxQuery const& q) {
  return "F{" + L(q.fields()) + "} W{" + L(q.filters()) + "} L" + std::to_string(q.limit()) + " O" + T(q.order_by());
}
std::string D(HxCommand const& c) {
  return "r" + std::to_string(c.restrictions()) + " b" + std::to_string(c.background()) + " l" +
         std::to_string(c.limit()) + " a" + std::to_string(c.action()) + " W{" + L(c.filters()) + "} J{" +
         L(c.jobids()) + "} K{" + L(c.workids()) + "} G{" + L(c.groups()) + "}";
}

class PyQueryDict : public hxtest::PyModuleTest {
 protected:
  // Converts the value of expr with fn and describes the record ("null"
  // when there is none).
  template <class Fn>
  std::string Conv(std::string const& expr, Fn&& fn) {
    PyObject* v = py_eval(expr);
    EXPECT_NE(v, nullptr) << expr;
    auto rec = fn(v);
    std::string out = rec == nullptr ? "null" : D(*rec);
    delete rec;
    Py_XDECREF(v);
    EXPECT_EQ(PyErr_Occurred(), nullptr) << expr;
    return out;
  }
};

TEST_F(PyQueryDict, FieldsFiltersAndQueryDictionaries) {
  struct Row {
    char const* expr;
    char const* want;
  } const field_rows[] = {
      {"{'value': '>5'}", "[]5"},                 // no "sign": the split sign is dropped
      {"{'value': '>5', 'sign': ''}", "[>]5"},    // an empty sign keeps it
      {"{'value': '5', 'sign': '<'}", "[<]5"},
      {"{'value': '~a', 'sign': '%'}", "[%]a"},
      {"{'value': '=='}", "[]="},                 // one character only
      {"{'value': 'x>'}", "[]x>"},
      {"{}", "[]"},
      {"[('value', '5')]", "null"},
      {"None", "null"},
  };
  for (Row const& row : field_rows) EXPECT_EQ(Conv(row.expr, _hx_py_dict_field), row.want) << row.expr;

  Row const filter_rows[] = {
      {"{}", "=()"},
      {"{'name': 'user', 'sign': '', 'fields': [{'value': 'a'}, 'b', 7, {'value': '*x', 'sign': ''}]}",
       "user=([]a,[*]x)"},
      {"{'name': 'n', 'sign': '>', 'neg': 257}", "n!1>()"},   // neg keeps its low 8 bits
      {"{'name': 'n', 'neg': '3x'}", "n!3=()"},
      {"{'name': 'n', 'fields': 'ab'}", "n=()"},             // a str: no field dictionaries in it
      {"5", "null"},
  };
  for (Row const& row : filter_rows) EXPECT_EQ(Conv(row.expr, _hx_py_dict_filter), row.want) << row.expr;

  Row const query_rows[] = {
      {"{'fields': [], 'filters': [{'name': 'status', 'fields': [{'value': 'running'}]}]}",
       "F{} W{status=([]running)} L0 O"},
      {"{'fields': [{'value': 'id'}], 'limit': 5, 'orderby': 'id'}", "F{[]id} W{} L0 O"},
      {"{'fields': 'abc'}", "F{} W{} L0 O"},  // recognised, but nothing in it
      {"{'filters': 5}", "null"},
      {"{'limit': 5}", "null"},
      {"[]", "null"},
  };
  for (Row const& row : query_rows) EXPECT_EQ(Conv(row.expr, _hx_py_parse_query), row.want) << row.expr;

  // Orders: lock, action and filters; anything else leaves the order alone.
  HxOrder order;
  PyObject* v = py_eval("{'lock': '1', 'action': '12', 'filters': [{'name': 'name', 'fields': [{'value': 'h'}]}]}");
  EXPECT_TRUE(__hx_py_dict_order(v, &order));
  EXPECT_EQ(T(order.lock()) + "/" + std::to_string(order.action()) + "/" + L(order.filters()), "1/12/name=([]h)");
  EXPECT_FALSE(__hx_py_dict_order(Py_None, &order));
  EXPECT_EQ(_hx_py_dict_order(Py_None), nullptr);
  Py_DECREF(v);
}

// The positional query form: fields, filters, options, each recognised by
// type in that order; a dict value among the filters is a filter dictionary.
TEST_F(PyQueryDict, PositionalQueryForm) {
  struct Row {
    char const* args;
    char const* want;
  } const rows[] = {
      {"()", "F{} W{} L0 O"},
      {"({'limit': 5},)", "F{} W{limit=([]5)} L0 O"},
      {"({}, {'limit': 5})", "F{} W{} L5 O"},
      {"([], {}, {'limit': '10x', 'orderby': 7})", "F{} W{} L10 O7"},
      {"(['name', '~priority', None], {'status': ('running', None, 'pending'), 'priority': 10}, "
       "{'limit': '10', 'orderby': 'id'})",
       "F{[]name [~]priority []} W{status=([]running,[]pending) priority=([]10)} L10 Oid"},
      {"({'x': {'name': 'inner', 'fields': [{'value': '1'}]}, 'y': None, 'z': 2.5, 'w': '>3'},)",
       "F{} W{inner=([]1) y=([]) z=([]) w=([>]3)} L0 O"},
      {"(5, {'a': 1})", "F{} W{} L0 O"},  // an argument that fits no step ends the reading
      {"(('a',), 5, {'a': 1})", "F{[]a} W{} L0 O"},
  };
  for (Row const& row : rows) {
    PyObject* args = py_eval(row.args);
    ASSERT_NE(args, nullptr) << row.args;
    HxQuery q;
    EXPECT_TRUE(hx_py_positional_query(args, 0, q)) << row.args;
    EXPECT_EQ(D(q), row.want) << row.args;
    Py_DECREF(args);
  }
}

// Command dictionaries: the recogniser, each key's kind, a lone str as one
// item and ids beyond 32 bits skipped.
TEST_F(PyQueryDict, CommandDictionaries) {
  struct Row {
    char const* expr;
    char const* want;
  } const rows[] = {
      {"{'jobids': ['12', 13, '14.2', None]}", "r1 b1 l0 a0 W{} J{12 13 14.2 0} K{} G{}"},
      {"{'jobids': '12'}", "r1 b1 l0 a0 W{} J{12} K{} G{}"},  // one id, not 1 and 2
      {"{'workids': ['12:f', 2**32 + 12, -2**31], 'jobids': [2**32 + 12]}",
       "r1 b1 l0 a0 W{} J{} K{12:f -2147483648} G{}"},
      {"{'groups': 'ab'}", "r1 b1 l0 a0 W{} J{} K{} G{ab}"},
      {"{'groups': ('a', 2)}", "r1 b1 l0 a0 W{} J{} K{} G{a 2}"},
      {"{'restrictions': 256 + 3, 'background': '0', 'limit': 'x', 'action': 207.5}",
       "r3 b0 l0 a0 W{} J{} K{} G{}"},
      {"{'limit': 7}", "r1 b1 l7 a0 W{} J{} K{} G{}"},
      {"{'filters': [{'name': 'u', 'fields': [{'value': 'a'}]}, 'x']}", "r1 b1 l0 a0 W{u=([]a)} J{} K{} G{}"},
      {"{'jobids': 12}", "null"},  // not a sequence: no command dictionary
      {"{'status': 'running'}", "null"},
      {"['jobids']", "null"},
  };
  for (Row const& row : rows) EXPECT_EQ(Conv(row.expr, _hx_py_parse_command), row.want) << row.expr;
  // The reader takes any dict; the recogniser wants one of its keys.
  EXPECT_EQ(Conv("{}", _hx_py_dict_command), "r1 b1 l0 a0 W{} J{} K{} G{}");
  EXPECT_EQ(Conv("5", _hx_py_dict_command), "null");
}

// Modify dictionaries: the command layer, "job", then the explicit field
// list or the top-level keys in their order.
TEST_F(PyQueryDict, ModifyDictionaries) {
  struct Row {
    char const* expr;
    char const* fields;  // null: no command
    char const* check;   // a template value, as Python text of the job
  } const rows[] = {
      {"{'priority': 10}", "[]priority", "p10"},
      {"{'priority': '7'}", "[]priority", "p7"},
      {"{'agenda_timeout': 5, 'agendatimeout': 9}", "[]agenda_timeout", "at5"},
      {"{'agendatimeout': 9}", "[]agenda_timeout", "at9"},
      {"{'max_cpus': '*'}", "[]max_cpus", "mc-1"},
      {"{'max_cpus': '4'}", "[]max_cpus", "mc4"},
      {"{'data': 'a', 'package': {'x': '1'}}", "[]data []data", "d(=(x=1))"},
      {"{'package': {'x': '1'}}", "[]data", "d(=(x=1))"},
      {"{'env': 'A=1'}", nullptr, ""},
      {"{'env': {'A': '1', 'B': 2}, 'name': 'n'}", "[]name []env", "eA=1,B=2"},
      {"{}", nullptr, ""},
      {"{'fields': 5}", nullptr, ""},
      {"{'fields': []}", "", ""},
      {"{'fields': [{'value': 'priority'}, 'x'], 'priority': 3}", "[]priority", "p-1"},
      {"{'fields': [{'value': 'priority'}], 'job': {'priority': 7}}", "[]priority", "p7"},
      {"{'job': {'priority': 7}, 'notes': 'x'}", "[]notes", "p-1"},  // the top-level template replaces it
      {"{'restrictions': 'abc', 'cpus': 4, 'notes': 'x'}", "[]notes []restrictions []cpus", "rabc"},
      {"{'groups': 'ab', 'priority': 1}", "[]priority []groups", "gab"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.expr);
    PyObject* v = py_eval(row.expr);
    ASSERT_NE(v, nullptr);
    std::unique_ptr<HxModifyCommand> m(_hx_py_dict_modifycommand(v));
    Py_DECREF(v);
    if (row.fields == nullptr) {
      EXPECT_EQ(m, nullptr);
      continue;
    }
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(L(m->fields()), row.fields);
    HxJob const& j = m->job();
    std::string const c = row.check;
    if (c[0] == 'p') {
      EXPECT_EQ("p" + std::to_string(j.priority()), c);
    }
    if (c.rfind("at", 0) == 0) {
      EXPECT_EQ("at" + std::to_string(j.agenda_timeout()), c);
    }
    if (c.rfind("mc", 0) == 0) {
      EXPECT_EQ("mc" + std::to_string(j.max_cpus()), c);
    }
    if (c[0] == 'd') {
      EXPECT_EQ("d" + T(j.data()), c);
    }
    if (c[0] == 'r') {
      EXPECT_EQ("r" + T(j.restrictions()), c);
    }
    if (c[0] == 'g') {
      EXPECT_EQ("g" + T(j.groups()), c);
      EXPECT_EQ(L(m->groups()), "ab");  // one group: a lone str is one item
    }
    if (c[0] == 'e') {
      HxJob& jj = m->job();
      EXPECT_EQ("eA=" + T(jj.env().value("A")) + ",B=" + T(jj.env().value("B")), c);
    }
  }
  // The command layer reads the targets; "job" gives the template of the
  // explicit form.
  PyObject* v = py_eval("{'jobids': ['12'], 'restrictions': 0, 'priority': 1}");
  std::unique_ptr<HxModifyCommand> m(_hx_py_dict_modifycommand(v));
  Py_DECREF(v);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(L(m->jobids()) + "/" + std::to_string(m->restrictions()), "12/0");
}

// Records to dictionaries: key order, the keys present only when their
// list is not empty, 64-bit sizes, unset times.
TEST_F(PyQueryDict, HostLogHistoryAndResultDictionaries) {
  HxHost host;
  host.name("hostA");
  host.address(HxAddress(0x0a000102));
  PyObject* d = _hx_py_host_dict(&host);
  EXPECT_EQ(py_ascii(d),
            "{'state': 'none', 'description': '', 'name': 'hostA', 'cluster': '', 'resources': '', "
            "'restrictions': '', 'properties': '', 'stats': '', 'jobtypes': '', 'reason': '', 'locks': '', "
            "'groups': '', 'lastupdate': 946702800, 'address': '10.0.1.2', 'macaddress': '00:00:00:00:00:00', "
            "'flags': 0, 'flagsstring': '0'}");
  Py_DECREF(d);
  host.subjobs().append(new HxSubjob);
  d = _hx_py_host_dict(&host);
  EXPECT_NE(PyDict_GetItemString(d, "subjobs"), nullptr);
  Py_DECREF(d);

  HxLog log;
  log.jobid(12);
  log.subid(1);
  log.fullsize(5LL << 32);
  log.data("out\xff");
  d = _hx_py_log_dict(&log);
  EXPECT_EQ(py_ascii(d), "{'jobid': 12, 'subid': 1, 'fullsize': 21474836480, 'data': 'out\\ufffd'}");
  Py_DECREF(d);

  HxHistory h;
  h.jobid(3);
  h.workid("3:f");
  d = _hx_py_history_dict(&h);
  EXPECT_EQ(py_ascii(d),
            "{'jobid': 3, 'subid': -1, 'workid': '3:f', 'comment': '', 'stamp': 'None', 'timestamp': 946702800}");
  Py_DECREF(d);

  HxResult r;
  d = __hx_py_result_dict(&r);
  EXPECT_EQ(py_ascii(d), "{}");
  Py_DECREF(d);
  r.hostnames().append(new HxHostname("h", 5));
  r.jobids().append(new HxJobId(12, -2));
  d = __hx_py_result_dict(&r);
  EXPECT_EQ(py_ascii(d), "{'jobids': ['12.*'], 'hostnames': ['h:5']}");
  Py_DECREF(d);
  d = __hx_py_result_dict(nullptr);
  EXPECT_EQ(py_ascii(d), "{}");
  Py_DECREF(d);
}

}  // namespace

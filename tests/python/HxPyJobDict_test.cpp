#include "python/HxPyJobDict.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model/job/HxJob.h"
#include "python/HxPyConvert.h"
#include "tests/python/PyTestUtil.h"

using hxtest::py_exec;
using hxtest::py_repr;

namespace {

// Python callables over the converters: trip_X(d) reads d into a record and
// writes it back ("rejected" when the reader gave no record and no error);
// job_bytes(d) is the binary form of the job read from d.
template <class R, R* (*Read)(PyObject*), PyObject* (*Write)(R const*)>
PyObject* trip(PyObject*, PyObject* arg) {
  std::unique_ptr<R> record(Read(arg));
  if (record == nullptr) return PyErr_Occurred() ? nullptr : PyUnicode_FromString("rejected");
  return Write(record.get());
}

PyObject* job_bytes(PyObject*, PyObject* arg) {
  std::unique_ptr<HxJob> job(_hx_py_dict_job(arg));
  if (job == nullptr) return PyErr_Occurred() ? nullptr : PyUnicode_FromString("rejected");
  job->pack();
  return PyBytes_FromStringAndSize(job->packContents(), job->packSize());
}

PyMethodDef kHelpers[] = {
    {"trip_job", trip<HxJob, _hx_py_dict_job, _hx_py_job_dict>, METH_O, nullptr},
    {"trip_work", trip<HxWork, _hx_py_dict_work, _hx_py_work_dict>, METH_O, nullptr},
    {"trip_subjob", trip<HxSubjob, _hx_py_dict_subjob, _hx_py_subjob_dict>, METH_O, nullptr},
    {"trip_callback", trip<HxCallback, _hx_py_dict_callback, _hx_py_callback_dict>, METH_O, nullptr},
    {"trip_pathmap", trip<HxPathMap, _hx_py_dict_pathmap, _hx_py_pathmap_dict>, METH_O, nullptr},
    {"job_bytes", job_bytes, METH_O, nullptr},
};

// A job with every key that is read set to a value other than its default.
char const kFullJob[] = R"(
T = dict(complete=1, failed=2, killed=3, blocked=4, waiting=5, suspended=6, pending=7, running=8, unknown=9, badlogin=10)
W = dict(name='1-10x2', pid=7, retry=2, count=3, id=4, subid=5, status='running', host='h1', data='{a}',
         result='r', lastupdate=1700000003, timestart=1700000001, timecomplete=1700000002, timecumulative=99)
J = dict(id=7, pid=3, pgrp=4, priority=50, p_agenda_priority=60, p_agenda_cpus=2, localorder=5, globalorder=6,
         status='running', subjobstatus='pending', agendastatus='complete', user='ann', domain='d.org', queue='q',
         name='shot \u00e9', cluster='/c', cpus=4, max_cpus=8, todo=9, prototype='cmdrange', kind='k', path='/p',
         timesubmit=1700000000, timestart=2208988800, timecomplete=1700000100, flags=24,
         flagsstring='auto_mount,export_environment', notes='n', account='acc', label='l', dependency='dep',
         mailaddress='m@x', sourcehost='10.0.0.5', groups='g', hosts='h', omitgroups='og', omithosts='oh',
         hostorder='+host.memory', requirements='req', reservations='host.processors=2', restrictions='r',
         serverid=11, timeout=12, agenda_timeout=13, agendatimeout=13, auto_migrate_count=14, retrysubjob=15,
         retrywork=16, retrywork_delay=17, lastupdate=1700000200, prod_show='s', prod_shot='sh', prod_seq='sq',
         prod_client='c', prod_dept='d', prod_custom1='1', prod_custom2='2', prod_custom3='3', prod_custom4='4',
         prod_custom5='5', preflights='pre', postflights='post', agenda_preflights='ap', agenda_postflights='aq',
         cpustally=T, todotally=dict(T, running=0), package={'a': ['1', None]}, agenda=[W, dict(W, name='2')],
         p_agenda=[W], callbacks=[dict(id=1, pid=7, triggers='done-job-a', code='x()', language='python',
         user='ann', count=1, maximum=3, ready='a 1', lastupdate=1700000300)],
         subjobs=[dict(id=2, retry=1, count=2, status='complete', data='dd', allocations='host.processors=3',
                       result='rr', lastupdate=1700000400, timestart=1700000401, timecomplete=1700000402,
                       timecumulative=5)],
         children=[dict(id=8, name='child', agenda=[W])], env={'A': '1', 'B': 'two'}, cwd='/w')
def same(a, b):
    if isinstance(a, dict):
        return isinstance(b, dict) and all(k in b and same(v, b[k]) for k, v in a.items())
    if isinstance(a, list):
        return isinstance(b, list) and len(a) == len(b) and all(map(same, a, b))
    return a == b
)";

class PyJobDict : public hxtest::PyModuleTest {
 protected:
  static void SetUpTestSuite() {
    hxtest::PyModuleTest::SetUpTestSuite();
    for (PyMethodDef& def : kHelpers) hxtest::py_set(def.ml_name, PyCFunction_New(&def, nullptr));
    ASSERT_EQ(py_exec(kFullJob), "");
  }
};

// Every key survives dict -> record -> dict, and the record survives
// record -> dict -> record byte for byte.
TEST_F(PyJobDict, FullJobRoundTrips) {
  ASSERT_EQ(py_exec("out = trip_job(J)"), "");
  EXPECT_EQ(py_repr("[k for k in J if not same(J[k], out[k])]"), "[]");
  EXPECT_EQ(py_repr("job_bytes(out) == job_bytes(J)"), "True");
  EXPECT_EQ(py_repr("trip_job(out) == out"), "True");
  // The written-only and derived keys.
  EXPECT_EQ(py_repr("[out[k] for k in ('reason', 'pathmap', 'drivemap', 'data')]"),
            "['', {}, {}, '(=(a=(=1)(=)))']");
  EXPECT_EQ(py_repr("out['subjobs'][0]['slots'], out['agenda'][0]['retrydelay'], out['agenda'][0]['package']"),
            "(3, 0, None)");
}

// The keys of each written dict, in order.
TEST_F(PyJobDict, WrittenKeyOrders) {
  ASSERT_EQ(py_exec("out = trip_job(J)"), "");
  EXPECT_EQ(py_repr("list(out)"),
            "['id', 'pid', 'pgrp', 'priority', 'p_agenda_priority', 'p_agenda_cpus', 'localorder', 'globalorder', "
            "'status', 'subjobstatus', 'agendastatus', 'user', 'domain', 'reason', 'queue', 'name', 'cluster', "
            "'cpus', 'max_cpus', 'todo', 'data', 'prototype', 'kind', 'path', 'timesubmit', 'timestart', "
            "'timecomplete', 'flags', 'flagsstring', 'notes', 'account', 'label', 'dependency', 'mailaddress', "
            "'sourcehost', 'groups', 'hosts', 'omitgroups', 'omithosts', 'hostorder', 'requirements', "
            "'reservations', 'restrictions', 'serverid', 'timeout', 'agenda_timeout', 'agendatimeout', "
            "'auto_migrate_count', 'retrysubjob', 'retrywork', 'retrywork_delay', 'lastupdate', 'prod_show', "
            "'prod_shot', 'prod_seq', 'prod_client', 'prod_dept', 'prod_custom1', 'prod_custom2', 'prod_custom3', "
            "'prod_custom4', 'prod_custom5', 'preflights', 'postflights', 'agenda_preflights', "
            "'agenda_postflights', 'cpustally', 'todotally', 'pathmap', 'package', 'agenda', 'p_agenda', "
            "'callbacks', 'subjobs', 'children', 'env', 'cwd', 'drivemap']");
  EXPECT_EQ(py_repr("list(out['agenda'][0])"),
            "['name', 'pid', 'retry', 'retrydelay', 'count', 'id', 'subid', 'status', 'host', 'data', 'result', "
            "'lastupdate', 'timestart', 'timecomplete', 'timecumulative', 'resultpackage', 'package']");
  EXPECT_EQ(py_repr("list(out['subjobs'][0])"),
            "['id', 'pid', 'retry', 'count', 'host', 'status', 'data', 'allocations', 'slots', 'result', "
            "'lastupdate', 'timestart', 'timecomplete', 'timecumulative', 'resultpackage', 'package']");
  EXPECT_EQ(py_repr("list(out['callbacks'][0])"),
            "['id', 'pid', 'triggers', 'code', 'language', 'user', 'count', 'maximum', 'ready', 'lastupdate']");
  EXPECT_EQ(py_repr("list(out['cpustally'])"),
            "['complete', 'failed', 'killed', 'blocked', 'waiting', 'suspended', 'pending', 'running', 'unknown', "
            "'badlogin']");
  // Jobs of every set of keys that empty lists leave out, more sets than the
  // writer keeps templates for, each set twice, each dict cleared once read:
  // the keys present keep their order and values whichever template served.
  ASSERT_EQ(py_exec(R"(
full = list(out)
lists = ['agenda', 'p_agenda', 'callbacks', 'subjobs', 'children']
bad = []
for turn in range(2):
    for mask in range(32):
        d = dict(J, **{k: [] for i, k in enumerate(lists) if mask >> i & 1})
        o = trip_job(d)
        if list(o) != [k for k in full if k not in lists or d[k]] or [k for k in d if k in o and not same(d[k], o[k])]:
            bad.append((turn, mask))
        o.clear()
)"),
            "");
  EXPECT_EQ(py_repr("bad"), "[]");
  // Values the interpreter shares (small ints, the empty text, status names)
  // that differ from one job to the next.
  EXPECT_EQ(py_repr("[(o['status'], o['priority'], o['notes']) for o in (trip_job(dict(J, status=s, priority=p, "
                    "notes=n)) for s, p, n in (('running', 1, ''), ('pending', 2, 'x'), ('running', 1, '')))]"),
            "[('running', 1, ''), ('pending', 2, 'x'), ('running', 1, '')]");
}

// Single keys read and written back: overrides by reading order, value
// kinds, defaults, and hostile values that give a value, never a crash.
TEST_F(PyJobDict, KeysReadAndWritten) {
  struct Row {
    char const* expr;
    char const* want;
  } const rows[] = {
      // defaults of an empty dict
      {"[trip_job({})[k] for k in ('id', 'pid', 'cpus', 'max_cpus', 'timeout', 'retrywork', 'timestart', "
       "'package', 'sourcehost', 'env', 'cwd', 'pathmap', 'drivemap')]",
       "[1, -1, 1, -1, -1, -1, 946702800, None, '0.0.0.0', {}, '', {}, {}]"},
      {"[k for k in ('agenda', 'p_agenda', 'subjobs', 'children', 'callbacks') if k in trip_job({})]", "[]"},
      {"trip_callback({})", "{'id': -1, 'pid': -1, 'triggers': '', 'code': '', 'language': 'unknown', 'user': "
                            "'', 'count': 0, 'maximum': -1, 'ready': '0', 'lastupdate': 946702800}"},
      // later keys of the reading order win
      {"[trip_job(dict(flags=1, flagsstring='export_environment'))['flags'], "
       "trip_job(dict(agenda_timeout=10, agendatimeout=20))['agenda_timeout'], "
       "trip_job(dict(data='(x)', package='y'))['data']]",
       "[16, 20, '(=y)']"},
      {"trip_work(dict(data='(x)', package=[1], result='r', resultpackage={'k': 'v'}))['data']", "'(=(=1))'"},
      {"trip_work(dict(result='r', resultpackage={'k': 'v'}))['resultpackage']", "{'k': 'v'}"},
      // None, as written for a text without a package, keeps the text
      {"[trip_subjob(dict(data=d, package=None))['data'] for d in ('', 'plain')]", "['', 'plain']"},
      // kinds
      {"[trip_job(dict(max_cpus=m))['max_cpus'] for m in ('*', 4, '4', None, 'x')]", "[-1, 4, 4, 0, 0]"},
      {"[trip_job(dict(cpus=c))['cpus'] for c in ('12ab', 7.9, 2**70 + 3, '-5', True)]", "[12, 1, 3, 1, 1]"},
      {"[trip_work(dict(name=n))['name'] for n in (12, None, 'a', 1.5)]", "['12', '', 'a', '']"},
      {"trip_work(dict(status='nonsense'))['status'], trip_job(dict(status=3))['status']", "('none', 'none')"},
      {"trip_callback(dict(language='python'))['language'], trip_callback(dict(language='cobol'))['language']",
       "('python', 'unknown')"},
      {"[trip_work(dict(timecumulative=5, timestart=946702801))[k] for k in ('timecumulative', 'timestart')]",
       "[5, 946702801]"},
      // a time past 2038 and before 2000
      {"[trip_job(dict(timestart=t))['timestart'] for t in (2208988800, 0, 946702800)]",
       "[2208988800, 0, 946702800]"},
      // sourcehost: dotted text (as written) and the number
      {"[trip_job(dict(sourcehost=s))['sourcehost'] for s in ('10.0.0.5', 167772165, '167772165', "
       "'10.0.0.500', 'host')]",
       "['10.0.0.5', '10.0.0.5', '10.0.0.5', '0.0.0.10', '0.0.0.0']"},
      // only-written keys are not read
      {"[trip_subjob(dict(pid=4, host='h', slots=9))[k] for k in ('pid', 'host', 'slots')]", "[-1, '', 0]"},
      {"trip_work(dict(retrydelay=5))['retrydelay']", "0"},
      {"[trip_job(dict(reason='x', pathmap={'directmap': {'a': 'b'}}, drivemap={'X': 'y'}))[k] "
       "for k in ('reason', 'pathmap', 'drivemap')]",
       "['', {}, {}]"},
      // list keys: non-dict items skipped, order kept; tallies partial
      {"[w['name'] for w in trip_job(dict(agenda=[dict(name='a'), 3, 'x', None, dict(name='b')]))['agenda']]",
       "['a', 'b']"},
      {"'agenda' in trip_job(dict(agenda='abc')), 'agenda' in trip_job(dict(agenda=5))", "(False, False)"},
      {"[w['name'] for w in trip_job(dict(agenda=(dict(name='t'),)))['agenda']]", "['t']"},
      {"trip_job(dict(todotally=dict(running=3, warning=4)))['todotally']['running']", "3"},
      {"trip_job(dict(cpustally=[1], env=[('A', 'B')]))['env']", "{}"},
      {"trip_job(dict(env={'A': 1, 'B': None}, cwd=5))['env'], trip_job(dict(cwd='/x'))['cwd']",
       "({'A': '1', 'B': ''}, '/x')"},
      // path maps
      {"trip_pathmap({'directmap': 'x'}), trip_pathmap({}), trip_pathmap(5)", "('rejected', {}, 'rejected')"},
      {"trip_pathmap({'directmap': {'/a': 'X:', '/b': 'Y:'}})['directmap'] == {'/a': 'X:', '/b': 'Y:'}",
       "True"},
      {"trip_pathmap({'directmap': {}})", "{}"},
      // not a dict
      {"[trip_job(x) for x in (None, [], 'job', 3)]", "['rejected', 'rejected', 'rejected', 'rejected']"},
      // a dict subclass is a dict
      {"trip_job(type('D', (dict,), {})(name='sub'))['name']", "'sub'"},
  };
  for (Row const& row : rows) EXPECT_EQ(py_repr(row.expr), row.want) << row.expr;
}

// Dicts that nest without end fail with RecursionError, nothing else.
TEST_F(PyJobDict, SelfHoldingDictsRaise) {
  struct Row {
    char const* setup;
    char const* call;
  } const rows[] = {
      {"d = {}; d['children'] = [d]", "trip_job(d)"},
      {"d = {}; d['package'] = d", "trip_job(d)"},
      {"w = {}; w['resultpackage'] = [w]", "trip_work(w)"},
      {"d = {}; d['agenda'] = [{'package': [[[[]]]]}]; d['children'] = [{'children': [d]}]", "trip_job(d)"},
  };
  for (Row const& row : rows) {
    ASSERT_EQ(py_exec(row.setup), "") << row.setup;
    EXPECT_EQ(hxtest::py_raises(row.call), "RecursionError") << row.setup;
  }
  // A legitimately deep family still reads.
  ASSERT_EQ(py_exec("d = {'name': 'leaf'}\nfor i in range(50): d = {'children': [d]}"), "");
  EXPECT_EQ(hxtest::py_raises("trip_job(d)"), "");
}

// Records received from elsewhere: drives with an empty name, uneven
// environment lists, passwords that stay out of the dict.
TEST_F(PyJobDict, EnvironmentAndDrivesOfReceivedRecords) {
  HxJob job;
  job.env().mount("", "u:pw@share0");
  job.env().mount("X:", "u:secret@srv/a");
  job.env().mount("Y", "srv/b");
  job.env().mount("Z", ":pw@srv/c");
  job.env().keys().append(new HxString("A"));
  job.env().keys().append(new HxString("B"));
  job.env().values().append(new HxString("1"));
  PyObject* out = _hx_py_job_dict(&job);
  ASSERT_NE(out, nullptr);
  hxtest::py_set("rec", out);
  EXPECT_EQ(py_repr("sorted(rec['drivemap'].items())"),
            "[('', 'u@share0'), ('X', 'u@srv/a'), ('Y', 'srv/b'), ('Z', 'srv/c')]");
  EXPECT_EQ(py_repr("rec['env']"), "{'A': '1'}");
  EXPECT_EQ(py_repr("'secret' in repr(rec) or 'pw' in repr(rec)"), "False");

  // Null records give empty dicts.
  for (PyObject* d : {_hx_py_job_dict(nullptr), _hx_py_work_dict(nullptr), _hx_py_subjob_dict(nullptr),
                      _hx_py_pathmap_dict(nullptr)}) {
    EXPECT_EQ(hxtest::py_ascii(d), "{}");
    Py_XDECREF(d);
  }
}

// Keys that only the reader knows.
TEST_F(PyJobDict, WorkAddressIsRead) {
  PyObject* d = hxtest::py_eval("[{'address': 167772165}, {'address': '192.168.1.2'}, {'address': 'junk'}]");
  ASSERT_NE(d, nullptr);
  char const* want[] = {"10.0.0.5", "192.168.1.2", "0.0.0.0"};
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<HxWork> w(_hx_py_dict_work(PyList_GET_ITEM(d, i)));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(std::string(w->address().stringvalue().value()), want[i]);
  }
  Py_DECREF(d);
}

}  // namespace

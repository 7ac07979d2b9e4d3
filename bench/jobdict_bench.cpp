// Jobs turned into the dicts that jobinfo and recoverjob give scripts: a
// list of n jobs, each with ten agenda items and a package, measured against
// the interpreter's json.loads of the same dicts as JSON text (the cheapest
// way Python itself builds such a list). Run at 1,000, 10,000 and 30,000
// jobs: the time per job stays flat.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#include "bench/BenchUtil.h"
#include "model/job/HxJob.h"
#include "python/HxPyConvert.h"
#include "python/HxPyJobDict.h"

namespace {

PyObject* globals() {
  static PyObject* g = [] {
    hx_bench_start_python();
    PyObject* d = PyDict_New();
    PyDict_SetItemString(d, "__builtins__", PyEval_GetBuiltins());
    PyObject* r = PyRun_String("import json\n", Py_file_input, d, d);
    Py_XDECREF(r);
    return d;
  }();
  return g;
}

// n jobs like those of a busy farm's query.
HxJobList const& jobs(int n) {
  static std::map<int, std::unique_ptr<HxJobList>> made;
  auto& list = made[n];
  if (list != nullptr) return *list;
  list.reset(new HxJobList);
  globals();
  PyObject* pkg = PyRun_String("{'cmdline': 'render -f $frame scene.ma', 'range': '1-10', 'padding': 4}",
                               Py_eval_input, globals(), globals());
  HxString data;
  hx_py_kind_package(pkg, data);
  Py_XDECREF(pkg);
  for (int i = 0; i < n; ++i) {
    HxJob* job = new HxJob;
    job->id(1000 + i);
    job->name(HxString("shot_") + HxString(i));
    job->user("ann");
    job->prototype("cmdrange");
    job->status(HxStatus(HxString("running")));
    job->timesubmit(HxTime(800000000 + i));
    job->data(data);
    for (int f = 1; f <= 10; ++f) {
      HxWork* w = new HxWork;
      w->name(HxString(f));
      w->pid(1000 + i);
      w->id(f);
      w->status(HxStatus(HxString(f < 5 ? "complete" : "pending")));
      job->agenda().append(w);
    }
    list->append(job);
  }
  return *list;
}

// The module's own conversion of a reply's jobs.
PyObject* to_dicts(HxJobList const& list) { return hx_py_list_of(list, _hx_py_job_dict); }

std::string kept(char const* what, int64_t n) { return std::string(what) + "_" + std::to_string(n); }

void BM_PyJobsJsonLoads_Baseline(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  PyObject* dicts = to_dicts(jobs(n));
  PyObject* dumps = PyRun_String("json.dumps", Py_eval_input, globals(), globals());
  PyObject* loads = PyRun_String("json.loads", Py_eval_input, globals(), globals());
  PyObject* text = PyObject_CallOneArg(dumps, dicts);
  Py_DECREF(dicts);
  HxBenchRun run(state);
  for (auto _ : state) {
    PyObject* v = PyObject_CallOneArg(loads, text);
    benchmark::DoNotOptimize(v);
    Py_DECREF(v);
  }
  run.done(n, kept("json_loads_jobs", n).c_str());
  Py_DECREF(text);
  Py_DECREF(loads);
  Py_DECREF(dumps);
}
BENCHMARK(BM_PyJobsJsonLoads_Baseline)->Arg(1000)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond);

void BM_PyJobsToDicts(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  HxJobList const& list = jobs(n);
  HxBenchRun run(state);
  for (auto _ : state) {
    PyObject* v = to_dicts(list);
    benchmark::DoNotOptimize(v);
    Py_DECREF(v);
  }
  run.done(n, kept("jobs_to_dicts", n).c_str(), kept("json_loads_jobs", n).c_str());
}
BENCHMARK(BM_PyJobsToDicts)->Arg(1000)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond);

}  // namespace

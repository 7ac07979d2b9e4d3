// Job data between its compact package text and Python values, the way the
// module hands it to scripts; measured against the interpreter's own JSON
// codec on the same structure.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/BenchUtil.h"
#include "python/HxPyConvert.h"

namespace {

// 20 entries of a hash, each a hash of a name, a frame count and a list of
// five paths: 140 leaf values.
constexpr int kLeaves = 20 * 7;

PyObject* globals() {
  static PyObject* g = [] {
    if (!Py_IsInitialized()) Py_InitializeEx(0);
    PyObject* d = PyDict_New();
    PyDict_SetItemString(d, "__builtins__", PyEval_GetBuiltins());
    PyObject* r = PyRun_String(
        "import json\n"
        "value = {'e%d' % i: {'name': 'shot_%03d' % i, 'frames': str(i * 10),\n"
        "         'paths': ['/proj/s%d/f%d.exr' % (i, j) for j in range(5)]} for i in range(20)}\n"
        "text = json.dumps(value)\n",
        Py_file_input, d, d);
    Py_XDECREF(r);
    return d;
  }();
  return g;
}

PyObject* value() { return PyDict_GetItemString(globals(), "value"); }

HxString package_text() {
  HxString text;
  hx_py_kind_package(value(), text);
  return text;
}

void BM_PyJsonLoads_Baseline(benchmark::State& state) {
  PyObject* loads = PyRun_String("json.loads", Py_eval_input, globals(), globals());
  PyObject* text = PyDict_GetItemString(globals(), "text");
  HxBenchRun run(state);
  for (auto _ : state) {
    PyObject* v = PyObject_CallOneArg(loads, text);
    benchmark::DoNotOptimize(v);
    Py_DECREF(v);
  }
  run.done(kLeaves, "json_loads");
  Py_DECREF(loads);
}
BENCHMARK(BM_PyJsonLoads_Baseline);

void BM_PyPackageToValue(benchmark::State& state) {
  HxString text = package_text();
  HxBenchRun run(state);
  for (auto _ : state) {
    PyObject* v = hx_py_package(text);
    benchmark::DoNotOptimize(v);
    Py_DECREF(v);
  }
  run.done(kLeaves, "package_to_value", "json_loads");
}
BENCHMARK(BM_PyPackageToValue);

void BM_PyJsonDumps_Baseline(benchmark::State& state) {
  PyObject* dumps = PyRun_String("json.dumps", Py_eval_input, globals(), globals());
  HxBenchRun run(state);
  for (auto _ : state) {
    PyObject* t = PyObject_CallOneArg(dumps, value());
    benchmark::DoNotOptimize(t);
    Py_DECREF(t);
  }
  run.done(kLeaves, "json_dumps");
  Py_DECREF(dumps);
}
BENCHMARK(BM_PyJsonDumps_Baseline);

void BM_PyValueToPackage(benchmark::State& state) {
  PyObject* v = value();
  HxBenchRun run(state);
  for (auto _ : state) {
    HxString text;
    hx_py_kind_package(v, text);
    benchmark::DoNotOptimize(text.length());
  }
  run.done(kLeaves, "value_to_package", "json_dumps");
}
BENCHMARK(BM_PyValueToPackage);

}  // namespace

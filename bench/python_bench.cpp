// Job data between its compact package text and Python values, the way the
// module hands it to scripts; measured against the interpreter's own JSON
// codec on the same structure.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/BenchUtil.h"
#include "python/HxPyConvert.h"
#include "python/HxPyQueryDict.h"

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

// 10,000 hosts as a hostinfo reply gives them, turned into a list of host
// dictionaries; measured against the same dicts built the plain way, with
// every value made from a C string or number and set by key.
constexpr int kHosts = 10000;

HxHostList& hosts() {
  static HxHostList list = [] {
    HxHostList l;
    for (int i = 0; i < kHosts; ++i) {
      auto* h = new HxHost;
      std::string name = "render" + std::to_string(i);
      h->name(HxString(name.c_str()));
      h->cluster("/farm/a");
      h->resources("host.processors=8");
      h->properties("host.os=linux,host.memory=65536");
      h->groups("all,fast");
      h->address(HxAddress(0x0a000000 + i));
      h->flags(i & 3);
      l.append(h);
    }
    return l;
  }();
  return list;
}

void BM_PyHostDicts_Baseline(benchmark::State& state) {
  globals();
  HxHostList& list = hosts();
  HxBenchRun run(state);
  for (auto _ : state) {
    PyObject* out = PyList_New(list.length());
    for (int i = 0; i < list.length(); ++i) {
      HxHost* h = list.get(i);
      PyObject* d = PyDict_New();
      auto put = [d](char const* key, PyObject* v) {
        PyDict_SetItemString(d, key, v);
        Py_DECREF(v);
      };
      auto text = [](HxString const& s) { return PyUnicode_FromStringAndSize(s.value(), s.length()); };
      put("state", PyUnicode_FromString("none"));
      put("description", text(h->description()));
      put("name", text(h->name()));
      put("cluster", text(h->cluster()));
      put("resources", text(h->resources()));
      put("restrictions", text(h->restrictions()));
      put("properties", text(h->properties()));
      put("stats", text(h->stats()));
      put("jobtypes", text(h->jobtypes()));
      put("reason", text(h->reason()));
      put("locks", text(h->locks()));
      put("groups", text(h->groups()));
      put("lastupdate", PyLong_FromLong(946702800));
      put("address", text(h->address().stringvalue()));
      put("macaddress", text(h->macaddress().value()));
      put("flags", PyLong_FromLong(h->flags()));
      put("flagsstring", text(h->flagsstring()));
      PyList_SET_ITEM(out, i, d);
    }
    Py_DECREF(out);
  }
  run.done(kHosts, "host_dicts_plain");
}
BENCHMARK(BM_PyHostDicts_Baseline)->Unit(benchmark::kMillisecond);

void BM_PyHostDicts(benchmark::State& state) {
  globals();
  HxHostList& list = hosts();
  HxBenchRun run(state);
  for (auto _ : state) {
    PyObject* out = PyList_New(list.length());
    for (int i = 0; i < list.length(); ++i) PyList_SET_ITEM(out, i, _hx_py_host_dict(list.get(i)));
    Py_DECREF(out);
  }
  run.done(kHosts, "host_dicts", "host_dicts_plain");
}
BENCHMARK(BM_PyHostDicts)->Unit(benchmark::kMillisecond);

}  // namespace

// Job data between its compact package text and Python values, the way the
// module hands it to scripts; measured against the interpreter's own JSON
// codec on the same structure. And a whole query from Python, jobinfo() of a
// farm of 10 jobs, beside the same exchange made by hand in Python.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "core/HxWorld.h"
#include "model/job/HxJob.h"
#include "net/HxCompress.h"
#include "python/HxPyConvert.h"
#include "python/HxPyModule.h"
#include "python/HxPyQueryDict.h"
#include "tests/net/FakePeer.h"

namespace {

// 20 entries of a hash, each a hash of a name, a frame count and a list of
// five paths: 140 leaf values.
constexpr int kLeaves = 20 * 7;

PyObject* globals() {
  static PyObject* g = [] {
    hx_bench_start_python();
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

// ---- jobinfo() from Python ------------------------------------------------
//
// jobinfo() of a farm of 10 jobs kept in memory by a fake supervisor on
// 127.0.0.1 (the library's own server side answering with the jobs), beside two baselines made in Python in the same run: the raw
// exchange (a socket sends the request frame the module sent, reads the
// reply frame whole, inflates it and closes) and the raw exchange followed
// by json.loads of the same 10 dicts as JSON text. "x_baseline" is over the
// raw exchange plus json.loads, in CPU time of the calling thread;
// "x_wall" the same in wall time; "x_raw_wall" over the raw exchange alone.
constexpr int kFarmJobs = 10;

// The farm's jobs, answered to every job query.
bool answer_jobs(HxMessage&, HxMessage& reply) {
  auto* jobs = new HxJobList;
  for (int i = 0; i < kFarmJobs; ++i) {
    auto* j = new HxJob;
    j->id(100 + i);
    j->user(HxString("artist"));
    j->name(HxString("shot_render"));
    jobs->append(j);
  }
  reply.tag(1);
  reply.content(jobs);
  return true;
}

// The world, the fake supervisor and the Python side, made once: the module
// imported, the request frame jobinfo() sends, and the JSON text of the
// dicts it returns.
struct Farm {
  HxBenchPeerWorld world;
  std::unique_ptr<FakePeer> supervisor;
  bool ok = false;
  // The supervisor's thread stops before the world it reaches goes.
  ~Farm() {
    supervisor.reset();
    hx_set_world(nullptr);
  }
};

// Binds name to value in the globals; takes over the reference.
void bind(char const* name, PyObject* value) {
  if (value != nullptr) PyDict_SetItemString(globals(), name, value);
  Py_XDECREF(value);
}

Farm& farm() {
  static Farm made_once;
  static Farm* f = [] {
    Farm* made = &made_once;
    for (char const* v : {"HX_SUPERVISOR", "HX_DOMAIN", "HX_DIR"}) unsetenv(v);
    hx_set_world(&made->world);
    made->supervisor.reset(new FakePeer(answer_jobs));
    made->world.port(made->supervisor->tcpPort());
    PyObject* g = globals();
    PyObject* modules = PyImport_GetModuleDict();
    if (PyDict_GetItemString(modules, "_hx") == nullptr) {
      PyObject* module = init_hxModule("_hx");
      if (module != nullptr) PyDict_SetItemString(modules, "_hx", module);
      Py_XDECREF(module);
    }
    bind("port", PyLong_FromLong(made->supervisor->tcpPort()));
    PyObject* r = PyRun_String(
        "import _hx, socket, zlib\n"
        "jobs = _hx.jobinfo()\n"
        "jobs_text = json.dumps(jobs)\n"
        "def raw_exchange():\n"
        "    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)\n"
        "    s.connect(('127.0.0.1', port))\n"
        "    s.sendall(frame)\n"
        "    data = b''\n"
        "    want = 9\n"
        "    while len(data) < want:\n"
        "        chunk = s.recv(65536)\n"
        "        if not chunk:\n"
        "            break\n"
        "        data += chunk\n"
        "        if want == 9 and len(data) >= 9:\n"
        "            want = 9 + int.from_bytes(data[1:5], 'big')\n"
        "    s.close()\n"
        "    return zlib.decompress(data[9:want])\n"
        "def raw_and_json():\n"
        "    raw_exchange()\n"
        "    return json.loads(jobs_text)\n",
        Py_file_input, g, g);
    if (r == nullptr) PyErr_Print();
    Py_XDECREF(r);
    // The request as the supervisor received it, framed again the way a
    // connection frames it.
    std::vector<std::string> const requests = made->supervisor->tcpRequests();
    PyObject* jobs = PyDict_GetItemString(g, "jobs");
    if (r != nullptr && !requests.empty() && jobs != nullptr && PyList_Size(jobs) == kFarmJobs) {
      std::string const& payload = requests.back();
      int n = 0;
      char* z = HxCompress::compact(n, payload.data(), static_cast<int>(payload.size()));
      std::string frame(9, '\0');
      frame[0] = 2;
      for (int i = 0; i < 4; ++i) {
        frame[1 + i] = static_cast<char>(static_cast<unsigned>(n) >> (24 - 8 * i));
        frame[5 + i] = static_cast<char>(payload.size() >> (24 - 8 * i));
      }
      frame.append(z, static_cast<size_t>(n));
      delete[] z;
      bind("frame", PyBytes_FromStringAndSize(frame.data(), static_cast<Py_ssize_t>(frame.size())));
      made->ok = true;
    }
    return made;
  }();
  hx_set_world(&f->world);
  return *f;
}

// Calls the Python function `fn` of the globals once per iteration.
void run_python(benchmark::State& state, char const* fn, std::string const& name, char const* baseline) {
  Farm& f = farm();
  if (!f.ok) {
    state.SkipWithError("farm not set up");
    return;
  }
  PyObject* call = PyDict_GetItemString(globals(), fn);
  HxBenchWallRun wall(state);
  HxBenchRun run(state);
  for (auto _ : state) {
    PyObject* v = PyObject_CallNoArgs(call);
    if (v == nullptr) {
      PyErr_Print();
      state.SkipWithError("call failed");
      break;
    }
    Py_DECREF(v);
  }
  run.done(kFarmJobs, name.c_str(), baseline);
  wall.done(kFarmJobs, name);
  if (baseline != nullptr) {
    wall.ratio("x_wall", name, baseline);
    wall.ratio("x_raw_wall", name, "py_raw_exchange");
  }
}

void BM_PyRawExchange_Baseline(benchmark::State& state) {
  run_python(state, "raw_exchange", "py_raw_exchange", nullptr);
}
BENCHMARK(BM_PyRawExchange_Baseline)->Unit(benchmark::kMicrosecond);

void BM_PyRawExchangeAndJson_Baseline(benchmark::State& state) {
  run_python(state, "raw_and_json", "py_raw_and_json", nullptr);
}
BENCHMARK(BM_PyRawExchangeAndJson_Baseline)->Unit(benchmark::kMicrosecond);

void BM_PyJobInfo(benchmark::State& state) {
  PyObject* r = PyRun_String("def hx_jobinfo():\n    return _hx.jobinfo()\n", Py_file_input, globals(), globals());
  Py_XDECREF(r);
  run_python(state, "hx_jobinfo", "py_jobinfo", "py_raw_and_json");
}
BENCHMARK(BM_PyJobInfo)->Unit(benchmark::kMicrosecond);

}  // namespace

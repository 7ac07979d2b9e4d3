#pragma once

// Figures every benchmark reports: heap allocations per item, and the ratio
// of its time to the baseline it is measured against, taken from the run of
// that baseline earlier in the same process (CPU time of the thread) (baselines are registered, and so
// run, before what they measure).

#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "core/HxWorld.h"

// Heap allocations made so far on this thread (a counting operator new,
// and the interpreter's allocators once it is started by the next call).
long long hx_bench_allocations();
// Starts the embedded interpreter, once, with its allocations counted.
void hx_bench_start_python();

class HxBenchRun {
 public:
  explicit HxBenchRun(benchmark::State& state)
      : state_(state), allocations_(hx_bench_allocations()), start_(now_()) {}

  // Ends the measure: items per iteration, the name this run is kept under,
  // and the name of its baseline (none for a baseline itself).
  void done(double items, char const* name, char const* baseline = nullptr) {
    double ns = now_() - start_;
    double iterations = static_cast<double>(state_.iterations());
    if (iterations < 1) return;
    double per_item = ns / iterations / items;
    times()[name] = per_item;
    state_.counters["ns/item"] = per_item;
    state_.counters["allocs/item"] = static_cast<double>(hx_bench_allocations() - allocations_) / iterations / items;
    if (baseline != nullptr) {
      auto it = times().find(baseline);
      if (it != times().end() && it->second > 0) state_.counters["x_baseline"] = per_item / it->second;
    }
    state_.SetItemsProcessed(static_cast<int64_t>(iterations * items));
  }

  // Leaves the setup inside the loop out of the figures.
  void pause() {
    state_.PauseTiming();
    paused_at_ = now_();
    paused_allocations_ = hx_bench_allocations();
  }
  void resume() {
    start_ += now_() - paused_at_;
    allocations_ += hx_bench_allocations() - paused_allocations_;
    state_.ResumeTiming();
  }

  static std::map<std::string, double>& times() {
    static std::map<std::string, double> kept;
    return kept;
  }

 private:
  benchmark::State& state_;
  long long allocations_;
  double start_;
  double paused_at_ = 0;
  long long paused_allocations_ = 0;

  // CPU time of this thread: other work on a loaded machine does not count.
  static double now_() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
  }
};

// Wall time per item beside the CPU time HxBenchRun keeps, by name: "x_wall"
// (or any counter given to ratio()) is this run's wall time over another's
// from earlier in the same process.
class HxBenchWallRun {
 public:
  explicit HxBenchWallRun(benchmark::State& state) : state_(state), start_(std::chrono::steady_clock::now()) {}
  void done(double items, std::string const& name, std::string const& baseline = std::string()) {
    double const iterations = static_cast<double>(state_.iterations());
    if (iterations < 1) return;
    double const ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start_).count();
    double const per_item = ns / iterations / items;
    times()[name] = per_item;
    state_.counters["wall_ns/item"] = per_item;
    if (!baseline.empty()) ratio("x_wall", name, baseline);
  }
  void ratio(char const* counter, std::string const& mine, std::string const& baseline) {
    auto& t = times();
    if (t.count(mine) != 0 && t.count(baseline) != 0 && t[baseline] > 0) state_.counters[counter] = t[mine] / t[baseline];
  }
  static std::map<std::string, double>& times() {
    static std::map<std::string, double> kept;
    return kept;
  }

 private:
  benchmark::State& state_;
  std::chrono::steady_clock::time_point start_;
};

// The real world but for the client configuration, which names a supervisor
// on 127.0.0.1 at the port given, in a private temporary directory.
class HxBenchPeerWorld : public HxWorld {
 public:
  HxBenchPeerWorld() {
    char dir[] = "/tmp/hxbench.XXXXXX";
    if (::mkdtemp(dir) != nullptr) dir_ = dir;
  }
  ~HxBenchPeerWorld() override { clean(); }
  void clean() {
    std::remove((dir_ + "/hx.conf").c_str());
    ::rmdir(dir_.c_str());
  }
  void port(int p) {
    std::string const text = "hx_supervisor = 127.0.0.1\nsupervisor_port = " + std::to_string(p) + "\n";
    if (std::FILE* f = std::fopen((dir_ + "/hx.conf").c_str(), "w")) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
  }
  HxString clientConfigPath() override { return HxString((dir_ + "/hx.conf").c_str()); }
  HxString tempDir() override { return HxString(dir_.c_str()); }

 private:
  std::string dir_;
};

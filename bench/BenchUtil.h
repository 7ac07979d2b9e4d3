#pragma once

// Figures every benchmark reports: heap allocations per item, and the ratio
// of its time to the baseline it is measured against, taken from the run of
// that baseline earlier in the same process (CPU time of the thread) (baselines are registered, and so
// run, before what they measure).

#include <benchmark/benchmark.h>

#include <time.h>

#include <map>
#include <string>

// Heap allocations made so far on this thread (a counting operator new).
long long hx_bench_allocations();

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

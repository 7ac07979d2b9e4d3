// Splitting and chunking a large frame range; the cost must grow linearly
// with the number of frames. Each is measured against the same output made
// with the standard library alone (std::to_string into std::strings), which
// is the least a frame list of texts can cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "core/HxList.h"
#include "expr/HxRange.h"

namespace {

HxString span(int64_t frames) { return HxString("1-" + std::to_string(frames)); }

// The name a run of one size is kept under, for its baseline's lookup.
std::string sized(char const* what, int64_t n) { return std::string(what) + "/" + std::to_string(n); }

void BM_Baseline_StdSplit(benchmark::State& state) {
  int const n = static_cast<int>(state.range(0));
  HxBenchRun run(state);
  for (auto _ : state) {
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(n));
    for (int f = 1; f <= n; ++f) out.push_back(std::to_string(f));
    benchmark::DoNotOptimize(out.size());
  }
  run.done(static_cast<double>(n), sized("std split", n).c_str());
}
BENCHMARK(BM_Baseline_StdSplit)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);

void BM_RangeSplit(benchmark::State& state) {
  HxString text = span(state.range(0));
  HxBenchRun run(state);
  for (auto _ : state) {
    HxStringList out;
    HxRange::patternsplit(0, text, out);
    benchmark::DoNotOptimize(out.length());
  }
  state.SetComplexityN(state.range(0));
  run.done(static_cast<double>(state.range(0)), sized("split", state.range(0)).c_str(),
           sized("std split", state.range(0)).c_str());
}
BENCHMARK(BM_RangeSplit)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

// Chunks of ten frames as "first-last" texts.
void BM_Baseline_StdChunk(benchmark::State& state) {
  int const n = static_cast<int>(state.range(0));
  HxBenchRun run(state);
  for (auto _ : state) {
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(n / 10 + 1));
    for (int f = 1; f <= n; f += 10) out.push_back(std::to_string(f) + "-" + std::to_string(std::min(f + 9, n)));
    benchmark::DoNotOptimize(out.size());
  }
  run.done(static_cast<double>(n), sized("std chunk", n).c_str());
}
BENCHMARK(BM_Baseline_StdChunk)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);

void BM_RangeChunk(benchmark::State& state) {
  HxString text = span(state.range(0));
  HxBenchRun run(state);
  for (auto _ : state) {
    HxRange r(text);
    HxStringList out;
    r.chunk(10, out);
    benchmark::DoNotOptimize(out.length());
  }
  state.SetComplexityN(state.range(0));
  run.done(static_cast<double>(state.range(0)), sized("chunk", state.range(0)).c_str(),
           sized("std chunk", state.range(0)).c_str());
}
BENCHMARK(BM_RangeChunk)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

// A scattered range: every run is short, so the run marking and the compact
// text work member by member.
std::vector<int> scattered(int64_t n) {
  std::vector<int> out;
  for (int64_t i = 0; i < n; ++i) out.push_back(static_cast<int>((i * 7919) % (n * 3)));
  return out;
}

// The same work on a std::vector: copy the members, sort them, drop
// duplicates and write the runs as "a-b,c,...".
void BM_Baseline_StdValueScattered(benchmark::State& state) {
  std::vector<int> const members = scattered(state.range(0));
  HxBenchRun run(state);
  for (auto _ : state) {
    std::vector<int> v(members);
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    std::string text;
    for (size_t i = 0; i < v.size();) {
      size_t j = i;
      while (j + 1 < v.size() && v[j + 1] == v[j] + 1) ++j;
      if (!text.empty()) text += ',';
      text += std::to_string(v[i]);
      if (j > i) text += "-" + std::to_string(v[j]);
      i = j + 1;
    }
    benchmark::DoNotOptimize(text.size());
  }
  run.done(static_cast<double>(state.range(0)), sized("std value", state.range(0)).c_str());
}
BENCHMARK(BM_Baseline_StdValueScattered)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);

void BM_RangeValueScattered(benchmark::State& state) {
  HxRange r;
  for (int v : scattered(state.range(0))) r.add(v);
  HxBenchRun run(state);
  for (auto _ : state) {
    HxRange copy(r);
    benchmark::DoNotOptimize(copy.value().length());
  }
  state.SetComplexityN(state.range(0));
  run.done(static_cast<double>(state.range(0)), sized("value", state.range(0)).c_str(),
           sized("std value", state.range(0)).c_str());
}
BENCHMARK(BM_RangeValueScattered)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity()->Unit(benchmark::kMillisecond);

}  // namespace

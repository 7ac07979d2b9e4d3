// Splitting and chunking a large frame range; the cost must grow linearly
// with the number of frames.
#include <benchmark/benchmark.h>

#include <string>

#include "core/HxList.h"
#include "expr/HxRange.h"

namespace {

HxString span(int64_t frames) { return HxString("1-" + std::to_string(frames)); }

void BM_RangeSplit(benchmark::State& state) {
  HxString text = span(state.range(0));
  for (auto _ : state) {
    HxStringList out;
    HxRange::patternsplit(0, text, out);
    benchmark::DoNotOptimize(out.length());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RangeSplit)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

void BM_RangeChunk(benchmark::State& state) {
  HxString text = span(state.range(0));
  for (auto _ : state) {
    HxRange r(text);
    HxStringList out;
    r.chunk(10, out);
    benchmark::DoNotOptimize(out.length());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RangeChunk)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

// A scattered range: every run is short, so the run marking and the compact
// text work member by member.
void BM_RangeValueScattered(benchmark::State& state) {
  HxRange r;
  for (int64_t i = 0; i < state.range(0); ++i) r.add(static_cast<int>((i * 7919) % (state.range(0) * 3)));
  for (auto _ : state) {
    HxRange copy(r);
    benchmark::DoNotOptimize(copy.value().length());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RangeValueScattered)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity()->Unit(benchmark::kMillisecond);

}  // namespace

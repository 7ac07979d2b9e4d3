// Packing and unpacking a list of 10,000 strings.
#include <benchmark/benchmark.h>

#include "core/HxList.h"

namespace {

void fill(HxStringList& l) {
  for (int i = 0; i < 10000; ++i) l.append(new HxString(HxString("/shows/seq010/shot") + i + "/render.exr"));
}

void BM_StringListPack10k(benchmark::State& state) {
  HxStringList l;
  fill(l);
  for (auto _ : state) {
    l.pack();
    benchmark::DoNotOptimize(l.packContents());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * l.packSize());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 10000);
}
BENCHMARK(BM_StringListPack10k)->Unit(benchmark::kMicrosecond);

void BM_StringListUnpack10k(benchmark::State& state) {
  HxStringList l;
  fill(l);
  l.pack();
  HxString bytes(l.packContents(), l.packSize());
  for (auto _ : state) {
    HxStringList target;
    int rc = target.unpack(bytes.value(), bytes.length());
    benchmark::DoNotOptimize(rc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.length());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 10000);
}
BENCHMARK(BM_StringListUnpack10k)->Unit(benchmark::kMicrosecond);

}  // namespace

// Sorting strings against std::sort with the same comparison: 20,000 equal
// strings, and 1,000,000 distinct ones in random order.
#include <algorithm>
#include <random>
#include <vector>

#include "bench/BenchUtil.h"

namespace {

std::vector<HxString*> sort_input(int n, bool equal) {
  std::vector<HxString*> out;
  std::mt19937 rng(99);
  for (int i = 0; i < n; ++i) {
    out.push_back(new HxString(equal ? HxString("/shows/feature/seq010/shot0010/comp")
                                     : HxString("/shows/feature/seq") + static_cast<int>(rng() % 1000000000) + "/x"));
  }
  return out;
}

void std_sort(benchmark::State& state, int n, bool equal, char const* name) {
  std::vector<HxString*> input = sort_input(n, equal);
  std::vector<HxString*> work;
  HxBenchRun run(state);
  for (auto _ : state) {
    run.pause();
    work = input;
    run.resume();
    std::sort(work.begin(), work.end(), [](HxString const* a, HxString const* b) { return hx_string_sort_func(a, b) < 0; });
    benchmark::DoNotOptimize(work.data());
  }
  run.done(n, name);
  for (HxString* s : input) delete s;
}

void list_sort(benchmark::State& state, int n, bool equal, char const* name, char const* baseline) {
  std::vector<HxString*> input = sort_input(n, equal);
  HxStringList l;
  HxBenchRun run(state);
  for (auto _ : state) {
    run.pause();
    l.forget();
    for (HxString* s : input) l.append(s);
    run.resume();
    l.sort();
    benchmark::DoNotOptimize(l.get(0));
  }
  run.done(n, name, baseline);
  l.forget();
  for (HxString* s : input) delete s;
}

void BM_Std_SortEqual20k(benchmark::State& state) { std_sort(state, 20000, true, "std equal"); }
BENCHMARK(BM_Std_SortEqual20k)->Unit(benchmark::kMicrosecond);

void BM_SortEqual20k(benchmark::State& state) { list_sort(state, 20000, true, "sort equal", "std equal"); }
BENCHMARK(BM_SortEqual20k)->Unit(benchmark::kMicrosecond);

void BM_Std_SortDistinct1M(benchmark::State& state) { std_sort(state, 1000000, false, "std distinct"); }
BENCHMARK(BM_Std_SortDistinct1M)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SortDistinct1M(benchmark::State& state) {
  list_sort(state, 1000000, false, "sort distinct", "std distinct");
}
BENCHMARK(BM_SortDistinct1M)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

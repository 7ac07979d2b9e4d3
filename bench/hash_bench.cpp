// Inserting and looking up 100,000 keys in the string-keyed tables.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/HxHash.h"

namespace {

std::vector<HxString> make_keys(int n) {
  std::vector<HxString> keys;
  keys.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) keys.push_back(HxString("job.") + i + ".frame");
  return keys;
}

void BM_HashInsert100k(benchmark::State& state) {
  std::vector<HxString> keys = make_keys(100000);
  for (auto _ : state) {
    HxIntHash h;
    for (size_t i = 0; i < keys.size(); ++i) h.set(static_cast<int>(i), keys[i]);
    benchmark::DoNotOptimize(h.count());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100000);
}
BENCHMARK(BM_HashInsert100k)->Unit(benchmark::kMillisecond);

void BM_HashLookup100k(benchmark::State& state) {
  std::vector<HxString> keys = make_keys(100000);
  HxIntHash h;
  for (size_t i = 0; i < keys.size(); ++i) h.set(static_cast<int>(i), keys[i]);
  HxString absent("no.such.key");
  for (auto _ : state) {
    long long sum = 0;
    for (auto const& k : keys) sum += h.get(k);
    sum += h.get(absent);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100001);
}
BENCHMARK(BM_HashLookup100k)->Unit(benchmark::kMillisecond);

void BM_StringHashInsert100k(benchmark::State& state) {
  std::vector<HxString> keys = make_keys(100000);
  for (auto _ : state) {
    HxStringHash h;
    for (auto const& k : keys) h.set(new HxString(k), k);
    benchmark::DoNotOptimize(h.count());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100000);
}
BENCHMARK(BM_StringHashInsert100k)->Unit(benchmark::kMillisecond);

}  // namespace

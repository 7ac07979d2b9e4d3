// The hash tables against std::unordered_map<std::string, int>: inserting and
// looking up 100,000 keys, and growing a table of 1,000,000 keys against the
// rehash of the standard map to as many buckets.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "bench/BenchUtil.h"
#include "core/HxHash.h"

namespace {

std::vector<HxString> const& keys(int n) {
  static std::vector<HxString> kept;
  if (static_cast<int>(kept.size()) < n)
    for (int i = static_cast<int>(kept.size()); i < n; ++i) kept.push_back(HxString("job.") + i + ".frame");
  return kept;
}

std::vector<std::string> const& std_keys(int n) {
  static std::vector<std::string> kept;
  if (static_cast<int>(kept.size()) < n)
    for (int i = static_cast<int>(kept.size()); i < n; ++i) kept.push_back("job." + std::to_string(i) + ".frame");
  return kept;
}

int const kKeys = 100000;
int const kGrowKeys = 1000000;

void BM_Std_Insert100k(benchmark::State& state) {
  auto const& k = std_keys(kKeys);
  HxBenchRun run(state);
  for (auto _ : state) {
    std::unordered_map<std::string, int> m;
    for (int i = 0; i < kKeys; ++i) m[k[static_cast<size_t>(i)]] = i;
    benchmark::DoNotOptimize(m.size());
  }
  run.done(kKeys, "insert");
}
BENCHMARK(BM_Std_Insert100k)->Unit(benchmark::kMillisecond);

void BM_HashInsert100k(benchmark::State& state) {
  auto const& k = keys(kKeys);
  HxBenchRun run(state);
  for (auto _ : state) {
    HxIntHash h;
    for (int i = 0; i < kKeys; ++i) h.set(i, k[static_cast<size_t>(i)]);
    benchmark::DoNotOptimize(h.count());
  }
  run.done(kKeys, "hash insert", "insert");
}
BENCHMARK(BM_HashInsert100k)->Unit(benchmark::kMillisecond);

void BM_Std_Lookup100k(benchmark::State& state) {
  auto const& k = std_keys(kKeys);
  std::unordered_map<std::string, int> m;
  for (int i = 0; i < kKeys; ++i) m[k[static_cast<size_t>(i)]] = i;
  std::string absent("no.such.key");
  HxBenchRun run(state);
  for (auto _ : state) {
    long long sum = 0;
    for (auto const& key : k) sum += m.find(key)->second;
    sum += m.count(absent);
    benchmark::DoNotOptimize(sum);
  }
  run.done(kKeys + 1, "lookup");
}
BENCHMARK(BM_Std_Lookup100k)->Unit(benchmark::kMillisecond);

void BM_HashLookup100k(benchmark::State& state) {
  auto const& k = keys(kKeys);
  HxIntHash h;
  for (int i = 0; i < kKeys; ++i) h.set(i, k[static_cast<size_t>(i)]);
  HxString absent("no.such.key");
  HxBenchRun run(state);
  for (auto _ : state) {
    long long sum = 0;
    for (int i = 0; i < kKeys; ++i) sum += h.get(k[static_cast<size_t>(i)]);
    sum += h.get(absent);
    benchmark::DoNotOptimize(sum);
  }
  run.done(kKeys + 1, "hash lookup", "lookup");
}
BENCHMARK(BM_HashLookup100k)->Unit(benchmark::kMillisecond);

void BM_StringHashInsert100k(benchmark::State& state) {
  auto const& k = keys(kKeys);
  HxBenchRun run(state);
  for (auto _ : state) {
    HxStringHash h;
    for (auto const& key : k) h.set(new HxString(key), key);
    benchmark::DoNotOptimize(h.count());
  }
  run.done(kKeys, "string hash insert", "insert");
}
BENCHMARK(BM_StringHashInsert100k)->Unit(benchmark::kMillisecond);

// Growth: the table is filled outside the measure, then grown once, to about
// four times its slots; the standard map is rehashed to as many buckets.
void BM_Std_Rehash1M(benchmark::State& state) {
  auto const& k = std_keys(kGrowKeys);
  HxBenchRun run(state);
  for (auto _ : state) {
    run.pause();
    auto* m = new std::unordered_map<std::string, int>();
    for (int i = 0; i < kGrowKeys; ++i) (*m)[k[static_cast<size_t>(i)]] = i;
    size_t buckets = m->bucket_count() * 4;
    run.resume();
    m->rehash(buckets);
    benchmark::DoNotOptimize(m->bucket_count());
    run.pause();
    delete m;
    run.resume();
  }
  run.done(kGrowKeys, "rehash");
}
BENCHMARK(BM_Std_Rehash1M)->Unit(benchmark::kMillisecond)->Iterations(4);

void BM_HashGrow1M(benchmark::State& state) {
  auto const& k = keys(kGrowKeys);
  HxBenchRun run(state);
  for (auto _ : state) {
    run.pause();
    auto* h = new HxIntHash();
    for (int i = 0; i < kGrowKeys; ++i) h->set(i, k[static_cast<size_t>(i)]);
    run.resume();
    h->resize();
    benchmark::DoNotOptimize(h->size());
    run.pause();
    delete h;
    run.resume();
  }
  run.done(kGrowKeys, "hash grow", "rehash");
}
BENCHMARK(BM_HashGrow1M)->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace

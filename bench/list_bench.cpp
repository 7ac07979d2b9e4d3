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

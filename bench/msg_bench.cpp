// The envelope's cost: a reply carrying a list of 1,000 jobs packed and
// unpacked, beside the same list packed and unpacked on its own (the list's
// codec is itself measured against a hand-written one in job_bench). The
// ratio is what the envelope adds: its own records, the content record's
// header and creating the content from its type number.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/BenchUtil.h"
#include "model/job/HxJob.h"
#include "net/HxMessage.h"

namespace {

HxJobList& jobs() {
  static HxJobList* l = [] {
    auto* list = new HxJobList();
    for (int i = 0; i < 1000; ++i) {
      auto* j = new HxJob();
      j->id(5000 + i);
      j->pid(4999 + i);
      j->priority(50);
      j->status(HxStatus(336));
      j->user("render");
      j->domain("studio");
      j->name(HxString("seq010_shot0420_lighting_v") + HxString(i));
      j->cluster("/farm/linux");
      j->timesubmit(HxTime(820000000 + i));
      j->data("(=(frames=1-100)(camera=renderCam))");
      j->prototype("cmdrange");
      j->kind("render");
      j->todo(100);
      j->cpus(8);
      list->append(j);
    }
    return list;
  }();
  return *l;
}

// The reply as a supervisor sends it; it borrows the list.
HxMessage& reply() {
  static HxMessage* m = [] {
    auto* r = new HxMessage(0);
    r->user("render");
    r->domain("studio");
    r->macaddress(HxMacAddress(HxString("00:1b:2c:3d:4e:5f")));
    r->content(&jobs());
    return r;
  }();
  return *m;
}

std::string bytes_of(HxPack& p) {
  p.pack();
  return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
}

void BM_Baseline_PackJobList1000(benchmark::State& state) {
  HxJobList& l = jobs();
  HxBenchRun run(state);
  for (auto _ : state) {
    l.pack();
    benchmark::DoNotOptimize(l.packContents());
  }
  run.done(1000, "bare list pack 1000");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * l.packSize());
}
BENCHMARK(BM_Baseline_PackJobList1000)->Unit(benchmark::kMicrosecond);

void BM_PackEnvelopeJobList1000(benchmark::State& state) {
  HxMessage& m = reply();
  HxBenchRun run(state);
  for (auto _ : state) {
    m.pack();
    benchmark::DoNotOptimize(m.packContents());
  }
  run.done(1000, "envelope pack 1000", "bare list pack 1000");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * m.packSize());
}
BENCHMARK(BM_PackEnvelopeJobList1000)->Unit(benchmark::kMicrosecond);

void BM_Baseline_UnpackJobList1000(benchmark::State& state) {
  std::string const bytes = bytes_of(jobs());
  HxBenchRun run(state);
  for (auto _ : state) {
    HxJobList l;
    benchmark::DoNotOptimize(l.unpack(bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(1000, "bare list unpack 1000");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Baseline_UnpackJobList1000)->Unit(benchmark::kMicrosecond);

void BM_UnpackEnvelopeJobList1000(benchmark::State& state) {
  std::string const bytes = bytes_of(reply());
  HxBenchRun run(state);
  for (auto _ : state) {
    HxMessage m;
    benchmark::DoNotOptimize(m.unpack(bytes.data(), static_cast<int>(bytes.size())));
    if (m.content() == nullptr) state.SkipWithError("reply read without content");
  }
  run.done(1000, "envelope unpack 1000", "bare list unpack 1000");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_UnpackEnvelopeJobList1000)->Unit(benchmark::kMicrosecond);

}  // namespace

// Submission and log paging against a fake supervisor on loopback.
//
// hxsubmit of one job of n agenda items: plain (the baseline), with the
// preview flag (first, last and middle item split off) and with n / 10
// preview names, each taking the first equal item of the agenda; at 1,000
// and 10,000 items, so that equal figures per item show the split stays
// linear. Items are agenda items.
//
// hxstdout of a 16 and a 64 MiB log fetched in pages of 1024000 bytes and
// merged, against appending the same pages to a std::string. Items are MiB.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "api/HxApiLogs.h"
#include "api/HxApiState.h"
#include "api/HxApiSubmit.h"
#include "api/HxRequestTypes.h"
#include "bench/BenchUtil.h"
#include "config/HxConfig.h"
#include "core/HxWorld.h"
#include "model/job/HxJobId.h"
#include "model/job/HxQuery.h"
#include "tests/net/FakePeer.h"

namespace {

constexpr long long kMiB = 1024 * 1024;

std::string const& log_text() {
  static std::string const text = [] {
    std::string s(static_cast<size_t>(64 * kMiB), ' ');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
  }();
  return text;
}

long long& served_bytes() {
  static long long n = 0;
  return n;
}

bool serve(HxMessage& req, HxMessage& rep) {
  rep.tag(1);
  if (req.tag() == kHxReqConfig) {
    rep.content(new HxConfig);
    return true;
  }
  if (auto* cmd = dynamic_cast<HxCommand*>(req.content())) {
    long long pos = 0;
    for (int i = 0; i < cmd->filters().length(); ++i) {
      HxFilter* f = cmd->filters().get(i);
      if (f->name() == HxString("pos")) pos = f->fields().get(0)->value().longlongvalue();
    }
    auto* list = new HxLogList;
    auto* log = new HxLog;
    log->jobid(1);
    log->subid(0);
    long long const size = served_bytes();
    if (pos < size) {
      long long n = size - pos < kHxLogPageBytes ? size - pos : kHxLogPageBytes;
      log->data(HxString(log_text().data() + pos, static_cast<int>(n)));
    }
    list->append(log);
    rep.content(list);
    return true;
  }
  rep.content(new HxJobList);
  return true;
}

FakePeer& farm() {
  static HxBenchPeerWorld* world = [] {
    auto* w = new HxBenchPeerWorld;
    hx_set_world(w);
    return w;
  }();
  static FakePeer* peer = [] {
    auto* p = new FakePeer(serve);
    world->port(p->tcpPort());
    return p;
  }();
  return *peer;
}

enum Mode { kPlain, kFlag, kNames };

void submit(benchmark::State& state, Mode mode, char const* name, char const* baseline) {
  farm();
  int const n = static_cast<int>(state.range(0));
  HxBenchRun run(state);
  for (auto _ : state) {
    run.pause();
    HxJobList jobs, submitted;
    auto* job = new HxJob;
    for (int i = 0; i < n; ++i) {
      auto* w = new HxWork;
      w->name(HxString(i));
      job->agenda().append(w);
    }
    if (mode == kFlag) job->flags(kHxJobFlagPAgenda);
    if (mode == kNames) {
      for (int i = 0; i < n; i += 10) {
        auto* w = new HxWork;
        w->name(HxString(n - 1 - i));
        job->p_agenda().append(w);
      }
    }
    jobs.append(job);
    run.resume();
    if (hxsubmit(jobs, submitted, 0) != 1) state.SkipWithError("submission failed");
    run.pause();
    jobs.clear();
    run.resume();
  }
  run.done(n, (std::string(name) + std::to_string(n)).c_str(),
           baseline != nullptr ? (std::string(baseline) + std::to_string(n)).c_str() : nullptr);
}

void BM_Baseline_SubmitPlain(benchmark::State& state) { submit(state, kPlain, "plain", nullptr); }
void BM_SubmitPreviewFlag(benchmark::State& state) { submit(state, kFlag, "flag", "plain"); }
void BM_SubmitPreviewNames(benchmark::State& state) { submit(state, kNames, "names", "plain"); }

BENCHMARK(BM_Baseline_SubmitPlain)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SubmitPreviewFlag)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SubmitPreviewNames)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_Baseline_PagesIntoString(benchmark::State& state) {
  long long const size = state.range(0) * kMiB;
  std::string const& text = log_text();
  HxBenchRun run(state);
  for (auto _ : state) {
    std::string out;
    for (long long pos = 0; pos < size; pos += kHxLogPageBytes)
      out.append(text, static_cast<size_t>(pos), static_cast<size_t>(std::min<long long>(kHxLogPageBytes, size - pos)));
    benchmark::DoNotOptimize(out.data());
  }
  run.done(static_cast<double>(state.range(0)), ("string" + std::to_string(state.range(0))).c_str());
}

void BM_LogPages(benchmark::State& state) {
  farm();
  served_bytes() = state.range(0) * kMiB;
  hxsetclientlogpath(kHxUseSupervisor);
  HxBenchRun run(state);
  for (auto _ : state) {
    HxCommand cmd;
    cmd.jobids().append(new HxJobId(1));
    HxLogList logs;
    if (hxstdout(cmd, logs) != 1 || logs.length() != 1 || logs.get(0)->data().length() != served_bytes())
      state.SkipWithError("paging failed");
  }
  hxsetclientlogpath("");
  run.done(static_cast<double>(state.range(0)), ("pages" + std::to_string(state.range(0))).c_str(),
           ("string" + std::to_string(state.range(0))).c_str());
}

BENCHMARK(BM_Baseline_PagesIntoString)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogPages)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace

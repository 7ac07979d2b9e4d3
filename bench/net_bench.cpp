// A 1 KB message through the frame path, each beside its baseline in the same
// run: zlib's one-shot compress() for the compression, and compress(), a
// plain write and read and uncompress() on the same socket pair for a whole
// frame sent and received. Counters: "x_baseline" is the time per item over
// the baseline's (wall time), "allocs/item" the heap allocations per
// message (malloc calls, zlib's own included), under the name the other
// benchmarks use.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/HxCompress.h"
#include "net/HxConnection.h"

// Every malloc of the benchmark binary is counted (operator new and zlib
// come down to it).
extern "C" void* __libc_malloc(size_t);
static std::atomic<long> g_mallocs{0};
extern "C" void* malloc(size_t n) {
  g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}

namespace {

// A packed-record-like kilobyte: field headers, numbers and short texts.
std::string const& message() {
  static std::string const m = [] {
    std::string s;
    char buf[96];
    for (int i = 0; s.size() < 1024; ++i) {
      // field number, kind 3, then text
      s += std::string{'\0', static_cast<char>(i % 40), '\0', '\3'};
      std::snprintf(buf, sizeof buf, "user%d:%08x/shots/sq%03d/render.%04d.exr;", i % 7, i * 2654435761u, i % 13,
                    1000 + i);
      s += buf;
    }
    s.resize(1024);
    return s;
  }();
  return m;
}

double g_compress_ns = 0;
double g_plain_frame_ns = 0;

struct Measure {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  long mallocs = g_mallocs.load();
  void report(benchmark::State& state, double* store, double baseline) {
    double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                static_cast<double>(state.iterations());
    state.counters["allocs/item"] =
        static_cast<double>(g_mallocs.load() - mallocs) / static_cast<double>(state.iterations());
    if (store != nullptr) *store = ns;
    if (baseline > 0) state.counters["x_baseline"] = ns / baseline;
  }
};

void BM_Baseline_OneShotCompress1K(benchmark::State& state) {
  std::string const& m = message();
  std::vector<Bytef> out(compressBound(m.size()));
  Measure measure;
  for (auto _ : state) {
    uLongf n = out.size();
    compress(out.data(), &n, reinterpret_cast<Bytef const*>(m.data()), m.size());
    benchmark::DoNotOptimize(n);
  }
  measure.report(state, &g_compress_ns, 0);
}
BENCHMARK(BM_Baseline_OneShotCompress1K);

void BM_HxCompressCompact1K(benchmark::State& state) {
  std::string const& m = message();
  Measure measure;
  for (auto _ : state) {
    int n = 0;
    char* z = HxCompress::compact(n, m.data(), static_cast<int>(m.size()));
    benchmark::DoNotOptimize(z);
    delete[] z;
  }
  measure.report(state, nullptr, g_compress_ns);
}
BENCHMARK(BM_HxCompressCompact1K);

// What a frame send does before its write: compress behind the header's room.
void BM_FrameBuild1K(benchmark::State& state) {
  std::string const& m = message();
  std::vector<char> frame(9 + HxCompress::bound(m.size()));
  Measure measure;
  for (auto _ : state) {
    long n = HxCompress::compactInto(frame.data() + 9, frame.size() - 9, m.data(), m.size());
    frame[0] = 2;
    benchmark::DoNotOptimize(n);
  }
  measure.report(state, nullptr, g_compress_ns);
}
BENCHMARK(BM_FrameBuild1K);

void BM_Baseline_PlainFrameOverSocketPair1K(benchmark::State& state) {
  std::string const& m = message();
  int fds[2];
  socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
  std::vector<Bytef> z(9 + compressBound(m.size()));
  std::vector<Bytef> in(z.size());
  std::vector<Bytef> plain(m.size());
  Measure measure;
  for (auto _ : state) {
    uLongf n = z.size() - 9;
    compress(z.data() + 9, &n, reinterpret_cast<Bytef const*>(m.data()), m.size());
    ssize_t w = write(fds[0], z.data(), n + 9);
    ssize_t r = read(fds[1], in.data(), static_cast<size_t>(w));
    uLongf p = plain.size();
    uncompress(plain.data(), &p, in.data() + 9, static_cast<uLong>(r - 9));
    benchmark::DoNotOptimize(p);
  }
  measure.report(state, &g_plain_frame_ns, 0);
  close(fds[0]);
  close(fds[1]);
}
BENCHMARK(BM_Baseline_PlainFrameOverSocketPair1K);

void BM_FrameSendReceive1K(benchmark::State& state) {
  std::string const& m = message();
  int fds[2];
  socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
  HxConnection out(fds[0], 1, 30000);
  HxConnection in(fds[1], 1, 30000);
  Measure measure;
  for (auto _ : state) {
    out.send(m.data(), static_cast<int>(m.size()));
    int length = 0;
    char* data = in.receive(length);
    benchmark::DoNotOptimize(data);
    delete[] data;
  }
  measure.report(state, nullptr, g_plain_frame_ns);
}
BENCHMARK(BM_FrameSendReceive1K);

}  // namespace

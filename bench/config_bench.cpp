// Reading configuration: a sectioned file of 10,000 lines (1,000 sections of
// a header, 8 options and a comment), and whole-file reads through HxFile::load
// against fread into a buffer reserved from the file's size.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "bench/BenchUtil.h"
#include "config/HxConfigFile.h"
#include "core/HxFile.h"

namespace {

int const kLines = 10000;

HxString const& sectioned_text() {
  static HxString text = [] {
    std::string t;
    for (int s = 0; s < kLines / 10; ++s) {
      t += "[host" + std::to_string(s) + "]\n";
      for (int o = 0; o < 8; ++o)
        t += "option" + std::to_string(o) + " = /shows/feature/seq" + std::to_string(s) + "/value" + std::to_string(o) + "\n";
      t += "# a comment line\n";
    }
    return HxString(t);
  }();
  return text;
}

void BM_ConfigParse10kLines(benchmark::State& state) {
  HxString const& text = sectioned_text();
  HxBenchRun run(state);
  for (auto _ : state) {
    HxConfigFile f;
    f.parse(text);
    benchmark::DoNotOptimize(&f);
  }
  run.done(kLines, "config parse");
}
BENCHMARK(BM_ConfigParse10kLines)->Unit(benchmark::kMillisecond);

// A file of `megabytes` MiB, made once per size and removed at exit.
std::string const& big_file(int megabytes) {
  static std::map<int, std::string> paths;
  auto it = paths.find(megabytes);
  if (it != paths.end()) return it->second;
  std::string p = "/tmp/hx_bench_load." + std::to_string(::getpid()) + "." + std::to_string(megabytes);
  std::FILE* f = std::fopen(p.c_str(), "wb");
  std::string chunk(1 << 20, 'x');
  for (int i = 0; i < megabytes; ++i) std::fwrite(chunk.data(), 1, chunk.size(), f);
  std::fclose(f);
  if (paths.empty()) std::atexit([] {
      for (auto const& kv : paths) ::unlink(kv.second.c_str());
    });
  return paths[megabytes] = p;
}

void BM_Fread_Reserved(benchmark::State& state) {
  std::string const& path = big_file(static_cast<int>(state.range(0)));
  HxBenchRun run(state);
  for (auto _ : state) {
    struct stat st;
    ::stat(path.c_str(), &st);
    std::string data;
    data.resize(static_cast<size_t>(st.st_size));
    std::FILE* f = std::fopen(path.c_str(), "rb");
    size_t got = std::fread(&data[0], 1, data.size(), f);
    std::fclose(f);
    benchmark::DoNotOptimize(got);
  }
  run.done(1, ("fread" + std::to_string(state.range(0))).c_str());
}

// The string's capacity rule (four times the text) puts a 16 MiB file in a
// 64 MiB buffer, beyond what the allocator keeps for reuse: every load maps
// fresh memory and faults its pages in, which the 16 MiB fread buffer, reused
// from the heap, does not. The 1 MiB case shows the read itself.
void BM_Load(benchmark::State& state) {
  HxString path(big_file(static_cast<int>(state.range(0))));
  HxBenchRun run(state);
  for (auto _ : state) {
    HxString data = HxFile::load(path);
    benchmark::DoNotOptimize(data.length());
  }
  std::string const baseline = "fread" + std::to_string(state.range(0));
  run.done(1, ("load" + std::to_string(state.range(0))).c_str(), baseline.c_str());
}
BENCHMARK(BM_Fread_Reserved)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace

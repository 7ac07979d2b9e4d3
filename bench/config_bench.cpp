// Reading configuration: a sectioned file of 10,000 lines (1,000 sections of
// a header, 8 options and a comment), and whole-file reads through HxFile::load
// against fread into a buffer reserved from the file's size.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

std::string const& big_file() {
  static std::string path = [] {
    std::string p = "/tmp/hx_bench_load." + std::to_string(::getpid());
    std::FILE* f = std::fopen(p.c_str(), "wb");
    std::string chunk(1 << 20, 'x');
    for (int i = 0; i < 16; ++i) std::fwrite(chunk.data(), 1, chunk.size(), f);
    std::fclose(f);
    std::atexit([] { ::unlink(big_file().c_str()); });
    return p;
  }();
  return path;
}

void BM_Fread_Reserved16M(benchmark::State& state) {
  std::string const& path = big_file();
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
  run.done(1, "fread");
}
BENCHMARK(BM_Fread_Reserved16M)->Unit(benchmark::kMillisecond);

void BM_Load16M(benchmark::State& state) {
  HxString path(big_file());
  HxBenchRun run(state);
  for (auto _ : state) {
    HxString data = HxFile::load(path);
    benchmark::DoNotOptimize(data.length());
  }
  run.done(1, "load", "fread");
}
BENCHMARK(BM_Load16M)->Unit(benchmark::kMillisecond);

}  // namespace

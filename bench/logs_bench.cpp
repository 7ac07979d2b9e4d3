// The work-section filter of the job log tree: one work item's lines cut out
// of a subjob log of 10,000 sections (64 MiB, and a quarter of that to show
// that the cost grows linearly with the size). Measured against a
// hand-written filter over the same bytes read with plain system calls.
// Items are sections of the log. The logs are written here, under /tmp, and
// removed at exit.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "bench/BenchUtil.h"
#include "model/job/HxLog.h"

namespace {

constexpr int kSections = 10000;

// A subjob log of 10,000 sections of about size / 10,000 bytes each: a
// "got work:" line and lines of renderer output.
struct Log {
  std::string path;
  long long bytes = 0;
};

std::string g_dir;

void remove_logs() {
  if (g_dir.empty()) return;
  for (char const* name : {"/16.out", "/64.out"}) ::unlink((g_dir + name).c_str());
  ::rmdir(g_dir.c_str());
}

Log const& log_of(int mib) {
  static Log logs[2];
  Log& log = logs[mib == 64 ? 1 : 0];
  if (!log.path.empty()) return log;
  if (g_dir.empty()) {
    char tmpl[] = "/tmp/hxlogbench.XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) std::abort();
    g_dir = tmpl;
    std::atexit(remove_logs);
  }
  log.path = g_dir + "/" + std::to_string(mib) + ".out";
  long long const per_section = static_cast<long long>(mib) * 1024 * 1024 / kSections;
  std::string text;
  text.reserve(static_cast<size_t>(mib) * 1024 * 1024 + 4096);
  char line[160];
  for (int s = 0; s < kSections; ++s) {
    size_t const start = text.size();
    std::snprintf(line, sizeof line, "got work: %d:frame%05d - started at 12:00:%02d\n", s + 1, s + 1, s % 60);
    text += line;
    for (int k = 0; static_cast<long long>(text.size() - start) < per_section; ++k) {
      std::snprintf(line, sizeof line,
                    "[render] frame %05d tile %03d: 4096 samples, 812 MB in use, %d.%02d s elapsed, done\n", s + 1, k,
                    k / 10, k % 100);
      text += line;
    }
  }
  int fd = ::open(log.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
  ::close(fd);
  log.bytes = static_cast<long long>(text.size());
  return log;
}

// The item in the middle of the log.
char const kItem[] = "frame05000";

// ---- baseline: read(2) into a string, then a plain line scan ----------------

std::string read_all(std::string const& path) {
  std::string out;
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return out;
  off_t const size = ::lseek(fd, 0, SEEK_END);
  ::lseek(fd, 0, SEEK_SET);
  out.resize(static_cast<size_t>(size));
  size_t got = 0;
  while (got < out.size()) {
    ssize_t n = ::read(fd, &out[got], out.size() - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  ::close(fd);
  return out;
}

// The section filter for logs whose section lines are well formed: "got
// work:", blanks, digits, ":", the name, a blank and a dash.
std::string hand_filter(std::string_view text, std::string_view item) {
  std::string out;
  bool inside = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t lf = text.find('\n', at);
    size_t const next = lf == std::string_view::npos ? text.size() : lf + 1;
    std::string_view const line = text.substr(at, next - at);
    size_t const hit = line.find("got work:");
    if (hit != std::string_view::npos) {
      size_t const colon = line.find(':', hit + 9);
      size_t const dash = line.rfind(" -");
      if (colon != std::string_view::npos && dash != std::string_view::npos && dash > colon)
        inside = line.substr(colon + 1, dash - colon - 1) == item;
    }
    if (inside) out.append(line);
    at = next;
  }
  return out;
}

void BM_Hand_ReadAndFilter(benchmark::State& state) {
  Log const& log = log_of(static_cast<int>(state.range(0)));
  HxBenchRun run(state);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string const text = read_all(log.path);
    std::string const out = hand_filter(text, kItem);
    bytes = out.size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["section_bytes"] = static_cast<double>(bytes);
  run.done(kSections, state.range(0) == 64 ? "hand 64" : "hand 16");
}
BENCHMARK(BM_Hand_ReadAndFilter)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_HxLog_WorkSection(benchmark::State& state) {
  Log const& log = log_of(static_cast<int>(state.range(0)));
  HxString const path(log.path.c_str());
  HxString const item(kItem);
  HxBenchRun run(state);
  int bytes = 0;
  for (auto _ : state) {
    HxLog l;
    bytes = l.loaddata(path, item, 0, -1);
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["section_bytes"] = bytes;
  bool const big = state.range(0) == 64;
  run.done(kSections, big ? "hxlog 64" : "hxlog 16", big ? "hand 64" : "hand 16");
  // Linear growth: the time per byte on the 64 MiB log over that on the
  // 16 MiB one (1.0 for a cost that grows exactly with the size).
  auto const& t = HxBenchRun::times();
  if (big && t.count("hxlog 16") && t.at("hxlog 16") > 0)
    state.counters["per_byte_vs_16MiB"] =
        (t.at("hxlog 64") / static_cast<double>(log.bytes)) / (t.at("hxlog 16") / static_cast<double>(log_of(16).bytes));
}
BENCHMARK(BM_HxLog_WorkSection)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

// The filter alone over text already in memory, beside the hand one.
void BM_Hand_FilterInMemory(benchmark::State& state) {
  int const mib = static_cast<int>(state.range(0));
  std::string const text = read_all(log_of(mib).path);
  HxBenchRun run(state);
  for (auto _ : state) benchmark::DoNotOptimize(hand_filter(text, kItem));
  run.done(kSections, mib == 64 ? "hand memory 64" : "hand memory 16");
}
BENCHMARK(BM_Hand_FilterInMemory)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_HxLog_SectionInMemory(benchmark::State& state) {
  int const mib = static_cast<int>(state.range(0));
  std::string const bytes = read_all(log_of(mib).path);
  HxString const text(bytes.data(), static_cast<int>(bytes.size()));
  HxString const item(kItem);
  HxBenchRun run(state);
  for (auto _ : state) {
    HxString out;
    HxLog::_section(text, item, -1, out);
    benchmark::DoNotOptimize(out.length());
  }
  bool const big = mib == 64;
  run.done(kSections, big ? "hxlog memory 64" : "hxlog memory 16", big ? "hand memory 64" : "hand memory 16");
  auto const& t = HxBenchRun::times();
  if (big && t.count("hxlog memory 16") && t.at("hxlog memory 16") > 0)
    state.counters["per_byte_vs_16MiB"] = (t.at("hxlog memory 64") / static_cast<double>(log_of(64).bytes)) /
                                          (t.at("hxlog memory 16") / static_cast<double>(log_of(16).bytes));
}
BENCHMARK(BM_HxLog_SectionInMemory)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace

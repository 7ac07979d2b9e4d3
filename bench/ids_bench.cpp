// Identifier lists as commands and results over many jobs carry them:
// packing and unpacking an HxJobIdList of 100,000 ids, and parsing and
// printing 100,000 job id texts, each beside a hand-written baseline of the
// same bytes and texts.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchUtil.h"
#include "model/job/HxJobId.h"

namespace {

constexpr int kIds = 100000;

std::pair<int, int> nth_id(int i) { return {100000 + i, i % 3 == 0 ? -1 : i % 3 == 1 ? i % 50 : -2}; }

void fill(HxJobIdList& l) {
  for (int i = 0; i < kIds; ++i) l.append(new HxJobId(nth_id(i).first, nth_id(i).second));
}

// ---- hand-written codec of the same bytes ----

char* put16(char* p, int v) {
  p[0] = static_cast<char>(v >> 8);
  p[1] = static_cast<char>(v);
  return p + 2;
}
char* put32(char* p, int v) {
  auto u = static_cast<unsigned>(v);
  p[0] = static_cast<char>(u >> 24);
  p[1] = static_cast<char>(u >> 16);
  p[2] = static_cast<char>(u >> 8);
  p[3] = static_cast<char>(u);
  return p + 4;
}
int get32(char const* p) {
  auto const* u = reinterpret_cast<unsigned char const*>(p);
  return static_cast<int>((unsigned{u[0]} << 24) | (unsigned{u[1]} << 16) | (unsigned{u[2]} << 8) | unsigned{u[3]});
}

// Header, count record, then per id a nested record of 28 bytes.
void plain_pack(std::vector<std::pair<int, int>> const& ids, std::vector<char>& out) {
  out.resize(12 + 28 * ids.size());
  char* p = out.data();
  p = put32(p, 1);
  p = put16(p, 1);
  p = put16(p, 1);
  p = put32(p, static_cast<int>(ids.size()));
  for (auto const& [id, sub] : ids) {
    p = put16(p, 10);
    p = put16(p, 4);
    p = put32(p, 19);
    p = put32(p, 16);
    p = put16(p, 1);
    p = put16(p, 1);
    p = put32(p, id);
    p = put16(p, 2);
    p = put16(p, 1);
    p = put32(p, sub);
  }
}

// Reads the bytes plain_pack writes; false for anything else.
using PlainIds = std::vector<std::unique_ptr<std::pair<int, int>>>;

// One heap element per id, as the owning list holds them.
bool plain_unpack(char const* p, size_t n, PlainIds& ids) {
  ids.clear();
  if (n < 12 || get32(p) != 1) return false;
  int count = get32(p + 8);
  size_t at = 12;
  ids.reserve(count > 0 && static_cast<size_t>(count) <= n / 28 ? static_cast<size_t>(count) : 0);
  while (at + 28 <= n) {
    if (get32(p + at) != 0x000A0004 || get32(p + at + 4) != 19) return false;
    ids.push_back(std::make_unique<std::pair<int, int>>(get32(p + at + 16), get32(p + at + 24)));
    at += 28;
  }
  return at == n;
}

std::vector<std::pair<int, int>> plain_ids() {
  std::vector<std::pair<int, int>> ids;
  for (int i = 0; i < kIds; ++i) ids.push_back(nth_id(i));
  return ids;
}

void BM_JobIdListPack_Baseline(benchmark::State& state) {
  auto ids = plain_ids();
  std::vector<char> out;
  HxBenchRun run(state);
  for (auto _ : state) {
    plain_pack(ids, out);
    benchmark::DoNotOptimize(out.data());
  }
  run.done(kIds, "idlist_pack_plain");
}
BENCHMARK(BM_JobIdListPack_Baseline)->Unit(benchmark::kMicrosecond);

void BM_JobIdListPack(benchmark::State& state) {
  HxJobIdList l;
  fill(l);
  // The library writes the baseline's bytes.
  std::vector<char> plain;
  plain_pack(plain_ids(), plain);
  l.pack();
  if (static_cast<size_t>(l.packSize()) != plain.size() || std::memcmp(l.packContents(), plain.data(), plain.size()))
    state.SkipWithError("the list packs to other bytes than the baseline");
  HxBenchRun run(state);
  for (auto _ : state) {
    l.pack();
    benchmark::DoNotOptimize(l.packContents());
  }
  run.done(kIds, "idlist_pack", "idlist_pack_plain");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * l.packSize());
}
BENCHMARK(BM_JobIdListPack)->Unit(benchmark::kMicrosecond);

void BM_JobIdListUnpack_Baseline(benchmark::State& state) {
  std::vector<char> bytes;
  plain_pack(plain_ids(), bytes);
  HxBenchRun run(state);
  for (auto _ : state) {
    // A fresh vector per pass, as a fresh list is below.
    PlainIds fresh;
    bool ok = plain_unpack(bytes.data(), bytes.size(), fresh);
    benchmark::DoNotOptimize(ok);
  }
  run.done(kIds, "idlist_unpack_plain");
}
BENCHMARK(BM_JobIdListUnpack_Baseline)->Unit(benchmark::kMicrosecond);

void BM_JobIdListUnpack(benchmark::State& state) {
  HxJobIdList l;
  fill(l);
  l.pack();
  std::string bytes(l.packContents(), static_cast<size_t>(l.packSize()));
  HxBenchRun run(state);
  for (auto _ : state) {
    HxJobIdList target;
    int rc = target.unpack(bytes.data(), static_cast<int>(bytes.size()));
    benchmark::DoNotOptimize(rc);
    if (target.length() != kIds) state.SkipWithError("short list");
  }
  run.done(kIds, "idlist_unpack", "idlist_unpack_plain");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_JobIdListUnpack)->Unit(benchmark::kMicrosecond);

// ---- texts ----

std::vector<std::string> texts() {
  std::vector<std::string> out;
  for (int i = 0; i < kIds; ++i) {
    auto [id, sub] = nth_id(i);
    out.push_back(std::to_string(id) + (sub == -1 ? "" : sub == -2 ? ".*" : "." + std::to_string(sub)));
  }
  return out;
}

void BM_JobIdParse_Baseline(benchmark::State& state) {
  auto in = texts();
  HxBenchRun run(state);
  for (auto _ : state) {
    long long sum = 0;
    for (auto const& t : in) {
      char const* p = t.data();
      char const* end = p + t.size();
      int id = 0, sub = -1;
      auto r = std::from_chars(p, end, id);
      if (r.ptr < end && *r.ptr == '.') {
        if (r.ptr + 1 < end && r.ptr[1] == '*' && r.ptr + 2 == end)
          sub = -2;
        else
          std::from_chars(r.ptr + 1, end, sub);
      }
      sum += id + sub;
    }
    benchmark::DoNotOptimize(sum);
  }
  run.done(kIds, "id_parse_plain");
}
BENCHMARK(BM_JobIdParse_Baseline)->Unit(benchmark::kMicrosecond);

void BM_JobIdParse(benchmark::State& state) {
  std::vector<HxString> in;
  for (auto const& t : texts()) in.emplace_back(t);
  HxBenchRun run(state);
  for (auto _ : state) {
    long long sum = 0;
    HxJobId j;
    for (auto const& t : in) {
      j.value(t);
      sum += j.id() + j.subid();
    }
    benchmark::DoNotOptimize(sum);
  }
  run.done(kIds, "id_parse", "id_parse_plain");
}
BENCHMARK(BM_JobIdParse)->Unit(benchmark::kMicrosecond);

void BM_JobIdPrint_Baseline(benchmark::State& state) {
  auto ids = plain_ids();
  HxBenchRun run(state);
  for (auto _ : state) {
    size_t total = 0;
    for (auto const& [id, sub] : ids) {
      char buf[32];
      char* end = std::to_chars(buf, buf + 12, id).ptr;
      if (sub == -2) {
        *end++ = '.';
        *end++ = '*';
      } else if (sub >= 0) {
        *end++ = '.';
        end = std::to_chars(end, end + 12, sub).ptr;
      }
      std::string text(buf, end);
      total += text.size();
    }
    benchmark::DoNotOptimize(total);
  }
  run.done(kIds, "id_print_plain");
}
BENCHMARK(BM_JobIdPrint_Baseline)->Unit(benchmark::kMicrosecond);

void BM_JobIdPrint(benchmark::State& state) {
  HxJobIdList l;
  fill(l);
  HxBenchRun run(state);
  for (auto _ : state) {
    size_t total = 0;
    for (int i = 0; i < kIds; ++i) total += static_cast<size_t>(l.get(i)->value().length());
    benchmark::DoNotOptimize(total);
  }
  run.done(kIds, "id_print", "id_print_plain");
}
BENCHMARK(BM_JobIdPrint)->Unit(benchmark::kMicrosecond);

}  // namespace

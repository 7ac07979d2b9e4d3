// Host records: unpacking a list of 1,000 hosts, each with eight subjobs and
// realistic resource and property texts (the version derived per host), and
// one accept plus release of a job's reservations on a host of 20 resources.
// Each beside a hand-written baseline of the same work on plain structures:
// a decoder of the same bytes into fixed fields, and the resource text parsed,
// booked and printed with std::string.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "model/farm/HxHost.h"
#include "model/farm/HxResource.h"
#include "model/job/HxJob.h"
#include "model/job/HxSubjob.h"

namespace {

constexpr int kHosts = 1000;
constexpr int kSubjobs = 8;

char const kResources[] =
    "host.processors=4/16,host.memory=8192/65536,host.gpu=1/2,global.nuke=1/20,license.maya=1/50,"
    "unlimited.tokens";
char const kProperties[] =
    "host.tarv_version=8.1-0,host.site=north,host.os='Linux 6.1',host.gpu=rtx4090,host.room=b2,"
    "global.farm=main";

std::string const& host_list_bytes() {
  static std::string const bytes = [] {
    HxHostList list;
    for (int i = 0; i < kHosts; ++i) {
      HxHost* h = new HxHost();
      h->name(HxString("render") + i);
      h->cluster("/farm/a");
      h->state(HxState(1));
      h->resources(kResources);
      h->properties(kProperties);
      h->flags(0x21);
      h->stats("load=1.5,mem=12000");
      h->groups("linux,gpu");
      h->macaddress(HxMacAddress(HxString("00:11:22:33:44:55")));
      h->jobtypes("cmdline,nuke,maya");
      h->lastupdate(HxTime(780000000 + i));
      for (int j = 0; j < kSubjobs; ++j) {
        HxSubjob* s = new HxSubjob();
        s->id(j);
        s->pid(10000 + i);
        s->host(h->name());
        s->allocations("host.processors=2");
        h->subjobs().append(s);
      }
      list.append(h);
    }
    list.pack();
    return std::string(list.packContents(), static_cast<size_t>(list.packSize()));
  }();
  return bytes;
}

// ---- the hand-written baseline of the unpack --------------------------------------

// One record of plain fields: an int or a text per field number, the single
// field of a nested record taken in its place, and the subjobs.
struct Plain {
  int ints[24] = {};
  std::string texts[24];
  std::vector<Plain> subjobs;
  std::string version;
  int major = 0, minor = 0;
};

struct Reader {
  char const* p;
  int left;
  int field = 0, kind = 0;
  bool next() {
    if (left < 4) return false;
    field = _rc_int16(p);
    kind = _rc_int16(p + 2);
    p += 4;
    left -= 4;
    return true;
  }
  bool take(int n) {
    if (n < 0 || n > left) return false;
    p += n;
    left -= n;
    return true;
  }
};

bool decode_plain(Plain& out, char const* bytes, int n, int depth);

// A value of the current record into out (field numbers beyond the table
// are passed over).
bool value_into(Plain& out, Reader& r, int depth) {
  int f = r.field >= 0 && r.field < 24 ? r.field : 0;
  switch (r.kind) {
    case 1:
      if (r.left < 4) return false;
      out.ints[f] = _rc_int32(r.p);
      return r.take(4);
    case 3: {
      if (r.left < 4) return false;
      int len = _rc_int32(r.p);
      if (len < 0 || len > r.left - 4) return false;
      out.texts[f].assign(r.p + 4, static_cast<size_t>(len));
      return r.take(4 + len);
    }
    case 4: {
      if (r.left < 8) return false;
      int type = _rc_int32(r.p), len = _rc_int32(r.p + 4);
      if (len < 0 || len > r.left - 8 || depth > 4) return false;
      if (type == 6) {
        // The subjob list: count, then one object per subjob.
        Reader l{r.p + 8, len};
        if (l.next() && l.kind == 1 && l.take(4)) {
          while (l.next() && l.kind == 4 && l.left >= 8) {
            int sl = _rc_int32(l.p + 4);
            out.subjobs.emplace_back();
            if (!decode_plain(out.subjobs.back(), l.p + 8, sl, depth + 1) || !l.take(8 + sl)) break;
          }
        }
      } else {
        Plain nested;
        decode_plain(nested, r.p + 8, len, depth + 1);
        out.ints[f] = nested.ints[1];
        out.texts[f] = nested.texts[1];
      }
      return r.take(8 + len);
    }
    default:
      return false;
  }
}

bool decode_plain(Plain& out, char const* bytes, int n, int depth) {
  Reader r{bytes, n};
  while (r.next())
    if (!value_into(out, r, depth)) return false;
  return true;
}

// The version property read from the property text by hand.
void plain_version(Plain& h) {
  std::string const& props = h.texts[13];
  static char const key[] = "host.tarv_version=";
  size_t at = props.find(key);
  if (at == std::string::npos) return;
  size_t start = at + sizeof key - 1;
  size_t end = props.find(',', start);
  h.version = props.substr(start, end == std::string::npos ? std::string::npos : end - start);
  char* rest = nullptr;
  h.major = static_cast<int>(std::strtol(h.version.c_str(), &rest, 10));
  h.minor = *rest == '.' ? static_cast<int>(std::strtol(rest + 1, nullptr, 10)) : 0;
}

std::vector<Plain> decode_plain_list(std::string const& bytes) {
  std::vector<Plain> hosts;
  Reader r{bytes.data() + 4, static_cast<int>(bytes.size()) - 4};
  if (!r.next() || r.kind != 1 || !r.take(4)) return hosts;
  hosts.reserve(static_cast<size_t>(_rc_int32(r.p - 4)));
  while (r.next() && r.kind == 4 && r.left >= 8) {
    int len = _rc_int32(r.p + 4);
    hosts.emplace_back();
    if (!decode_plain(hosts.back(), r.p + 8, len, 1) || !r.take(8 + len)) break;
    plain_version(hosts.back());
  }
  return hosts;
}

bool baseline_matches(benchmark::State& state) {
  static int verdict = -1;
  if (verdict < 0) {
    std::vector<Plain> plain = decode_plain_list(host_list_bytes());
    HxHostList list;
    list.unpack(host_list_bytes().data(), static_cast<int>(host_list_bytes().size()));
    verdict = static_cast<int>(plain.size()) == kHosts && list.length() == kHosts;
    for (int i = 0; verdict && i < kHosts; ++i) {
      HxHost const& h = *list.get(i);
      Plain const& p = plain[static_cast<size_t>(i)];
      verdict = p.texts[2] == h.name().value() && p.texts[7] == h.resources().value() &&
                p.ints[6] == h.state().integervalue() && p.ints[23] == h.lastupdate().value() &&
                p.subjobs.size() == static_cast<size_t>(h.subjobs().length()) && p.major == h.majorver() &&
                p.minor == h.minorver() && p.version == h.version().value() && p.major == 8;
    }
  }
  if (!verdict) state.SkipWithError("the hand-written decoder does not read what the codec reads");
  return verdict == 1;
}

void BM_Hand_DecodeHostList1k(benchmark::State& state) {
  if (!baseline_matches(state)) return;
  std::string const& bytes = host_list_bytes();
  HxBenchRun run(state);
  for (auto _ : state) benchmark::DoNotOptimize(decode_plain_list(bytes));
  run.done(kHosts, "hand host list");
}
BENCHMARK(BM_Hand_DecodeHostList1k)->Unit(benchmark::kMillisecond);

void BM_UnpackHostList1k(benchmark::State& state) {
  std::string const& bytes = host_list_bytes();
  HxBenchRun run(state);
  for (auto _ : state) {
    HxHostList list;
    benchmark::DoNotOptimize(list.unpack(bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(kHosts, "unpack host list", "hand host list");
}
BENCHMARK(BM_UnpackHostList1k)->Unit(benchmark::kMillisecond);

// ---- accept and release --------------------------------------------------------------

std::string twenty_resources() {
  std::string text = "host.processors=0/32,host.memory=0/131072,unlimited.tokens";
  for (int i = 0; i < 17; ++i) text += ",license.app" + std::to_string(i) + "=" + std::to_string(i) + "/100";
  return text;
}

char const kReservations[] = "host.processors=4,host.memory=16384,license.app3=1,license.app11=2,global.absent=1";

// A hand-written booking on std::string: the items parsed into a vector,
// each reservation's count added to or taken from its resource, the text
// printed back.
struct HandItem {
  std::string key;
  long long used = 0, total = 0;
  bool counted = true;
};

std::vector<HandItem> hand_parse(std::string const& text) {
  std::vector<HandItem> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    HandItem item;
    size_t eq = text.find('=', start);
    if (eq == std::string::npos || eq > end) {
      item.key = text.substr(start, end - start);
      item.counted = false;
    } else {
      item.key = text.substr(start, eq - start);
      char* rest = nullptr;
      long long first = std::strtoll(text.c_str() + eq + 1, &rest, 10);
      if (*rest == '/') {
        item.used = first;
        item.total = std::strtoll(rest + 1, nullptr, 10);
      } else {
        item.total = first;
      }
    }
    items.push_back(item);
    start = end + 1;
  }
  return items;
}

std::string hand_book(std::string const& resources, std::string const& reservations, int sign) {
  std::vector<HandItem> items = hand_parse(resources);
  for (HandItem const& r : hand_parse(reservations)) {
    for (HandItem& item : items)
      if (item.counted && item.key == r.key) item.used += sign * r.total;
  }
  std::string out;
  for (HandItem const& item : items) {
    if (!out.empty()) out += ',';
    out += item.key;
    if (item.counted) out += "=" + std::to_string(item.used) + "/" + std::to_string(item.total);
  }
  return out;
}

void BM_Hand_AcceptRelease20(benchmark::State& state) {
  std::string resources = twenty_resources();
  std::string const reservations = kReservations;
  HxBenchRun run(state);
  for (auto _ : state) {
    resources = hand_book(resources, reservations, 1);
    resources = hand_book(resources, reservations, -1);
    benchmark::DoNotOptimize(resources.data());
  }
  run.done(1, "hand accept release");
  if (resources != twenty_resources()) state.SkipWithError("the hand-written booking does not give back");
}
BENCHMARK(BM_Hand_AcceptRelease20);

void BM_HostAcceptRelease20(benchmark::State& state) {
  HxHost host;
  host.resources(HxString(twenty_resources().c_str()));
  HxJob job;
  job.reservations(kReservations);
  HxSubjob instance;
  instance.allocations("host.processors=4");
  HxBenchRun run(state);
  for (auto _ : state) {
    host.accept(job);
    host.release(job, instance);
    benchmark::DoNotOptimize(host.resources().value());
  }
  run.done(1, "accept release", "hand accept release");
  HxResourceHash check;
  check.revert(host.resources());
  if (check.count() != 20 || check.get("host.processors")->used() != 0)
    state.SkipWithError("accept and release do not give back");
}
BENCHMARK(BM_HostAcceptRelease20);

}  // namespace

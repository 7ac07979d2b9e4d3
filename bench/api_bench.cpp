// Whole API requests against a peer on 127.0.0.1 that answers with fixed
// bytes, each beside a plain exchange of the same bytes in the same run: a
// hand-written connect, write of the request frame, read of the reply frame,
// inflate and close. hxjobinfo of 1 and 2,000 jobs, and hxkill of 10,000 ids
// answered with a result. "x_baseline" is the API's CPU time over the plain
// exchange's, "x_wall" the same for wall time; "x_decode" is over the plain
// exchange plus the codec's work (the request packed and compressed, the
// reply unpacked): what remains is the client's set-up per call (the
// configuration snapshot, the user name and MAC addresses kept for the
// process) and the moves, one pointer per element; "allocs/item" counts
// heap allocations per job or id.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "api/HxApiCommand.h"
#include "api/HxApiQuery.h"
#include "bench/BenchUtil.h"
#include "core/HxWorld.h"
#include "model/job/HxCommand.h"
#include "model/job/HxJob.h"
#include "model/job/HxQuery.h"
#include "model/job/HxResult.h"
#include "net/HxClient.h"
#include "net/HxCompress.h"
#include "tests/net/FakePeer.h"

namespace {

// Installed again by every benchmark of this file: other files install
// worlds of their own. Never destroyed (the peers' threads reach it until
// exit); its directory goes at exit.
HxBenchPeerWorld* g_world = nullptr;

HxBenchPeerWorld& world() {
  if (g_world == nullptr) {
    g_world = new HxBenchPeerWorld;
    std::atexit([] { g_world->clean(); });
  }
  hx_set_world(g_world);
  return *g_world;
}

std::string packed(HxMessage& m) {
  m.pack();
  return std::string(m.packContents(), static_cast<size_t>(m.packSize()));
}

// A stamped request as the client sends it, framed.
std::string frame_of(HxMessage& m) {
  m.user(HxClient::currentuser());
  m.domain(HxClient::currentdomain());
  m.macaddress(HxClient::currentmacaddress());
  std::string const payload = packed(m);
  int n = 0;
  char* z = HxCompress::compact(n, payload.data(), static_cast<int>(payload.size()));
  std::string out(9, '\0');
  out[0] = 2;
  for (int i = 0; i < 4; ++i) {
    out[1 + i] = static_cast<char>(static_cast<unsigned>(n) >> (24 - 8 * i));
    out[5 + i] = static_cast<char>(payload.size() >> (24 - 8 * i));
  }
  out.append(z, static_cast<size_t>(n));
  delete[] z;
  return out;
}

// A case: the reply payload the peer sends, the request (its frame, and the
// message itself to pack again), and the peer.
struct Case {
  std::string reply;
  std::string request;
  std::unique_ptr<HxMessage> message;
  std::unique_ptr<FakePeer> peer;
};

// request owns its content, which the case keeps.
Case make_case(std::string reply, HxMessage* request) {
  Case c;
  c.reply = std::move(reply);
  c.message.reset(request);
  c.request = frame_of(*request);
  FakeStep step = FakeStep::of(FakeStep::kRaw);
  step.raw = c.reply;
  c.peer.reset(new FakePeer({step}));
  return c;
}

Case& jobs_case(int n) {
  static std::map<int, Case> cases;
  auto it = cases.find(n);
  if (it != cases.end()) return it->second;
  HxMessage reply(1);
  auto* jobs = new HxJobList;
  for (int i = 0; i < n; ++i) {
    auto* j = new HxJob;
    j->name(HxString(("shot_" + std::to_string(i) + "_render").c_str()));
    jobs->append(j);
  }
  reply.content(jobs);
  auto* request = new HxMessage(100);
  request->content(new HxQuery);
  Case c = make_case(packed(reply), request);
  return cases.emplace(n, std::move(c)).first->second;
}

Case& kill_case(int n) {
  static Case* c = [n] {
    HxMessage reply(1);
    auto* result = new HxResult;
    for (int i = 0; i < n; ++i) result->jobids().append(new HxJobId(1000 + i, 0));
    reply.content(result);
    auto* cmd = new HxCommand(207);
    for (int i = 0; i < n; ++i) cmd->jobids().append(new HxJobId(1000 + i, 0));
    auto* request = new HxMessage(207);
    request->content(cmd);
    return new Case(make_case(packed(reply), request));
  }();
  return *c;
}

// Connect, write the frame, read the whole reply frame, inflate, close.
bool plain_exchange(int port, std::string const& frame, std::vector<char>& in, std::vector<char>& plain) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return false;
  }
  (void)!write(fd, frame.data(), frame.size());
  size_t got = 0, want = 9;
  uint32_t z = 0, p = 0;
  while (got < want) {
    if (in.size() < want) in.resize(want);
    ssize_t n = read(fd, in.data() + got, in.size() - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
    if (got >= 9 && want == 9) {
      std::memcpy(&z, in.data() + 1, 4);
      std::memcpy(&p, in.data() + 5, 4);
      want = 9 + ntohl(z);
    }
  }
  close(fd);
  if (got < want || want == 9) return false;
  plain.resize(ntohl(p));
  uLongf out = plain.size();
  return uncompress(reinterpret_cast<Bytef*>(plain.data()), &out, reinterpret_cast<Bytef const*>(in.data() + 9),
                    static_cast<uLong>(want - 9)) == Z_OK;
}

std::string name(char const* what, int n) { return std::string(what) + " " + std::to_string(n); }

void plain(benchmark::State& state, Case& c, int items, std::string const& label, bool decode) {
  world().port(c.peer->tcpPort());
  std::vector<char> in, out;
  HxBenchWallRun wall(state);
  HxBenchRun run(state);
  for (auto _ : state) {
    if (!plain_exchange(c.peer->tcpPort(), c.request, in, out)) state.SkipWithError("exchange failed");
    if (decode) {
      // The codec's share of the request too: packed and compressed again.
      c.message->pack();
      int n = 0;
      delete[] HxCompress::compact(n, c.message->packContents(), c.message->packSize());
      HxMessage m;
      m.unpack(out.data(), static_cast<int>(out.size()));
      benchmark::DoNotOptimize(m.content());
    }
  }
  run.done(items, label.c_str());
  wall.done(items, label);
}

// The second ratio: over the plain exchange with the reply unpacked.
void decode_ratio(benchmark::State& state, std::string const& mine, std::string const& decoded) {
  auto& t = HxBenchRun::times();
  if (t.count(mine) != 0 && t.count(decoded) != 0 && t[decoded] > 0) state.counters["x_decode"] = t[mine] / t[decoded];
}

void BM_Baseline_PlainExchangeJobs(benchmark::State& state) {
  int const n = static_cast<int>(state.range(0));
  plain(state, jobs_case(n), n, name("plain jobs", n), false);
}
BENCHMARK(BM_Baseline_PlainExchangeJobs)->Arg(1)->Arg(2000)->Unit(benchmark::kMicrosecond);

void BM_Baseline_PlainExchangeAndCodecJobs(benchmark::State& state) {
  int const n = static_cast<int>(state.range(0));
  plain(state, jobs_case(n), n, name("unpacked jobs", n), true);
}
BENCHMARK(BM_Baseline_PlainExchangeAndCodecJobs)->Arg(1)->Arg(2000)->Unit(benchmark::kMicrosecond);

void BM_HxJobInfo(benchmark::State& state) {
  int const n = static_cast<int>(state.range(0));
  Case& c = jobs_case(n);
  world().port(c.peer->tcpPort());
  HxQuery query;
  HxBenchWallRun wall(state);
  HxBenchRun run(state);
  for (auto _ : state) {
    HxJobList jobs;
    if (hxjobinfo(query, jobs) != 1 || jobs.length() != n) state.SkipWithError("hxjobinfo failed");
  }
  run.done(n, name("hxjobinfo", n).c_str(), name("plain jobs", n).c_str());
  wall.done(n, name("hxjobinfo", n), name("plain jobs", n));
  decode_ratio(state, name("hxjobinfo", n), name("unpacked jobs", n));
}
BENCHMARK(BM_HxJobInfo)->Arg(1)->Arg(2000)->Unit(benchmark::kMicrosecond);

constexpr int kKillIds = 10000;

void BM_Baseline_PlainExchangeKill(benchmark::State& state) {
  plain(state, kill_case(kKillIds), kKillIds, "plain kill", false);
}
BENCHMARK(BM_Baseline_PlainExchangeKill)->Unit(benchmark::kMicrosecond);

void BM_Baseline_PlainExchangeAndCodecKill(benchmark::State& state) {
  plain(state, kill_case(kKillIds), kKillIds, "unpacked kill", true);
}
BENCHMARK(BM_Baseline_PlainExchangeAndCodecKill)->Unit(benchmark::kMicrosecond);

void BM_HxKill(benchmark::State& state) {
  Case& c = kill_case(kKillIds);
  world().port(c.peer->tcpPort());
  HxCommand cmd;
  for (int i = 0; i < kKillIds; ++i) cmd.jobids().append(new HxJobId(1000 + i, 0));
  HxBenchWallRun wall(state);
  HxBenchRun run(state);
  for (auto _ : state) {
    HxJobIdList ids;
    if (hxkill(cmd, ids) != 1 || ids.length() != kKillIds) state.SkipWithError("hxkill failed");
  }
  run.done(kKillIds, "hxkill", "plain kill");
  wall.done(kKillIds, "hxkill", "plain kill");
  decode_ratio(state, "hxkill", "unpacked kill");
}
BENCHMARK(BM_HxKill)->Unit(benchmark::kMicrosecond);

}  // namespace

// One conversation over loopback: converse() with a scripted peer, beside a
// plain TCP connect, write of the same frame, read of the reply and close to
// the same peer. The ratio is what the client adds: stamping (which reads the
// configuration and the MAC addresses again), packing, compression and
// decoding the reply.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "bench/BenchUtil.h"
#include "net/HxClient.h"
#include "net/HxCompress.h"
#include "net/HxIntro.h"
#include "tests/net/FakePeer.h"

namespace {

FakePeer& peer() {
  static FakePeer* p = [] {
    FakeStep step = FakeStep::reply(3);
    step.content = [] { return new HxIntro(HxString("supervisor 7.2, 64 hosts")); };
    return new FakePeer({step});
  }();
  return *p;
}

HxMessage* request() {
  auto* m = new HxMessage(400);
  m->content(new HxIntro(HxString("ping from a bench")));
  return m;
}

// The frame converse sends, built once: a stamped request, packed and
// compressed behind the frame header.
std::string const& frame() {
  static std::string const f = [] {
    HxMessage* m = request();
    m->user(HxClient::currentuser());
    m->domain(HxClient::currentdomain());
    m->macaddress(HxClient::currentmacaddress());
    m->pack();
    int n = 0;
    char* z = HxCompress::compact(n, m->packContents(), m->packSize());
    std::string out(9, '\0');
    out[0] = 2;
    for (int i = 0; i < 4; ++i) {
      out[1 + i] = static_cast<char>(static_cast<unsigned>(n) >> (24 - 8 * i));
      out[5 + i] = static_cast<char>(static_cast<unsigned>(m->packSize()) >> (24 - 8 * i));
    }
    out.append(z, static_cast<size_t>(n));
    delete[] z;
    delete m;
    return out;
  }();
  return f;
}

void BM_Baseline_PlainTcpExchange(benchmark::State& state) {
  std::string const& f = frame();
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(peer().tcpPort()));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  char buf[4096];
  HxBenchRun run(state);
  for (auto _ : state) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    (void)!write(fd, f.data(), f.size());
    // The reply frame: its header says how much follows.
    size_t got = 0, want = 9;
    while (got < want) {
      ssize_t n = read(fd, buf + got, sizeof buf - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
      if (got >= 9) {
        uint32_t z;
        std::memcpy(&z, buf + 1, 4);
        want = 9 + ntohl(z);
      }
    }
    close(fd);
    benchmark::DoNotOptimize(got);
  }
  run.done(1, "plain tcp exchange");
}
BENCHMARK(BM_Baseline_PlainTcpExchange)->Unit(benchmark::kMicrosecond);

void BM_Converse(benchmark::State& state) {
  HxClient client;
  int const port = peer().tcpPort();
  HxMessage* req = request();
  HxBenchRun run(state);
  for (auto _ : state) {
    HxMessage reply;
    if (!client.converse("127.0.0.1", port, *req, reply)) state.SkipWithError("converse failed");
  }
  run.done(1, "converse", "plain tcp exchange");
  delete req;
}
BENCHMARK(BM_Converse)->Unit(benchmark::kMicrosecond);

}  // namespace

// Password encryption with the built-in public key, as a client does it for
// every password it sends: the key is read from its texts on each call.
// There is no outside implementation to set beside these, so each is
// measured against the library's own cheapest step of the same work: the
// public-key operation with a key read once. The ratios then say what reading
// the key adds to an encryption, how much a private-key operation costs
// against a public one, and how many decryptions one key creation is worth.
#include <benchmark/benchmark.h>

#include "bench/BenchUtil.h"
#include "crypto/HxRsa.h"

namespace {

char const* const kModulus = "7c41e09a5b3d28f61e0c97a4d3b52816f07e9c2a4b6d81f35e2c0a97b4d61e38";
char const* const kExponent = "00011f07";
char const* const kPassword = "a 32-byte password, two blocks!!";

void BM_Baseline_EncryptKeptKey32(benchmark::State& state) {
  HxRsaPublicKey key;
  key.n.hex(kModulus);
  key.e.hex(kExponent);
  HxString password(kPassword);
  HxBenchRun run(state);
  for (auto _ : state) {
    HxString cipher = key.encrypt(password);
    benchmark::DoNotOptimize(cipher.value());
  }
  run.done(1, "encrypt, key kept");
}
BENCHMARK(BM_Baseline_EncryptKeptKey32);

void BM_EncryptPassword32(benchmark::State& state) {
  HxString password(kPassword);
  HxBenchRun run(state);
  for (auto _ : state) {
    HxRsaPublicKey key;
    key.n.hex(kModulus);
    key.e.hex(kExponent);
    HxString cipher = key.encrypt(password);
    benchmark::DoNotOptimize(cipher.value());
  }
  run.done(1, "encrypt", "encrypt, key kept");
}
BENCHMARK(BM_EncryptPassword32);

// The receiving side, with a key of similar size made from two seeds; its
// baseline is the public half of the same key.
void BM_Baseline_EncryptSeededKey32(benchmark::State& state) {
  HxRsaPrivateKey key;
  key.create("first seed text.", "second seed text");
  HxRsaPublicKey pub;
  pub.n = key.n;
  pub.e = key.e;
  HxString password(kPassword);
  HxBenchRun run(state);
  for (auto _ : state) {
    HxString cipher = pub.encrypt(password);
    benchmark::DoNotOptimize(cipher.value());
  }
  run.done(1, "encrypt, seeded key");
}
BENCHMARK(BM_Baseline_EncryptSeededKey32);

void BM_DecryptPassword32(benchmark::State& state) {
  HxRsaPrivateKey key;
  key.create("first seed text.", "second seed text");
  HxRsaPublicKey pub;
  pub.n = key.n;
  pub.e = key.e;
  HxString cipher = pub.encrypt(HxString(kPassword));
  HxBenchRun run(state);
  for (auto _ : state) {
    HxString plain = key.decrypt(cipher);
    benchmark::DoNotOptimize(plain.value());
  }
  run.done(1, "decrypt", "encrypt, seeded key");
}
BENCHMARK(BM_DecryptPassword32);

void BM_CreateKey(benchmark::State& state) {
  HxBenchRun run(state);
  for (auto _ : state) {
    HxRsaPrivateKey key;
    key.create("first seed text.", "second seed text");
    benchmark::DoNotOptimize(key.n.value().length());
  }
  run.done(1, "create key", "decrypt");
}
BENCHMARK(BM_CreateKey);

}  // namespace

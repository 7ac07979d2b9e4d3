// Password encryption with the built-in public key, as a client does it for
// every password it sends: the key is read from its texts on each call.
#include <benchmark/benchmark.h>

#include "crypto/HxRsa.h"

namespace {

char const* const kModulus = "7c41e09a5b3d28f61e0c97a4d3b52816f07e9c2a4b6d81f35e2c0a97b4d61e38";
char const* const kExponent = "00011f07";

void BM_EncryptPassword32(benchmark::State& state) {
  HxString password("a 32-byte password, two blocks!!");
  for (auto _ : state) {
    HxRsaPublicKey key;
    key.n.hex(kModulus);
    key.e.hex(kExponent);
    HxString cipher = key.encrypt(password);
    benchmark::DoNotOptimize(cipher.value());
  }
}
BENCHMARK(BM_EncryptPassword32);

// The receiving side, with a key of similar size made from two seeds.
void BM_DecryptPassword32(benchmark::State& state) {
  HxRsaPrivateKey key;
  key.create("first seed text.", "second seed text");
  HxRsaPublicKey pub;
  pub.n = key.n;
  pub.e = key.e;
  HxString cipher = pub.encrypt(HxString("a 32-byte password, two blocks!!"));
  for (auto _ : state) {
    HxString plain = key.decrypt(cipher);
    benchmark::DoNotOptimize(plain.value());
  }
}
BENCHMARK(BM_DecryptPassword32);

void BM_CreateKey(benchmark::State& state) {
  for (auto _ : state) {
    HxRsaPrivateKey key;
    key.create("first seed text.", "second seed text");
    benchmark::DoNotOptimize(key.n.value().length());
  }
}
BENCHMARK(BM_CreateKey);

}  // namespace

// Packing and unpacking a record of 20 mixed fields with a nested record.
#include <benchmark/benchmark.h>

#include "core/pack/HxRecord.h"

namespace {

class Inner : public HxRecord<Inner> {
 public:
  int id = 7;
  HxString label = "inner label";
  float ratio = 0.25f;
  int type() const override { return 9101; }
  HxString typeXML() const override { return "inner"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "id", &Inner::id), hx_field(2, "label", &Inner::label),
                           hx_field(3, "ratio", &Inner::ratio));
  }
};

class Wide : public HxRecord<Wide> {
 public:
  int i1 = 1, i2 = -2, i3 = 300000, i4 = 4, i5 = 5, i6 = 6;
  HxString s1 = "alpha", s2 = "a somewhat longer string value", s3 = "/path/to/some/file.ext", s4 = "x",
           s5 = "user@host", s6 = "";
  long long l1 = 1LL << 40, l2 = -1;
  float f1 = 1.5f, f2 = -3.25f;
  unsigned char b1 = 1, b2 = 0;
  char c1 = 'q';
  Inner inner;
  int type() const override { return 9102; }
  HxString typeXML() const override { return "wide"; }
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(1, "i1", &Wide::i1), hx_field(2, "i2", &Wide::i2), hx_field(3, "i3", &Wide::i3),
        hx_field(4, "i4", &Wide::i4), hx_field(5, "i5", &Wide::i5), hx_field(6, "i6", &Wide::i6),
        hx_field(7, "s1", &Wide::s1), hx_field(8, "s2", &Wide::s2), hx_field(9, "s3", &Wide::s3),
        hx_field(10, "s4", &Wide::s4), hx_field(11, "s5", &Wide::s5), hx_field(12, "s6", &Wide::s6),
        hx_field(13, "l1", &Wide::l1), hx_field(14, "l2", &Wide::l2), hx_field(15, "f1", &Wide::f1),
        hx_field(16, "f2", &Wide::f2), hx_field(17, "b1", &Wide::b1), hx_field(18, "b2", &Wide::b2),
        hx_field(19, "c1", &Wide::c1), hx_field(20, "inner", &Wide::inner));
  }
};

void BM_PackRecord(benchmark::State& state) {
  Wide w;
  for (auto _ : state) {
    w.pack();
    benchmark::DoNotOptimize(w.packContents());
  }
  w.pack();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * w.packSize());
}
BENCHMARK(BM_PackRecord);

void BM_UnpackRecord(benchmark::State& state) {
  Wide w;
  w.pack();
  HxString bytes(w.packContents(), w.packSize());
  Wide target;
  for (auto _ : state) {
    int rc = target.unpack(bytes.value(), bytes.length());
    benchmark::DoNotOptimize(rc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.length());
}
BENCHMARK(BM_UnpackRecord);

}  // namespace

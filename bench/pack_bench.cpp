// The binary codec against a hand-written encoder and decoder of the same
// bytes: a 21-member record (6 ints, 6 strings, 2 long longs, 2 floats, 2
// unsigned chars, a char, a nested record and a list of 5 strings; 421 bytes),
// and the cost per record of decoding wide records of 20 and of 80 fields.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/BenchUtil.h"
#include "core/HxList.h"
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
  HxStringList names;
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
        hx_field(19, "c1", &Wide::c1), hx_field(20, "inner", &Wide::inner), hx_field(21, "names", &Wide::names));
  }
};

Wide* sample() {
  static Wide* w = [] {
    auto* r = new Wide();
    for (char const* s : {"/shows/feature/seq010/shot0010", "comp", "render.001.exr", "beauty,diffuse,specular,depth",
                          "layer_main_v012"})
      r->names.append(new HxString(s));
    return r;
  }();
  return w;
}

// ---- the hand-written codec of the same bytes ----

class HandWriter {
 public:
  ~HandWriter() { std::free(buf_); }
  void reset() { len_ = 0; }
  char const* data() const { return buf_; }
  int size() const { return len_; }

  void tag(int field, int kind, int value_bytes) {
    ensure(4 + value_bytes);
    be32(static_cast<uint32_t>(field) << 16 | static_cast<uint32_t>(kind));
  }
  void i32(int field, int v) {
    tag(field, 1, 4);
    be32(static_cast<uint32_t>(v));
  }
  void str(int field, HxString const& s) {
    tag(field, 3, 4 + s.length());
    be32(static_cast<uint32_t>(s.length()));
    std::memcpy(buf_ + len_, s.value(), static_cast<size_t>(s.length()));
    len_ += s.length();
  }
  void i64(int field, long long v) {
    tag(field, 7, 8);
    be32(static_cast<uint32_t>(static_cast<unsigned long long>(v) >> 32));
    be32(static_cast<uint32_t>(v));
  }
  void f32(int field, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    tag(field, 5, 4);
    be32(bits);
  }
  void byte(int field, int kind, char v) {
    tag(field, kind, 1);
    buf_[len_++] = v;
  }
  // An object record: its header now, its length once the body is written.
  int open(int field, int type) {
    tag(field, 4, 8);
    be32(static_cast<uint32_t>(type));
    be32(0);
    return len_;
  }
  void close(int at) {
    uint32_t n = hx_be32(static_cast<uint32_t>(len_ - at));
    std::memcpy(buf_ + at - 4, &n, 4);
  }
  void header() {
    ensure(4);
    be32(1);
  }

 private:
  void ensure(int n) {
    if (len_ + n <= cap_) return;
    cap_ = (len_ + n) * 4 + 16;
    buf_ = static_cast<char*>(std::realloc(buf_, static_cast<size_t>(cap_)));
  }
  void be32(uint32_t v) {
    v = hx_be32(v);
    std::memcpy(buf_ + len_, &v, 4);
    len_ += 4;
  }
  char* buf_ = nullptr;
  int len_ = 0;
  int cap_ = 0;
};

void hand_encode(Wide const& w, HandWriter& out) {
  out.reset();
  out.header();
  out.i32(1, w.i1);
  out.i32(2, w.i2);
  out.i32(3, w.i3);
  out.i32(4, w.i4);
  out.i32(5, w.i5);
  out.i32(6, w.i6);
  out.str(7, w.s1);
  out.str(8, w.s2);
  out.str(9, w.s3);
  out.str(10, w.s4);
  out.str(11, w.s5);
  out.str(12, w.s6);
  out.i64(13, w.l1);
  out.i64(14, w.l2);
  out.f32(15, w.f1);
  out.f32(16, w.f2);
  out.byte(17, 6, static_cast<char>(w.b1));
  out.byte(18, 6, static_cast<char>(w.b2));
  out.byte(19, 2, w.c1);
  int at = out.open(20, 9101);
  out.i32(1, w.inner.id);
  out.str(2, w.inner.label);
  out.f32(3, w.inner.ratio);
  out.close(at);
  at = out.open(21, 55);
  out.i32(1, w.names.length());
  for (int i = 0; i < w.names.length(); ++i) out.str(10, *w.names.get(i));
  out.close(at);
}

// Reads records of the hand-written form with the same bounds checks as the
// codec: a short or lying value ends the object.
struct HandReader {
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
  bool fixed(int n) { return left >= n; }
  int i32() {
    int v = _rc_int32(p);
    p += 4;
    left -= 4;
    return v;
  }
  bool str(HxString& s) {
    if (left < 4) return false;
    int n = _rc_int32(p);
    if (n < 0 || n > left - 4) return false;
    if (n > 0) s.copy(p + 4, n);
    p += 4 + n;
    left -= 4 + n;
    return true;
  }
  // Passes over a value of the given kind; false when it cannot.
  bool skip() {
    int n = kind == 1 || kind == 5 ? 4 : kind == 2 || kind == 6 ? 1 : kind == 7 ? 8 : -1;
    if (kind == 3 && left >= 4) n = 4 + _rc_int32(p);
    if (kind == 4 && left >= 8) n = 8 + _rc_int32(p + 4);
    if (n < 0 || n > left) return false;
    p += n;
    left -= n;
    return true;
  }
};

void hand_decode_inner(Inner& in, char const* p, int n) {
  HandReader r{p, n};
  while (r.next()) {
    bool ok = true;
    if (r.field == 1 && r.kind == 1 && r.fixed(4)) {
      in.id = r.i32();
    } else if (r.field == 2 && r.kind == 3) {
      ok = r.str(in.label);
    } else if (r.field == 3 && r.kind == 5 && r.fixed(4)) {
      uint32_t bits = static_cast<uint32_t>(r.i32());
      std::memcpy(&in.ratio, &bits, 4);
    } else {
      ok = r.skip();
    }
    if (!ok) return;
  }
}

void hand_decode_list(HxStringList& l, char const* p, int n) {
  HandReader r{p, n};
  if (!r.next() || r.field != 1 || r.kind != 1 || !r.fixed(4) || r.i32() < 1) return;
  while (r.next()) {
    auto* s = new HxString();
    bool ok = r.field == 10 && r.kind == 3 ? r.str(*s) : r.skip();
    l.append(s);
    if (!ok) return;
  }
}

bool hand_decode(Wide& w, char const* bytes, int size) {
  if (size < 4 || _rc_int32(bytes) != 1) return false;
  HandReader r{bytes + 4, size - 4};
  while (r.next()) {
    bool ok = true;
    int f = r.field, k = r.kind;
    if (k == 1 && f >= 1 && f <= 6 && r.fixed(4)) {
      int v = r.i32();
      int* ints[] = {&w.i1, &w.i2, &w.i3, &w.i4, &w.i5, &w.i6};
      *ints[f - 1] = v;
    } else if (k == 3 && f >= 7 && f <= 12) {
      HxString* strs[] = {&w.s1, &w.s2, &w.s3, &w.s4, &w.s5, &w.s6};
      ok = r.str(*strs[f - 7]);
    } else if (k == 7 && (f == 13 || f == 14) && r.fixed(8)) {
      (f == 13 ? w.l1 : w.l2) = _rc_int64(r.p);
      r.p += 8;
      r.left -= 8;
    } else if (k == 5 && (f == 15 || f == 16) && r.fixed(4)) {
      uint32_t bits = static_cast<uint32_t>(r.i32());
      std::memcpy(f == 15 ? &w.f1 : &w.f2, &bits, 4);
    } else if (k == 6 && (f == 17 || f == 18) && r.fixed(1)) {
      (f == 17 ? w.b1 : w.b2) = static_cast<unsigned char>(*r.p);
      ++r.p;
      --r.left;
    } else if (k == 2 && f == 19 && r.fixed(1)) {
      w.c1 = *r.p;
      ++r.p;
      --r.left;
    } else if (k == 4 && (f == 20 || f == 21) && r.fixed(8)) {
      int type = _rc_int32(r.p), n = _rc_int32(r.p + 4);
      if (type != (f == 20 ? 9101 : 55) || n < 0 || n > r.left - 8) return true;
      if (f == 20) {
        hand_decode_inner(w.inner, r.p + 8, n);
      } else {
        hand_decode_list(w.names, r.p + 8, n);
      }
      r.p += 8 + n;
      r.left -= 8 + n;
    } else {
      ok = r.skip();
    }
    if (!ok) return true;
  }
  return true;
}

std::string bytes_of(Wide& w) {
  w.pack();
  return std::string(w.packContents(), static_cast<size_t>(w.packSize()));
}

// The hand-written codec must write and read exactly what the codec does,
// or the comparison means nothing.
bool hand_codec_matches(benchmark::State& state) {
  static int verdict = -1;
  if (verdict < 0) {
    std::string want = bytes_of(*sample());
    HandWriter out;
    hand_encode(*sample(), out);
    Wide back;
    back.names.clear();
    hand_decode(back, want.data(), static_cast<int>(want.size()));
    verdict = want.size() == 421 && std::string(out.data(), static_cast<size_t>(out.size())) == want &&
              bytes_of(back) == want;
  }
  if (!verdict) state.SkipWithError("the hand-written codec does not match the codec's bytes");
  return verdict == 1;
}

void BM_Hand_Encode(benchmark::State& state) {
  if (!hand_codec_matches(state)) return;
  Wide const& w = *sample();
  HandWriter out;
  HxBenchRun run(state);
  for (auto _ : state) {
    hand_encode(w, out);
    benchmark::DoNotOptimize(out.data());
  }
  run.done(1, "encode");
}
BENCHMARK(BM_Hand_Encode);

void BM_Pack(benchmark::State& state) {
  Wide& w = *sample();
  HxBenchRun run(state);
  for (auto _ : state) {
    w.pack();
    benchmark::DoNotOptimize(w.packContents());
  }
  run.done(1, "pack", "encode");
}
BENCHMARK(BM_Pack);

void BM_Hand_DecodeNew(benchmark::State& state) {
  if (!hand_codec_matches(state)) return;
  std::string bytes = bytes_of(*sample());
  HxBenchRun run(state);
  for (auto _ : state) {
    Wide target;
    benchmark::DoNotOptimize(hand_decode(target, bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(1, "decode new");
}
BENCHMARK(BM_Hand_DecodeNew);

void BM_UnpackNew(benchmark::State& state) {
  std::string bytes = bytes_of(*sample());
  HxBenchRun run(state);
  for (auto _ : state) {
    Wide target;
    benchmark::DoNotOptimize(target.unpack(bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(1, "unpack new", "decode new");
}
BENCHMARK(BM_UnpackNew);

// Into one object over and over: the list is emptied each time (it would
// grow otherwise), the strings keep their buffers.
void BM_Hand_DecodeReused(benchmark::State& state) {
  if (!hand_codec_matches(state)) return;
  std::string bytes = bytes_of(*sample());
  Wide target;
  HxBenchRun run(state);
  for (auto _ : state) {
    target.names.clear();
    benchmark::DoNotOptimize(hand_decode(target, bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(1, "decode reused");
}
BENCHMARK(BM_Hand_DecodeReused);

void BM_UnpackReused(benchmark::State& state) {
  std::string bytes = bytes_of(*sample());
  Wide target;
  HxBenchRun run(state);
  for (auto _ : state) {
    target.names.clear();
    benchmark::DoNotOptimize(target.unpack(bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(1, "unpack reused", "decode reused");
}
BENCHMARK(BM_UnpackReused);

// ---- cost per field: records of 20 and of 80 int fields ----

#define HX_F4(a) int f##a##0 = a##0, f##a##1 = a##1, f##a##2 = a##2, f##a##3 = a##3;
#define HX_S4(C, a)                                                                              \
  hx_field(a##0, "f", &C::f##a##0), hx_field(a##1, "f", &C::f##a##1), hx_field(a##2, "f", &C::f##a##2), \
      hx_field(a##3, "f", &C::f##a##3)

class Fields20 : public HxRecord<Fields20> {
 public:
  HX_F4(1) HX_F4(2) HX_F4(3) HX_F4(4) HX_F4(5)
  int type() const override { return 9120; }
  static auto wire_fields() {
    return std::make_tuple(HX_S4(Fields20, 1), HX_S4(Fields20, 2), HX_S4(Fields20, 3), HX_S4(Fields20, 4),
                           HX_S4(Fields20, 5));
  }
};

class Fields80 : public HxRecord<Fields80> {
 public:
  HX_F4(1) HX_F4(2) HX_F4(3) HX_F4(4) HX_F4(5) HX_F4(6) HX_F4(7) HX_F4(8) HX_F4(9) HX_F4(10)
  HX_F4(11) HX_F4(12) HX_F4(13) HX_F4(14) HX_F4(15) HX_F4(16) HX_F4(17) HX_F4(18) HX_F4(19) HX_F4(20)
  int type() const override { return 9180; }
  static auto wire_fields() {
    return std::tuple_cat(
        std::make_tuple(HX_S4(Fields80, 1), HX_S4(Fields80, 2), HX_S4(Fields80, 3), HX_S4(Fields80, 4),
                        HX_S4(Fields80, 5), HX_S4(Fields80, 6), HX_S4(Fields80, 7), HX_S4(Fields80, 8),
                        HX_S4(Fields80, 9), HX_S4(Fields80, 10)),
        std::make_tuple(HX_S4(Fields80, 11), HX_S4(Fields80, 12), HX_S4(Fields80, 13), HX_S4(Fields80, 14),
                        HX_S4(Fields80, 15), HX_S4(Fields80, 16), HX_S4(Fields80, 17), HX_S4(Fields80, 18),
                        HX_S4(Fields80, 19), HX_S4(Fields80, 20)));
  }
};

template <class R>
void unpack_fields(benchmark::State& state, int fields, char const* name, char const* baseline) {
  R source;
  source.pack();
  std::string bytes(source.packContents(), static_cast<size_t>(source.packSize()));
  R target;
  HxBenchRun run(state);
  for (auto _ : state) benchmark::DoNotOptimize(target.unpack(bytes.data(), static_cast<int>(bytes.size())));
  run.done(fields, name, baseline);
}

void BM_UnpackPerField20(benchmark::State& state) { unpack_fields<Fields20>(state, 20, "field of 20", nullptr); }
BENCHMARK(BM_UnpackPerField20);

void BM_UnpackPerField80(benchmark::State& state) {
  unpack_fields<Fields80>(state, 80, "field of 80", "field of 20");
}
BENCHMARK(BM_UnpackPerField80);

}  // namespace

// The XML form of the same record against its binary form: packing, and
// unpacking into one object over and over. Allocations are counted per value
// element of the document (27 of them: 19 members, 3 of the nested record, 5
// strings of the list).
namespace {

int const kXmlValues = 27;

void BM_Binary_PackForXml(benchmark::State& state) {
  Wide& w = *sample();
  HxBenchRun run(state);
  for (auto _ : state) {
    w.pack();
    benchmark::DoNotOptimize(w.packContents());
  }
  run.done(kXmlValues, "binary pack");
}
BENCHMARK(BM_Binary_PackForXml);

void BM_PackXML(benchmark::State& state) {
  Wide& w = *sample();
  HxBenchRun run(state);
  for (auto _ : state) {
    w.packXML();
    benchmark::DoNotOptimize(w.packContents());
  }
  run.done(kXmlValues, "xml pack", "binary pack");
}
BENCHMARK(BM_PackXML);

void BM_Binary_UnpackForXml(benchmark::State& state) {
  std::string bytes = bytes_of(*sample());
  Wide target;
  HxBenchRun run(state);
  for (auto _ : state) {
    target.names.clear();
    benchmark::DoNotOptimize(target.unpack(bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(kXmlValues, "binary unpack");
}
BENCHMARK(BM_Binary_UnpackForXml);

// Reads the record's XML document, followed by tail, again and again.
void UnpackXml(benchmark::State& state, char const* tail, char const* label) {
  Wide& w = *sample();
  w.packXML();
  std::string text = "<pack>\n" + std::string(w.packContents(), static_cast<size_t>(w.packSize())) + "\n</pack>" + tail;
  Wide target;
  target.names.clear();
  if (target.unpackXML(text.data(), static_cast<int>(text.size())) != 0 || bytes_of(target) != bytes_of(w)) {
    state.SkipWithError("the XML form does not read back");
    return;
  }
  HxBenchRun run(state);
  for (auto _ : state) {
    target.names.clear();
    benchmark::DoNotOptimize(target.unpackXML(text.data(), static_cast<int>(text.size())));
  }
  run.done(kXmlValues, label, "binary unpack");
}

void BM_UnpackXML(benchmark::State& state) { UnpackXml(state, "", "xml unpack"); }
BENCHMARK(BM_UnpackXML);

// The same document with a comment after it, which leaves it to the full
// parser (as any document outside the writer's plain form: other bytes than
// ASCII, comments, character references).
void BM_UnpackXMLParser(benchmark::State& state) {
  UnpackXml(state, "<!---->", "xml unpack through the parser");
}
BENCHMARK(BM_UnpackXMLParser);

}  // namespace

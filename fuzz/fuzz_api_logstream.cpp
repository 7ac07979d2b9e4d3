// Arbitrary file bytes and offsets through the log stream reader: the first
// four bytes give the offset, the rest is the subjob's log file. The reader
// ends, leaves zero bytes out, and returns the offset after the bytes it
// read (or the offset itself at or past the end, -1 for a negative one).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "api/HxApiLogs.h"
#include "core/HxWorld.h"
#include "model/job/HxLog.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

class StreamWorld : public HxWorld {
 public:
  StreamWorld() {
    char tmpl[] = "/tmp/hxfuzzstream.XXXXXX";
    dir_ = ::mkdtemp(tmpl) != nullptr ? tmpl : "/tmp";
    config_ = dir_ + "/hx.conf";
    std::FILE* f = std::fopen(config_.c_str(), "w");
    if (f != nullptr) {
      std::fprintf(f, "worker_logpath = %s\n", dir_.c_str());
      std::fclose(f);
    }
    for (char const* d : {"/job", "/job/1000", "/job/1000/1234"}) ::mkdir((dir_ + d).c_str(), 0700);
  }
  HxString clientConfigPath() override { return HxString(config_.c_str()); }
  std::string file() const { return dir_ + "/job/1000/1234/1234_0.out"; }

 private:
  std::string dir_;
  std::string config_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  static StreamWorld* world = [] {
    auto* w = new StreamWorld;
    hx_set_world(w);
    return w;
  }();
  if (size < 4 || size > 1 << 16) return 0;
  int32_t offset = 0;
  std::memcpy(&offset, bytes, 4);
  std::FILE* f = std::fopen(world->file().c_str(), "wb");
  if (f == nullptr) return 0;
  size_t const n = size - 4;
  std::fwrite(bytes + 4, 1, n, f);
  std::fclose(f);

  HxString text("stale");
  int const got = hxstdoutstream(1234, 0, offset, text);
  if (offset < 0) {
    check(got == -1 && text.length() == 0);
    return 0;
  }
  size_t zeros = 0;
  for (size_t i = static_cast<size_t>(offset); i < n; ++i) zeros += bytes[4 + i] == 0;
  size_t const after = static_cast<size_t>(offset) < n ? n : static_cast<size_t>(offset);
  check(got == static_cast<int>(after));
  check(static_cast<size_t>(text.length()) + zeros == after - static_cast<size_t>(offset));
  for (int i = 0; i < text.length(); ++i) check(text.value()[i] != 0);
  return 0;
}

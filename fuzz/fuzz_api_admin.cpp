// Arbitrary bytes as a job archive read in every format, as the list text
// of a filter and as the host of a worker lock. Nothing crashes, leaks or
// reads out of bounds; a filter never holds an empty item or a separator,
// and a worker lock always selects by exactly one value.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "api/HxApiAdmin.h"
#include "api/HxApiWorkers.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

std::string const& archive_path() {
  static std::string const path = "/tmp/fuzz_api_admin." + std::to_string(getpid());
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  if (size > 1 << 16) return 0;
  char const* data = reinterpret_cast<char const*>(bytes);
  HxString const text(data, static_cast<int>(size));

  if (std::FILE* f = std::fopen(archive_path().c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    HxString const path(archive_path().c_str());
    for (int format : {0, 1, 2}) {
      HxJob job;
      check(hxrecoverjob(path, job, format) >= 0);
    }
    std::remove(archive_path().c_str());
  }

  auto filter = hxfilterparam("name", text);
  check((filter == nullptr) == (size == 0));
  if (filter != nullptr) {
    check(filter->fields().length() <= static_cast<int>(size));
    for (int i = 0; i < filter->fields().length(); ++i) {
      HxField const* field = filter->fields().get(i);
      check(field != nullptr);
      HxString const& v = field->value();
      check(v.length() + field->sign().length() >= 1);
      for (int k = 0; k < v.length(); ++k) check(v.get(k) != ',' && v.get(k) != '\t' && v.get(k) != '\n');
    }
  }

  HxFilter lock;
  _hx_worker_filter(text, lock);
  check(lock.fields().length() == 1);
  return 0;
}

// Time texts typed by users or read from files: the tokenizer and the parser
// must stay in bounds whatever the fields hold, and a parsed time written
// out again reads back to itself.
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "core/HxTime.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  HxString text(reinterpret_cast<char const*>(data), static_cast<int>(size));
  HxTime t(12345);
  t.ascii(text);
  t.counter();
  t.day();
  t.hour();
  HxTime u(12345);
  u.ascii_utc(text);
  if (u.value() != 0) {
    HxTime back(1);
    back.ascii_utc(u.ascii());
    if (back.value() != u.value()) std::abort();
  }
  return 0;
}

// The per-user clock-offset file lies in a directory everybody may write to:
// its contents are outside text. Whatever it holds, the difference read is
// a 32-bit number, 0 for anything that is not a decimal number.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/HxTime.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  static std::string const path = "/tmp/hxfuzz_offset." + std::to_string(getpid());
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  int diff = HxTime::readOffsetFile(HxString(path.c_str()));
  // A text that does not begin with a number gives 0.
  std::string text(reinterpret_cast<char const*>(data), size);
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  bool number = i < text.size() && text[i] >= '0' && text[i] <= '9';
  if (!number && diff != 0) __builtin_trap();
  return 0;
}

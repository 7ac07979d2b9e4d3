// Arbitrary item names and padding texts through the frame variables: the
// computation ends, gives ten values, keeps the name as the range, and no
// padded value is wider than the padding limit allows.
#include <cstddef>
#include <cstdint>

#include "api/HxApiLimits.h"
#include "api/HxApiWork.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > 4096) return 0;
  char const* text = reinterpret_cast<char const*>(data);
  // The first line is the padding text, the rest the item's name.
  size_t cut = 0;
  while (cut < size && text[cut] != '\n') ++cut;
  HxString const padding(text, static_cast<int>(cut));
  HxString const name(cut < size ? text + cut + 1 : text, cut < size ? static_cast<int>(size - cut - 1) : 0);
  HxFrameVariables const vars = _hx_frame_variables(name, padding);
  check(vars[4].second == name);
  check(_hx_frame_padding(padding) <= kHxMaxFramePadding);
  // A padded 32-bit number is at most the limit plus its sign wide.
  for (size_t i = 6; i < 10; ++i) check(vars[i].second.length() <= kHxMaxFramePadding + 11);
  return 0;
}

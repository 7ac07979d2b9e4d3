// Arbitrary text through the flat configuration scanner, the text form and
// the template rewriter.
#include <cstddef>
#include <cstdint>

#include "config/HxConfig.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1 << 20)) return 0;
  HxString text(reinterpret_cast<char const*>(data), static_cast<int>(size));
  HxConfig c;
  c.parse(text);
  HxString written = c.convert();
  HxConfig again;
  again.parse(written);
  // Each listed key is in the table, and listed once (string equality
  // stops at a NUL byte, so keys holding one are left out of the check).
  HxStringList keys;
  c.labels(keys);
  for (int i = 0; i < keys.length(); ++i) {
    HxString const& k = *keys.get(i);
    if (__builtin_strlen(k.value()) != static_cast<size_t>(k.length())) continue;
    if (!c.exists(k) || keys.find(k) != i) __builtin_trap();
  }
  HxString out = c.usetemplate(text);
  c.usetemplate(out);
  HxConfig copy(c);
  copy.inherit(again);
  copy.matchsubset(c);
  if (keys.length() > 0) copy.remove(*keys.get(0));
  return 0;
}

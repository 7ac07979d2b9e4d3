// Arbitrary text through the sectioned configuration reader: tokens, headers
// with range patterns, parents and reference expansion, and path maps read
// from the same text.
#include <cstddef>
#include <cstdint>

#include "config/HxConfigFile.h"
#include "config/HxPathMap.h"
#include "core/HxPath.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1 << 20)) return 0;
  HxString text(reinterpret_cast<char const*>(data), static_cast<int>(size));
  HxConfigFile f;
  if (size > 0 && (data[0] & 1)) f.default_section_name("direct");
  f.parse(text);
  f.parse(text);
  HxConfigHash* copy = f.export_hash();
  HxStringList names;
  f.keys(names);
  for (int i = 0; i < names.length() && i < 8; ++i) {
    HxConfig* s = f.config(*names.get(i));
    if (s == nullptr || copy->get(*names.get(i)) == nullptr) __builtin_trap();
    f._value(*names.get(i), *names.get(i), text);
  }
  delete copy;

  // The same text as a path map, written out, read back and applied.
  HxPathMap map;
  map.parse(text);
  HxPathMap back;
  back.parse(map.convert());
  HxPath(text).translate(back);
  return 0;
}

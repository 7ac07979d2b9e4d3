// Range text from outside: parsing, printing, chunking, reordering and both
// pattern splitters must stay within bounds and end.
#include <cstddef>
#include <cstdint>

#include "core/HxList.h"
#include "core/HxString.h"
#include "expr/HxRange.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  int knob = data[0];
  HxString text(reinterpret_cast<char const*>(data + 1), static_cast<int>(size - 1));

  HxRange r(text);
  // Reading a huge range is covered above; sorting and printing a million
  // members in an instrumented build only slows the search down.
  if (r.length() > 50000) return 0;
  HxRange::isrange(text);
  (void)r.has(text);
  r.binary();
  r.reverse();
  HxStringList chunks;
  r.chunk(knob % 7, chunks);
  HxStringList parts;
  r.partition(knob % 5, parts);
  HxString compact = r.value();
  // The compact text reads back as the same members.
  HxRange again(compact);
  again.value();
  if (again.length() != r.length()) __builtin_trap();
  for (int i = 0; i < r.length(); ++i)
    if (again.get(i) != r.get(i)) __builtin_trap();

  int start = 0, end = 0, step = 0;
  HxRange::patternsplit(text, start, end, step);
  HxStringList names;
  HxRange::patternsplit(knob % 6, text, names);
  return 0;
}

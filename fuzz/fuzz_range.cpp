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

  // Both splitters run on every input: they must keep within the library's
  // own bounds whatever the text names.
  int start = 0, end = 0, step = 0;
  HxRange::patternsplit(text, start, end, step);
  HxStringList names;
  HxRange::patternsplit(knob % 6, text, names);
  HxStringList budgeted;
  if (HxRange::patternsplit(0, text, budgeted, knob) && budgeted.length() > knob) __builtin_trap();

  HxRange r(text);
  if (HxRange::count(text) != r.length()) __builtin_trap();
  // Sorting and printing millions of members in an instrumented build only
  // slows the search down; reading them was covered above.
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
  return 0;
}

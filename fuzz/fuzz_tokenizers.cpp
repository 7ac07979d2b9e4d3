// Feeds arbitrary bytes to every splitter and tokenizer.
#include <cstddef>
#include <cstdint>

#include "expr/HxExpression.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1u << 16)) return 0;
  HxString text(reinterpret_cast<char const*>(data), static_cast<int>(size));
  HxString a, b;
  HxExpression::splitperiod(text, a, b);
  HxExpression::splitequal(text, a, b);
  HxExpression::splitbecomes(text, a, b);
  HxStringList list;
  HxExpression::splitslash(text, list);
  HxExpression::splitchar(text, size > 0 ? static_cast<char>(data[0]) : '-', list);
  HxExpression::splittab(text, list);
  HxExpression::splitspace(text, list);
  HxExpression::splitcomma(text, list);
  HxExpression::split(text, list);
  HxStringHash hash;
  HxExpression::split(text, hash);
  HxExpression::rangetokenize(text, list);
  HxExpression::commandtokenize(text, list);
  HxExpression::tokenize(text, list);
  HxExpression::callbacktokenize(text, list);
  HxExpression::valuetokenize(text, list);
  // Every piece comes from the text: none can be longer than it.
  for (int i = 0; i < list.length(); ++i)
    if (list.get(i)->length() > text.length() + 2) __builtin_trap();
  return 0;
}

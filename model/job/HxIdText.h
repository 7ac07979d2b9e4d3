#pragma once

// Helpers of the identifier text forms (internal to model/job).

#include <cstdlib>
#include <cstring>

#include "core/HxString.h"

namespace hx_id_text {

// Position of the first c in the text, or -1.
inline int find(HxString const& text, char c) {
  if (text.length() < 1) return -1;
  void const* at = std::memchr(text.value(), c, static_cast<size_t>(text.length()));
  return at == nullptr ? -1 : static_cast<int>(static_cast<char const*>(at) - text.value());
}

// The integer value (as HxString::integervalue reads it) of the text from
// position pos to its end. The integer value of the part before a separator
// that is neither blank, sign nor digit is that of the whole text, as the
// reading stops there.
inline int int_from(HxString const& text, int pos) {
  return pos >= text.length() ? 0 : std::atoi(text.value() + pos);
}

// Whether the text from pos to its end is exactly the one character c.
inline bool is_char(HxString const& text, int pos, char c) {
  return text.length() == pos + 1 && text.value()[pos] == c;
}

}  // namespace hx_id_text

#pragma once

// Helpers of the identifier text forms (internal to model/job).

#include <charconv>
#include <climits>
#include <cstdint>
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
//
// Read here as atoi reads it (white space, a sign, digits; a value beyond
// the long range stops at its end, and the result is its low 32 bits), without
// atoi's locale lookups: the identifier lists of commands are parsed by the
// hundred thousand.
inline int int_from(HxString const& text, int pos) {
  char const* p = text.value() + (pos < 0 ? 0 : pos);
  char const* const end = text.value() + text.length();
  while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  uint64_t v = 0;
  bool over = false;
  uint64_t const limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    uint64_t const d = static_cast<uint64_t>(*p - '0');
    if (over || v > (limit - d) / 10)
      over = true;
    else
      v = v * 10 + d;
  }
  if (over) v = limit;
  uint64_t const bits = negative ? 0 - v : v;
  return static_cast<int>(static_cast<uint32_t>(bits));
}

// Appends the decimal text of v at out; returns the end.
inline char* put_int(char* out, int v) { return std::to_chars(out, out + 12, v).ptr; }

// Whether the text from pos to its end is exactly the one character c.
inline bool is_char(HxString const& text, int pos, char c) {
  return text.length() == pos + 1 && text.value()[pos] == c;
}

}  // namespace hx_id_text

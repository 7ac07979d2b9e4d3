#pragma once

// The decode budget of the fuzz targets: far below the default one, so that
// an input of a megabyte (87,000 empty records of 12 bytes) reaches it. A
// decode under it claims no more than the budget, and allocates no more than
// a few times what it claimed: an allocation that no claim covers (an object
// made from a few bytes of input without asking) shows as growth beyond that.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/pack/HxPack.h"

#if __has_include(<sanitizer/allocator_interface.h>)
#include <sanitizer/allocator_interface.h>
#define HX_FUZZ_COUNTS_ALLOCATIONS 1
#endif

constexpr long long kHxFuzzBudget = 4 << 20;

class FuzzBudget {
 public:
  FuzzBudget() = default;
  FuzzBudget(FuzzBudget const&) = delete;
  FuzzBudget& operator=(FuzzBudget const&) = delete;

  bool spent() const { return budget_.spent(); }

  // Traps when the decode so far claimed more than the budget, or holds
  // more than it claimed allows for. The XML reader's own tree, which grows
  // with the text (text_bytes of it) rather than with what it decodes to,
  // is allowed for on top.
  void check(size_t text_bytes = 0) const {
    long long const claimed = budget_.claimed();
    if (claimed > kHxFuzzBudget) __builtin_trap();
    size_t const now = allocated();
    size_t const grown = now > before_ ? now - before_ : 0;
    size_t const allowed = 4 * static_cast<size_t>(claimed) + 64 * text_bytes + (size_t{1} << 20);
    if (grown > allowed) __builtin_trap();
  }

 private:
  static size_t allocated() {
#if defined(HX_FUZZ_COUNTS_ALLOCATIONS)
    return __sanitizer_get_current_allocated_bytes();
#else
    return 0;
#endif
  }

  size_t before_ = allocated();
  HxDecodeBudget budget_{kHxFuzzBudget};
};

// A big-endian word as four bytes.
inline std::string fuzz_be32(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}

// The body of a list record whose count claims two billion items and whose
// items are the one item record `item` repeated to fill a megabyte: the
// shape of a small message that asks for millions of objects.
inline std::string fuzz_repeated_items(std::string const& item) {
  std::string body = fuzz_be32(0x00010001u) + fuzz_be32(0x7fffffffu);
  while (!item.empty() && body.size() + item.size() <= (1u << 20)) body += item;
  return body;
}

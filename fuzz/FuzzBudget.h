#pragma once

// The decode budget of the fuzz targets: far below the default one, so that
// an input of a megabyte (87,000 empty records of 12 bytes) reaches it. A
// decode under it claims no more than the budget, and allocates no more than
// a few times what it claimed: an allocation that no claim covers (an object
// made from a few bytes of input without asking) shows as growth beyond that.
#include <cstddef>

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

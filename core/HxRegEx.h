#pragma once

#include <cstdint>

#include "core/HxList.h"
#include "core/HxString.h"

// A regular expression matched anywhere in a text. The pattern is compiled
// for every match and released at once, so no compiled form outlives a call.
class HxRegEx {
 public:
  // The caseless bit of the options word.
  static constexpr uint32_t kCaseless = 0x1;

  explicit HxRegEx(HxString const& pattern);

  // Non-zero matches without regard to case, zero restores exact case.
  void caseless(unsigned char on);
  uint32_t options() const { return options_; }
  HxString const& pattern() const { return pattern_; }
  // The compile error of the last match call; empty when it compiled.
  HxString const& error() const { return error_; }

  bool match(HxString const& text);
  // On a match appends every group of the pattern, 1, 2, ... (a group that
  // took no part gives an empty string); nothing when the pattern has more
  // than 33 groups. The list is not cleared first.
  bool match(HxString const& text, HxStringList& groups);

 private:
  bool run_(HxString const& text, HxStringList* groups);

  HxString pattern_;
  HxString error_;
  uint32_t options_ = 0;
};

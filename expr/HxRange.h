#pragma once

#include <vector>

#include "core/HxBase.h"
#include "core/HxList.h"
#include "core/HxString.h"

// A set of frame (or identifier) numbers written as range text: '1-100',
// '1-100x5' (every fifth), '1-10X3' (all but every third), '001-010,20'.
// Members keep the order they were written in until the range is sorted or
// reordered; duplicates are allowed. The range remembers the zero-padding
// width of the first number of the last text it read.
//
// Range text: items separated by ","; an item is a number, 'a-b', 'a-bxs'
// or 'a-bXs'. Numbers may carry a "-" sign; tab, line feed and space may
// stand before each number, before the "-" and before the "x". Reading stops
// at the first character that does not fit, keeping the complete items read.
class HxRange : public HxBase {
 public:
  HxRange() = default;
  explicit HxRange(HxString const& text);

  int type() const override { return 89; }

  // Replaces the members with those of the text.
  void parse(HxString const& text);
  void clear();
  // Appends the members of the text.
  void add(HxString const& text);
  void add(int value);

  bool has(int value) const;
  // Whether every member of the range text is a member (true when the text
  // names none).
  bool has(HxString const& text) const;
  // The member at that index, 0 outside the range.
  int get(int index) const;
  int length() const { return static_cast<int>(values_.size()); }
  int padding() const { return padding_; }

  void sort();
  void reverse();
  // First, last, then the midpoints of the index intervals breadth first:
  // an order that samples the whole range early.
  void binary();

  // Sorts and de-duplicates the range itself, then returns its compact text.
  HxString value();
  // Sorts and de-duplicates the range itself, then appends range texts of at
  // most `size` members each; a piece never spans two runs.
  void chunk(int size, HxStringList& out);
  // Chunks into about n pieces.
  void partition(int n, HxStringList& out);

  // Whether the text is a pure range text (digits, ",", "-", "x", "X" and
  // blanks, not starting with "x", "X" or ",").
  static bool isrange(HxString const& text);
  // Reads one item into its start, end and step.
  static void patternsplit(HxString const& text, int& start, int& end, int& step);
  // Expands a range text, or a list of bracket patterns such as
  // 'node1,shot[01-10]', into one string per member, ordered by mode:
  // 1 ascending then binary, 2 ascending, 3 descending, 4 binary of the
  // written order, 5 the written order reversed, other values as written.
  // With max_names at 0 or above, a text that names more members than that
  // appends nothing and gives false (the members are counted first). The
  // output stops before it would pass kHxMaxPatternBytes, and a range stops
  // before kHxMaxRangeMembers; either sets *past_bound.
  static bool patternsplit(int mode, HxString const& text, HxStringList& out, long long max_names = -1,
                           bool* past_bound = nullptr);
  // How many members add(text) would append to an empty range; *padding
  // receives the width of the first number, and *past_bound is set when
  // the text names more than kHxMaxRangeMembers (add stops before them).
  static long long count(HxString const& text, int* padding = nullptr, bool* past_bound = nullptr);

 private:
  // Sorts ascending and removes duplicates.
  void normalize_();
  // Marks runs of three or more equally spaced neighbours of the normalized
  // members: for each member the index of the last member of the run it
  // starts, or -1.
  std::vector<int> runs_() const;
  void reorder_(int mode);

  std::vector<int> values_;
  int padding_ = 0;
};

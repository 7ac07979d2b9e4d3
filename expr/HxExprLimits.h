#pragma once

// Bounds on reading outside text in the expression, range and lock-value
// code (one header for the whole of expr/). Input beyond a bound is treated as
// malformed and handled like any other malformed text of its kind; nothing
// crashes and nothing loops.

// Expression trees are evaluated, checked, printed and copied recursively,
// one call per level. Real expressions nest a handful of levels; a tree deeper
// than this (a long chain of unary or prefix operators, or thousands of
// right-grouped binary operators) is refused by the parsers, and the
// evaluators treat anything below this depth as absent, so the stack stays
// bounded whatever the text.
constexpr int kHxMaxExprDepth = 512;

// A range text names its members by bounds, so a few bytes ('1-2000000000')
// could ask for gigabytes. A range holds at most this many members read from
// text; an item that would pass the bound adds nothing and ends the reading.
// The bound sits far above any real job: a supervisor keeps one agenda record
// per frame, and jobs of a few million frames (long simulations, per-item
// processing) must read whole. Its members take at most 64 MB.
constexpr int kHxMaxRangeMembers = 1 << 24;

// Zero-padding width taken from the digit count of a range's first number.
// Real padding is a handful of digits; a longer run of leading zeros would
// make every printed or expanded member that wide, so the width is capped
// here (a 32-bit number with its sign needs at most 11 characters).
constexpr int kHxMaxRangePadding = 31;

// A range text ('1-1000') or a bracket pattern ('shot[1-1000]') expands into
// one string per member, each as long as the pattern itself. One expansion
// call stops before its output would pass this many bytes, so a short range
// or a long name with a wide range cannot exhaust memory: a bare range of
// over five million members expands to nothing. Ranges themselves, which
// hold plain numbers, go up to kHxMaxRangeMembers.
constexpr long long kHxMaxPatternBytes = 64LL << 20;
// What one expanded name costs beyond its text in that count: room for a
// 32-bit number in decimal and its sign.
constexpr int kHxDecimalNameBytes = 12;

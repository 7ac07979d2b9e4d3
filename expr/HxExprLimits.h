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

#pragma once

// Bounds on decoding outside input in the core library (one header for the
// whole of core/). Input beyond a bound is
// treated as malformed: the rest of the object is dropped, nothing crashes.

// Nested object records are decoded recursively; a chain deeper than this
// (only a hostile peer sends one: real records nest a handful of levels) drops
// the rest of the object that holds it instead of exhausting the stack.
constexpr int kHxMaxPackDepth = 100;

// XML documents are read into a tree of nodes; deeper nesting is refused as
// malformed so that building and destroying the tree stays bounded.
constexpr int kHxMaxXmlDepth = 100;

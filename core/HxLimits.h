#pragma once

#include <cstddef>

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

// Whole files (and positioned reads of logs) are read into one HxString,
// whose size is a signed 32-bit count and whose capacity grows to four times
// the text: a longer read is refused (or, for a positioned read, stops there)
// instead of overflowing the count.
constexpr int kHxMaxFileBytes = 256 * 1024 * 1024;

// Symbolic links followed from a path before giving up, as the system does
// (ELOOP), so that a loop of links ends.
constexpr int kHxMaxLinkHops = 40;

// Package values (job data) nest hashes and arrays; real ones go a few levels
// deep. Reading compact text or package XML stops at this depth: the rest of
// the text is dropped as malformed, so a hostile job cannot exhaust the stack.
constexpr int kHxMaxPackageDepth = 256;

// The user database's entries are short; the buffer for one entry doubles
// from the system's hint while the lookup asks for more room, up to this, so
// a broken database cannot make the lookup allocate without end.
constexpr size_t kHxMaxPasswdBuffer = 1 << 20;

// What the objects made while decoding one message (or one file) may claim,
// in bytes: every list item, hash entry and message content claims its
// object before it is made, and every text buffer before it grows. An empty
// record of 12 bytes on the wire becomes a job of 4 KB, so a frame within
// its own limit could otherwise ask for hundreds of gigabytes. Past the
// bound the decoder drops the rest, as it does for malformed input, and a
// received message counts as one that did not decode. Real records carry
// their values on the wire and decode to about three times their size: a
// reply of 10,000 jobs, each with 4 subjobs and 20 work items (70 MB on the
// wire), claims 0.21 GB, a tenth of this; with 100 work items each (270 MB)
// 0.77 GB. A message at the bound holds 2 GiB of records, plus its frame
// (at most 1 GiB) while it is decoded.
constexpr long long kHxMaxDecodeBytes = 2LL << 30;

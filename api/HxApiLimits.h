#pragma once

// Bounds on what the client API accepts from its callers' texts (one header
// for api/). Input beyond a bound is handled like other malformed input of
// its kind: nothing is appended, nothing crashes.

// One identifier text names a product of two ranges ('1-16777216.1-16777216'
// asks for 2^48 job and subjob pairs), each range already bounded on its own.
// A text whose product passes this many identifiers appends nothing: the
// bound equals the largest single range, so every text of one range still
// reads whole, and a real selection of jobs and their subjobs stays far
// below it. Its identifiers take about a gigabyte.
constexpr long long kHxMaxIdsPerCall = 1LL << 24;

// Symbolic links followed from the client configuration path before giving
// up, as the kernel does (ELOOP), so that a loop of links ends.
constexpr int kHxMaxLinkHops = 40;

// Zero-padding width of the frame variables, taken from the job's
// HX_FRAME_PADDING. A 32-bit frame number needs 11 characters; a width far
// beyond that only makes every padded variable huge (a width of two billion
// would ask for gigabytes per variable), so a larger width is taken as this
// one. It leaves room for any real layout of frame numbers in file names.
constexpr int kHxMaxFramePadding = 255;

#pragma once

// Bounds on what the client API accepts from its callers' texts (one header
// for api/). Input beyond a bound is handled like other malformed input of
// its kind (nothing is appended, nothing crashes) or fails the call with an
// error that names the bound.

// Identifiers one call may name, over all of its texts. A few bytes of range
// text name millions of them ('1-16777216', or '1-4096.1-4096' for job and
// subjob pairs), and the command functions read every text both as job ids
// and as work ids: each identifier costs about 106 bytes made and 32 more
// while the request is packed, so one call naming 2^24 of each took 3.5 GB,
// and a few such texts could exhaust any host. Past this many (job ids and
// work ids counted together, before any is made) the call fails and sends
// nothing; one text read on its own past it appends nothing. A million
// identifiers keep one call near 150 MB and stay far above any real
// selection: a queue of tens of thousands of jobs is large, and a text
// naming half a million jobs (each also read as a work id) still passes.
constexpr long long kHxMaxIdsPerCall = 1LL << 20;

// Zero-padding width of the frame variables, taken from the job's
// HX_FRAME_PADDING. A 32-bit frame number needs 11 characters; a width far
// beyond that only makes every padded variable huge (a width of two billion
// would ask for gigabytes per variable), so a larger width is taken as this
// one. It leaves room for any real layout of frame numbers in file names.
constexpr int kHxMaxFramePadding = 255;

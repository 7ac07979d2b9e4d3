#pragma once

// Bounds on reading outside input in the job model (one header for the whole
// of model/job/). Files of the job log tree are written by workers and the
// supervisor, possibly of other users; input beyond a bound is handled like
// other malformed input, never by a crash.

// One read of a history file appends at most this many entries. Each entry
// is a heap record of a few hundred bytes, and a line of two bytes makes one:
// a history file of the largest readable size would otherwise ask for tens
// of gigabytes. Real histories hold a few lines per work item; reading stops
// at this count, keeping the earliest entries.
constexpr int kHxMaxHistoryEntries = 1 << 19;

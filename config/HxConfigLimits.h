#pragma once

// Bounds on reading configuration texts (one header for the whole of
// config/). Configuration files and texts may come from other users or from
// the network; input beyond a bound is handled like other malformed input.

// The login environment of another user is read from the output of su. A
// listing is a few kilobytes; reading stops here so that a login script that
// never stops printing cannot exhaust memory (the listing is then cut short).
constexpr int kHxEnvMaxCaptureBytes = 16 << 20;

// Buffer for the working directory of a captured environment: a directory
// whose path is longer is not recorded (the old value stays).
constexpr int kHxEnvCwdBytes = 10240;

// Flat configuration files are read whole into memory. Real files are a few
// kilobytes; a larger file counts as unreadable, so that a huge file cannot
// exhaust memory and none is scanned cut short in the middle of a line.
constexpr int kHxMaxConfigFileBytes = 64 << 20;

// Section-qualified references ($s.k) are expanded recursively. A chain of
// references deeper than this is left unexpanded at that point, so that the
// stack stays bounded whatever the file holds.
constexpr int kHxMaxConfigRefDepth = 64;

// Every value that references insert counts against this budget per parse
// (or per call of the expander). References can double a value at each
// step ('b = $s.a$s.a', 'c = $s.b$s.b', ...); once the budget is spent,
// further references stay as written, so time and memory stay linear.
constexpr int kHxMaxConfigExpansionBytes = 16 << 20;

// A header expands to one section per name ('node[1-1000]'). Real files hold
// a handful of sections, a farm's worth at most; a parse that would hold more
// sections than this stops at that header, keeping what it has read, as it
// does at any other line it cannot read.
constexpr int kHxMaxConfigSections = 10000;

// Headers may name sections that exist already, so many short headers
// ('[n[1-9999]]' again and again) would cost time out of all proportion to
// the text. The names all headers of one parse expand to stay below this
// total (twenty mentions of every section a parse may hold); the header
// that would pass it ends the parse like a line that cannot be read.
constexpr long long kHxMaxConfigHeaderNames = 20LL * kHxMaxConfigSections;

// A header that names many sections stores every option below it, and every
// option of its parents, once per section. The keys and values a parse
// stores, each counted with a fixed overhead for its entry, stay below this
// total; the line that would pass it ends the parse like a line that cannot
// be read.
constexpr long long kHxMaxConfigStoredBytes = 64LL << 20;
constexpr int kHxConfigOptionOverhead = 64;

// The highest TCP or UDP port: a supervisor entry "host:port" with a larger
// number is not a host and port (it stays whole, and fails to connect).
constexpr int kHxMaxPort = 65535;

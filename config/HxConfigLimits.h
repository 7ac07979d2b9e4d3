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

#pragma once

#include "core/HxString.h"

// The cipher text (hexadecimal digits) of a clear-text password under the
// supervisor's built-in public key; the same text always gives the same
// cipher, and the empty text gives the empty text.
HxString hxencryptpassword(HxString const& text);

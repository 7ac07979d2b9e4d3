#pragma once

#include "core/HxString.h"

// The cipher text (hexadecimal digits) of a clear-text password under the
// supervisor's built-in public key; the same text always gives the same
// cipher, and the empty text gives the empty text.
HxString hxencryptpassword(HxString const& text);

// Registers a new password for a user with the supervisor (request 1011):
// only its cipher text travels, and the clear text is kept nowhere beyond
// the call. An empty user or domain stands for the sending user or domain.
// 1 on success; 0 when the supervisor cannot be reached, refuses (tag 3) or
// answers with an error (tag 4). Nothing is printed and the API error is
// left alone.
int hxupdatepassword(HxString const& user, HxString const& domain, HxString const& password);

// Whether the sending user has a valid password registered (request 1032,
// judged by the supervisor from the envelope's user and domain): 0 when the
// supervisor cannot be reached, refuses or answers with an error. Silent
// like hxupdatepassword.
int hxcheckpassword();

#pragma once

#include <cstdint>

#include "core/HxString.h"

// The small per-user files the client keeps in the shared temporary
// directory (the supervisor found last, the clock offset). Anyone can create
// names there, so nothing is written through a name that may already exist
// and nothing is believed that another user could have put there.

// Replaces the file's contents with text: a new file beside it, created
// exclusively with mode 0600, is renamed into place, so a link or file
// planted under the name is replaced, never written through. False when it
// cannot be written (nothing is left behind).
bool hx_cache_save(HxString const& path, HxString const& text);

// Reads up to kHxMaxCacheFileBytes of the file when, opened without
// following a link, it is a regular file of this user that neither group nor
// others may write; its modification time (Unix seconds) goes to mtime.
// False for anything else.
bool hx_cache_load(HxString const& path, HxString& text, int64_t& mtime);

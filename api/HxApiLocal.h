#pragma once

#include "core/HxString.h"

// API functions that need no supervisor.

// The value of a named command or administration action; 0 for a name that
// the table lacks (names compare exactly, case included).
int hxCONST(HxString const& name);

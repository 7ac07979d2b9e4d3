#pragma once

#include "core/HxString.h"

class HxConfig;

// Conversion of configuration parameters between their number and word
// forms, and a sorted display of a whole configuration.

// The other form of a flag parameter's value: the words of a number, the
// number of a list of words. Empty when the name is not a flag parameter.
HxString hx_flags_to_string_or_integer(HxString const& name, HxString const& value);

// The other form of a flag or enumeration parameter's value; any other
// parameter's value comes back unchanged.
HxString hx_conf_param_to_string_or_integer(HxString const& name, HxString const& value);

// Order of HxString (empty first, then byte order): 1, -1 or 0. Shaped for
// HxStringList::sort.
int hx_cmp_strings(HxString const* a, HxString const* b);

// Prints the configuration to standard output, sorted by parameter name, with
// the other form of each flag or enumeration value beside it.
void hxdisplayconfig(HxConfig const& config);

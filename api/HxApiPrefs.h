#pragma once

#include "core/HxList.h"
#include "core/HxString.h"
#include "model/farm/HxPreference.h"

// Central preferences, pipeline variables and the values of a job tag, as
// the supervisor keeps them in its database. Each gives 1 or 0.
//
// The reading requests empty the caller's list first (so a failed call
// leaves it empty), then append the reply's rows or values. An unreachable
// supervisor is "ERROR: unable to contact supervisor." on standard error; an
// error reply sets the API error; blank or foreign content is a line.
int hx_get_preferences(HxPreference const& pref, HxDbRows& rows);  // 1501
int hx_get_pipeline_variables(HxStringList const& names, HxDbRows& rows);  // 1504
int hxjobtagvalues(HxString const& tag, HxStringList& values);  // 119

// The changing requests: only an error reply (which sets the API error)
// fails; the reply's content is not read. Unreachable: the line.
int hx_set_preference(HxPreference const& pref);     // 1502
int hx_delete_preference(HxPreference const& pref);  // 1503

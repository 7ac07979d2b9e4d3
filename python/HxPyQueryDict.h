#pragma once

// Dictionaries of the query, command and modify functions: hosts, logs,
// history entries and command results going to Python; fields, filters,
// orders, queries, commands and modify commands coming from it. Every
// function here is called with the interpreter lock held. Converters from
// Python skip values of another type than they read; what the caller's own
// objects raise while they are read (a sequence's __len__ or __getitem__, a
// key's __hash__ or __eq__, a mapping's keys()) fails the conversion with
// that exception set, so that nothing is sent. Converters to Python give a
// new reference, or null with an exception set when memory runs out.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/HxString.h"
#include "model/farm/HxAdmin.h"
#include "model/farm/HxHost.h"
#include "model/job/HxCommand.h"
#include "model/job/HxHistory.h"
#include "model/job/HxJob.h"
#include "model/job/HxLog.h"
#include "model/job/HxQuery.h"
#include "model/job/HxResult.h"
#include "model/job/HxSubjob.h"

// ---- records to dictionaries ------------------------------------------------

PyObject* _hx_py_host_dict(HxHost* host);
PyObject* _hx_py_log_dict(HxLog* log);
// One history entry; "stamp" is "None" for an unset time.
PyObject* _hx_py_history_dict(HxHistory* history);
// "jobids", "workids" and "hostnames", each only when its list is not empty;
// a null result gives {}.
PyObject* __hx_py_result_dict(HxResult* result);

// ---- dictionaries to records -------------------------------------------------

// New records owned by the caller, or null when the argument is null or not
// a dict (dict subclasses are accepted); null with an exception set when
// reading failed. __hx_py_dict_order is false in the same two cases.
HxField* _hx_py_dict_field(PyObject* dict);
HxFilter* _hx_py_dict_filter(PyObject* dict);
bool __hx_py_dict_order(PyObject* dict, HxOrder* order);
HxOrder* _hx_py_dict_order(PyObject* dict);
HxQuery* _hx_py_dict_query(PyObject* dict);
// A query dictionary: a dict with "fields" or "filters" holding a sequence.
HxQuery* _hx_py_parse_query(PyObject* object);

// The positional query form: [fields], [filters], [options] from args[at...].
// False with an exception set when reading failed.
[[nodiscard]] bool hx_py_positional_query(PyObject* args, Py_ssize_t at, HxQuery& query);

// A dict of filter name to values appended to filters: a tuple or list gives
// one field per item that is not None; a dict gives the filter that dict
// describes (dict_is_filter) or one field with the empty text; any other
// value one field from its text. False with an exception set when reading
// failed.
[[nodiscard]] bool hx_py_filters(PyObject* dict, HxFilterList& filters, bool dict_is_filter);

bool __hx_py_dict_command(PyObject* dict, HxCommand* command);
HxCommand* _hx_py_dict_command(PyObject* dict);
// A command dictionary: a dict holding "restrictions", "background", "limit"
// or "action", or "filters", "jobids", "workids" or "groups" as a sequence.
HxCommand* _hx_py_parse_command(PyObject* object);

// An administration order: the order keys, then "username", "userdomain",
// "password", "group", "method", "userlist", "workers" and "config" (each
// section a configuration dict). Null for anything but a dict, and with an
// exception set when reading failed. Defined with the administration
// functions.
HxAdminOrder* _hx_py_dict_admin_order(PyObject* dict);

// Null when the argument is not a dict, or when it has neither a sequence
// "fields" nor any of the top-level modify keys; null with an exception set
// when reading failed, also when its job template or package cannot be read
// (nested without end): such a command is not sent.
HxModifyCommand* _hx_py_dict_modifycommand(PyObject* dict);

// The text of an identifier argument: a str's text or an int's decimal
// text. False for any other value and for an int outside the 32-bit range,
// which would otherwise name another job.
bool hx_py_id_text(PyObject* item, HxString& text);
// An int within the 32-bit range.
bool hx_py_int32(PyObject* item, int& value);

#pragma once

// Jobs, work items, subjobs, callbacks and path maps as Python dictionaries,
// both ways. Called with the interpreter lock held.
//
// Readers (dict to record) give a new record owned by the caller, or null:
// null with no exception set when the argument is null or not a dict (the
// caller decides what to report), null with an exception set when reading
// failed (a package or a "children" list nested deeper than a record can be
// read back: RecursionError; memory). Keys are read in each record's own
// order, absent keys keep the constructor's values, unknown keys are
// ignored.
//
// Writers (record to dict) give a new dict, {} for a null record, or null
// with an exception set.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

class HxCallback;
class HxJob;
class HxPathMap;
class HxSubjob;
class HxWork;

HxWork* _hx_py_dict_work(PyObject* dict);
HxSubjob* _hx_py_dict_subjob(PyObject* dict);
HxCallback* _hx_py_dict_callback(PyObject* dict);
// No "directmap" key gives an empty map; a "directmap" that is not a dict
// gives null (no exception).
HxPathMap* _hx_py_dict_pathmap(PyObject* dict);
HxJob* _hx_py_dict_job(PyObject* dict);
// Sets how deep "children" nest in the job dicts this thread reads now, and
// gives what it was: a module call made while another one on the same
// thread reads a job dict (from Python code that reading runs) starts from
// 0 and puts the outer call's depth back when it ends.
int _hx_py_exchange_job_depth(int depth);

PyObject* _hx_py_work_dict(HxWork const* work);
PyObject* _hx_py_subjob_dict(HxSubjob const* subjob);
PyObject* _hx_py_callback_dict(HxCallback const* callback);
// {} for an empty map, else {"directmap": {source: replacement}} in the
// hash's slot order.
PyObject* _hx_py_pathmap_dict(HxPathMap const* map);
PyObject* _hx_py_job_dict(HxJob const* job);

// The fields of a work report: "pid", "id", "subid", "host", "name",
// "status", "address", "result", "resultpackage" and nothing else. False
// with an exception set when the package could not be read.
bool _hx_py_dict_work_report(PyObject* dict, HxWork& work);
// The fields of a job report: "id", "status", "data", "package", "result",
// "resultpackage". False with an exception set on failure.
bool _hx_py_dict_subjob_report(PyObject* dict, HxSubjob& subjob);

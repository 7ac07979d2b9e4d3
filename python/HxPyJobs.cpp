// Module functions that move whole jobs (submission, archive files) and
// those that a job's own process uses on a worker: its assignment, agenda
// items, reports, ids and path map.
#include <climits>
#include <cstdio>
#include <memory>

#include "api/HxApiAdmin.h"
#include "api/HxApiAssign.h"
#include "api/HxApiLocal.h"
#include "api/HxApiReply.h"
#include "api/HxApiSubmit.h"
#include "api/HxApiWork.h"
#include "model/job/HxAssignment.h"
#include "model/job/HxJob.h"
#include "python/HxPyConvert.h"
#include "python/HxPyGil.h"
#include "python/HxPyJobDict.h"
#include "python/HxPyModule.h"

namespace {

// A line on standard output, flushed at once so that it keeps its place
// among the interpreter's own output.
void out_line(char const* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}


}  // namespace

// ---- whole jobs ------------------------------------------------------------

PyObject* _hx_py_submit(PyObject*, PyObject* args) {
  PyObject* list = nullptr;
  PyObject* flag = nullptr;
  if (!PyArg_ParseTuple(args, "OO!", &list, &PyBool_Type, &flag)) return nullptr;
  if (!PyList_Check(list)) {
    PyErr_SetString(PyExc_TypeError, "submit() takes a list of job dictionaries");
    return nullptr;
  }
  HxJobList in;
  // Items are read by index below the list's current size: converting one
  // may run code that changes the list.
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    HxPyRef const item = HxPyRef::borrowed(PyList_GET_ITEM(list, i));
    HxJob* job = _hx_py_dict_job(item.get());
    if (job != nullptr) in.append(job);
    else if (PyErr_Occurred()) return nullptr;  // nothing is sent
  }
  HxJobList out;
  unsigned char variant = flag == Py_True ? 1 : 0;
  int ok = hx_py_released([&] { return hxsubmit(in, out, variant); });
  if (!ok) Py_RETURN_FALSE;
  return hx_py_list_of(out, _hx_py_job_dict);
}

PyObject* _hx_py_archivejob(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) < 3) {
    PyErr_SetString(PyExc_TypeError, "archivejob() takes a path, a job dictionary and a format");
    return nullptr;
  }
  HxString path;
  if (!hx_py_path(PyTuple_GET_ITEM(args, 0), path)) return nullptr;
  std::unique_ptr<HxJob> job(_hx_py_dict_job(PyTuple_GET_ITEM(args, 1)));
  if (job == nullptr) return PyErr_Occurred() ? nullptr : PyLong_FromLong(0);
  PyObject* f = PyTuple_GET_ITEM(args, 2);
  if (!_py_is_int(f) && !PyUnicode_Check(f)) return PyLong_FromLong(0);
  int format = hx_py_kind_int(f);
  // 1 binary records, 2 XML; the API would take any other value as binary.
  if (format != 1 && format != 2) return PyLong_FromLong(0);
  int result = hx_py_released([&] { return hxarchivejob(path, *job, format); });
  return PyLong_FromLong(result);
}

PyObject* _hx_py_recoverjob(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) < 1) return PyLong_FromLong(0);
  HxString path;
  if (!hx_py_path(PyTuple_GET_ITEM(args, 0), path)) return nullptr;
  HxJob job;
  int result = hx_py_released([&] { return hxrecoverjob(path, job, 0); });
  if (result <= 0) return PyLong_FromLong(0);
  return _hx_py_job_dict(&job);
}

// ---- the job process on a worker -------------------------------------------

PyObject* _hx_py__assignment(PyObject*, PyObject* args) {
  // Later arguments override the fields that earlier ones set.
  std::unique_ptr<HxAssignment> assignment(new HxAssignment);
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
    PyObject* record = PyTuple_GET_ITEM(args, i);
    if (!PyBytes_Check(record)) {
      _hx_api_line("ERROR: PyBytes_AsStringAndSize() returned -1");
      continue;
    }
    char* bytes = PyBytes_AS_STRING(record);
    Py_ssize_t n = PyBytes_GET_SIZE(record);
    // A record longer than the wire can state is not an assignment.
    if (n > INT_MAX) continue;
    assignment->unpack(bytes, static_cast<int>(n));
  }
  _hx_set_assign(assignment.release());
  Py_RETURN_NONE;
}

PyObject* _hx_py__setjob(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) >= 1) {
    HxString path;
    if (!hx_py_path(PyTuple_GET_ITEM(args, 0), path)) return nullptr;
    _hx_set_job(path);
  }
  return PyLong_FromLong(0);
}

PyObject* _hx_py_requestwork(PyObject*, PyObject*) {
  HxWork work;
  hx_py_released([&] { return hxrequestwork(work); });
  return _hx_py_work_dict(&work);
}

PyObject* _hx_py_reportwork(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) < 1) Py_RETURN_NONE;
  PyObject* dict = PyTuple_GET_ITEM(args, 0);
  if (!PyDict_Check(dict)) {
    out_line("ERROR: unable to report back work status.");
    Py_RETURN_NONE;
  }
  HxWork work;
  if (!_hx_py_dict_work_report(dict, work)) return nullptr;
  hx_py_released([&] { return hxreportwork(work); });
  Py_RETURN_NONE;
}

PyObject* _hx_py_reportjob(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) < 1) Py_RETURN_NONE;
  PyObject* x = PyTuple_GET_ITEM(args, 0);
  if (PyUnicode_Check(x)) {
    HxStatus status(_py_string(x));
    hx_py_released([&] { return hxreportjob(status); });
  } else if (PyDict_Check(x)) {
    HxSubjob subjob;
    if (!_hx_py_dict_subjob_report(x, subjob)) return nullptr;
    hx_py_released([&] { return hxreportjob(subjob); });
  } else {
    out_line(
        "ERROR: unable to report back job status-- "
        "input not a string representing status or a dict "
        "representing a subjob");
  }
  Py_RETURN_NONE;
}

PyObject* _hx_py_workerpathmap(PyObject*, PyObject*) {
  HxPathMap map = hx_py_released([] { return hxworkerpathmap(); });
  return _hx_py_pathmap_dict(&map);
}

// The job and subjob are converted from the assignment this call holds on
// to: another thread that installs a new assignment meanwhile does not free
// it.
PyObject* _hx_py_jobobj(PyObject*, PyObject*) {
  std::shared_ptr<HxJob const> job = hx_py_released([] { return hxjobobj(); });
  return job != nullptr ? _hx_py_job_dict(job.get()) : PyDict_New();
}

PyObject* _hx_py_subjobobj(PyObject*, PyObject*) {
  std::shared_ptr<HxSubjob const> subjob = hx_py_released([] { return hxsubjobobj(); });
  return subjob != nullptr ? _hx_py_subjob_dict(subjob.get()) : PyDict_New();
}

PyObject* _hx_py_jobid(PyObject*, PyObject*) {
  return PyLong_FromLong(hx_py_released([] { return hxjobid(); }));
}

PyObject* _hx_py_subid(PyObject*, PyObject*) {
  return PyLong_FromLong(hx_py_released([] { return hxsubid(); }));
}

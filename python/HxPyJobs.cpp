// Module functions that move whole jobs (submission, archive files) and
// those that a job's own process uses on a worker: its assignment, agenda
// items, reports, ids and path map.
#include <memory>

#include "api/HxApiAdmin.h"
#include "api/HxApiSubmit.h"
#include "model/job/HxJob.h"
#include "python/HxPyConvert.h"
#include "python/HxPyGil.h"
#include "python/HxPyJobDict.h"
#include "python/HxPyModule.h"

namespace {

PyObject* dicts_of(HxJobList const& jobs) {
  PyObject* out = PyList_New(jobs.length());
  for (int i = 0; out != nullptr && i < jobs.length(); ++i) {
    PyObject* item = _hx_py_job_dict(jobs.get(i));
    if (item == nullptr) Py_CLEAR(out);
    else PyList_SET_ITEM(out, i, item);
  }
  return out;
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
    PyObject* item = PyList_GET_ITEM(list, i);
    Py_INCREF(item);
    HxJob* job = _hx_py_dict_job(item);
    Py_DECREF(item);
    if (job != nullptr) in.append(job);
    else if (PyErr_Occurred()) return nullptr;  // nothing is sent
  }
  HxJobList out;
  unsigned char variant = flag == Py_True ? 1 : 0;
  int ok = hx_py_released([&] { return hxsubmit(in, out, variant); });
  if (!ok) Py_RETURN_FALSE;
  return dicts_of(out);
}

PyObject* _hx_py_archivejob(PyObject*, PyObject* args) {
  if (PyTuple_GET_SIZE(args) < 3) {
    PyErr_SetString(PyExc_TypeError, "archivejob() takes a path, a job dictionary and a format");
    return nullptr;
  }
  HxString path = _py_string(PyTuple_GET_ITEM(args, 0));
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
  HxString path = _py_string(PyTuple_GET_ITEM(args, 0));
  HxJob job;
  int result = hx_py_released([&] { return hxrecoverjob(path, job, 0); });
  if (result <= 0) return PyLong_FromLong(0);
  return _hx_py_job_dict(&job);
}

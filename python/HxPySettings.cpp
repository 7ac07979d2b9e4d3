// Module functions of the API settings, the version and last error, pings,
// the supervisor's clock, configurations, job types, path conversion,
// global resources and the administrator question.
#include "api/HxApiLocal.h"
#include "api/HxApiPing.h"
#include "api/HxApiQuery.h"
#include "api/HxApiState.h"
#include "api/HxApiWorkers.h"
#include "config/HxConfig.h"
#include "config/HxPathMap.h"
#include "model/farm/HxResource.h"
#include "python/HxPyConvert.h"
#include "python/HxPyGil.h"
#include "python/HxPyJobDict.h"
#include "python/HxPyModule.h"
#include "python/HxPyQueryDict.h"

PyObject* _hx_py_version(PyObject*, PyObject*) {
  HxString text = hx_py_released([] { return hxversion(); });
  return hx_py_str(text);
}

PyObject* _hx_py_setsupervisor(PyObject*, PyObject* args) {
  char const* host = nullptr;
  if (!PyArg_ParseTuple(args, "s", &host)) return nullptr;
  HxString text(host);
  hx_py_released([&] { hxsetsupervisor(text); });
  Py_RETURN_NONE;
}

PyObject* _hx_py_getsupervisor(PyObject*, PyObject*) {
  HxString text = hx_py_released([] { return hxgetsupervisor(); });
  return hx_py_str(text);
}

PyObject* _hx_py_settimeout(PyObject*, PyObject* args) {
  int ms = 0;
  if (!PyArg_ParseTuple(args, "i", &ms)) return nullptr;
  hx_py_released([ms] { hxsettimeout(ms); });
  Py_RETURN_NONE;
}

PyObject* _hx_py_gettimeout(PyObject*, PyObject*) {
  int ms = hx_py_released([] { return hxgettimeout(); });
  return PyLong_FromLong(ms);
}

PyObject* _hx_py_setlogpath(PyObject*, PyObject* args) {
  char const* path = nullptr;
  if (!PyArg_ParseTuple(args, "s", &path)) return nullptr;
  HxString text(path);
  hx_py_released([&] { hxsetclientlogpath(text); });
  Py_RETURN_NONE;
}

PyObject* _hx_py_getlogpath(PyObject*, PyObject*) {
  HxString text = hx_py_released([] { return hxgetclientlogpath(); });
  return hx_py_str(text);
}

PyObject* _hx_py_error(PyObject*, PyObject*) {
  // A copy taken under the API state's lock: another thread's failure
  // cannot rewrite the text while it is read.
  HxString text = hx_py_released([] { return hxerror().value(); });
  return hx_py_str(text);
}

PyObject* _hx_py_ping(PyObject*, PyObject* args) {
  char const* host = nullptr;
  if (!PyArg_ParseTuple(args, "z", &host)) return nullptr;
  HxString name(host != nullptr ? host : "");
  HxString out;
  hx_py_released([&] { return hxping(out, host != nullptr ? &name : nullptr); });
  return hx_py_str(out);
}

PyObject* _hx_py_workerping(PyObject*, PyObject* args) {
  char const* host = nullptr;
  if (!PyArg_ParseTuple(args, "s", &host)) return nullptr;
  HxString name(host);
  HxString out;
  hx_py_released([&] { return hxworkerping(name, out); });
  return hx_py_str(out);
}

PyObject* _hx_py_hostping(PyObject*, PyObject* args) {
  char const* host = nullptr;
  int port = 0;
  if (!PyArg_ParseTuple(args, "si", &host, &port)) return nullptr;
  HxString name(host);
  HxString out;
  hx_py_released([&] { return hxhostping(name, port, out); });
  return hx_py_str(out);
}

PyObject* _hx_py_localconfig(PyObject*, PyObject*) {
  HxConfig config;
  hx_py_released([&] { return hxlocalconfig(config); });
  return _hx_py_config_dict(&config);
}

PyObject* _hx_py_convertpath(PyObject*, PyObject* args) {
  Py_ssize_t n = PyTuple_GET_SIZE(args);
  if (n < 1) {
    PyErr_SetString(PyExc_RuntimeError, "insufficient number of args");
    return nullptr;
  }
  HxString path = _py_string(PyTuple_GET_ITEM(args, 0));
  if (n != 2) return hx_py_str(hxconvertpath(path));
  // A second argument that gives no map (not a dict, or a "directmap" that
  // is no dict) is an empty map: the path comes back unchanged.
  HxPathMap* map = _hx_py_dict_pathmap(PyTuple_GET_ITEM(args, 1));
  if (PyErr_Occurred()) {
    delete map;
    return nullptr;
  }
  if (map == nullptr) return hx_py_str(path);
  HxString out = hxconvertpath(path, *map);
  delete map;
  return hx_py_str(out);
}

PyObject* _hx_py_isadmin(PyObject*, PyObject* args) {
  char const* user = nullptr;
  if (!PyArg_ParseTuple(args, "s", &user)) return nullptr;
  HxString name(user);
  return PyBool_FromLong(hx_py_released([&] { return hxisadmin(name); }));
}

PyObject* _hx_py_jobtypeavailable(PyObject*, PyObject* args) {
  // The extra path names directories that are listed.
  HxString path("");
  if (PyTuple_GET_SIZE(args) > 0 && !hx_py_path(PyTuple_GET_ITEM(args, 0), path)) return nullptr;
  HxStringList types;
  hxjobtypeavailable(path, types);
  return hx_py_str_list(types);
}

PyObject* _hx_py_jobconfig(PyObject*, PyObject* args) {
  Py_ssize_t n = PyTuple_GET_SIZE(args);
  if (n < 2) {
    PyErr_Format(PyExc_TypeError, "jobconfig() takes a job type, an option name and an optional flag (%zd given)", n);
    return nullptr;
  }
  unsigned char flag = n > 2 ? hx_py_kind_byte(PyTuple_GET_ITEM(args, 2)) : 0;
  return hx_py_str(hxjobconfig(_py_string(PyTuple_GET_ITEM(args, 0)), _py_string(PyTuple_GET_ITEM(args, 1)), flag));
}

PyObject* _hx_py_updateresource(PyObject*, PyObject* args) {
  char const* name = nullptr;
  int used = 0;
  int total = 0;
  if (!PyArg_ParseTuple(args, "sii", &name, &used, &total)) return nullptr;
  HxResourceList list;
  auto* resource = new HxResource();
  resource->resname(HxString(name));
  resource->total(total);
  resource->used(used);
  list.append(resource);
  return PyBool_FromLong(hx_py_released([&] { return hxupdateresource(list); }));
}

PyObject* _hx_py_getresources(PyObject*, PyObject*) {
  HxResourceList list;
  if (!hx_py_released([&] { return hxresource(list); })) {
    PyErr_SetString(PyExc_OSError, "Unable to retrieve global resources");
    return nullptr;
  }
  HxPyRef dict(PyDict_New());
  for (int i = 0; dict && i < list.length(); ++i) {
    HxResource const* r = list.get(i);
    if (r == nullptr) continue;
    if (!hx_py_dict_put(dict.get(), r->resname(), Py_BuildValue("(ii)", r->used(), r->total()))) dict.reset();
  }
  return dict.release();
}

PyObject* _hx_py_currenttime(PyObject*, PyObject*) {
  int stored = hx_py_released([] { return hxcurrenttime(); });
  // Seconds since the system's epoch to Unix seconds, in 64 bits: the sum
  // passes 2**31 in 2038.
  return hx_py_time(stored);
}

PyObject* _hx_py_supervisorconfig(PyObject*, PyObject*) {
  HxConfig config;
  hx_py_released([&] { return hxsupervisorconfig(config); });
  return _hx_py_config_dict(&config);
}

PyObject* _hx_py_workerconfig(PyObject*, PyObject* args) {
  char const* host = nullptr;
  if (!PyArg_ParseTuple(args, "s", &host)) return nullptr;
  HxString name(host);
  HxConfig config;
  hx_py_released([&] { return hxworkerconfig(name, config); });
  return _hx_py_config_dict(&config);
}

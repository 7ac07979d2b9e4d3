#include "python/HxPyModule.h"

#include <mutex>

#include "config/HxDefaults.h"

#define HX_EXPORT __attribute__((visibility("default")))

PyMethodDef _hx_methods[] = {
    {"_init_assign", _hx_py__init_assign, METH_VARARGS, nullptr},
    {"jobinfo", _hx_py_jobinfo, METH_VARARGS, nullptr},
    {"hostinfo", _hx_py_hostinfo, METH_VARARGS, nullptr},
    {"workerlock", _hx_py_workerlock, METH_VARARGS, nullptr},
    {"joborder", _hx_py_joborder, METH_VARARGS, nullptr},
    {"hostorder", _hx_py_hostorder, METH_VARARGS, nullptr},
    {"bannedworkers", _hx_py_bannedworkers, METH_VARARGS, nullptr},
    {"jobtagvalues", _hx_py_jobtagvalues, METH_VARARGS, nullptr},
    {"hist", _hx_py_hist, METH_VARARGS, nullptr},
    {"stats", _hx_py_stats, METH_VARARGS, nullptr},
    {"stderr", _hx_py_stderr, METH_VARARGS, nullptr},
    {"stdout", _hx_py_stdout, METH_VARARGS, nullptr},
    {"killwork", _hx_py_killwork, METH_VARARGS, nullptr},
    {"retirework", _hx_py_retirework, METH_VARARGS, nullptr},
    {"blockwork", _hx_py_blockwork, METH_VARARGS, nullptr},
    {"unblockwork", _hx_py_unblockwork, METH_VARARGS, nullptr},
    {"retrywork", _hx_py_retrywork, METH_VARARGS, nullptr},
    {"requeuework", _hx_py_requeuework, METH_VARARGS, nullptr},
    {"modify", _hx_py_modify, METH_VARARGS, nullptr},
    {"kill", _hx_py_kill, METH_VARARGS, nullptr},
    {"top", _hx_py_top, METH_VARARGS, nullptr},
    {"bottom", _hx_py_bottom, METH_VARARGS, nullptr},
    {"migrate", _hx_py_migrate, METH_VARARGS, nullptr},
    {"remove", _hx_py_remove, METH_VARARGS, nullptr},
    {"interrupt", _hx_py_interrupt, METH_VARARGS, nullptr},
    {"block", _hx_py_block, METH_VARARGS, nullptr},
    {"unblock", _hx_py_unblock, METH_VARARGS, nullptr},
    {"preempt", _hx_py_preempt, METH_VARARGS, nullptr},
    {"retry", _hx_py_retry, METH_VARARGS, nullptr},
    {"requeue", _hx_py_requeue, METH_VARARGS, nullptr},
    {"reset", _hx_py_reset, METH_VARARGS, nullptr},
    {"suspend", _hx_py_suspend, METH_VARARGS, nullptr},
    {"resume", _hx_py_resume, METH_VARARGS, nullptr},
    {"retire", _hx_py_retire, METH_VARARGS, nullptr},
    {"shove", _hx_py_shove, METH_VARARGS, nullptr},
    {"command", _hx_py_command, METH_VARARGS, nullptr},
    {"submit", _hx_py_submit, METH_VARARGS, nullptr},
    {"archivejob", _hx_py_archivejob, METH_VARARGS, nullptr},
    {"recoverjob", _hx_py_recoverjob, METH_VARARGS, nullptr},
    {"rangesplit", _hx_py_rangesplit, METH_VARARGS, nullptr},
    {"rangechunk", _hx_py_rangechunk, METH_VARARGS, nullptr},
    {"waitfor", _hx_py_waitfor, METH_VARARGS, nullptr},
    {"trigger", _hx_py_trigger, METH_VARARGS, nullptr},
    {"CONST", _hx_py_CONST, METH_VARARGS, nullptr},
    {"updatepassword", _hx_py_updatepassword, METH_VARARGS, "Update the user's system password with Tarv"},
    {"checkpassword", _hx_py_checkpassword, METH_VARARGS, "Check if user has a valid password registered with Tarv"},
    {"_assignment", _hx_py__assignment, METH_VARARGS, nullptr},
    {"_setjob", _hx_py__setjob, METH_VARARGS, nullptr},
    {"requestwork", _hx_py_requestwork, METH_VARARGS, nullptr},
    {"reportwork", _hx_py_reportwork, METH_VARARGS, nullptr},
    {"reportjob", _hx_py_reportjob, METH_VARARGS, nullptr},
    {"workerpathmap", _hx_py_workerpathmap, METH_VARARGS, "Returns this worker's pathmap"},
    {"jobobj", _hx_py_jobobj, METH_VARARGS, nullptr},
    {"subjobobj", _hx_py_subjobobj, METH_VARARGS, nullptr},
    {"jobid", _hx_py_jobid, METH_VARARGS, nullptr},
    {"subid", _hx_py_subid, METH_VARARGS, nullptr},
    {"version", _hx_py_version, METH_VARARGS, nullptr},
    {"jobtypeavailable", _hx_py_jobtypeavailable, METH_VARARGS, nullptr},
    {"jobconfig", _hx_py_jobconfig, METH_VARARGS, nullptr},
    {"convertpath", _hx_py_convertpath, METH_VARARGS, "Convert the input path to the local path"},
    {"updateresource", _hx_py_updateresource, METH_VARARGS, "Update used/total counts for a dynamic global license resource"},
    {"getresources", _hx_py_getresources, METH_VARARGS, "Get dict of all global and license resources"},
    {"setsupervisor", _hx_py_setsupervisor, METH_VARARGS, "Set the Tarv supervisor hostname or ipaddress"},
    {"getsupervisor", _hx_py_getsupervisor, METH_VARARGS, "Get the Tarv supervisor hostname or ipaddress"},
    {"settimeout", _hx_py_settimeout, METH_VARARGS, "Set the client timeout value (milliseconds)"},
    {"gettimeout", _hx_py_gettimeout, METH_VARARGS, "Get the client timeout value (milliseconds)"},
    {"setlogpath", _hx_py_setlogpath, METH_VARARGS, "Set the Tarv client logpath"},
    {"getlogpath", _hx_py_getlogpath, METH_VARARGS, "Get the Tarv client logpath"},
    {"error", _hx_py_error, METH_VARARGS, "Current error"},
    {"ping", _hx_py_ping, METH_VARARGS, "Ping the Tarv supervisor"},
    {"workerping", _hx_py_workerping, METH_VARARGS, "Ping a specific worker"},
    {"hostping", _hx_py_hostping, METH_VARARGS, "Ping a specific host on a sepecified port"},
    {"currenttime", _hx_py_currenttime, METH_VARARGS, "Current time (timestamp) of the supervisor"},
    {"supervisorconfig", _hx_py_supervisorconfig, METH_VARARGS, "Gets the config for the Supervisor"},
    {"workerconfig", _hx_py_workerconfig, METH_VARARGS, "Gets the config for the specified Worker"},
    {"localconfig", _hx_py_localconfig, METH_VARARGS, "Gets the config for the local machine"},
    {"encryptpassword", _hx_py_encryptpassword, METH_VARARGS, "Take a string and return an encrypted password string"},
    {"isadmin", _hx_py_isadmin, METH_VARARGS, "Return True if user is a Tarv admin"},
    {"configDictToStr", _hx_py_configDictToStr, METH_VARARGS, "Determines the conf string based on the passed in dict and str template"},
    {"configStrToDict", _hx_py_configStrToDict, METH_VARARGS, "Determines the conf dict based on the passed in string"},
    {"packageStrToDict", _hx_py_packageStrToDict, METH_VARARGS, "Internal function. Take the raw MySQL job package string and convert it to a python dict"},
    {"getusers", _hx_py_getusers, METH_VARARGS, "Get the user permissions"},
    {"setusers", _hx_py_setusers, METH_VARARGS, "Set an individual user permissions"},
    {"admincommandstr", _hx_py_admincommandstr, METH_VARARGS, "Send the hxadmin command string to the supervisor"},
    {"admincommand", _hx_py_admincommand, METH_VARARGS, "Send the hxadmin command to the supervisor"},
    {"updateworkerresources", _hx_py_updateworkerresources, METH_VARARGS, "Update used/total counts of worker resources"},
    {"updateworkerproperties", _hx_py_updateworkerproperties, METH_VARARGS, "Update value of worker properties"},
    {"deleteworkerresources", _hx_py_deleteworkerresources, METH_VARARGS, "Delete specified worker resources"},
    {"deleteworkerproperties", _hx_py_deleteworkerproperties, METH_VARARGS, "Delete specified worker properties"},
    {"getpreferences", _hx_py_getpreferences, METH_VARARGS, "get central preferences specified by path"},
    {"setpreference", _hx_py_setpreference, METH_VARARGS, "set a single central preference, specified by path"},
    {"deletepreference", _hx_py_deletepreference, METH_VARARGS, "delete a single central preference"},
    {"getpipelinevariables", _hx_py_getpipelinevariables, METH_VARARGS, "get the TarvUI pipeline (system wide) variables"},
    {nullptr, nullptr, 0, nullptr},
};

namespace {

struct IntConstant {
  char const* name;
  long value;
};
constexpr IntConstant kIntConstants[] = {
    {"HX_API_BINARY", 1},
    {"HX_API_XML", 2},
    {"HX_TIME_EPOCH_OFFSET", 946702800},
    {"HX_REVERSE", 1},
};

struct TextConstant {
  char const* name;
  int setting;
};
constexpr TextConstant kTextConstants[] = {
    {"HX_CLIENT_DEFAULT_CONF", 301},
    {"HX_SUPERVISOR_CONFIG_DEFAULT_WORKER_CONFIGFILE", 19},
    {"HX_SUPERVISOR_CONFIG_DEFAULT_LOGPATH", 8},
    {"HX_WORKER_CONFIG_DEFAULT_LOGFILE", 114},
    {"HX_SUPERVISOR_CONFIG_DEFAULT_LOGFILE", 13},
};

// The interpreter API version the module is built against.
constexpr int kHxPyApiVersion = 1013;

}  // namespace

extern "C" HX_EXPORT PyObject* init_hxModule(char const* name) {
  // One definition for the process, named by the first initialiser called.
  static PyModuleDef moduledef;
  static std::once_flag filled;
  std::call_once(filled, [name] {
    moduledef = PyModuleDef{PyModuleDef_HEAD_INIT, name, nullptr, -1, _hx_methods,
                            nullptr, nullptr, nullptr, nullptr};
  });

  PyObject* module = PyModule_Create2(&moduledef, kHxPyApiVersion);
  if (module == nullptr) return nullptr;
  for (IntConstant const& c : kIntConstants) {
    if (PyModule_AddIntConstant(module, c.name, c.value) < 0) {
      Py_DECREF(module);
      return nullptr;
    }
  }
  for (TextConstant const& c : kTextConstants) {
    // A default built on an installation directory that is not UTF-8 does
    // not decode: the import fails with that error.
    HxString text = hx_default_string(c.setting);
    PyObject* value = PyUnicode_DecodeUTF8(text.value(), text.length(), nullptr);
    if (value == nullptr || PyModule_AddObject(module, c.name, value) < 0) {
      Py_XDECREF(value);
      Py_DECREF(module);
      return nullptr;
    }
  }
  return module;
}

#define HX_PY_INIT(suffix) \
  extern "C" HX_EXPORT PyObject* PyInit_##suffix() { return init_hxModule(#suffix); }

HX_PY_INIT(_hx)
HX_PY_INIT(_hx22)
HX_PY_INIT(_hx23)
HX_PY_INIT(_hx24)
HX_PY_INIT(_hx25)
HX_PY_INIT(_hx26)
HX_PY_INIT(_hx27)
HX_PY_INIT(_hx36)
HX_PY_INIT(_hx37)
HX_PY_INIT(_hx38)
HX_PY_INIT(_hx39)
HX_PY_INIT(_hx310)
HX_PY_INIT(_hx311)
HX_PY_INIT(_hx312)
HX_PY_INIT(_hx313)
HX_PY_INIT(_hx314)

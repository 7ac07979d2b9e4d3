#include "python/HxPyModule.h"

#include <mutex>
#include <new>
#include <stdexcept>

#include "api/HxApiReply.h"
#include "config/HxDefaults.h"
#include "core/pack/HxRecord.h"
#include "python/HxPyConvert.h"
#include "python/HxPyGil.h"
#include "python/HxPyJobDict.h"

#define HX_EXPORT __attribute__((visibility("default")))

namespace {

// A C++ exception that reaches a module function becomes a Python exception
// here instead of ending the process. Memory that runs out inside the
// library (std::bad_alloc, or a length no container can hold) is
// MemoryError; anything else is SystemError with its text. By then the
// interpreter lock is held again (hx_py_released takes it back while the
// exception passes) and the Python objects of the call are released (they
// are held by owners that unwind). The library's own functions catch
// memory that runs out under them and fail the call; such a call also ends
// in MemoryError, whatever value or exception the function made of that
// failure. Nothing here catches every exception: a thread being ended
// passes through.
// What this thread keeps for the module call it is in: the library's
// out-of-memory flag and the depth of the job dicts being read. A call may
// begin inside another one on the same thread (from a signal handler run
// while the outer call waits, or from Python code the outer call runs: a
// value's __index__, a dict's keys(), a __del__): it starts from nothing,
// and the outer call's are set aside and put back when it ends, so that
// neither call sees what the other set.
class OwnCallState {
 public:
  OwnCallState() : no_memory_(_hx_exchange_no_memory(false)), job_depth_(_hx_py_exchange_job_depth(0)) {}
  OwnCallState(OwnCallState const&) = delete;
  OwnCallState& operator=(OwnCallState const&) = delete;
  ~OwnCallState() {
    _hx_exchange_no_memory(no_memory_);
    _hx_py_exchange_job_depth(job_depth_);
  }

 private:
  bool const no_memory_;
  int const job_depth_;
};

template <PyCFunction F>
PyObject* converted(PyObject* self, PyObject* args) {
  try {
    OwnCallState const own;
    PyObject* result = F(self, args);
    if (!_hx_take_no_memory()) return result;
    Py_XDECREF(result);
    PyErr_Clear();
    return PyErr_NoMemory();
  } catch (std::bad_alloc const&) {
    return PyErr_NoMemory();
  } catch (std::length_error const&) {
    return PyErr_NoMemory();
  } catch (std::exception const& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
    return nullptr;
  }
}

// Every module function runs inside this guard: the exceptions above, and
// a signal handler that raised while the call waited (KeyboardInterrupt on
// Ctrl-C), which ended the library's request: its exception is what the
// call raises, whatever the function gave.
template <PyCFunction F>
PyObject* guarded(PyObject* self, PyObject* args) {
  HxPyCall call;
  return call.finish(converted<F>(self, args));
}

}  // namespace

#define HX_PY_ENTRY(name, doc) {#name, guarded<_hx_py_##name>, METH_VARARGS, doc}

PyMethodDef _hx_methods[] = {
    HX_PY_ENTRY(_init_assign, nullptr),
    HX_PY_ENTRY(jobinfo, nullptr),
    HX_PY_ENTRY(hostinfo, nullptr),
    HX_PY_ENTRY(workerlock, nullptr),
    HX_PY_ENTRY(joborder, nullptr),
    HX_PY_ENTRY(hostorder, nullptr),
    HX_PY_ENTRY(bannedworkers, nullptr),
    HX_PY_ENTRY(jobtagvalues, nullptr),
    HX_PY_ENTRY(hist, nullptr),
    HX_PY_ENTRY(stats, nullptr),
    HX_PY_ENTRY(stderr, nullptr),
    HX_PY_ENTRY(stdout, nullptr),
    HX_PY_ENTRY(killwork, nullptr),
    HX_PY_ENTRY(retirework, nullptr),
    HX_PY_ENTRY(blockwork, nullptr),
    HX_PY_ENTRY(unblockwork, nullptr),
    HX_PY_ENTRY(retrywork, nullptr),
    HX_PY_ENTRY(requeuework, nullptr),
    HX_PY_ENTRY(modify, nullptr),
    HX_PY_ENTRY(kill, nullptr),
    HX_PY_ENTRY(top, nullptr),
    HX_PY_ENTRY(bottom, nullptr),
    HX_PY_ENTRY(migrate, nullptr),
    HX_PY_ENTRY(remove, nullptr),
    HX_PY_ENTRY(interrupt, nullptr),
    HX_PY_ENTRY(block, nullptr),
    HX_PY_ENTRY(unblock, nullptr),
    HX_PY_ENTRY(preempt, nullptr),
    HX_PY_ENTRY(retry, nullptr),
    HX_PY_ENTRY(requeue, nullptr),
    HX_PY_ENTRY(reset, nullptr),
    HX_PY_ENTRY(suspend, nullptr),
    HX_PY_ENTRY(resume, nullptr),
    HX_PY_ENTRY(retire, nullptr),
    HX_PY_ENTRY(shove, nullptr),
    HX_PY_ENTRY(command, nullptr),
    HX_PY_ENTRY(submit, nullptr),
    HX_PY_ENTRY(archivejob, nullptr),
    HX_PY_ENTRY(recoverjob, nullptr),
    HX_PY_ENTRY(rangesplit, nullptr),
    HX_PY_ENTRY(rangechunk, nullptr),
    HX_PY_ENTRY(waitfor, nullptr),
    HX_PY_ENTRY(trigger, nullptr),
    HX_PY_ENTRY(CONST, nullptr),
    HX_PY_ENTRY(updatepassword, "Update the user's system password with Tarv"),
    HX_PY_ENTRY(checkpassword, "Check if user has a valid password registered with Tarv"),
    HX_PY_ENTRY(_assignment, nullptr),
    HX_PY_ENTRY(_setjob, nullptr),
    HX_PY_ENTRY(requestwork, nullptr),
    HX_PY_ENTRY(reportwork, nullptr),
    HX_PY_ENTRY(reportjob, nullptr),
    HX_PY_ENTRY(workerpathmap, "Returns this worker's pathmap"),
    HX_PY_ENTRY(jobobj, nullptr),
    HX_PY_ENTRY(subjobobj, nullptr),
    HX_PY_ENTRY(jobid, nullptr),
    HX_PY_ENTRY(subid, nullptr),
    HX_PY_ENTRY(version, nullptr),
    HX_PY_ENTRY(jobtypeavailable, nullptr),
    HX_PY_ENTRY(jobconfig, nullptr),
    HX_PY_ENTRY(convertpath, "Convert the input path to the local path"),
    HX_PY_ENTRY(updateresource, "Update used/total counts for a dynamic global license resource"),
    HX_PY_ENTRY(getresources, "Get dict of all global and license resources"),
    HX_PY_ENTRY(setsupervisor, "Set the Tarv supervisor hostname or ipaddress"),
    HX_PY_ENTRY(getsupervisor, "Get the Tarv supervisor hostname or ipaddress"),
    HX_PY_ENTRY(settimeout, "Set the client timeout value (milliseconds)"),
    HX_PY_ENTRY(gettimeout, "Get the client timeout value (milliseconds)"),
    HX_PY_ENTRY(setlogpath, "Set the Tarv client logpath"),
    HX_PY_ENTRY(getlogpath, "Get the Tarv client logpath"),
    HX_PY_ENTRY(error, "Current error"),
    HX_PY_ENTRY(ping, "Ping the Tarv supervisor"),
    HX_PY_ENTRY(workerping, "Ping a specific worker"),
    HX_PY_ENTRY(hostping, "Ping a specific host on a sepecified port"),
    HX_PY_ENTRY(currenttime, "Current time (timestamp) of the supervisor"),
    HX_PY_ENTRY(supervisorconfig, "Gets the config for the Supervisor"),
    HX_PY_ENTRY(workerconfig, "Gets the config for the specified Worker"),
    HX_PY_ENTRY(localconfig, "Gets the config for the local machine"),
    HX_PY_ENTRY(encryptpassword, "Take a string and return an encrypted password string"),
    HX_PY_ENTRY(isadmin, "Return True if user is a Tarv admin"),
    HX_PY_ENTRY(configDictToStr, "Determines the conf string based on the passed in dict and str template"),
    HX_PY_ENTRY(configStrToDict, "Determines the conf dict based on the passed in string"),
    HX_PY_ENTRY(packageStrToDict, "Internal function. Take the raw MySQL job package string and convert it to a python dict"),
    HX_PY_ENTRY(getusers, "Get the user permissions"),
    HX_PY_ENTRY(setusers, "Set an individual user permissions"),
    HX_PY_ENTRY(admincommandstr, "Send the hxadmin command string to the supervisor"),
    HX_PY_ENTRY(admincommand, "Send the hxadmin command to the supervisor"),
    HX_PY_ENTRY(updateworkerresources, "Update used/total counts of worker resources"),
    HX_PY_ENTRY(updateworkerproperties, "Update value of worker properties"),
    HX_PY_ENTRY(deleteworkerresources, "Delete specified worker resources"),
    HX_PY_ENTRY(deleteworkerproperties, "Delete specified worker properties"),
    HX_PY_ENTRY(getpreferences, "get central preferences specified by path"),
    HX_PY_ENTRY(setpreference, "set a single central preference, specified by path"),
    HX_PY_ENTRY(deletepreference, "delete a single central preference"),
    HX_PY_ENTRY(getpipelinevariables, "get the TarvUI pipeline (system wide) variables"),
    {nullptr, nullptr, 0, nullptr},
};

#undef HX_PY_ENTRY

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

  if (!hx_py_watch_signals() || !hx_py_watch_finalizing()) return nullptr;
  HxPyRef module(PyModule_Create2(&moduledef, kHxPyApiVersion));
  if (!module) return nullptr;
  for (IntConstant const& c : kIntConstants) {
    if (PyModule_AddIntConstant(module.get(), c.name, c.value) < 0) return nullptr;
  }
  try {
    // Every record table, before a thread of the program can decode a reply
    // and a child forked meanwhile inherit a table half built.
    hx_build_record_tables();
    for (TextConstant const& c : kTextConstants) {
      // A default built on an installation directory that is not UTF-8 does
      // not decode: the import fails with that error.
      HxString text = hx_default_string(c.setting);
      HxPyRef value(PyUnicode_DecodeUTF8(text.value(), text.length(), nullptr));
      if (!value || PyModule_AddObject(module.get(), c.name, value.get()) < 0) return nullptr;
      value.release();  // the module holds it now
    }
  } catch (std::bad_alloc const&) {
    return PyErr_NoMemory();
  }
  return module.release();
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

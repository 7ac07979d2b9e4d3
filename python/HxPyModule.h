#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// The module's method table: 93 entries and the closing empty one.
extern PyMethodDef _hx_methods[];


// The module functions, one per entry of the table, each defined in the file
// of wrappers of its area.
PyObject* _hx_py__init_assign(PyObject* self, PyObject* args);
PyObject* _hx_py_jobinfo(PyObject* self, PyObject* args);
PyObject* _hx_py_hostinfo(PyObject* self, PyObject* args);
PyObject* _hx_py_workerlock(PyObject* self, PyObject* args);
PyObject* _hx_py_joborder(PyObject* self, PyObject* args);
PyObject* _hx_py_hostorder(PyObject* self, PyObject* args);
PyObject* _hx_py_bannedworkers(PyObject* self, PyObject* args);
PyObject* _hx_py_jobtagvalues(PyObject* self, PyObject* args);
PyObject* _hx_py_hist(PyObject* self, PyObject* args);
PyObject* _hx_py_stats(PyObject* self, PyObject* args);
PyObject* _hx_py_stderr(PyObject* self, PyObject* args);
PyObject* _hx_py_stdout(PyObject* self, PyObject* args);
PyObject* _hx_py_killwork(PyObject* self, PyObject* args);
PyObject* _hx_py_retirework(PyObject* self, PyObject* args);
PyObject* _hx_py_blockwork(PyObject* self, PyObject* args);
PyObject* _hx_py_unblockwork(PyObject* self, PyObject* args);
PyObject* _hx_py_retrywork(PyObject* self, PyObject* args);
PyObject* _hx_py_requeuework(PyObject* self, PyObject* args);
PyObject* _hx_py_modify(PyObject* self, PyObject* args);
PyObject* _hx_py_kill(PyObject* self, PyObject* args);
PyObject* _hx_py_top(PyObject* self, PyObject* args);
PyObject* _hx_py_bottom(PyObject* self, PyObject* args);
PyObject* _hx_py_migrate(PyObject* self, PyObject* args);
PyObject* _hx_py_remove(PyObject* self, PyObject* args);
PyObject* _hx_py_interrupt(PyObject* self, PyObject* args);
PyObject* _hx_py_block(PyObject* self, PyObject* args);
PyObject* _hx_py_unblock(PyObject* self, PyObject* args);
PyObject* _hx_py_preempt(PyObject* self, PyObject* args);
PyObject* _hx_py_retry(PyObject* self, PyObject* args);
PyObject* _hx_py_requeue(PyObject* self, PyObject* args);
PyObject* _hx_py_reset(PyObject* self, PyObject* args);
PyObject* _hx_py_suspend(PyObject* self, PyObject* args);
PyObject* _hx_py_resume(PyObject* self, PyObject* args);
PyObject* _hx_py_retire(PyObject* self, PyObject* args);
PyObject* _hx_py_shove(PyObject* self, PyObject* args);
PyObject* _hx_py_command(PyObject* self, PyObject* args);
PyObject* _hx_py_submit(PyObject* self, PyObject* args);
PyObject* _hx_py_archivejob(PyObject* self, PyObject* args);
PyObject* _hx_py_recoverjob(PyObject* self, PyObject* args);
PyObject* _hx_py_rangesplit(PyObject* self, PyObject* args);
PyObject* _hx_py_rangechunk(PyObject* self, PyObject* args);
PyObject* _hx_py_waitfor(PyObject* self, PyObject* args);
PyObject* _hx_py_trigger(PyObject* self, PyObject* args);
PyObject* _hx_py_CONST(PyObject* self, PyObject* args);
PyObject* _hx_py_updatepassword(PyObject* self, PyObject* args);
PyObject* _hx_py_checkpassword(PyObject* self, PyObject* args);
PyObject* _hx_py__assignment(PyObject* self, PyObject* args);
PyObject* _hx_py__setjob(PyObject* self, PyObject* args);
PyObject* _hx_py_requestwork(PyObject* self, PyObject* args);
PyObject* _hx_py_reportwork(PyObject* self, PyObject* args);
PyObject* _hx_py_reportjob(PyObject* self, PyObject* args);
PyObject* _hx_py_workerpathmap(PyObject* self, PyObject* args);
PyObject* _hx_py_jobobj(PyObject* self, PyObject* args);
PyObject* _hx_py_subjobobj(PyObject* self, PyObject* args);
PyObject* _hx_py_jobid(PyObject* self, PyObject* args);
PyObject* _hx_py_subid(PyObject* self, PyObject* args);
PyObject* _hx_py_version(PyObject* self, PyObject* args);
PyObject* _hx_py_jobtypeavailable(PyObject* self, PyObject* args);
PyObject* _hx_py_jobconfig(PyObject* self, PyObject* args);
PyObject* _hx_py_convertpath(PyObject* self, PyObject* args);
PyObject* _hx_py_updateresource(PyObject* self, PyObject* args);
PyObject* _hx_py_getresources(PyObject* self, PyObject* args);
PyObject* _hx_py_setsupervisor(PyObject* self, PyObject* args);
PyObject* _hx_py_getsupervisor(PyObject* self, PyObject* args);
PyObject* _hx_py_settimeout(PyObject* self, PyObject* args);
PyObject* _hx_py_gettimeout(PyObject* self, PyObject* args);
PyObject* _hx_py_setlogpath(PyObject* self, PyObject* args);
PyObject* _hx_py_getlogpath(PyObject* self, PyObject* args);
PyObject* _hx_py_error(PyObject* self, PyObject* args);
PyObject* _hx_py_ping(PyObject* self, PyObject* args);
PyObject* _hx_py_workerping(PyObject* self, PyObject* args);
PyObject* _hx_py_hostping(PyObject* self, PyObject* args);
PyObject* _hx_py_currenttime(PyObject* self, PyObject* args);
PyObject* _hx_py_supervisorconfig(PyObject* self, PyObject* args);
PyObject* _hx_py_workerconfig(PyObject* self, PyObject* args);
PyObject* _hx_py_localconfig(PyObject* self, PyObject* args);
PyObject* _hx_py_encryptpassword(PyObject* self, PyObject* args);
PyObject* _hx_py_isadmin(PyObject* self, PyObject* args);
PyObject* _hx_py_configDictToStr(PyObject* self, PyObject* args);
PyObject* _hx_py_configStrToDict(PyObject* self, PyObject* args);
PyObject* _hx_py_packageStrToDict(PyObject* self, PyObject* args);
PyObject* _hx_py_getusers(PyObject* self, PyObject* args);
PyObject* _hx_py_setusers(PyObject* self, PyObject* args);
PyObject* _hx_py_admincommandstr(PyObject* self, PyObject* args);
PyObject* _hx_py_admincommand(PyObject* self, PyObject* args);
PyObject* _hx_py_updateworkerresources(PyObject* self, PyObject* args);
PyObject* _hx_py_updateworkerproperties(PyObject* self, PyObject* args);
PyObject* _hx_py_deleteworkerresources(PyObject* self, PyObject* args);
PyObject* _hx_py_deleteworkerproperties(PyObject* self, PyObject* args);
PyObject* _hx_py_getpreferences(PyObject* self, PyObject* args);
PyObject* _hx_py_setpreference(PyObject* self, PyObject* args);
PyObject* _hx_py_deletepreference(PyObject* self, PyObject* args);
PyObject* _hx_py_getpipelinevariables(PyObject* self, PyObject* args);

extern "C" {
// Builds a new module object named by the first caller in the process.
PyObject* init_hxModule(char const* name);
}

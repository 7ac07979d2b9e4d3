// Module functions that read jobs, hosts, history, statistics and logs from
// the supervisor, send job and work commands and modifications, lock workers
// and fetch the banned workers and tag values.
#include <memory>
#include <string>

#include "api/HxApiAssign.h"
#include "api/HxApiCommand.h"
#include "api/HxApiIds.h"
#include "api/HxApiLogs.h"
#include "api/HxApiPrefs.h"
#include "api/HxApiQuery.h"
#include "api/HxApiStats.h"
#include "api/HxApiState.h"
#include "api/HxApiWorkers.h"
#include "python/HxPyConvert.h"
#include "python/HxPyGil.h"
#include "python/HxPyJobDict.h"
#include "python/HxPyModule.h"
#include "python/HxPyQueryDict.h"

namespace {

// A new list of the id texts of a job id, work id or host name list.
template <class List>
PyObject* id_list(List const& list) {
  return hx_py_list_of(list, [](auto const* id) { return hx_py_str(id->value()); });
}

PyObject* bad_position(Py_ssize_t i) {
  std::string text = "incorrect parameter at pos[" + std::to_string(i) + "]";
  PyErr_SetString(PyExc_RuntimeError, text.c_str());
  return nullptr;
}

// The query of a query function's arguments: a query dictionary first, or
// the positional fields, filters and options. Null with the exception set
// when reading them raised.
std::unique_ptr<HxQuery> read_query(PyObject* args) {
  PyObject* first = PyTuple_GET_SIZE(args) > 0 ? PyTuple_GET_ITEM(args, 0) : nullptr;
  std::unique_ptr<HxQuery> query(_hx_py_parse_query(first));
  if (query == nullptr) {
    if (PyErr_Occurred()) return nullptr;
    query.reset(new HxQuery);
    if (!hx_py_positional_query(args, 0, *query)) return nullptr;
  }
  return query;
}

// The identifier form of the command, history and statistics functions: a
// command dictionary, or an optional filter dictionary followed by ids.
// Null with RuntimeError set for an argument that is no identifier, when the
// texts together name more ids than one call may send (the error names the
// limit) and when no id was given; MemoryError when the ids do not fit in
// memory; what the caller's objects raise while they are read.
std::unique_ptr<HxCommand> read_targets(PyObject* args) {
  Py_ssize_t const n = PyTuple_GET_SIZE(args);
  std::unique_ptr<HxCommand> command(_hx_py_parse_command(n > 0 ? PyTuple_GET_ITEM(args, 0) : nullptr));
  if (command == nullptr) {
    if (PyErr_Occurred()) return nullptr;
    command.reset(new HxCommand);
    Py_ssize_t i = 0;
    if (n > 0 && PyDict_Check(PyTuple_GET_ITEM(args, 0)) &&
        !hx_py_filters(PyTuple_GET_ITEM(args, i++), command->filters(), false))
      return nullptr;
    // One budget for all the texts: each is counted before it is expanded.
    HxIdBudget budget;
    for (; i < n; ++i) {
      HxString text;
      if (!hx_py_id_text(PyTuple_GET_ITEM(args, i), text)) {
        bad_position(i);
        return nullptr;
      }
      command->restrictions(0);
      HxIdsRead const read = _hx_interprit_command_ids(text, command->workids(), command->jobids(), budget);
      if (read == HxIdsRead::kTooMany) {
        HxString const limit = _hx_ids_limit_text(budget.limit());
        PyErr_SetString(PyExc_RuntimeError, limit.value());
        return nullptr;
      }
      if (read == HxIdsRead::kNoMemory) {
        PyErr_NoMemory();
        return nullptr;
      }
    }
  }
  if (command->workids().length() == 0 && command->jobids().length() == 0) {
    PyErr_SetString(PyExc_RuntimeError, "workids() and jobids() are both empty");
    return nullptr;
  }
  return command;
}

// ---- queries ----------------------------------------------------------------

template <class List, class Call, class Dict>
PyObject* query_function(PyObject* args, Call&& call, Dict&& dict, bool raise) {
  List list;
  std::unique_ptr<HxQuery> query = read_query(args);
  if (query == nullptr) return nullptr;
  int ok = hx_py_released([&] {
    int r = call(*query, list);
    query.reset();
    return r;
  });
  if (!ok && raise) {
    PyObject* text = hx_py_str(hxerror().value());
    if (text != nullptr) {
      PyErr_SetObject(PyExc_RuntimeError, text);
      Py_DECREF(text);
    }
    return nullptr;
  }
  return hx_py_list_of(list, dict);
}

// ---- commands -----------------------------------------------------------------

PyObject* command_body(int action, PyObject* args, bool work) {
  std::unique_ptr<HxCommand> command = read_targets(args);
  if (command == nullptr) return nullptr;
  if (command->workids().length() == 0 && _hx_is_work_command(action)) {
    PyErr_SetString(PyExc_RuntimeError, "workids() empty for work-mode command");
    return nullptr;
  }
  if (command->jobids().length() == 0 && _hx_is_job_command(action)) {
    PyErr_SetString(PyExc_RuntimeError, "jobids() empty for job-mode command");
    return nullptr;
  }
  command->action(action);
  HxResult result;
  hx_py_released([&] {
    hxcommand(*command, result);
    command.reset();
  });
  return work ? id_list(result.workids()) : id_list(result.jobids());
}

}  // namespace

PyObject* _hx_py_jobinfo(PyObject*, PyObject* args) {
  return query_function<HxJobList>(args, hxjobinfo, _hx_py_job_dict, true);
}

PyObject* _hx_py_hostinfo(PyObject*, PyObject* args) {
  return query_function<HxHostList>(args, hxhostinfo, _hx_py_host_dict, false);
}

PyObject* _hx_py_joborder(PyObject*, PyObject* args) {
  return query_function<HxJobList>(args, hxjoborder, _hx_py_job_dict, false);
}

PyObject* _hx_py_hostorder(PyObject*, PyObject* args) {
  return query_function<HxHostList>(args, hxhostorder, _hx_py_host_dict, false);
}

#define HX_PY_COMMAND(name, action, work) \
  PyObject* _hx_py_##name(PyObject*, PyObject* args) { return command_body(action, args, work); }

HX_PY_COMMAND(kill, 207, false)
HX_PY_COMMAND(top, 290, false)
HX_PY_COMMAND(bottom, 291, false)
HX_PY_COMMAND(migrate, 224, false)
HX_PY_COMMAND(remove, 201, false)
HX_PY_COMMAND(interrupt, 208, false)
HX_PY_COMMAND(block, 210, false)
HX_PY_COMMAND(unblock, 215, false)
HX_PY_COMMAND(preempt, 209, false)
HX_PY_COMMAND(retry, 220, false)
HX_PY_COMMAND(requeue, 219, false)
HX_PY_COMMAND(reset, 231, false)
HX_PY_COMMAND(suspend, 216, false)
HX_PY_COMMAND(resume, 217, false)
HX_PY_COMMAND(retire, 227, false)
HX_PY_COMMAND(shove, 225, false)
HX_PY_COMMAND(killwork, 605, true)
HX_PY_COMMAND(retirework, 615, true)
HX_PY_COMMAND(blockwork, 608, true)
HX_PY_COMMAND(unblockwork, 610, true)
HX_PY_COMMAND(retrywork, 604, true)
HX_PY_COMMAND(requeuework, 613, true)

#undef HX_PY_COMMAND

PyObject* _hx_py_command(PyObject*, PyObject* args) {
  PyObject* dict = nullptr;
  if (!PyArg_ParseTuple(args, "O:command", &dict)) return nullptr;
  std::unique_ptr<HxCommand> command(_hx_py_dict_command(dict));
  if (command == nullptr) {
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
  }
  // The request keeps the interpreter lock.
  HxResult result;
  if (!hxcommand(*command, result)) Py_RETURN_NONE;
  return __hx_py_result_dict(&result);
}

PyObject* _hx_py_modify(PyObject*, PyObject* args) {
  Py_ssize_t const n = PyTuple_GET_SIZE(args);
  if (n == 0) Py_RETURN_NONE;
  std::unique_ptr<HxModifyCommand> command(_hx_py_dict_modifycommand(PyTuple_GET_ITEM(args, 0)));
  if (command == nullptr) {
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
  }
  for (Py_ssize_t i = 1; i < n; ++i) {
    PyObject* target = PyTuple_GET_ITEM(args, i);
    int id = 0;
    if (PyUnicode_Check(target)) command->jobids().append(new HxJobId(_py_string(target)));
    else if (hx_py_int32(target, id)) command->jobids().append(new HxJobId(id));
    else return PyUnicode_FromString("invalid reference");
    command->restrictions(0);
  }
  HxJobIdList ids;
  hx_py_released([&] { hxmodify(*command, ids); });
  command.reset();
  return id_list(ids);
}

// ---- history, statistics, logs --------------------------------------------------

PyObject* _hx_py_hist(PyObject*, PyObject* args) {
  std::unique_ptr<HxCommand> command = read_targets(args);
  if (command == nullptr) return nullptr;
  command->action(0);
  HxHistoryList list;
  hx_py_released([&] {
    hxhist(*command, list);
    command.reset();
  });
  return hx_py_list_of(list, _hx_py_history_dict);
}

PyObject* _hx_py_stats(PyObject*, PyObject* args) {
  std::unique_ptr<HxCommand> command = read_targets(args);
  if (command == nullptr) return nullptr;
  command->action(0);
  HxLogList list;
  hx_py_released([&] {
    hxstats(*command, list);
    command.reset();
  });
  return hx_py_list_of(list, _hx_py_log_dict);
}

namespace {

enum HxLogStreamType { kHxLogStdout = 0, kHxLogStderr = 1 };

PyObject* _hx_get_log(PyObject* args, HxLogStreamType stream) {
  PyObject* ids = nullptr;
  int pos = 0;
  int len = 0;
  if (!PyArg_ParseTuple(args, "Oii", &ids, &pos, &len)) return nullptr;
  if (!PyUnicode_Check(ids) && !PyList_Check(ids)) {
    PyErr_SetString(PyExc_TypeError, "the first argument must be a list of job ids");
    return nullptr;
  }
  HxCommand command;
  HxString const postext(std::to_string(pos).c_str());
  HxString const lentext(std::to_string(len).c_str());
  bool ok = hx_py_each_item(ids, [&](PyObject* item) {
    if (!PyUnicode_Check(item)) {
      PyErr_SetString(PyExc_TypeError, "job ids must be str");
      return false;
    }
    auto* id = new HxJobId(_py_string(item));
    if (id->subid() < 0) id->subid(0);
    command.jobids().append(id);
    command.filters().append(new HxFilter("pos", postext));
    command.filters().append(new HxFilter("len", lentext));
    return true;
  });
  if (!ok) return nullptr;
  // The request keeps the interpreter lock.
  HxLogList list;
  if (stream == kHxLogStdout) hxstdout(command, list);
  else hxstderr(command, list);
  return hx_py_list_of(list, _hx_py_log_dict);
}

}  // namespace

PyObject* _hx_py_stdout(PyObject*, PyObject* args) { return _hx_get_log(args, kHxLogStdout); }
PyObject* _hx_py_stderr(PyObject*, PyObject* args) { return _hx_get_log(args, kHxLogStderr); }

// ---- farm lists ------------------------------------------------------------------

PyObject* _hx_py_bannedworkers(PyObject*, PyObject*) {
  // The request keeps the interpreter lock.
  HxHostList hosts;
  if (!hxbannedworkers(hosts)) {
    PyErr_SetString(PyExc_OSError, "Unable to retrieve banned worker list");
    return nullptr;
  }
  return hx_py_list_of(hosts, _hx_py_host_dict);
}

PyObject* _hx_py__init_assign(PyObject*, PyObject*) {
  // The assignment is fetched with the interpreter lock held, retries and all.
  _hx_init_assign();
  Py_RETURN_NONE;
}

PyObject* _hx_py_workerlock(PyObject*, PyObject* args) {
  Py_ssize_t const n = PyTuple_GET_SIZE(args);
  HxOrder order;
  Py_ssize_t at = 0;
  if (n > 0 && PyDict_Check(PyTuple_GET_ITEM(args, 0)) && !hx_py_filters(PyTuple_GET_ITEM(args, at++), order.filters(), false))
    return nullptr;
  if (at >= n) {
    PyErr_SetString(PyExc_TypeError, "workerlock() needs a lock argument");
    return nullptr;
  }
  order.lock(_py_string(PyTuple_GET_ITEM(args, at)));
  HxHostnameList names;
  hx_py_released([&] { hxworkerlock(order, names); });
  return id_list(names);
}

PyObject* _hx_py_jobtagvalues(PyObject*, PyObject* args) {
  HxString tag;
  if (PyTuple_GET_SIZE(args) > 0) tag = _py_string(PyTuple_GET_ITEM(args, 0));
  // The request keeps the interpreter lock.
  HxStringList values;
  if (!hxjobtagvalues(tag, values)) {
    PyErr_SetString(PyExc_OSError, "Unable to retrieve list of tag values");
    return nullptr;
  }
  return hx_py_str_list(values);
}

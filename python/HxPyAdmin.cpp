// Module functions of user permissions, administration commands and orders,
// and the resources and properties of single workers.
#include <cstdio>
#include <memory>
#include <utility>

#include "api/HxApiAdmin.h"
#include "api/HxApiQuery.h"
#include "api/HxApiWorkers.h"
#include "config/HxConfig.h"
#include "model/farm/HxAccess.h"
#include "model/farm/HxAdmin.h"
#include "python/HxPyConvert.h"
#include "python/HxPyGil.h"
#include "python/HxPyModule.h"
#include "python/HxPyQueryDict.h"

namespace {

// One user's permissions: "" holds the user's own mask, each group its own.
PyObject* access_dict(HxAccess const& access) {
  HxPyRef dict(PyDict_New());
  if (!dict || !hx_py_dict_put(dict.get(), HxString(""), PyLong_FromLong(access.access()))) return nullptr;
  HxGroupAccessList const& groups = access.groupaccess();
  for (int i = 0; i < groups.length(); ++i) {
    HxGroupAccess const* group = groups.get(i);
    if (group == nullptr) continue;
    if (!hx_py_dict_put(dict.get(), group->name(), PyLong_FromLong(group->access()))) return nullptr;
  }
  return dict.release();
}

// Appends the text of each item of a user or worker list value: a sequence
// gives one text per item, a lone str is one name (not one per character).
// False, with the exception set, when reading the sequence raised.
bool append_names(PyObject* value, HxStringList& out) {
  return hx_py_each_item(value, [&](PyObject* item) {
    out.append(new HxString(_py_string(item)));
    return true;
  });
}

// The sections of the order's "config" dict: each dict section becomes a
// configuration of that name; sections that are not dicts are skipped.
bool read_sections(PyObject* config, HxAdminOrder& order) {
  if (!PyDict_Check(config)) return true;
  return hx_py_each_entry(config, [&](PyObject* key, PyObject* section) {
    std::unique_ptr<HxConfig> read(_hx_py_dict_config(section));
    if (read == nullptr) return PyErr_Occurred() == nullptr;
    HxString const name = _py_string(key);
    order.config().set(read.release(), name);
    return true;
  });
}

}  // namespace

HxAdminOrder* _hx_py_dict_admin_order(PyObject* dict) {
  if (dict == nullptr || !PyDict_Check(dict)) return nullptr;
  std::unique_ptr<HxAdminOrder> order(new HxAdminOrder());
  if (!__hx_py_dict_order(dict, order.get())) return nullptr;
  struct Text {
    char const* key;
    void (HxAdminOrder::*set)(HxString const&);
  };
  static Text const texts[] = {
      {"username", &HxAdminOrder::username}, {"userdomain", &HxAdminOrder::userdomain},
      {"password", &HxAdminOrder::password}, {"group", &HxAdminOrder::group},
      {"method", &HxAdminOrder::method},
  };
  for (Text const& t : texts) {
    if (!hx_py_with_key(dict, t.key, [&](PyObject* v) { (order.get()->*t.set)(_py_string(v)); })) return nullptr;
  }
  // Every value is held while it is read: reading a sequence's items, or
  // hashing a key, may run Python code that drops it from its dict.
  for (auto list : {std::make_pair("userlist", &order->userlist()), std::make_pair("workers", &order->workers())}) {
    if (!hx_py_with_key(dict, list.first, [&](PyObject* v) { return append_names(v, *list.second); })) return nullptr;
  }
  if (!hx_py_with_key(dict, "config", [&](PyObject* v) { return read_sections(v, *order); })) return nullptr;
  return order.release();
}

namespace {

PyObject* admin_result_dict(HxAdminResult& result) {
  PyObject* dict = __hx_py_result_dict(&result);
  if (dict == nullptr || result.userlist().length() == 0) return dict;
  if (!hx_py_dict_put(dict, "userlist", hx_py_str_list(result.userlist()))) Py_CLEAR(dict);
  return dict;
}

// The names of a delete request: the str items of a list.
bool delete_names(PyObject* names, HxStringList& out) {
  if (!PyList_Check(names)) {
    std::fputs("ERROR: 2nd argument to hx.deleteworkerresources() must be a list\n", stderr);
    std::fflush(stderr);
    return false;
  }
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(names); ++i) {
    PyObject* item = PyList_GET_ITEM(names, i);
    if (PyUnicode_Check(item)) out.append(new HxString(_py_string(item)));
  }
  return true;
}

// Both deletions take a host and a list of names and answer True or False;
// only the call made differs.
PyObject* delete_worker_items(PyObject* args, unsigned char (*remove)(HxString const&, HxStringList&)) {
  char const* host = nullptr;
  PyObject* names = nullptr;
  if (!PyArg_ParseTuple(args, "sO", &host, &names)) return nullptr;
  HxStringList list;
  if (!delete_names(names, list)) Py_RETURN_FALSE;
  HxString worker(host);
  return PyBool_FromLong(hx_py_released([&] { return remove(worker, list); }));
}

}  // namespace

PyObject* _hx_py_getusers(PyObject*, PyObject*) {
  HxAccessList users;
  int ok = hx_py_released([&] { return hxusers(users); });
  if (!ok) {
    PyErr_SetString(PyExc_OSError, "Unable to retrieve user permission values");
    return nullptr;
  }
  HxPyRef dict(PyDict_New());
  for (int i = 0; dict && i < users.length(); ++i) {
    HxAccess const* access = users.get(i);
    if (access == nullptr) continue;
    if (!hx_py_dict_put(dict.get(), access->name(), access_dict(*access))) dict.reset();
  }
  return dict.release();
}

PyObject* _hx_py_setusers(PyObject*, PyObject* args) {
  char const* method = nullptr;
  char const* user = nullptr;
  char const* group = nullptr;
  int value = 0;
  if (!PyArg_ParseTuple(args, "sssi", &method, &user, &group, &value)) return nullptr;
  HxString how(method), grp(group);
  HxStringList users;
  users.append(new HxString(user));
  int ok = hx_py_released([&] {
    return grp.length() > 0 ? hxadmingroupperm(how, value, grp, users) : hxadminuserperm(how, value, users);
  });
  return PyBool_FromLong(ok);
}

PyObject* _hx_py_admincommandstr(PyObject*, PyObject* args) {
  char const* word = nullptr;
  if (!PyArg_ParseTuple(args, "s", &word)) return nullptr;
  return PyBool_FromLong(hxadmincommand(HxString(word)));
}

PyObject* _hx_py_admincommand(PyObject*, PyObject* args) {
  PyObject* arg = nullptr;
  if (!PyArg_ParseTuple(args, "O", &arg)) return nullptr;
  std::unique_ptr<HxAdminOrder> order(_hx_py_dict_admin_order(arg));
  if (order == nullptr) {
    // Reading the dict failed (the caller's own code raised): nothing is
    // sent.
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
  }
  HxAdminResult result;
  int ok = hxadmincommand(*order, result);
  order.reset();
  if (!ok) Py_RETURN_NONE;
  return admin_result_dict(result);
}

PyObject* _hx_py_updateworkerresources(PyObject*, PyObject* args) {
  char const* host = nullptr;
  char const* text = nullptr;
  if (!PyArg_ParseTuple(args, "ss", &host, &text)) return nullptr;
  HxString worker(host), resources(text);
  return PyBool_FromLong(hx_py_released([&] { return hxupdateworkerresources(worker, resources); }));
}

PyObject* _hx_py_updateworkerproperties(PyObject*, PyObject* args) {
  char const* host = nullptr;
  char const* text = nullptr;
  if (!PyArg_ParseTuple(args, "ss", &host, &text)) return nullptr;
  HxString worker(host), properties(text);
  return PyBool_FromLong(hx_py_released([&] { return hxupdateworkerproperties(worker, properties); }));
}

PyObject* _hx_py_deleteworkerresources(PyObject*, PyObject* args) {
  return delete_worker_items(args, hxdeleteworkerresources);
}

PyObject* _hx_py_deleteworkerproperties(PyObject*, PyObject* args) {
  return delete_worker_items(args, hxdeleteworkerproperties);
}

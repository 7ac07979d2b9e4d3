// Dictionaries of jobs, work items, subjobs, callbacks and path maps. Each
// record states its keys once as a table of fields (key, reader, writer) in
// the order the dict is written; the reading order, which decides which of
// two keys for one field wins, is a list of keys of its own.
#include "python/HxPyJobDict.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>

#include "config/HxEnv.h"
#include "config/HxPathMap.h"
#include "core/HxAddress.h"
#include "core/HxAtLoad.h"
#include "core/HxLimits.h"
#include "model/job/HxCallback.h"
#include "model/job/HxJob.h"
#include "model/job/HxStatus.h"
#include "model/job/HxSubjob.h"
#include "model/job/HxWork.h"
#include "python/HxPyConvert.h"

namespace {

// Every key of these dictionaries.
#define HX_PY_JOB_KEYS(X)                                                                                        \
  X(id) X(pid) X(pgrp) X(priority) X(p_agenda_priority) X(p_agenda_cpus) X(localorder) X(globalorder) X(status) \
  X(subjobstatus) X(agendastatus) X(user) X(domain) X(reason) X(queue) X(name) X(cluster) X(cpus) X(max_cpus)    \
  X(todo) X(data) X(prototype) X(kind) X(path) X(timesubmit) X(timestart) X(timecomplete) X(flags)               \
  X(flagsstring) X(notes) X(account) X(label) X(dependency) X(mailaddress) X(sourcehost) X(groups) X(hosts)      \
  X(omitgroups) X(omithosts) X(hostorder) X(requirements) X(reservations) X(restrictions) X(serverid) X(timeout) \
  X(agenda_timeout) X(agendatimeout) X(auto_migrate_count) X(retrysubjob) X(retrywork) X(retrywork_delay)        \
  X(lastupdate) X(prod_show) X(prod_shot) X(prod_seq) X(prod_client) X(prod_dept) X(prod_custom1)                \
  X(prod_custom2) X(prod_custom3) X(prod_custom4) X(prod_custom5) X(preflights) X(postflights)                   \
  X(agenda_preflights) X(agenda_postflights) X(cpustally) X(todotally) X(pathmap) X(package) X(agenda)           \
  X(p_agenda) X(callbacks) X(subjobs) X(children) X(env) X(cwd) X(drivemap) X(subid) X(count) X(retry)           \
  X(retrydelay) X(host) X(address) X(result) X(resultpackage) X(timecumulative) X(allocations) X(slots)          \
  X(triggers) X(code) X(language) X(maximum) X(ready) X(complete) X(failed) X(killed) X(blocked) X(waiting)      \
  X(suspended) X(pending) X(running) X(unknown) X(badlogin) X(directmap)

enum Key : int {
#define HX_PY_KEY_ENUM(k) k_##k,
  HX_PY_JOB_KEYS(HX_PY_KEY_ENUM)
#undef HX_PY_KEY_ENUM
      kKeyCount
};

// The key objects, made once and kept for the life of the process, so that
// no conversion makes a key string of its own; null until all are made.
PyObject* const* keys() {
  static PyObject* made[kKeyCount] = {};
  static bool all = false;
  if (!all) {
    static char const* const names[kKeyCount] = {
#define HX_PY_KEY_NAME(k) #k,
        HX_PY_JOB_KEYS(HX_PY_KEY_NAME)
#undef HX_PY_KEY_NAME
    };
    for (int i = 0; i < kKeyCount; ++i)
      if (made[i] == nullptr) made[i] = PyUnicode_InternFromString(names[i]);
    all = true;
    for (int i = 0; i < kKeyCount; ++i) all = all && made[i] != nullptr;
  }
  return all ? made : nullptr;
}

PyObject* key(Key k) {
  PyObject* const* all = keys();
  return all != nullptr ? all[k] : nullptr;
}

// A status's name. The names are a few static texts: each is made into a
// str once and shared.
PyObject* status_name(HxStatus const& status) {
  static constexpr int kNames = 32;
  static char const* texts[kNames] = {};
  static PyObject* names[kNames] = {};
  char const* text = HxStatus::name(status.integervalue());
  for (int i = 0; i < kNames; ++i) {
    if (texts[i] == text) return Py_NewRef(names[i]);
    if (texts[i] == nullptr) {
      PyObject* name = PyUnicode_InternFromString(text);
      if (name == nullptr) return nullptr;
      names[i] = name;
      texts[i] = text;
      return Py_NewRef(name);
    }
  }
  return hx_py_str(text, static_cast<Py_ssize_t>(std::strlen(text)));
}

// A stored time as Unix seconds. Most records leave some times unset: that
// one value is made once and shared.
PyObject* time_value(int stored) {
  if (stored != 0) return hx_py_time(stored);
  // Made under the interpreter lock, which the making never gives up; kept
  // without a guard of the compiler's, so that a child forked meanwhile by a
  // thread outside the interpreter does not find one half taken.
  static PyObject* unset = nullptr;
  if (unset == nullptr) unset = hx_py_time(0);
  return unset != nullptr ? Py_NewRef(unset) : hx_py_time(0);
}

// ---- one key of one record -------------------------------------------------

template <class R>
struct Field {
  Key key;
  // Reads a present key into the record; false with an exception set.
  bool (*read)(R&, PyObject*);
  // The key's value (new reference); null without an exception leaves the
  // key out, null with one fails the dict.
  PyObject* (*write)(R const&);
};

#define HX_F_INT(k, f)                                                            \
  Field<R> {                                                                      \
    k_##k, [](R& r, PyObject* v) { return r.f(hx_py_kind_int(v)), true; },        \
        [](R const& r) { return hx_py_int(r.f()); }                               \
  }
#define HX_F_TEXT(k, f)                                                           \
  Field<R> {                                                                      \
    k_##k, [](R& r, PyObject* v) { return r.f(hx_py_kind_text(v)), true; },       \
        [](R const& r) { return hx_py_str(r.f()); }                               \
  }
#define HX_F_STATUS(k, f)                                                         \
  Field<R> {                                                                      \
    k_##k, [](R& r, PyObject* v) { return r.f(HxStatus(_py_string(v))), true; },  \
        [](R const& r) { return status_name(r.f()); }                             \
  }
#define HX_F_TIME(k, f)                                                           \
  Field<R> {                                                                      \
    k_##k, [](R& r, PyObject* v) { return r.f(HxTime(hx_py_kind_time(v))), true; }, \
        [](R const& r) { return time_value(r.f().value()); }                      \
  }
// A package value kept in a text field. The writers give None for a text
// that holds no package (empty, or plain text under "data"), and the package
// key is read after its text key: None therefore leaves the text as the
// text key set it, so that a written dict reads back with its text intact.
#define HX_F_PACKAGE(k, f)                                                        \
  Field<R> {                                                                      \
    k_##k,                                                                        \
        [](R& r, PyObject* v) {                                                   \
          if (v == Py_None) return true;                                          \
          HxString text;                                                          \
          if (!hx_py_kind_package(v, text)) return false;                         \
          r.f(text);                                                              \
          return true;                                                            \
        },                                                                        \
        [](R const& r) { return hx_py_package(r.f()); }                           \
  }
#define HX_F_READ(k, body) \
  Field<R> { k_##k, [](R& r, PyObject* v) -> bool body, nullptr }
#define HX_F_WRITE(k, body) \
  Field<R> { k_##k, nullptr, [](R const& r) -> PyObject* body }

// An address: a str holding a dotted quad is that address, so that a dict
// written by the writers (which give dotted text) reads back unchanged; an
// int or a str of digits is the address as one number, first octet most
// significant.
HxAddress read_address(PyObject* v) {
  if (PyUnicode_Check(v)) {
    HxString text = _py_string(v);
    if (HxAddress::isaddress(text)) return HxAddress(text);
  }
  return HxAddress(hx_py_kind_int(v));
}

// The field of each key of a table, found once per table.
template <class R>
using Index = std::array<Field<R> const*, kKeyCount>;
template <class R, size_t N>
Index<R> make_index(Field<R> const (&fields)[N]) {
  Index<R> out{};
  for (Field<R> const& f : fields) out[f.key] = &f;
  return out;
}

// Reads the keys of `order` that the dict holds into the record.
template <class R, size_t M>
bool read_keys(PyObject* dict, R& record, Index<R> const& index, Key const (&order)[M]) {
  for (Key k : order) {
    Field<R> const* f = index[k];
    PyObject* keyobj = key(k);
    if (f == nullptr || f->read == nullptr || keyobj == nullptr) continue;
    // A reader may run Python code (a mapping's keys(), a sequence's
    // __getitem__) that drops the value from the dict: hold it for the read.
    HxPyRef const v = HxPyRef::borrowed(PyDict_GetItemWithError(dict, keyobj));
    if (!v) {
      if (PyErr_Occurred()) return false;
      continue;
    }
    if (!f->read(record, v.get())) return false;
  }
  return true;
}

// ---- dicts of a fixed set of keys ------------------------------------------

// A record's dict is a copy of a template: a dict made once that holds the
// same keys in the same order. PyDict_Copy gives the copy a table of the
// template's size at once (from CPython 3.10 to 3.13 it copies the table of
// a dict that lost no keys whole); a dict filled key by key from empty would
// be resized on the way, four times for a job's eighty keys. The template's
// values are those of the first record written that were shared objects
// already (the small ints and the empty text the interpreter keeps, a status
// name, the unset time), None for the others, so that it holds nothing of
// that record; a later record's value that is the very same object is then
// in place already, and only the others are set. A table whose writers
// leave keys out (an empty list) makes a template for each set of keys
// present, up to kShapes; a record of any further set is written key by key.
// Kept in static storage with no constructor (so no guard of the compiler's
// that a forked child could find taken), filled under the interpreter lock,
// never freed.
template <size_t N>
struct Templates {
  static constexpr int kShapes = 8;
  static constexpr size_t kWords = (N + 63) / 64;
  struct Shape {
    uint64_t present[kWords];
    PyObject* dict;
    // The template's value of each key present (the template holds it).
    PyObject* value[N];
  };
  Shape shapes[kShapes];
  int count;
};

// The values of a dict of up to N keys, one per key of a table (new
// references; null leaves the key out), let go when the writing ends.
template <size_t N>
struct Values {
  PyObject* at[N] = {};
  uint64_t present[Templates<N>::kWords] = {};
  Values() = default;
  Values(Values const&) = delete;
  Values& operator=(Values const&) = delete;
  ~Values() {
    for (PyObject* v : at) Py_XDECREF(v);
  }
  void put(size_t i, PyObject* v) {
    at[i] = v;
    if (v != nullptr) present[i / 64] |= uint64_t{1} << (i % 64);
  }
};

// The template of the keys present; null without an exception when none is
// kept and no more can be, null with one when making it failed.
template <size_t N, class KeyOf>
typename Templates<N>::Shape const* template_for(Templates<N>& kept, Values<N> const& values, KeyOf key_of) {
  for (int s = 0; s < kept.count; ++s) {
    auto const& shape = kept.shapes[s];
    if (std::equal(std::begin(values.present), std::end(values.present), std::begin(shape.present))) return &shape;
  }
  if (kept.count == Templates<N>::kShapes) return nullptr;
  auto& shape = kept.shapes[kept.count];
  HxPyRef dict(PyDict_New());
  for (size_t i = 0; dict && i < N; ++i) {
    PyObject* const v = values.at[i];
    shape.value[i] = v == nullptr ? nullptr : Py_REFCNT(v) > 1 ? v : Py_None;
    if (v == nullptr) continue;
    PyObject* keyobj = key_of(i);
    if (keyobj == nullptr || PyDict_SetItem(dict.get(), keyobj, shape.value[i]) < 0) dict.reset();
  }
  if (!dict) {
    if (!PyErr_Occurred()) PyErr_NoMemory();
    return nullptr;
  }
  std::copy(std::begin(values.present), std::end(values.present), std::begin(shape.present));
  shape.dict = dict.release();
  ++kept.count;
  return &shape;
}

// A new dict of the values present under their keys, in the table's order;
// null with an exception set on failure.
template <size_t N, class KeyOf>
PyObject* dict_of(Templates<N>& kept, Values<N> const& values, KeyOf key_of) {
  auto const* const shape = template_for(kept, values, key_of);
  if (shape == nullptr && PyErr_Occurred()) return nullptr;
  HxPyRef dict(shape != nullptr ? PyDict_Copy(shape->dict) : PyDict_New());
  for (size_t i = 0; dict && i < N; ++i) {
    PyObject* const v = values.at[i];
    if (v == nullptr || (shape != nullptr && shape->value[i] == v)) continue;
    PyObject* keyobj = key_of(i);
    if (keyobj == nullptr || PyDict_SetItem(dict.get(), keyobj, v) < 0) dict.reset();
  }
  if (!dict && !PyErr_Occurred()) PyErr_NoMemory();
  return dict.release();
}

// Writes every field of the table, in its order, into a new dict.
template <class R, size_t N>
PyObject* write_keys(R const& record, Field<R> const (&fields)[N]) {
  static Templates<N> kept;
  PyObject* const* const all = keys();
  if (all == nullptr) return PyErr_NoMemory();
  Values<N> values;
  for (size_t i = 0; i < N; ++i) {
    if (fields[i].write == nullptr) continue;
    values.put(i, fields[i].write(record));
    if (values.at[i] == nullptr && PyErr_Occurred()) return nullptr;
  }
  return dict_of(kept, values, [&](size_t i) { return all[fields[i].key]; });
}

// ---- work ------------------------------------------------------------------

namespace work {
using R = HxWork;
Field<R> const kFields[] = {
    HX_F_TEXT(name, name),
    HX_F_INT(pid, pid),
    HX_F_INT(retry, retry),
    HX_F_WRITE(retrydelay, { return hx_py_int(r.retrydelay()); }),
    HX_F_INT(count, count),
    HX_F_INT(id, id),
    HX_F_INT(subid, subid),
    HX_F_STATUS(status, status),
    HX_F_TEXT(host, host),
    HX_F_TEXT(data, data),
    HX_F_TEXT(result, result),
    HX_F_TIME(lastupdate, lastupdate),
    HX_F_TIME(timestart, timestart),
    HX_F_TIME(timecomplete, timecomplete),
    HX_F_INT(timecumulative, timecumulative),
    HX_F_PACKAGE(resultpackage, result),
    HX_F_PACKAGE(package, data),
    HX_F_READ(address, {
      r.address(read_address(v));
      return true;
    }),
};
Key const kRead[] = {k_pid,    k_id,     k_subid,         k_count,     k_retry,        k_host,
                     k_name,   k_status, k_address,       k_data,      k_package,      k_result,
                     k_resultpackage, k_timestart, k_timecomplete, k_timecumulative, k_lastupdate};
Key const kReport[] = {k_pid, k_id, k_subid, k_host, k_name, k_status, k_address, k_result, k_resultpackage};
Index<R> const& index() {
  static Index<R> const idx = make_index(kFields);
  return idx;
}
HxAtLoad const g_index_at_load(index);
}  // namespace work

// ---- subjob ----------------------------------------------------------------

namespace subjob {
using R = HxSubjob;
Field<R> const kFields[] = {
    HX_F_INT(id, id),
    HX_F_WRITE(pid, { return hx_py_int(r.pid()); }),
    HX_F_INT(retry, retry),
    HX_F_INT(count, count),
    HX_F_WRITE(host, { return hx_py_str(r.host()); }),
    HX_F_STATUS(status, status),
    HX_F_TEXT(data, data),
    HX_F_TEXT(allocations, allocations),
    HX_F_WRITE(slots, { return hx_py_int(r.jobSlots()); }),
    HX_F_TEXT(result, result),
    HX_F_TIME(lastupdate, lastupdate),
    HX_F_TIME(timestart, timestart),
    HX_F_TIME(timecomplete, timecomplete),
    HX_F_INT(timecumulative, timecumulative),
    HX_F_PACKAGE(resultpackage, result),
    HX_F_PACKAGE(package, data),
};
Key const kRead[] = {k_id,     k_retry,         k_count,     k_status,       k_data,
                     k_allocations, k_package,  k_result,    k_resultpackage, k_timestart,
                     k_timecomplete, k_timecumulative, k_lastupdate};
Key const kReport[] = {k_id, k_status, k_data, k_package, k_result, k_resultpackage};
Index<R> const& index() {
  static Index<R> const idx = make_index(kFields);
  return idx;
}
HxAtLoad const g_index_at_load(index);
}  // namespace subjob

// ---- callback --------------------------------------------------------------

namespace callback {
using R = HxCallback;
Field<R> const kFields[] = {
    HX_F_INT(id, id),
    HX_F_INT(pid, pid),
    HX_F_TEXT(triggers, triggers),
    HX_F_TEXT(code, code),
    HX_F_TEXT(language, languagestring),
    HX_F_TEXT(user, user),
    HX_F_INT(count, count),
    HX_F_INT(maximum, maximum),
    HX_F_TEXT(ready, ready),
    HX_F_TIME(lastupdate, lastupdate),
};
Key const kRead[] = {k_id, k_pid, k_triggers, k_code, k_language, k_user, k_count, k_maximum, k_ready, k_lastupdate};
Index<R> const& index() {
  static Index<R> const idx = make_index(kFields);
  return idx;
}
HxAtLoad const g_index_at_load(index);
}  // namespace callback

// ---- job -------------------------------------------------------------------

// How deep "children" nest while one dict is read: no deeper than a job
// record can be read back from its binary form.
thread_local int t_job_depth = 0;

// A list of dicts, one per record; null without an exception for an empty
// list (the key is then left out).
template <class List, class Convert>
PyObject* write_list(List const& list, Convert convert) {
  if (list.length() == 0) return nullptr;
  HxPyRef out(PyList_New(list.length()));
  if (!out) return nullptr;
  for (int i = 0; i < list.length(); ++i) {
    PyObject* item = convert(list.get(i));
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(out.get(), i, item);
  }
  return out.release();
}

// The ten counters of a tally that have keys (its warning count has none).
struct TallyKey {
  Key key;
  int (HxStatusTally::*get)() const;
  void (HxStatusTally::*set)(int);
};
TallyKey const kTallyKeys[] = {
    {k_complete, &HxStatusTally::complete, &HxStatusTally::complete},
    {k_failed, &HxStatusTally::failed, &HxStatusTally::failed},
    {k_killed, &HxStatusTally::killed, &HxStatusTally::killed},
    {k_blocked, &HxStatusTally::blocked, &HxStatusTally::blocked},
    {k_waiting, &HxStatusTally::waiting, &HxStatusTally::waiting},
    {k_suspended, &HxStatusTally::suspended, &HxStatusTally::suspended},
    {k_pending, &HxStatusTally::pending, &HxStatusTally::pending},
    {k_running, &HxStatusTally::running, &HxStatusTally::running},
    {k_unknown, &HxStatusTally::unknown, &HxStatusTally::unknown},
    {k_badlogin, &HxStatusTally::badlogin, &HxStatusTally::badlogin},
};

bool read_tally(PyObject* v, HxStatusTally& tally) {
  if (!PyDict_Check(v)) return true;
  for (TallyKey const& t : kTallyKeys) {
    PyObject* keyobj = key(t.key);
    HxPyRef const n = HxPyRef::borrowed(keyobj != nullptr ? PyDict_GetItemWithError(v, keyobj) : nullptr);
    if (n) (tally.*t.set)(hx_py_kind_int(n.get()));
    else if (PyErr_Occurred()) return false;
  }
  return true;
}

PyObject* write_tally(HxStatusTally const& tally) {
  constexpr size_t kN = std::size(kTallyKeys);
  static Templates<kN> kept;
  PyObject* const* const all = keys();
  if (all == nullptr) return PyErr_NoMemory();
  Values<kN> values;
  for (size_t i = 0; i < kN; ++i) {
    values.put(i, hx_py_int((tally.*kTallyKeys[i].get)()));
    if (values.at[i] == nullptr) return nullptr;
  }
  return dict_of(kept, values, [&](size_t i) { return all[kTallyKeys[i].key]; });
}

bool read_env(PyObject* v, HxEnv& env) {
  if (!PyDict_Check(v)) return true;
  // The walk runs no Python code: the texts are taken by C code only.
  Py_ssize_t pos = 0;
  PyObject *name, *value;
  while (PyDict_Next(v, &pos, &name, &value)) env.set(_py_string(name), _py_string(value));
  return true;
}

// Names with their values, pairwise; a record from elsewhere whose two
// lists differ in length gives the pairs of the shorter.
PyObject* write_env(HxEnv const& env) {
  HxPyRef dict(PyDict_New());
  HxEnv& e = const_cast<HxEnv&>(env);  // the lists' readers are not const; nothing is changed
  int n = e.keys().length() < e.values().length() ? e.keys().length() : e.values().length();
  for (int i = 0; dict && i < n; ++i) {
    HxString const* name = e.keys().get(i);
    HxString const* value = e.values().get(i);
    if (!hx_py_dict_put(dict.get(), name != nullptr ? *name : HxString(), hx_py_str(value != nullptr ? *value : HxString())))
      dict.reset();
  }
  return dict.release();
}

// Drive (its first character; "" for an empty drive name, which a record
// from elsewhere can carry) to user "@" share, or the share alone; the
// password never reaches the dict.
PyObject* write_drivemap(HxEnv const& env) {
  HxPyRef dict(PyDict_New());
  HxStringList drives;
  env.mounts(drives);
  for (int i = 0; dict && i < drives.length(); ++i) {
    HxString const& drive = *drives.get(i);
    HxString user, password, share;
    password.secure(1);
    env.mount(drive, user, password, share);
    HxString text;
    if (user.length() > 0) {
      text = user;
      text += '@';
      text += share;
    } else {
      text = share;
    }
    if (!hx_py_dict_put(dict.get(), HxString(drive.value(), drive.length() > 0 ? 1 : 0), hx_py_str(text))) dict.reset();
  }
  return dict.release();
}

HxJob* dict_job(PyObject* dict);

namespace job {
using R = HxJob;
Field<R> const kFields[] = {
    HX_F_INT(id, id),
    HX_F_INT(pid, pid),
    HX_F_INT(pgrp, pgrp),
    HX_F_INT(priority, priority),
    HX_F_INT(p_agenda_priority, p_agenda_priority),
    HX_F_INT(p_agenda_cpus, p_agenda_cpus),
    HX_F_INT(localorder, localorder),
    HX_F_INT(globalorder, globalorder),
    HX_F_STATUS(status, status),
    HX_F_STATUS(subjobstatus, subjobstatus),
    HX_F_STATUS(agendastatus, agendastatus),
    HX_F_TEXT(user, user),
    HX_F_TEXT(domain, domain),
    HX_F_WRITE(reason, { return hx_py_str(r.reason()); }),
    HX_F_TEXT(queue, queue),
    HX_F_TEXT(name, name),
    HX_F_TEXT(cluster, cluster),
    HX_F_INT(cpus, cpus),
    Field<R>{k_max_cpus,
             [](R& r, PyObject* v) {
               HxString text = _py_string(v);
               r.max_cpus(text == "*" ? -1 : text.integervalue());
               return true;
             },
             [](R const& r) { return hx_py_int(r.max_cpus()); }},
    HX_F_INT(todo, todo),
    HX_F_TEXT(data, data),
    HX_F_TEXT(prototype, prototype),
    HX_F_TEXT(kind, kind),
    HX_F_TEXT(path, path),
    HX_F_TIME(timesubmit, timesubmit),
    HX_F_TIME(timestart, timestart),
    HX_F_TIME(timecomplete, timecomplete),
    HX_F_INT(flags, flags),
    HX_F_TEXT(flagsstring, flagsstring),
    HX_F_TEXT(notes, notes),
    HX_F_TEXT(account, account),
    HX_F_TEXT(label, label),
    HX_F_TEXT(dependency, dependency),
    HX_F_TEXT(mailaddress, mailaddress),
    Field<R>{k_sourcehost,
             [](R& r, PyObject* v) {
               r.sourcehost(read_address(v));
               return true;
             },
             [](R const& r) { return hx_py_str(r.sourcehost().stringvalue()); }},
    HX_F_TEXT(groups, groups),
    HX_F_TEXT(hosts, hosts),
    HX_F_TEXT(omitgroups, omitgroups),
    HX_F_TEXT(omithosts, omithosts),
    HX_F_TEXT(hostorder, hostorder),
    HX_F_TEXT(requirements, requirements),
    HX_F_TEXT(reservations, reservations),
    HX_F_TEXT(restrictions, restrictions),
    HX_F_INT(serverid, serverid),
    HX_F_INT(timeout, timeout),
    HX_F_INT(agenda_timeout, agenda_timeout),
    HX_F_INT(agendatimeout, agenda_timeout),
    HX_F_INT(auto_migrate_count, auto_migrate_count),
    HX_F_INT(retrysubjob, retrysubjob),
    HX_F_INT(retrywork, retrywork),
    HX_F_INT(retrywork_delay, retrywork_delay),
    HX_F_TIME(lastupdate, lastupdate),
    HX_F_TEXT(prod_show, prod_show),
    HX_F_TEXT(prod_shot, prod_shot),
    HX_F_TEXT(prod_seq, prod_seq),
    HX_F_TEXT(prod_client, prod_client),
    HX_F_TEXT(prod_dept, prod_dept),
    HX_F_TEXT(prod_custom1, prod_custom1),
    HX_F_TEXT(prod_custom2, prod_custom2),
    HX_F_TEXT(prod_custom3, prod_custom3),
    HX_F_TEXT(prod_custom4, prod_custom4),
    HX_F_TEXT(prod_custom5, prod_custom5),
    HX_F_TEXT(preflights, preflights),
    HX_F_TEXT(postflights, postflights),
    HX_F_TEXT(agenda_preflights, agenda_preflights),
    HX_F_TEXT(agenda_postflights, agenda_postflights),
    Field<R>{k_cpustally, [](R& r, PyObject* v) { return read_tally(v, r.cpustally()); },
             [](R const& r) { return write_tally(r.cpustally()); }},
    Field<R>{k_todotally, [](R& r, PyObject* v) { return read_tally(v, r.todotally()); },
             [](R const& r) { return write_tally(r.todotally()); }},
    HX_F_WRITE(pathmap, { return _hx_py_pathmap_dict(&r.pathmap()); }),
    HX_F_PACKAGE(package, data),
    Field<R>{k_agenda, [](R& r, PyObject* v) { return hx_py_each_record(v, r.agenda(), _hx_py_dict_work); },
             [](R const& r) { return write_list(r.agenda(), _hx_py_work_dict); }},
    Field<R>{k_p_agenda, [](R& r, PyObject* v) { return hx_py_each_record(v, r.p_agenda(), _hx_py_dict_work); },
             [](R const& r) { return write_list(r.p_agenda(), _hx_py_work_dict); }},
    Field<R>{k_callbacks, [](R& r, PyObject* v) { return hx_py_each_record(v, r.callbacks(), _hx_py_dict_callback); },
             [](R const& r) { return write_list(r.callbacks(), _hx_py_callback_dict); }},
    Field<R>{k_subjobs, [](R& r, PyObject* v) { return hx_py_each_record(v, r.subjobs(), _hx_py_dict_subjob); },
             [](R const& r) { return write_list(r.subjobs(), _hx_py_subjob_dict); }},
    Field<R>{k_children, [](R& r, PyObject* v) { return hx_py_each_record(v, r.children(), dict_job); },
             [](R const& r) { return write_list(r.children(), _hx_py_job_dict); }},
    Field<R>{k_env, [](R& r, PyObject* v) { return read_env(v, r.env()); },
             [](R const& r) { return write_env(r.env()); }},
    Field<R>{k_cwd,
             [](R& r, PyObject* v) {
               r.env().set_cwd(_py_string(v));
               return true;
             },
             [](R const& r) { return hx_py_str(const_cast<R&>(r).env().cwd()); }},
    HX_F_WRITE(drivemap, { return write_drivemap(const_cast<R&>(r).env()); }),
};
Key const kRead[] = {
    k_id, k_pid, k_pgrp, k_priority, k_p_agenda_priority, k_p_agenda_cpus, k_localorder, k_globalorder, k_status,
    k_subjobstatus, k_agendastatus, k_user, k_domain, k_queue, k_name, k_cluster, k_cpus, k_max_cpus, k_todo,
    k_data, k_prototype, k_kind, k_path, k_flags, k_flagsstring, k_account, k_notes, k_label, k_groups,
    k_omitgroups, k_hosts, k_omithosts, k_hostorder, k_requirements, k_reservations, k_restrictions,
    k_dependency, k_mailaddress, k_sourcehost, k_serverid, k_timeout, k_agenda_timeout, k_agendatimeout,
    k_auto_migrate_count, k_retrysubjob, k_retrywork, k_retrywork_delay, k_prod_show, k_prod_shot, k_prod_seq,
    k_prod_client, k_prod_dept, k_prod_custom1, k_prod_custom2, k_prod_custom3, k_prod_custom4, k_prod_custom5,
    k_preflights, k_postflights, k_agenda_preflights, k_agenda_postflights, k_timesubmit, k_timestart,
    k_timecomplete, k_lastupdate, k_cpustally, k_todotally, k_package, k_callbacks, k_agenda, k_p_agenda,
    k_children, k_subjobs, k_env, k_cwd};
Index<R> const& index() {
  static Index<R> const idx = make_index(kFields);
  return idx;
}
HxAtLoad const g_index_at_load(index);
}  // namespace job

// Builds a record of type R from a dict by its table; see the header.
template <class R, size_t M>
R* read_record(PyObject* dict, Index<R> const& index, Key const (&order)[M]) {
  if (dict == nullptr || !PyDict_Check(dict)) return nullptr;
  // Python code run while the keys are read (a key's __eq__, a value's own
  // methods) may drop the last other reference to the dict.
  HxPyRef const hold = HxPyRef::borrowed(dict);
  std::unique_ptr<R> record(new R());
  if (!read_keys(dict, *record, index, order)) return nullptr;
  return record.release();
}

// One level of "children" for a scope, given back also when a C++
// exception leaves it.
struct JobLevel {
  JobLevel() { ++t_job_depth; }
  ~JobLevel() { --t_job_depth; }
  JobLevel(JobLevel const&) = delete;
  JobLevel& operator=(JobLevel const&) = delete;
};

HxJob* dict_job(PyObject* dict) {
  if (dict == nullptr || !PyDict_Check(dict)) return nullptr;
  if (t_job_depth >= kHxMaxPackDepth) {
    PyErr_SetString(PyExc_RecursionError, "job dictionaries nested too deeply");
    return nullptr;
  }
  HxPyRecursion const level(" while reading a job dictionary");
  if (!level.entered()) return nullptr;
  JobLevel const depth;
  return read_record<HxJob>(dict, job::index(), job::kRead);
}

}  // namespace

HxWork* _hx_py_dict_work(PyObject* dict) { return read_record<HxWork>(dict, work::index(), work::kRead); }

HxSubjob* _hx_py_dict_subjob(PyObject* dict) {
  return read_record<HxSubjob>(dict, subjob::index(), subjob::kRead);
}

HxCallback* _hx_py_dict_callback(PyObject* dict) {
  return read_record<HxCallback>(dict, callback::index(), callback::kRead);
}

HxJob* _hx_py_dict_job(PyObject* dict) { return dict_job(dict); }

int _hx_py_exchange_job_depth(int depth) {
  int const was = t_job_depth;
  t_job_depth = depth;
  return was;
}

HxPathMap* _hx_py_dict_pathmap(PyObject* dict) {
  if (dict == nullptr || !PyDict_Check(dict)) return nullptr;
  PyObject* keyobj = key(k_directmap);
  HxPyRef const direct = HxPyRef::borrowed(keyobj != nullptr ? PyDict_GetItemWithError(dict, keyobj) : nullptr);
  if (!direct) return PyErr_Occurred() ? nullptr : new HxPathMap();
  if (!PyDict_Check(direct.get())) return nullptr;
  std::unique_ptr<HxPathMap> map(new HxPathMap());
  // The walk runs no Python code: the texts are taken by C code only.
  Py_ssize_t pos = 0;
  PyObject *source, *replacement;
  while (PyDict_Next(direct.get(), &pos, &source, &replacement))
    map->addToDirectMap(_py_string(source), _py_string(replacement));
  return map.release();
}

bool _hx_py_dict_work_report(PyObject* dict, HxWork& work) {
  return read_keys(dict, work, work::index(), work::kReport);
}

bool _hx_py_dict_subjob_report(PyObject* dict, HxSubjob& subjob) {
  return read_keys(dict, subjob, subjob::index(), subjob::kReport);
}

PyObject* _hx_py_work_dict(HxWork const* work) {
  return work == nullptr ? PyDict_New() : write_keys(*work, work::kFields);
}

PyObject* _hx_py_subjob_dict(HxSubjob const* subjob) {
  return subjob == nullptr ? PyDict_New() : write_keys(*subjob, subjob::kFields);
}

PyObject* _hx_py_callback_dict(HxCallback const* callback) {
  return callback == nullptr ? PyDict_New() : write_keys(*callback, callback::kFields);
}

PyObject* _hx_py_job_dict(HxJob const* job) {
  if (job == nullptr) return PyDict_New();
  HxPyRecursion const level(" while writing a job dictionary");
  if (!level.entered()) return nullptr;
  return write_keys(*job, job::kFields);
}

PyObject* _hx_py_pathmap_dict(HxPathMap const* map) {
  HxPyRef out(PyDict_New());
  if (!out || map == nullptr || map->is_empty()) return out.release();
  HxStringHash& hash = const_cast<HxPathMap*>(map)->directmap();  // read only
  HxPyRef direct(PyDict_New());
  for (int s = 0; direct && s < hash.size(); ++s) {
    HxString const* source = hash._key(s);
    HxString const* replacement = source != nullptr ? hash._value(s) : nullptr;
    if (source == nullptr || replacement == nullptr) continue;
    HxPyRef const k(hx_py_str(*source));
    HxPyRef const v(hx_py_str(*replacement));
    if (!k || !v || PyDict_SetItem(direct.get(), k.get(), v.get()) < 0) direct.reset();
  }
  if (!direct || PyDict_SetItem(out.get(), key(k_directmap), direct.get()) < 0) return nullptr;
  return out.release();
}

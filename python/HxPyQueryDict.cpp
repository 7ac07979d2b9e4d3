#include "python/HxPyQueryDict.h"

#include <climits>
#include <memory>
#include <string_view>

#include "python/HxPyConvert.h"
#include "python/HxPyJobDict.h"

namespace {

// Sets value to the value of a present key, held for as long as the caller
// uses it (its conversion may run Python code that drops it from the
// dict); empty when the key is absent. False, with the exception set, when
// the lookup raised.
bool get(PyObject* dict, char const* key, HxPyRef& value) { return hx_py_dict_get(dict, key, value); }

// Sets is to whether a key is present with a value that passes the sequence
// check (a str does too). False, with the exception set, when the lookup
// raised.
bool has_sequence(PyObject* dict, char const* key, bool& is) {
  HxPyRef v;
  if (!get(dict, key, v)) return false;
  is = v && PySequence_Check(v.get());
  return true;
}

// Fills a new dict by fn(dict); null (dict dropped) when fn failed.
template <class Fn>
PyObject* make_dict(Fn&& fn) {
  HxPyRef dict(PyDict_New());
  if (dict && !fn(dict.get())) dict.reset();
  return dict.release();
}

}  // namespace

// ---- records to dictionaries ------------------------------------------------

PyObject* _hx_py_host_dict(HxHost* host) {
  return make_dict([host](PyObject* d) {
    bool ok = hx_py_dict_put(d, "state", hx_py_str(host->state().value())) &&
              hx_py_dict_put(d, "description", hx_py_str(host->description())) &&
              hx_py_dict_put(d, "name", hx_py_str(host->name())) &&
              hx_py_dict_put(d, "cluster", hx_py_str(host->cluster())) &&
              hx_py_dict_put(d, "resources", hx_py_str(host->resources())) &&
              hx_py_dict_put(d, "restrictions", hx_py_str(host->restrictions())) &&
              hx_py_dict_put(d, "properties", hx_py_str(host->properties())) &&
              hx_py_dict_put(d, "stats", hx_py_str(host->stats())) &&
              hx_py_dict_put(d, "jobtypes", hx_py_str(host->jobtypes())) &&
              hx_py_dict_put(d, "reason", hx_py_str(host->reason())) &&
              hx_py_dict_put(d, "locks", hx_py_str(host->locks())) &&
              hx_py_dict_put(d, "groups", hx_py_str(host->groups())) &&
              hx_py_dict_put(d, "lastupdate", hx_py_time(host->lastupdate().value())) &&
              hx_py_dict_put(d, "address", hx_py_str(host->address().stringvalue())) &&
              hx_py_dict_put(d, "macaddress", hx_py_str(host->macaddress().value())) &&
              hx_py_dict_put(d, "flags", hx_py_int(host->flags())) &&
              hx_py_dict_put(d, "flagsstring", hx_py_str(host->flagsstring()));
    if (ok && host->subjobs().length() > 0)
      ok = hx_py_dict_put(d, "subjobs", hx_py_list_of(host->subjobs(), [](HxSubjob* s) { return _hx_py_subjob_dict(s); }));
    return ok;
  });
}

PyObject* _hx_py_log_dict(HxLog* log) {
  return make_dict([log](PyObject* d) {
    return hx_py_dict_put(d, "jobid", hx_py_int(log->jobid())) && hx_py_dict_put(d, "subid", hx_py_int(log->subid())) &&
           hx_py_dict_put(d, "fullsize", hx_py_int(log->fullsize())) &&
           hx_py_dict_put(d, "data", hx_py_str(log->data()));
  });
}

PyObject* _hx_py_history_dict(HxHistory* h) {
  return make_dict([h](PyObject* d) {
    return hx_py_dict_put(d, "jobid", hx_py_int(h->jobid())) && hx_py_dict_put(d, "subid", hx_py_int(h->subid())) &&
           hx_py_dict_put(d, "workid", hx_py_str(h->workid())) &&
           hx_py_dict_put(d, "comment", hx_py_str(h->comment())) &&
           hx_py_dict_put(d, "stamp", hx_py_str(h->stamp().ascii())) &&
           hx_py_dict_put(d, "timestamp", hx_py_time(h->stamp().value()));
  });
}

PyObject* __hx_py_result_dict(HxResult* result) {
  return make_dict([result](PyObject* d) {
    if (result == nullptr) return true;
    auto text = [](auto const* id) { return hx_py_str(id->value()); };
    return (result->jobids().length() == 0 || hx_py_dict_put(d, "jobids", hx_py_list_of(result->jobids(), text))) &&
           (result->workids().length() == 0 || hx_py_dict_put(d, "workids", hx_py_list_of(result->workids(), text))) &&
           (result->hostnames().length() == 0 ||
            hx_py_dict_put(d, "hostnames", hx_py_list_of(result->hostnames(), text)));
  });
}

// ---- fields, filters, orders, queries ---------------------------------------

HxField* _hx_py_dict_field(PyObject* dict) {
  if (dict == nullptr || !PyDict_Check(dict)) return nullptr;
  std::unique_ptr<HxField> field(new HxField);
  HxPyRef value, sign;
  if (!get(dict, "value", value)) return nullptr;
  if (value) field->value(hx_py_kind_text(value.get()));
  if (!get(dict, "sign", sign)) return nullptr;
  if (!sign) {
    // Without a sign of its own a field compares plainly, whatever "value"
    // began with.
    field->sign(HxString(""));
  } else {
    HxString text = hx_py_kind_text(sign.get());
    if (text.length() > 0) field->sign(text);
  }
  return field.release();
}

HxFilter* _hx_py_dict_filter(PyObject* dict) {
  if (dict == nullptr || !PyDict_Check(dict)) return nullptr;
  std::unique_ptr<HxFilter> filter(new HxFilter);
  bool const ok =
      hx_py_with_key(dict, "name", [&](PyObject* v) { filter->name(hx_py_kind_text(v)); }) &&
      hx_py_with_key(dict, "sign",
                     [&](PyObject* v) {
                       HxString text = hx_py_kind_text(v);
                       if (text.length() > 0) filter->sign(text);
                     }) &&
      hx_py_with_key(dict, "neg", [&](PyObject* v) { filter->neg(hx_py_kind_byte(v)); }) &&
      hx_py_with_key(dict, "fields",
                     [&](PyObject* v) { return hx_py_each_record(v, filter->fields(), _hx_py_dict_field); });
  return ok ? filter.release() : nullptr;
}

bool __hx_py_dict_order(PyObject* dict, HxOrder* order) {
  if (dict == nullptr || order == nullptr || !PyDict_Check(dict)) return false;
  return hx_py_with_key(dict, "lock", [&](PyObject* v) { order->lock(hx_py_kind_text(v)); }) &&
         hx_py_with_key(dict, "action", [&](PyObject* v) { order->action(hx_py_kind_int(v)); }) &&
         hx_py_with_key(dict, "filters",
                        [&](PyObject* v) { return hx_py_each_record(v, order->filters(), _hx_py_dict_filter); });
}

HxOrder* _hx_py_dict_order(PyObject* dict) {
  std::unique_ptr<HxOrder> order(new HxOrder);
  return __hx_py_dict_order(dict, order.get()) ? order.release() : nullptr;
}

HxQuery* _hx_py_dict_query(PyObject* dict) {
  if (dict == nullptr || !PyDict_Check(dict)) return nullptr;
  std::unique_ptr<HxQuery> query(new HxQuery);
  bool const ok =
      hx_py_with_key(dict, "fields",
                     [&](PyObject* v) { return hx_py_each_record(v, query->fields(), _hx_py_dict_field); }) &&
      hx_py_with_key(dict, "filters",
                     [&](PyObject* v) { return hx_py_each_record(v, query->filters(), _hx_py_dict_filter); });
  return ok ? query.release() : nullptr;
}

HxQuery* _hx_py_parse_query(PyObject* object) {
  if (object == nullptr || !PyDict_Check(object)) return nullptr;
  bool is = false;
  if (!has_sequence(object, "fields", is)) return nullptr;
  if (!is && !has_sequence(object, "filters", is)) return nullptr;
  return is ? _hx_py_dict_query(object) : nullptr;
}

bool hx_py_filters(PyObject* dict, HxFilterList& filters, bool dict_is_filter) {
  // A snapshot of the pairs: reading a value must not meet a dict that
  // changed under it.
  HxPyRef const items(PyDict_Items(dict));
  if (!items) return false;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
    // The pair, held by the snapshot, holds its value while a filter
    // dictionary's conversion runs Python code.
    PyObject* pair = PyList_GET_ITEM(items.get(), i);
    HxString const name = _py_string(PyTuple_GET_ITEM(pair, 0));
    PyObject* value = PyTuple_GET_ITEM(pair, 1);
    if (PyTuple_Check(value) || PyList_Check(value)) {
      // Reading the items by index runs no Python code.
      std::unique_ptr<HxFilter> filter(new HxFilter(name));
      for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(value); ++k) {
        PyObject* item = PySequence_Fast_GET_ITEM(value, k);
        if (item != Py_None) filter->fields().append(new HxField(_py_string(item)));
      }
      filters.append(filter.release());
    } else if (PyDict_Check(value) && dict_is_filter) {
      HxFilter* filter = _hx_py_dict_filter(value);
      if (filter == nullptr) return false;
      filters.append(filter);
    } else {
      filters.append(new HxFilter(name, PyDict_Check(value) ? HxString("") : _py_string(value)));
    }
  }
  return true;
}

bool hx_py_positional_query(PyObject* args, Py_ssize_t at, HxQuery& query) {
  Py_ssize_t const n = PyTuple_GET_SIZE(args);
  if (at < n && (PyTuple_Check(PyTuple_GET_ITEM(args, at)) || PyList_Check(PyTuple_GET_ITEM(args, at)))) {
    PyObject* fields = PyTuple_GET_ITEM(args, at++);
    for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(fields); ++k)
      query.fields().append(new HxField(_py_string(PySequence_Fast_GET_ITEM(fields, k))));
  }
  if (at < n && PyDict_Check(PyTuple_GET_ITEM(args, at)) &&
      !hx_py_filters(PyTuple_GET_ITEM(args, at++), query.filters(), true))
    return false;
  if (at < n && PyDict_Check(PyTuple_GET_ITEM(args, at))) {
    PyObject* options = PyTuple_GET_ITEM(args, at);
    return hx_py_with_key(options, "limit", [&](PyObject* v) { query.limit(hx_py_kind_int(v)); }) &&
           hx_py_with_key(options, "orderby", [&](PyObject* v) { query.order_by(_py_string(v)); });
  }
  return true;
}

// ---- commands ----------------------------------------------------------------

bool hx_py_int32(PyObject* item, int& value) {
  if (!PyLong_Check(item)) return false;
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(item, &overflow);
  if (overflow != 0 || (v == -1 && PyErr_Occurred())) {
    PyErr_Clear();
    return false;
  }
  if (v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

bool hx_py_id_text(PyObject* item, HxString& text) {
  if (PyUnicode_Check(item)) {
    text = _py_string(item);
    return true;
  }
  int v = 0;
  if (!hx_py_int32(item, v)) return false;
  text = _py_string(item);
  return true;
}

namespace {

// An identifier item of "jobids" or "workids": any value's text, except an
// int beyond 32 bits, which would name another job and is skipped.
bool id_item(PyObject* item, HxString& text) {
  int v = 0;
  if (PyLong_Check(item) && !hx_py_int32(item, v)) return false;
  text = _py_string(item);
  return true;
}

// The items of a "jobids" or "workids" value into the command's list.
template <class Id, class List>
bool read_ids(PyObject* value, List& list) {
  return hx_py_each_record(value, list, [](PyObject* item) -> Id* {
    HxString text;
    return id_item(item, text) ? new Id(text) : nullptr;
  });
}

}  // namespace

bool __hx_py_dict_command(PyObject* dict, HxCommand* command) {
  if (dict == nullptr || command == nullptr || !PyDict_Check(dict)) return false;
  return hx_py_with_key(dict, "restrictions", [&](PyObject* v) { command->restrictions(hx_py_kind_byte(v)); }) &&
         hx_py_with_key(dict, "background", [&](PyObject* v) { command->background(hx_py_kind_byte(v)); }) &&
         hx_py_with_key(dict, "limit", [&](PyObject* v) { command->limit(hx_py_kind_int(v)); }) &&
         hx_py_with_key(dict, "action", [&](PyObject* v) { command->action(hx_py_kind_int(v)); }) &&
         hx_py_with_key(dict, "filters",
                        [&](PyObject* v) { return hx_py_each_record(v, command->filters(), _hx_py_dict_filter); }) &&
         hx_py_with_key(dict, "jobids", [&](PyObject* v) { return read_ids<HxJobId>(v, command->jobids()); }) &&
         hx_py_with_key(dict, "workids", [&](PyObject* v) { return read_ids<HxWorkId>(v, command->workids()); }) &&
         hx_py_with_key(dict, "groups", [&](PyObject* v) {
           return hx_py_each_record(v, command->groups(), [](PyObject* item) { return new HxString(_py_string(item)); });
         });
}

HxCommand* _hx_py_dict_command(PyObject* dict) {
  std::unique_ptr<HxCommand> command(new HxCommand);
  return __hx_py_dict_command(dict, command.get()) ? command.release() : nullptr;
}

HxCommand* _hx_py_parse_command(PyObject* object) {
  if (object == nullptr || !PyDict_Check(object)) return nullptr;
  bool is = false;
  for (char const* key : {"restrictions", "background", "limit", "action"}) {
    HxPyRef v;
    if (!is && !get(object, key, v)) return nullptr;
    is = is || v;
  }
  for (char const* key : {"filters", "jobids", "workids", "groups"}) {
    if (!is && !has_sequence(object, key, is)) return nullptr;
  }
  return is ? _hx_py_dict_command(object) : nullptr;
}

// ---- modify commands -----------------------------------------------------------

namespace {

// Sets the template's field from a value; false with an exception set when
// the value cannot be read (a package nested without end).
using Setter = bool (*)(HxJob&, PyObject*);

#define HX_INT_KEY(key) {#key, #key, [](HxJob& j, PyObject* v) { return j.key(hx_py_kind_int(v)), true; }}
#define HX_TEXT_KEY(key) {#key, #key, [](HxJob& j, PyObject* v) { return j.key(hx_py_kind_text(v)), true; }}

struct ModifyKey {
  char const* key;
  char const* field;
  Setter set;
};

// The top-level keys of a modify dictionary in reading order, with the job
// field each names and how its value is set on the template.
ModifyKey const kModifyKeys[] = {
    HX_INT_KEY(priority),
    HX_INT_KEY(p_agenda_priority),
    HX_INT_KEY(timeout),
    HX_INT_KEY(agenda_timeout),
    {"agendatimeout", "agenda_timeout",
     [](HxJob& j, PyObject* v) { return j.agenda_timeout(hx_py_kind_int(v)), true; }},
    HX_INT_KEY(retrysubjob),
    HX_INT_KEY(retrywork),
    HX_INT_KEY(retrywork_delay),
    HX_TEXT_KEY(mailaddress),
    HX_TEXT_KEY(notes),
    HX_TEXT_KEY(name),
    HX_TEXT_KEY(cluster),
    HX_TEXT_KEY(account),
    HX_TEXT_KEY(restrictions),
    HX_TEXT_KEY(requirements),
    HX_TEXT_KEY(reservations),
    HX_TEXT_KEY(omitgroups),
    HX_TEXT_KEY(omithosts),
    HX_TEXT_KEY(groups),
    HX_TEXT_KEY(hosts),
    HX_TEXT_KEY(hostorder),
    HX_INT_KEY(cpus),
    {"max_cpus", "max_cpus",
     [](HxJob& j, PyObject* v) { return j.max_cpus(_py_string(v) == "*" ? -1 : hx_py_kind_int(v)), true; }},
    HX_TEXT_KEY(data),
    {"package", "data",
     [](HxJob& j, PyObject* v) {
       HxString text;
       if (!hx_py_kind_package(v, text)) return false;
       j.data(text);
       return true;
     }},
    HX_INT_KEY(pgrp),
    {"env", "env",
     [](HxJob& j, PyObject* v) {
       HxPyRef const items(PyDict_Items(v));
       if (!items) return false;
       for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
         PyObject* pair = PyList_GET_ITEM(items.get(), i);
         j.env().set(_py_string(PyTuple_GET_ITEM(pair, 0)), _py_string(PyTuple_GET_ITEM(pair, 1)));
       }
       return true;
     }},
    HX_TEXT_KEY(prod_show),
    HX_TEXT_KEY(prod_shot),
    HX_TEXT_KEY(prod_seq),
    HX_TEXT_KEY(prod_client),
    HX_TEXT_KEY(prod_dept),
    HX_TEXT_KEY(prod_custom1),
    HX_TEXT_KEY(prod_custom2),
    HX_TEXT_KEY(prod_custom3),
    HX_TEXT_KEY(prod_custom4),
    HX_TEXT_KEY(prod_custom5),
    HX_TEXT_KEY(preflights),
    HX_TEXT_KEY(postflights),
    HX_TEXT_KEY(agenda_preflights),
    HX_TEXT_KEY(agenda_postflights),
};

#undef HX_INT_KEY
#undef HX_TEXT_KEY

}  // namespace

HxModifyCommand* _hx_py_dict_modifycommand(PyObject* dict) {
  if (dict == nullptr || !PyDict_Check(dict)) return nullptr;
  std::unique_ptr<HxModifyCommand> command(new HxModifyCommand);
  if (!__hx_py_dict_command(dict, command.get())) return nullptr;
  // A template that cannot be read (nested without end, or the caller's
  // code raising) fails the whole command: sent without it, the fields
  // would take default values.
  bool const read_job = hx_py_with_key(dict, "job", [&](PyObject* v) {
    std::unique_ptr<HxJob> job(_hx_py_dict_job(v));
    if (job != nullptr) command->job(*job);
    return job != nullptr || !PyErr_Occurred();
  });
  if (!read_job) return nullptr;
  HxPyRef fields;
  if (!get(dict, "fields", fields)) return nullptr;
  if (fields && PySequence_Check(fields.get())) {
    if (!hx_py_each_record(fields.get(), command->fields(), _hx_py_dict_field)) return nullptr;
    return command.release();
  }
  HxJob job;
  bool any = false;
  for (ModifyKey const& k : kModifyKeys) {
    HxPyRef v, instead;
    if (!get(dict, k.key, v)) return nullptr;
    if (!v) continue;
    if (std::string_view(k.key) == "agendatimeout") {
      if (!get(dict, "agenda_timeout", instead)) return nullptr;
      if (instead) continue;
    }
    if (std::string_view(k.key) == "env" && !PyDict_Check(v.get())) continue;
    command->fields().append(new HxField(HxString(k.field)));
    if (!k.set(job, v.get())) return nullptr;
    any = true;
  }
  if (!any) return nullptr;
  command->job(job);
  return command.release();
}

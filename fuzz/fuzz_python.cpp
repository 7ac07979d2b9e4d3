// Arbitrary bytes as the compact package text that the module turns into
// Python values, and as configuration text that it turns into a dict. The
// values convert back without error, and a configuration dict survives a
// second trip through a configuration unchanged. The bytes are also read as
// a job, a work item and a subjob, whose dicts read back into records whose
// dicts no longer change, and as host, log, history and result records,
// which become their dictionaries. Last, the bytes choose a hostile
// dictionary for each reader of the module's argument dicts: keys and
// values of every kind, sequences that drop themselves (or their dict) from
// their dict when read, mappings that do so in keys(), keys whose __hash__
// clears a dict, dicts that hold themselves. Each reader returns or fails
// cleanly and never reads a freed value (the interpreter's objects go
// through the checked allocator).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "model/job/HxJob.h"
#include "model/job/HxWork.h"
#include "python/HxPyConvert.h"
#include "python/HxPyJobDict.h"
#include "python/HxPyQueryDict.h"

// The interpreter is started once and never finalised: what it allocates
// for itself is not the converters' leak.
extern "C" char const* __lsan_default_suppressions() { return "leak:libpython3\n"; }

namespace {

void check(bool ok) {
  if (!ok) {
    PyErr_Print();
    std::abort();
  }
}

void package(std::string const& text) {
  _hx_package_pack* node = hx_package_expand(text.c_str());
  PyObject* value = _unpack(node);
  hx_package_destroy(node);
  check(value != nullptr);
  HxString back;
  check(hx_py_kind_package(value, back));
  // What was read packs to text that reads back to the same value shape:
  // reading it again must succeed as well.
  PyObject* again = hx_py_package(back);
  check(again != nullptr);
  Py_DECREF(again);
  Py_DECREF(value);
}

void config(std::string const& text) {
  HxConfig parsed;
  parsed.parse(HxString(text.data(), static_cast<int>(text.size())));
  PyObject* dict = _hx_py_config_dict(&parsed);
  check(dict != nullptr);
  HxConfig* made = _hx_py_dict_config(dict);
  check(made != nullptr);
  PyObject* again = _hx_py_config_dict(made);
  check(again != nullptr);
  check(PyObject_RichCompareBool(dict, again, Py_EQ) == 1);
  delete made;
  Py_DECREF(again);
  Py_DECREF(dict);
}

// The dict of a record read back and written again, twice: after the first
// trip (which settles texts that are not UTF-8, unnamed flag bits, package
// texts in another layout) a second changes nothing.
template <class R>
void record(std::string const& bytes, R* (*read)(PyObject*), PyObject* (*write)(R const*)) {
  R decoded;
  decoded.unpack(bytes.data(), static_cast<int>(bytes.size()));
  PyObject* first = write(&decoded);
  check(first != nullptr);
  PyObject* dicts[2] = {nullptr, nullptr};
  PyObject* from = first;
  for (PyObject*& out : dicts) {
    R* back = read(from);
    check(back != nullptr);
    out = write(back);
    delete back;
    check(out != nullptr);
    from = out;
  }
  check(PyObject_RichCompareBool(dicts[0], dicts[1], Py_EQ) == 1);
  Py_DECREF(first);
  Py_DECREF(dicts[0]);
  Py_DECREF(dicts[1]);
}

// Whatever a record decodes to converts to a dict without an error.
template <class Rec, class Fn>
void to_dict(std::string const& bytes, Fn&& fn) {
  Rec rec;
  rec.unpack(bytes.data(), static_cast<int>(bytes.size()));
  PyObject* dict = fn(&rec);
  check(dict != nullptr && PyDict_Check(dict));
  Py_DECREF(dict);
}

// The builder of hostile dictionaries, run once: build(data) makes a new
// dict from the bytes each time it is called (a shape drops its values only
// once).
char const kHostile[] = R"(
class D(dict):
    pass

class Gone(list):
    def __init__(self, items, drop):
        super().__init__(items)
        self.drop = drop
    def __getitem__(self, i):
        drop, self.drop = self.drop, None
        if drop:
            drop()
        return list.__getitem__(self, i)

class PopMap:
    def __init__(self, drop, keys):
        self.drop, self.names = drop, keys
    def keys(self):
        drop, self.drop = self.drop, None
        if drop:
            drop()
        return self.names
    def __getitem__(self, k):
        return "value of " + str(k)

class Clearing(str):
    drop = None
    def __hash__(self):
        drop, self.drop = self.drop, None
        if drop:
            drop()
        return str.__hash__(self)
    __eq__ = str.__eq__

KEYS = ["filters", "jobids", "workids", "groups", "fields", "job", "package", "config", "userlist",
        "workers", "name", "value", "sign", "neg", "lock", "action", "priority", "env", "agenda",
        "children", "subjobs", "callbacks", "resultpackage", "limit", "orderby", "restrictions",
        "directmap", "username", "section", "max_cpus", "cpustally", "id"]

def build(data):
    pos = [0]
    top = []
    armed = []
    def byte():
        if pos[0] >= len(data):
            return None
        pos[0] += 1
        return data[pos[0] - 1]
    def dropper(owner, key, parent):
        how = (byte() or 0) % 4
        def drop():
            if how == 0:
                owner.pop(key, None)
            elif how == 1:
                owner.clear()
            elif how == 2 and parent is not None:
                parent.clear()
            elif top:
                top[0].clear()
        return drop
    def value(depth, owner, key, parent):
        b = byte()
        if b is None or depth > 5:
            return "text"
        kind = b % 11
        if kind == 0:
            return make(depth + 1, owner)
        if kind in (1, 2):
            items = [value(depth + 1, owner, key, parent) for _ in range((byte() or 0) % 4)]
            return Gone(items, dropper(owner, key, parent)) if kind == 1 else items
        if kind == 3:
            return PopMap(dropper(owner, key, parent), [KEYS[(byte() or 0) % len(KEYS)], 7])
        if kind == 4:
            return "%d.%d" % (b, b % 3)
        if kind == 5:
            return b - 128 if b % 2 else 2 ** 40 + b
        if kind == 6:
            return None
        if kind == 7:
            return owner
        if kind == 8:
            return 1.5
        if kind == 9:
            return tuple(value(depth + 1, owner, key, parent) for _ in range((byte() or 0) % 3))
        return b"bytes"
    def make(depth, parent):
        d = D() if (byte() or 0) % 2 else {}
        if not top:
            top.append(d)
        for _ in range((byte() or 0) % 6):
            name = KEYS[(byte() or 0) % len(KEYS)]
            if (byte() or 0) % 4 == 0:
                name = Clearing(name)
                armed.append((name, dropper(d, name, parent)))
            d[name] = value(depth, d, name, parent)
        return d
    out = make(0, None)
    for name, drop in armed:
        name.drop = drop
    # The inner functions hold each other until collected: the list must not
    # keep the drop functions, and with them their dicts, alive.
    armed.clear()
    return out
)";

PyObject* builder() {
  static PyObject* build = [] {
    PyObject* globals = PyDict_New();
    PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
    PyObject* r = PyRun_String(kHostile, Py_file_input, globals, globals);
    check(r != nullptr);
    Py_DECREF(r);
    PyObject* fn = PyDict_GetItemString(globals, "build");
    Py_INCREF(fn);
    return fn;  // the globals stay with it for the life of the process
  }();
  return build;
}

// A new hostile dict made from the bytes.
HxPyRef hostile_dict(std::string const& bytes) {
  HxPyRef out(PyObject_CallFunction(builder(), "y#", bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
  check(out && PyDict_Check(out.get()));
  return out;
}

// Runs a reader on a fresh hostile dict. Readers that raise nothing leave
// no exception; the others (job and modify dicts, packages) may fail with
// one, which is then cleared.
template <class Fn>
void read_hostile(std::string const& bytes, bool may_raise, Fn&& read) {
  HxPyRef const dict = hostile_dict(bytes);
  read(dict.get());
  if (may_raise) PyErr_Clear();
  check(PyErr_Occurred() == nullptr);
}

void hostile(std::string const& bytes) {
  read_hostile(bytes, false, [](PyObject* d) { delete _hx_py_parse_command(d); });
  read_hostile(bytes, false, [](PyObject* d) { delete _hx_py_dict_command(d); });
  read_hostile(bytes, false, [](PyObject* d) { delete _hx_py_parse_query(d); });
  read_hostile(bytes, false, [](PyObject* d) { delete _hx_py_dict_query(d); });
  read_hostile(bytes, false, [](PyObject* d) { delete _hx_py_dict_filter(d); });
  read_hostile(bytes, false, [](PyObject* d) { delete _hx_py_dict_order(d); });
  read_hostile(bytes, false, [](PyObject* d) { delete _hx_py_dict_admin_order(d); });
  read_hostile(bytes, false, [](PyObject* d) { delete _hx_py_dict_config(d); });
  read_hostile(bytes, false, [](PyObject* d) {
    HxFilterList filters;
    check(hx_py_filters(d, filters, true));
  });
  read_hostile(bytes, false, [](PyObject* d) {
    HxQuery query;
    HxPyRef const args(PyTuple_Pack(3, d, d, d));
    check(static_cast<bool>(args));
    check(hx_py_positional_query(args.get(), 0, query));
  });
  read_hostile(bytes, true, [](PyObject* d) { delete _hx_py_dict_modifycommand(d); });
  read_hostile(bytes, true, [](PyObject* d) { delete _hx_py_dict_job(d); });
  read_hostile(bytes, true, [](PyObject* d) { delete _hx_py_dict_work(d); });
  read_hostile(bytes, true, [](PyObject* d) {
    HxString text;
    hx_py_kind_package(d, text);
  });
  // The shapes hold themselves through their drop functions: collected
  // here, so that the run frees what it allocated (an unbalanced run makes
  // the fuzzer look for leaks after it, at great cost).
  PyGC_Collect();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (!Py_IsInitialized()) {
    // Every object through the checked allocator, and freed ones overwritten:
    // a freed object read again, also inside the interpreter (which is not
    // instrumented), is then found.
    setenv("PYTHONMALLOC", "malloc_debug", 0);
    Py_InitializeEx(0);
  }
  std::string text(reinterpret_cast<char const*>(data), size);
  package(text);
  config(text);
  record<HxJob>(text, _hx_py_dict_job, _hx_py_job_dict);
  record<HxWork>(text, _hx_py_dict_work, _hx_py_work_dict);
  record<HxSubjob>(text, _hx_py_dict_subjob, _hx_py_subjob_dict);
  to_dict<HxHost>(text, _hx_py_host_dict);
  to_dict<HxLog>(text, _hx_py_log_dict);
  to_dict<HxHistory>(text, _hx_py_history_dict);
  to_dict<HxResult>(text, __hx_py_result_dict);
  check(PyErr_Occurred() == nullptr);
  hostile(text);
  return 0;
}

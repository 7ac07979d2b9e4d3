// Arbitrary bytes as the compact package text that the module turns into
// Python values, and as configuration text that it turns into a dict. The
// values convert back without error, and a configuration dict survives a
// second trip through a configuration unchanged. The bytes are also read as
// a job, a work item and a subjob, whose dicts read back into records whose
// dicts no longer change, and as host, log, history and result records,
// which become their dictionaries.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "model/job/HxJob.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (!Py_IsInitialized()) Py_InitializeEx(0);
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
  return 0;
}

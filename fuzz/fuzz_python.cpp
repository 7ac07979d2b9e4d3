// Arbitrary bytes as the compact package text that the module turns into
// Python values, and as configuration text that it turns into a dict. The
// values convert back without error, and a configuration dict survives a
// second trip through a configuration unchanged. The same bytes decoded as
// host, log, history and result records become their dictionaries.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "python/HxPyConvert.h"
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

// Whatever a record decodes to converts to a dict without an error.
template <class Rec, class Fn>
void record(std::string const& bytes, Fn&& fn) {
  Rec rec;
  rec._unpack(bytes.data(), static_cast<int>(bytes.size()));
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
  record<HxHost>(text, _hx_py_host_dict);
  record<HxLog>(text, _hx_py_log_dict);
  record<HxHistory>(text, _hx_py_history_dict);
  record<HxResult>(text, __hx_py_result_dict);
  check(PyErr_Occurred() == nullptr);
  return 0;
}

// Package compact text and package XML from hostile job data: the readers
// must stay in bounds and in depth, and compact text must read back to the
// same tree.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/pack/HxPackage.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  HxString text(reinterpret_cast<char const*>(data), static_cast<int>(size));

  HxPackage p;
  p.expand(text);
  HxString once = p.compact();
  HxPackage q;
  q.expand(once);
  if (!(q.compact() == once)) std::abort();
  HxPackage copy(p);
  HxStringList all;
  copy._collect(all);

  std::string c(reinterpret_cast<char const*>(data), size);
  _hx_package_pack* t = hx_package_expand(c.c_str());
  if (t != nullptr) {
    std::string compact = hx_package_compact(t);
    _hx_package_pack* back = hx_package_expand(compact.c_str());
    if (back == nullptr || compact != hx_package_compact(back)) std::abort();
    hx_package_xml_compact(t);
    _pack(t, 0);
    hx_package_destroy(back);
    hx_package_destroy(t);
  }
  _hx_package_pack* x = hx_package_xml_expand(c.c_str());
  if (x != nullptr) {
    hx_package_xml_compact(x);
    hx_package_destroy(x);
  }
  return 0;
}

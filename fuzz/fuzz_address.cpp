// Address and host-name texts from configuration files and peers: parsing
// must stay in bounds, and what the strict tests accept must parse back to
// the same text.
#include <cstdint>
#include <cstdlib>

#include "core/HxAddress.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  HxString text(reinterpret_cast<char const*>(data), static_cast<int>(size));

  HxAddress a(text);
  a.copy(text);
  a.stringvalue();
  a.hexvalue();
  if (HxAddress::isaddress(text)) {
    HxAddress b(text);
    HxAddress c(b.stringvalue());
    if (b.blank() || c.value() != b.value()) std::abort();
  }

  HxMacAddress m(text);
  m.blank();
  if (!(HxMacAddress(m.value()).value() == m.value())) std::abort();
  HxMacAddress::isaddress(text);
  m.pack();
  HxMacAddress back;
  back.unpack(m.packContents(), m.packSize());

  HxHostname h;
  h = text;
  HxHostname again;
  again = h.value();
  if (!(again.host() == h.host()) || again.port() != h.port()) std::abort();
  h.pack();
  HxHostname hb;
  hb.unpack(h.packContents(), h.packSize());
  return 0;
}

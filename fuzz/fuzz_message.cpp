// Arbitrary bytes as a received envelope: decoding stays within the input
// and creates only registered content; the message is then copied, packed
// again, read back to the same bytes, and cleared.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/HxDebug.h"
#include "net/HxMessage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The registry's lines for unknown codes would flood the output.
  hx_debug_filename("/dev/null", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1u << 20)) return 0;
  char const* bytes = reinterpret_cast<char const*>(data);
  HxMessage m;
  m.version(350);
  m.unpack(bytes, static_cast<int>(size));
  HxPack* content = m.content();
  if (content != nullptr && !HxMessage::registered(content->type())) __builtin_trap();

  // A copy's content is a new empty object of the content type the peer
  // named, which need not be the content's own.
  HxMessage copy(m);
  bool const made = content != nullptr && HxMessage::registered(m.contenttype());
  if ((copy.content() != nullptr) != made) __builtin_trap();
  if (made && copy.content()->type() != m.contenttype()) __builtin_trap();

  m.pack();
  std::string const once(m.packContents(), static_cast<size_t>(m.packSize()));
  HxMessage back;
  if (back.unpack(once.data(), static_cast<int>(once.size())) != 0) __builtin_trap();
  if ((back.content() == nullptr) != (content == nullptr)) __builtin_trap();
  back.pack();
  // Hash contents may list their entries in another order, never at another size.
  if (static_cast<size_t>(back.packSize()) != once.size()) __builtin_trap();

  m.clear();
  copy = back;
  copy.clear();
  return 0;
}

// Arbitrary bytes as a received envelope: decoding stays within the input
// and within its decode budget, and creates only registered content; the
// message is then copied, packed again, read back to the same bytes, and
// cleared. An input that opens with FF FF names a content type (the next
// four bytes) and one item record (the rest): the envelope then carries a
// list of that type whose item repeats a megabyte long, the shape of a
// small reply that asks for millions of objects.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/HxDebug.h"
#include "fuzz/FuzzBudget.h"
#include "net/HxMessage.h"

namespace {

std::string repeated_content(uint32_t type, std::string const& item) {
  auto const be32 = fuzz_be32;
  std::string const body = fuzz_repeated_items(item);
  return be32(1) + be32(0x00010001u) + be32(3) + be32(0x00040001u) + be32(type) + be32(0x00030004u) + be32(type) +
         be32(static_cast<uint32_t>(body.size())) + body + be32(0x00070001u) + be32(530);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The registry's lines for unknown codes would flood the output.
  hx_debug_filename("/dev/null", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1u << 20)) return 0;
  char const* bytes = reinterpret_cast<char const*>(data);
  std::string repeated;
  if (size > 6 && data[0] == 0xff && data[1] == 0xff) {
    uint32_t const type = (uint32_t{data[2]} << 24) | (uint32_t{data[3]} << 16) | (uint32_t{data[4]} << 8) | data[5];
    repeated = repeated_content(type, std::string(bytes + 6, size - 6));
    bytes = repeated.data();
    size = repeated.size();
  }
  HxMessage m;
  m.version(350);
  {
    FuzzBudget budget;
    m.unpack(bytes, static_cast<int>(size));
    budget.check();
  }
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

// Arbitrary bytes as the binary form of a string list and of string, record
// and int hashes: decoding stays within the input, and every table it builds finds
// each of its own keys and counts them right.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/pack/HxRecord.h"

namespace {

// A small record as a hash value: its entries arrive as nested objects.
class Mark : public HxRecord<Mark> {
 public:
  int x = 0;
  HxString label;
  int type() const override { return 9701; }
  HxString typeXML() const override { return "mark"; }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "x", &Mark::x), hx_field(2, "label", &Mark::label)); }
};

HX_NAMED_HASH(MarkHash, Mark, 9702, "mark_hash");

// Every stored key is found again by value, and no key is stored twice.
template <class H>
void check_table(H& h) {
  HxStringList keys;
  h.keys(keys);
  if (keys.length() != h.count()) std::abort();
  std::set<std::string> seen;
  for (int i = 0; i < keys.length(); ++i) {
    HxString probe(*keys.get(i));  // a copy: lookups compare by value
    if (!seen.insert(std::string(probe.value(), static_cast<size_t>(probe.length()))).second) std::abort();
    if (h.get(probe) == nullptr) std::abort();
  }
  keys.forget();
}

bool has_nul_key(HxStringHash const& h) {
  for (int s = 0; s < h.size(); ++s)
    if (h._key(s) != nullptr && static_cast<int>(std::strlen(h._key(s)->value())) != h._key(s)->length()) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1u << 20)) return 0;
  char const* bytes = reinterpret_cast<char const*>(data);
  int n = static_cast<int>(size);

  HxStringList list;
  if (list.unpack(bytes, n) == 0) {
    list.pack();
    HxStringList again;
    if (again.unpack(list.packContents(), list.packSize()) > 2) std::abort();
    if (list.length() > 0 && again.length() != list.length()) std::abort();
    list.sort();
    for (int i = 1; i < list.length(); ++i)
      if (*list.get(i) < *list.get(i - 1)) std::abort();
  }

  HxStringHash strings;
  if (strings.unpack(bytes, n) == 0) {
    check_table(strings);
    HxStringHash copy;
    copy.copy(strings);
    check_table(copy);
    strings.pack();
    HxStringHash again;
    again.unpack(strings.packContents(), strings.packSize());
    // Keys compare as C texts, so two keys that differ only after a NUL byte
    // are one key wherever their paths meet: only then may entries merge.
    if (again.count() > strings.count()) std::abort();
    if (again.count() < strings.count() && !has_nul_key(strings)) std::abort();
  }

  MarkHash marks;
  if (marks.unpack(bytes, n) == 0) {
    check_table(marks);
    MarkHash copy;
    copy.copy(marks);
    check_table(copy);
  }

  HxIntHash ints;
  if (ints.unpack(bytes, n) == 0) {
    HxStringList keys;
    ints.keys(keys);
    if (keys.length() != ints.count()) std::abort();
    keys.forget();
  }
  return 0;
}

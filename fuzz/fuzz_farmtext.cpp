// Resource and property texts of hosts. The input is a text, a NUL byte and a
// reservation text. Parsing, printing and the accounting stay within bounds
// and end without overflow; the short text form of resources and properties
// reads back to the same items.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/HxHash.h"
#include "core/HxString.h"
#include "model/farm/HxProperty.h"
#include "model/farm/HxResource.h"

namespace {

// Names that cannot stand bare in an item (they hold a separator or quote)
// are outside the text form.
bool plain_name(HxString const& name) {
  for (int i = 0; i < name.length(); ++i)
    if (std::strchr(",'\"{}\\", name.get(i)) != nullptr && name.get(i) != 0) return false;
  return true;
}

void resources(HxString const& text, HxString const& reservations) {
  HxResourceHash hash;
  hash.revert(text);
  hash.convert();
  HxResourceList list;
  list.revert(text);
  list.convert();
  HxStringHash stats;
  for (int i = 0; i < list.length(); ++i) list.get(i)->refresh(stats);

  // From the second pass on, the short form is a fixed point for every
  // resource of a known class (an unknown class prints an empty item).
  bool plain = true;
  for (int i = 0; i < list.length(); ++i) plain = plain && plain_name(list.get(i)->name());
  HxResourceHash second, third;
  second.revert(hash.simpleconvert());
  third.revert(second.simpleconvert());
  int known = 0;
  for (int s = 0; s < second.size(); ++s) {
    HxString const* key = second._key(s);
    if (key == nullptr || second._value(s)->cls() == 0) continue;
    ++known;
    HxResource const* a = second._value(s);
    HxResource const* b = third.get(*key);
    if (plain && (b == nullptr || a->used() != b->used() || a->total() != b->total() || a->cls() != b->cls()))
      __builtin_trap();
  }
  for (int s = 0; s < third.size(); ++s)
    if (third._key(s) != nullptr && third._value(s)->cls() != 0) --known;
  if (plain && known != 0) __builtin_trap();

  hash.check(reservations);
  hash.works(reservations);
  hash.accept(reservations);
  hash.convert();
  hash.release(reservations);
  hash.release(reservations);
  hash.simpleconvert();
  hash.reset();
  for (int s = 0; s < hash.size(); ++s)
    if (hash._key(s) != nullptr && hash._value(s)->used() != 0) __builtin_trap();
}

void properties(HxString const& text) {
  HxPropertyHash hash;
  hash.revert(text);
  hash.convert();
  HxPropertyList list;
  list.revert(text);
  list.convert();
  HxStringHash stats;
  for (int i = 0; i < list.length(); ++i) list.get(i)->refresh(stats);

  // Every value, whatever it holds, reads back from the short form.
  for (int i = 0; i < list.length(); ++i)
    if (!plain_name(list.get(i)->name())) return;
  HxPropertyList back;
  back.revert(list.simpleconvert());
  if (back.length() != list.length()) __builtin_trap();
  for (int i = 0; i < list.length(); ++i) {
    HxProperty const* a = list.get(i);
    HxProperty const* b = back.get(i);
    if (a->cls() != b->cls() || !(a->name() == b->name())) __builtin_trap();
    if ((a->cls() == 2 || a->cls() == 3) && !(a->value() == b->value())) __builtin_trap();
    if (b->objectvalue() != nullptr) __builtin_trap();
    // A plain value object's composed text is its value: the full form keeps it.
    HxValue const* object = a->objectvalue();
    if (object != nullptr && object->cls() == HxString("value") && (a->cls() == 2 || a->cls() == 3)) {
      HxProperty full{a->fullname()};
      if (full.objectvalue() == nullptr || !(full.value() == a->value())) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1u << 16)) return 0;
  char const* p = reinterpret_cast<char const*>(data);
  size_t cut = 0;
  while (cut < size && p[cut] != 0) ++cut;
  HxString text(p, static_cast<int>(cut));
  HxString reservations = cut < size ? HxString(p + cut + 1, static_cast<int>(size - cut - 1)) : HxString();
  resources(text, reservations);
  properties(text);
  return 0;
}

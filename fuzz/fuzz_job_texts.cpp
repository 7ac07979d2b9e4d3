// Arbitrary texts read as event full names, trigger and ready texts of a
// callback, variable full names and filter values. The readers never fail;
// what they read writes a text that reads back to the same record.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "model/job/HxCallback.h"
#include "model/job/HxEvent.h"
#include "model/job/HxQuery.h"
#include "model/job/HxVariable.h"

namespace {

void event_name(HxString const& text) {
  HxEvent e(text);
  // A known category word in the second field is exactly what isvalid asks.
  if (HxEvent::isvalid(text) != (e.category() != HxEvent::kUnknown)) __builtin_trap();
  HxString const once = e.fullname();
  HxEvent again(once);
  if (again.fullname() != once || again.category() != e.category()) __builtin_trap();
  (void)e.effectivename();
  (void)e.categorystring();
  (void)e.categorybit();
  (void)e.sid(static_cast<int>(text.length()) % 3);
}

void trigger_text(HxString const& text) {
  HxCallback c;
  c.triggers(text);
  HxEventList events;
  c.triggers(events);
  for (int i = 0; i < events.length(); ++i)
    if (events.get(i)->category() == HxEvent::kUnknown) __builtin_trap();
}

void ready_text(HxString const& text) {
  HxCallback c;
  c.ready(text);
  HxStringHash table;
  c.ready(table);
  // Each pair takes at least two characters of the text and one value byte.
  if (table.count() > text.length() / 2 + 1) __builtin_trap();
  HxStringList keys;
  table.keys(keys);
  for (int i = 0; i < keys.length(); ++i)
    if (table.get(*keys.get(i))->length() != 1) __builtin_trap();
  keys.forget();
}

void variable_name(HxString const& text) {
  HxVariable v;
  v.fullname(text);
  // A written name reads back when it starts with a pid of digits or with
  // the word "global".
  if (v.pid() < 0 && v.cls() != HxVariableId::kGlobal) return;
  HxVariable again(v.pid() < 0 ? 0 : v.pid());
  again.fullname(v.fullname());
  if (again.cls() != v.cls() || again.name() != v.name()) __builtin_trap();
}

void sign_split(HxString const& text) {
  HxField f(text);
  char const first = text.get(0);
  bool const signed_value = first != 0 && std::strchr("~=><%*", first) != nullptr;
  HxString const value = signed_value ? HxString(text.value() + 1, text.length() - 1) : text;
  if (f.value() != value) __builtin_trap();
  if (f.sign().length() != (signed_value ? 1 : 0)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1 || size > (1u << 16)) return 0;
  HxString const text(reinterpret_cast<char const*>(data) + 1, static_cast<int>(size - 1));
  switch (data[0] % 5) {
    case 0: event_name(text); break;
    case 1: trigger_text(text); break;
    case 2: ready_text(text); break;
    case 3: variable_name(text); break;
    default: sign_split(text); break;
  }
  return 0;
}

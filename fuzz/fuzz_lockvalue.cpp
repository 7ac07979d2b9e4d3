// Lock value texts from worker properties and resources: making, configuring,
// refreshing and describing a value must stay within bounds and end.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/HxHash.h"
#include "core/HxString.h"
#include "expr/HxValue.h"
#include "expr/HxWeekCalendar.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  HxString text(reinterpret_cast<char const*>(data), static_cast<int>(size));
  std::unique_ptr<HxValue> value(parsevalue(text));
  // Every kind also configured from the whole text, as a property would.
  HxWeekCalendar week;
  week.parse(text);
  HxWeekCalendar again;
  again.parse(week.compose());
  week.parse_lock();
  HxLoadMonitor monitor;
  monitor.parse(text);
  HxWatchDog dog;
  dog.parse(text);
  HxScreenSaver saver;
  saver.parse(text);

  HxStringHash stats;
  stats.set(new HxString(text), HxString("loadmonitor"));
  stats.set(new HxString(text), HxString("last_activity"));
  stats.set(new HxString(text), HxString("ScreenSaver"));
  monitor.refresh(stats);
  dog.refresh(stats);
  saver.refresh(stats);
  week.refresh(stats);
  dog.get();
  saver.get();
  if (value != nullptr) {
    value->refresh(stats);
    value->compose();
    value->pack();
    HxValue back;
    back.unpack(value->packContents(), value->packSize());
    if (!(back.value() == value->value())) __builtin_trap();
  }
  return 0;
}

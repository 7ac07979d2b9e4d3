// The list of the program's record classes and the one call that builds
// their tables (see HxRecord.h).

#include <atomic>

#include "core/pack/HxRecord.h"

namespace {

// The classes on the list, newest first. Constant-initialised: empty before
// the first class adds itself while the program is loaded, and only read
// after that.
HxRecordClass const* g_classes = nullptr;
int g_class_count = 0;

std::atomic<int> g_built{0};
std::atomic<int> g_lazily{0};

// Whether this thread is inside hx_build_record_tables().
thread_local bool t_building = false;

}  // namespace

HxRecordClass::HxRecordClass(void (*build)()) noexcept : build_(build), next_(g_classes) {
  g_classes = this;
  ++g_class_count;
}

void HxRecordClass::counted() noexcept { (t_building ? g_built : g_lazily).fetch_add(1, std::memory_order_relaxed); }

void hx_build_record_tables() {
  // Left as it was also when a build runs out of memory: that table is
  // built again at the first decode of its class.
  struct Building {
    Building() { t_building = true; }
    ~Building() { t_building = false; }
  } const building;
  for (HxRecordClass const* c = g_classes; c != nullptr; c = c->next_) c->build_();
}

HxRecordTableCount hx_record_table_count() {
  HxRecordTableCount count;
  count.classes = g_class_count;
  count.built = g_built.load(std::memory_order_relaxed);
  count.lazily = g_lazily.load(std::memory_order_relaxed);
  return count;
}

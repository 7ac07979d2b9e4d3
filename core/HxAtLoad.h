#pragma once

#include "core/HxString.h"

// Objects of the whole process built when the program is loaded.
//
// An object the library keeps for the whole process (a state, a table, a
// text) is made by the first call of its accessor, through a function-local
// static, so that code run while the program is loaded finds it made
// whatever the order of the files. That first call is not left to the
// program's threads: a child forked while another thread is inside it
// inherits the compiler's guard as it was and waits for it for ever. So
// every such accessor is also called once while the program is loaded,
// before any thread of the program runs, by an HxAtLoad beside it:
//
//   ClockState& clock_state() { ... }
//   HxAtLoad const g_clock_at_load(clock_state);
//
// These objects are never destroyed: a thread may still use one while the
// program exits.
class HxAtLoad {
 public:
  template <class Accessor>
  explicit HxAtLoad(Accessor accessor) {
    static_cast<void>(accessor());
  }
};

// A text kept for the whole process, made when the program is loaded (see
// above), named by a character array of static storage:
//
//   constexpr char kMinus[] = "-";
//   HxString const& minus = HxKeptText<kMinus>::get();
template <char const* Text>
class HxKeptText {
 public:
  static HxString const& get() {
    static HxString const* const text = new HxString(Text);
    static_cast<void>(at_load_);
    return *text;
  }

 private:
  static inline HxString const* const at_load_ = &get();
};

#pragma once

// Accessors of record fields, stated once per kind (each names the field
// `name` held in the member `name_`), and the remainder the job model's
// records give as their sid.

#include "core/HxString.h"

// A number: reader and writer.
#define HX_INT_ACCESSORS(name)          \
  int name() const { return name##_; } \
  void name(int v) { name##_ = v; }

// A text: a reader by reference and two writers, one taking a string and one
// copying n bytes of a character array.
#define HX_TEXT_ACCESSORS(name)                                   \
  HxString const& name() const { return name##_; }               \
  void name(HxString const& v) { name##_ = v; }                  \
  void name(char const* text, int n) { name##_.copy(text, n); }

// A nested record read by reference and assigned by its writer.
#define HX_RECORD_ACCESSORS(Type, name)              \
  Type const& name() const { return name##_; }       \
  void name(Type const& v) { name##_ = v; }

// A nested record read as a copy and assigned by its writer.
#define HX_RECORD_COPY_ACCESSORS(Type, name)   \
  Type name() const { return name##_; }        \
  void name(Type const& v) { name##_ = v; }

// A list or tally without writer: changed through the reference its reader
// returns.
#define HX_MEMBER_ACCESSORS(Type, name)        \
  Type& name() { return name##_; }             \
  Type const& name() const { return name##_; }

// The remainder of a job id divided by n, its sign following the id. A
// divisor of 0 has no remainder and INT_MIN % -1 overflows: both give 0 (any
// id % -1 is 0).
inline int hx_sid(int id, int n) { return (n == 0 || n == -1) ? 0 : id % n; }

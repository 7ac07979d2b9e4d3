#pragma once

#include "core/HxHash.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// Supplies the text of a placeholder that the values do not hold; true when
// it did.
using HxMacroLookup = bool (*)(HxString const& name, HxString& out);

// A small template expander: "$NAME" or "$(NAME)" in a text is replaced by
// the value stored under NAME (or by what the lookup function supplies), and
// disappears when there is none.
class HxMacro : public HxRecord<HxMacro> {
 public:
  HxMacro() = default;
  // Copies the values; the lookup function is never copied.
  HxMacro(HxMacro const& other) : HxRecord<HxMacro>() { values_.copy(other.values_); }
  HxMacro& operator=(HxMacro const& other) {
    copy(other);
    return *this;
  }
  // Replaces the values by a copy of the other's; the lookup function stays.
  void copy(HxMacro const& other) {
    if (&other != this) values_.copy(other.values_);
  }

  int type() const override { return 98; }
  HxString typeXML() const override { return "macro"; }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "value", &HxMacro::values_)); }

  void set(HxString const& name, HxString const& text) { values_.set(new HxString(text), name); }
  void set(HxMacroLookup lookup) { lookup_ = lookup; }
  bool get(HxString const& name, HxString& out) const;
  HxString parse(HxString const& text) const;

  HxStringHash const& values() const { return values_; }

 private:
  HxStringHash values_;
  HxMacroLookup lookup_ = nullptr;
};

// An error number with named substitution values; value() gives the message
// from the fixed table, its placeholders ($ERROR, $VERSION, $SIZE) filled in.
class HxError : public HxRecord<HxError> {
 public:
  HxError() = default;
  explicit HxError(int number) : number_(number) {}

  int type() const override { return 175; }
  HxString typeXML() const override { return "err"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "number", &HxError::number_), hx_field(2, "values", &HxError::values_));
  }

  // The message text.
  HxString value() const;
  void value(int number) { number_ = number; }
  int integervalue() const { return number_; }
  void set(HxString const& name, HxString const& text) { values_.set(name, text); }
  HxMacro const& values() const { return values_; }

  // The template for a number ("general error" for one without its own).
  static char const* message(int number);

 private:
  int number_ = -1;  // -1: no error
  HxMacro values_;
};

// A finished error text, as older replies carry it.
class HxOldError : public HxRecord<HxOldError> {
 public:
  HxOldError() = default;
  explicit HxOldError(HxString const& text) : text_(text) {}

  int type() const override { return 52; }
  HxString typeXML() const override { return "error"; }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "value", &HxOldError::text_)); }

  HxString const& value() const { return text_; }
  void value(HxString const& text) { text_ = text; }

 private:
  HxString text_;
};

// Write "Error: <number>" or "OldError: <text>" and a newline to standard
// error and end the process with status 1 (exit handlers still run).
[[noreturn]] void FATALERROR(int number);
[[noreturn]] void FATALERROR(char const* text);
[[noreturn]] void FATALERROR(HxString const& text);

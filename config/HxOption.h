#pragma once

#include "core/HxList.h"
#include "core/HxString.h"
#include <tuple>

#include "core/pack/HxRecord.h"

// A numbered option: tag, name, value and whether it was given, with a prefix
// match of a word against the name. It is a registered record type, but its
// record forms carry none of its fields.
class HxOption : public HxRecord<HxOption> {
 public:
  HxOption() = default;
  HxOption(int tag, HxString const& name);
  HxOption(HxOption const& other);
  HxOption& operator=(HxOption const& other);

  // A copy takes every field, the value included.
  void copy(HxOption const& other);

  int tag() const { return tag_; }
  HxString const& name() const { return name_; }
  void name(HxString const& name) { name_ = name; }
  HxString const& value() const { return value_; }
  void value(HxString const& value) { value_ = value; }
  unsigned char exists() const { return exists_; }
  void exists(unsigned char on) { exists_ = on; }

  // The word's length when it is a non-empty prefix of the name, else 0.
  int match(HxString const& word) const;

  int type() const override { return 53; }
  HxString typeXML() const override { return HxString("option"); }
  // No field travels: a decoded option is a default one.
  static auto wire_fields() { return std::make_tuple(); }

 private:
  int tag_ = 0;
  HxString name_;
  HxString value_;
  unsigned char exists_ = 0;
};

HX_NAMED_LIST(HxOptionList, HxOption, 54, "option_list");

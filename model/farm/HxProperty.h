#pragma once

#include <iosfwd>
#include <tuple>

#include "core/HxHash.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"
#include "expr/HxValue.h"
#include "model/farm/HxItemText.h"

// A named value of a host (class 2, "host") or of the whole farm (class 3,
// "global"), optionally computed by a dynamic value object. The text form of
// one property is class word, ".", name, "=" and the value:
//   host.site=north   host.motto='fast and cheap'   host.lock=watchdog 30
// The value object is the property's own: copies never carry it and it never
// travels.
class HxProperty : public HxRecord<HxProperty> {
 public:
  HxProperty() = default;
  explicit HxProperty(HxString const& text);
  HxProperty(int cls, HxString const& name, HxString const& value);
  HxProperty(HxProperty const& other);
  ~HxProperty() override;

  // Class, name and value; the value object stays as it was.
  void copy(HxProperty const& other);
  HxProperty& operator=(HxProperty const& other);
  // Sets the value text.
  void copy(HxString const& value);
  HxProperty& operator=(HxString const& value);

  HxString const& name() const { return name_; }
  void name(HxString const& name) { name_ = name; }
  HxString const& value() const { return value_; }
  void value(HxString const& value) { value_ = value; }
  int cls() const { return cls_; }
  void cls(int cls) { cls_ = cls; }
  HxValue* objectvalue() const { return object_; }
  // Takes ownership of the value object (the one held before is deleted,
  // unless it is the same) and sets the value text from it.
  void value(HxValue* object);

  // "host", "global" or "unknown".
  HxString clsstring() const;
  void clsstring(HxString const& word);
  // "host.site"
  HxString resname() const;
  void resname(HxString const& text);
  HxString fullname() const;
  // Like fullname(), but always the value text, never the value object.
  HxString simplename() const;
  // Parses one item; a text without "=" changes nothing.
  void fullname(HxString const& text);

  // Recomputes the value text from the value object; true when it changed.
  bool refresh(HxStringHash& stats);

  int type() const override { return 90; }
  HxString typeXML() const override { return HxString("property"); }
  // The value travels first.
  static auto wire_fields() {
    return std::make_tuple(hx_field(2, "value", &HxProperty::value_), hx_field(1, "name", &HxProperty::name_),
                           hx_field(3, "cls", &HxProperty::cls_));
  }

 private:
  int cls_ = 0;
  HxString name_;
  HxString value_;
  HxValue* object_ = nullptr;
};

std::ostream& operator<<(std::ostream& out, HxProperty const& p);

// A value as it stands in an item: bare when it reads back as it is, else in
// single quotes with "'" and "\" escaped by a backslash.
HxString hx_property_quote(HxString const& value);

class HxPropertyHash : public HxItemHash<HxProperty> {
 public:
  int type() const override { return 92; }
  HxString typeXML() const override { return HxString("property_hash"); }
  void copy(HxPropertyHash const& other) { HxBaseHash<HxProperty>::copy(other); }
};

class HxPropertyList : public HxItemList<HxProperty> {
 public:
  int type() const override { return 91; }
  HxString typeXML() const override { return HxString("property_list"); }
  void copy(HxPropertyList const& other) { HxBaseList<HxProperty>::copy(other); }
};

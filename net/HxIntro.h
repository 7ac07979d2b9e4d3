#pragma once

#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// What a supervisor or worker says about itself in answer to a ping: one
// text, field 1, XML element "values".
class HxIntro : public HxRecord<HxIntro> {
 public:
  HxIntro() = default;
  explicit HxIntro(HxString const& value) : value_(value) {}
  HxIntro(HxIntro const&) = default;
  HxIntro& operator=(HxIntro const&) = default;

  int type() const override { return 170; }
  HxString typeXML() const override { return "intro"; }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "values", &HxIntro::value_)); }

  HxString const& value() const { return value_; }
  void value(HxString const& v) { value_ = v; }

 private:
  HxString value_;
};

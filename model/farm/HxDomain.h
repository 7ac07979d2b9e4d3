#pragma once

#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// A supervisor domain: its name (the accessor is value(), the record's field
// is "name"), id (-1 when not given) and region.
class HxDomain : public HxRecord<HxDomain> {
 public:
  HxDomain() = default;
  explicit HxDomain(HxString const& name) : value_(name) {}
  HxDomain(HxString const& name, int id) : value_(name), id_(id) {}
  HxDomain(HxString const& name, HxString const& region) : value_(name), region_(region) {}
  HxDomain(HxString const& name, HxString const& region, int id) : value_(name), id_(id), region_(region) {}
  HxDomain(HxDomain const&) = default;
  HxDomain& operator=(HxDomain const&) = default;
  void copy(HxDomain const& other) { *this = other; }

  int type() const override { return 62; }
  HxString typeXML() const override { return "domain"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &HxDomain::value_), hx_field(2, "id", &HxDomain::id_),
                           hx_field(3, "region", &HxDomain::region_));
  }

  HxString const& value() const { return value_; }
  void value(HxString const& v) { value_ = v; }
  int id() const { return id_; }
  void id(int v) { id_ = v; }
  HxString const& region() const { return region_; }
  void region(HxString const& v) { region_ = v; }

 private:
  HxString value_;
  int id_ = -1;
  HxString region_;
};

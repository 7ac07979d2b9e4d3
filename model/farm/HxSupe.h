#pragma once

#include <tuple>

#include "core/HxAddress.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"
#include "model/farm/HxState.h"

// One supervisor: name, address, state, flags, id, last synchronisation,
// a total, domain and region. Flags and total are carried unchanged.
class HxSupe : public HxRecord<HxSupe> {
 public:
  HxSupe() = default;
  HxSupe(HxSupe const&) = default;
  HxSupe& operator=(HxSupe const&) = default;
  void copy(HxSupe const& other) { *this = other; }
  // Nothing to reset: a supervisor record is kept whole.
  void clear() {}

  int type() const override { return 172; }
  HxString typeXML() const override { return "supe"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &HxSupe::name_), hx_field(2, "address", &HxSupe::address_),
                           hx_field(3, "state", &HxSupe::state_), hx_field(4, "flags", &HxSupe::flags_),
                           hx_field(5, "id", &HxSupe::id_), hx_field(6, "lastsync", &HxSupe::lastsync_),
                           hx_field(7, "total", &HxSupe::total_), hx_field(8, "domain", &HxSupe::domain_),
                           hx_field(9, "region", &HxSupe::region_));
  }

  HxString const& name() const { return name_; }
  void name(HxString const& v) { name_ = v; }
  HxAddress const& address() const { return address_; }
  void address(HxAddress const& v) { address_ = v; }
  HxState const& state() const { return state_; }
  void state(HxState const& v) { state_ = v; }
  int flags() const { return flags_; }
  void flags(int v) { flags_ = v; }
  int id() const { return id_; }
  void id(int v) { id_ = v; }
  HxTime const& lastsync() const { return lastsync_; }
  void lastsync(HxTime const& v) { lastsync_ = v; }
  int total() const { return total_; }
  void total(int v) { total_ = v; }
  HxString const& domain() const { return domain_; }
  void domain(HxString const& v) { domain_ = v; }
  HxString const& region() const { return region_; }
  void region(HxString const& v) { region_ = v; }

 private:
  HxString name_;
  HxAddress address_;
  HxState state_;
  int flags_ = 0;
  int id_ = -1;
  HxTime lastsync_;
  int total_ = 0;
  HxString domain_;
  HxString region_;
};

HX_NAMED_LIST(HxSupeList, HxSupe, 173, "supe_list");

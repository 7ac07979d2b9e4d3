#pragma once

#include <iosfwd>
#include <tuple>

#include "core/HxHash.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"
#include "expr/HxValue.h"
#include "model/farm/HxItemText.h"
#include "model/job/HxReservation.h"

// A countable thing of the farm that jobs reserve, such as the processors of
// a host: class, name, total units and units in use. Classes 2 to 8 are
// limited by total and used; class 1 ("unlimited") fits every reservation.
// The text form of one resource is class word, ".", name, "=" and used/total:
//   host.processors=2/8   unlimited.tokens   host.load=loadmonitor 'busy|idle|60'
// An optional value object computes the total from host statistics; it is the
// resource's own: copies never carry it and it never travels.
//
// Counts are ints on the wire. Sums and differences of counts are computed in
// 64 bits and stored clamped to the int range, so that no text or record can
// make the accounting overflow.
class HxResource : public HxRecord<HxResource> {
 public:
  HxResource() = default;
  HxResource(int cls, HxString const& name, int total, int used);
  explicit HxResource(HxString const& text);
  HxResource(HxResource const& other);
  ~HxResource() override;

  // Class, name, total and used; the value object stays as it was.
  void copy(HxResource const& other);
  HxResource& operator=(HxResource const& other);

  HxString const& name() const { return name_; }
  void name(HxString const& name) { name_ = name; }
  int cls() const { return cls_; }
  void cls(int cls) { cls_ = cls; }
  int total() const { return total_; }
  void total(int total) { total_ = total; }
  int used() const { return used_; }
  void used(int used) { used_ = used; }
  HxValue* objectvalue() const { return object_; }
  // Takes ownership of the value object (the one held before is deleted,
  // unless it is the same); total and used are left alone.
  void total(HxValue* object);
  void clear() { used_ = 0; }
  // Total minus used; negative when overbooked.
  int avail() const;

  // The class word, "unknown" outside classes 1 to 8.
  HxString clsstring() const;
  void clsstring(HxString const& word);
  // "host.processors"
  HxString resname() const;
  void resname(HxString const& text);
  HxString fullname() const;
  // Like fullname(), but always used/total, never the value object.
  HxString simplename() const;
  // Parses one item; a text without "=" changes nothing.
  void fullname(HxString const& text);

  // Recomputes the total from the value object; true when it changed.
  bool refresh(HxStringHash& stats);

  // Whether the reservation could ever fit (classes equal, count within the
  // total) and whether it fits now. A reservation of greediness -2 takes the
  // whole resource and fits only while no unit is in use. Class 1 fits always.
  bool works(HxReservation const& r) const;
  bool check(HxReservation const& r) const;
  // Books the reservation, whatever its class: up to its maximum of the free
  // units when it has one, else exactly its count when it is not greedy, else
  // every free unit. An overbooked resource has no free unit. Always 1.
  int accept(HxReservation const& r);
  // Gives the reservation's count back; used may fall below 0. Always 1.
  int release(HxReservation const& r);

  int type() const override { return 10; }
  HxString typeXML() const override { return HxString("resource"); }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &HxResource::name_), hx_field(2, "total", &HxResource::total_),
                           hx_field(3, "used", &HxResource::used_), hx_field(4, "cls", &HxResource::cls_));
  }

 private:
  bool limited_() const { return cls_ >= 2 && cls_ <= 8; }

  HxString name_;
  int total_ = 0;
  int used_ = 0;
  int cls_ = 0;
  HxValue* object_ = nullptr;
};

std::ostream& operator<<(std::ostream& out, HxResource const& r);

class HxResourceHash : public HxItemHash<HxResource> {
 public:
  int type() const override { return 67; }
  HxString typeXML() const override { return HxString("resource_hash"); }
  void copy(HxResourceHash const& other) { HxBaseHash<HxResource>::copy(other); }

  // Sets used to 0 on every resource.
  void reset();

  // A reservation text against the resources: false for a reservation whose
  // resource is missing or does not fit (stopping there); true for no text.
  bool check(HxString const& reservations) const;
  bool works(HxString const& reservations) const;
  // Books and gives back every reservation of the text whose resource is
  // here; the others are skipped.
  void accept(HxString const& reservations);
  void release(HxString const& reservations);
};

class HxResourceList : public HxItemList<HxResource> {
 public:
  int type() const override { return 11; }
  HxString typeXML() const override { return HxString("resource_list"); }
  void copy(HxResourceList const& other) { HxBaseList<HxResource>::copy(other); }
};

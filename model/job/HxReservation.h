#pragma once

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// One item of a job's demand for farm resources: class, name, units and, for
// host resources, how greedily the units are taken and up to which bound.
// Item form: host.processors=2+4, global.lic=1, host.x=1*, unlimited.foo.
class HxReservation : public HxRecord<HxReservation> {
 public:
  // Resource classes, shared with the resources themselves.
  enum : int {
    kUnlimited = 1,
    kHost = 2,
    kGlobal = 3,
    kScoped = 4,
    kLicense = 5,
    kScopedLicense = 6,
    kGlobalHost = 7,
    kLicenseHost = 8,
  };
  // Greediness: 0 takes exactly count units.
  enum : int { kExact = 0, kGreedy = -1, kAll = -2, kGreedyMinus = -3 };

  HxReservation() = default;
  HxReservation(int cls, HxString const& name, int count) : name_(name), count_(count), cls_(cls) {}
  explicit HxReservation(HxString const& text) { fullname(text); }
  HxReservation(HxReservation const&) = default;
  HxReservation& operator=(HxReservation const&) = default;
  void copy(HxReservation const& other) { *this = other; }

  int type() const override { return 27; }
  HxString typeXML() const override { return "reservation"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &HxReservation::name_), hx_field(2, "count", &HxReservation::count_),
                           hx_field(3, "cls", &HxReservation::cls_),
                           hx_field(4, "maximum", &HxReservation::maximum_),
                           hx_field(7, "greediness", &HxReservation::greediness_));
  }

  HxString const& name() const { return name_; }
  void name(HxString const& name) { name_ = name; }
  int count() const { return count_; }
  void count(int count) { count_ = count; }
  int cls() const { return cls_; }
  void cls(int cls) { cls_ = cls; }
  int maximum() const { return maximum_; }
  void maximum(int maximum) { maximum_ = maximum; }
  int greediness() const { return greediness_; }
  void greediness(int greediness) { greediness_ = greediness; }

  // The class word ("unknown" for a number outside 1-8), and the number of an
  // exact, case-sensitive word (0 for any other word).
  static char const* clsword(int cls);
  static int clsnumber(HxString const& word);
  HxString clsstring() const { return HxString(clsword(cls_)); }
  void clsstring(HxString const& word) { cls_ = clsnumber(word); }

  // "class.name", the key of a reservation in a hash.
  HxString resname() const;
  // Sets class and name from "class.name"; the other fields stay.
  void resname(HxString const& text);

  // The item form.
  HxString fullname() const;
  // Reads one item; fields the text does not reach keep their values.
  void fullname(HxString const& text);

  bool isglobal() const { return cls_ >= kGlobal && cls_ <= kLicenseHost; }
  bool ishost() const { return cls_ == kHost || cls_ == kScoped || cls_ == kScopedLicense; }

 private:
  HxString name_;
  int count_ = 1;
  int cls_ = 0;
  int maximum_ = 0;
  int greediness_ = 0;
};

// Reservations in the order of their text.
class HxReservationList : public HxList<HxReservation> {
 public:
  int type() const override { return 28; }
  HxString typeXML() const override { return HxString("reservation_list"); }
  void copy(HxReservationList const& other) { HxBaseList<HxReservation>::copy(other); }

  // The items joined by ","; empty for an empty list.
  HxString convert() const;
  // Replaces the list by the items of a comma-separated text.
  void revert(HxString const& text);
};

// Reservations keyed by resname(): a later item of one class and name
// replaces an earlier one.
class HxReservationHash : public HxHash<HxReservation> {
 public:
  int type() const override { return 68; }
  HxString typeXML() const override { return HxString("reservation_hash"); }
  void copy(HxReservationHash const& other) { HxBaseHash<HxReservation>::copy(other); }

  // The items in slot order joined by ","; empty for an empty hash.
  HxString convert() const;
  // Replaces the hash by the items of a comma-separated text.
  void revert(HxString const& text);
};

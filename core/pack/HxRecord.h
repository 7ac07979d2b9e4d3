#pragma once

#include <tuple>
#include <type_traits>

#include "core/pack/HxPack.h"

// A record class states its fields once, in wire order:
//
//   class HxPoint : public HxRecord<HxPoint> {
//    public:
//     int x = 0;
//     HxString label;
//     int type() const override { return 900; }
//     HxString typeXML() const override { return "point"; }
//     static auto wire_fields() {
//       return std::make_tuple(hx_field(1, "x", &HxPoint::x),
//                              hx_field(2, "label", &HxPoint::label));
//     }
//   };
//
// and gets encode(), decode(), encodeXML(), decodeXML() and copy() from that
// statement. The value kind follows from the member's type: int 1, char 2,
// HxString 3, any HxPack 4, float 5, unsigned char and bool 6, long long 7.
// A derived record lists its base's fields first:
//   std::tuple_cat(Base::wire_fields(), std::make_tuple(...)).

template <class C, class M>
struct HxFieldSpec {
  short number;
  char const* xml;
  M C::*member;
};

template <class C, class M>
constexpr HxFieldSpec<C, M> hx_field(short number, char const* xml, M C::*member) {
  return HxFieldSpec<C, M>{number, xml, member};
}

// How a member type is written and read. The primary template covers the
// types HxPack knows; specialise it for others (enumerations, wrappers).
template <class M, class Enable = void>
struct HxFieldCodec {
  static void store(HxPack& p, short f, M& m) { p.store(f, m); }
  static void restore(HxPack& p, short f, M& m) { p.restore(f, m); }
  static void storeXML(HxPack& p, HxString const& n, M& m) { p.storeXML(n, m); }
  static void restoreXML(HxPack& p, HxString const& n, M& m) { p.restoreXML(n, m); }
};

// bool members travel as unsigned char records (kind 6).
template <>
struct HxFieldCodec<bool> {
  static void store(HxPack& p, short f, bool& m) { p.store(f, static_cast<unsigned char>(m ? 1 : 0)); }
  static void restore(HxPack& p, short f, bool& m) {
    unsigned char v = m ? 1 : 0;
    p.restore(f, v);
    m = v != 0;
  }
  static void storeXML(HxPack& p, HxString const& n, bool& m) { p.storeXML(n, static_cast<unsigned char>(m ? 1 : 0)); }
  static void restoreXML(HxPack& p, HxString const& n, bool& m) {
    unsigned char v = m ? 1 : 0;
    p.restoreXML(n, v);
    m = v != 0;
  }
};

// Enumerations travel as int records.
template <class E>
struct HxFieldCodec<E, std::enable_if_t<std::is_enum<E>::value>> {
  static void store(HxPack& p, short f, E& m) { p.store(f, static_cast<int>(m)); }
  static void restore(HxPack& p, short f, E& m) {
    int v = static_cast<int>(m);
    p.restore(f, v);
    m = static_cast<E>(v);
  }
  static void storeXML(HxPack& p, HxString const& n, E& m) { p.storeXML(n, static_cast<int>(m)); }
  static void restoreXML(HxPack& p, HxString const& n, E& m) {
    int v = static_cast<int>(m);
    p.restoreXML(n, v);
    m = static_cast<E>(v);
  }
};

template <class Derived, class Base = HxPack>
class HxRecord : public Base {
 public:
  using Base::Base;

  void encode() override {
    std::apply([this](auto const&... f) { (HxFieldCodec<member_t<decltype(f)>>::store(*this, f.number, self().*(f.member)), ...); },
               fields_());
  }

  // Stops at the first field that takes the record: each pair of field
  // number and kind belongs to one member only. Members of another field
  // number are passed over without a call. Two object members may share a
  // number; the record then goes to the one whose type number it opens with,
  // else to the first of that number.
  void decode() override {
    int const field = this->_field();
    int const object_type = this->_objectType();
    if (object_type != -1) {
      bool taken = false;
      std::apply([this, field, object_type, &taken](auto const&... f) {
        (void)((f.number == field && type_of_(self().*(f.member)) == object_type &&
                (HxFieldCodec<member_t<decltype(f)>>::restore(*this, f.number, self().*(f.member)), taken = true)) ||
               ...);
      }, fields_());
      if (taken) return;
    }
    std::apply([this, field](auto const&... f) {
      (void)((f.number == field &&
        (HxFieldCodec<member_t<decltype(f)>>::restore(*this, f.number, self().*(f.member)), this->_consumed())) ||
       ...);
    }, fields_());
  }

  void encodeXML() override {
    std::apply([this](auto const&... f) {
      (HxFieldCodec<member_t<decltype(f)>>::storeXML(*this, HxString(f.xml), self().*(f.member)), ...);
    }, fields_());
  }

  bool decodeXML() override {
    std::apply([this](auto const&... f) {
      (HxFieldCodec<member_t<decltype(f)>>::restoreXML(*this, HxString(f.xml), self().*(f.member)), ...);
    }, fields_());
    return true;
  }

  // Member-wise copy (the codec state is never copied).
  void copy(Derived const& other) {
    if (&other != &self()) self() = other;
  }

 private:
  // The field statement, built once per class.
  static auto const& fields_() {
    static auto const table = Derived::wire_fields();
    return table;
  }

  template <class F>
  struct member_of;
  template <class C, class M>
  struct member_of<HxFieldSpec<C, M>> {
    using type = M;
  };
  template <class F>
  using member_t = typename member_of<std::decay_t<F>>::type;

  Derived& self() { return static_cast<Derived&>(*this); }

  // The type number of an object member; -1 for value members.
  template <class M>
  static int type_of_(M const& m) {
    if constexpr (std::is_base_of<HxPack, M>::value) {
      return m.type();
    } else {
      (void)m;
      return -1;
    }
  }
};

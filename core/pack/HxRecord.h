#pragma once

#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

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
  template <class N>
  static void storeXML(HxPack& p, N const& n, M& m) {
    p.storeXML(n, m);
  }
  template <class N>
  static void restoreXML(HxPack& p, N const& n, M& m) {
    p.restoreXML(n, m);
  }
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
  template <class N>
  static void storeXML(HxPack& p, N const& n, bool& m) {
    p.storeXML(n, static_cast<unsigned char>(m ? 1 : 0));
  }
  template <class N>
  static void restoreXML(HxPack& p, N const& n, bool& m) {
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
  template <class N>
  static void storeXML(HxPack& p, N const& n, E& m) {
    p.storeXML(n, static_cast<int>(m));
  }
  template <class N>
  static void restoreXML(HxPack& p, N const& n, E& m) {
    int v = static_cast<int>(m);
    p.restoreXML(n, v);
    m = static_cast<E>(v);
  }
};

// Each record class builds its field statement and decoding table once, in
// function-local statics. That first build is not left to the program's
// threads: a child forked while another thread is inside it inherits the
// compiler's guard as it was and waits for it for ever (core/HxAtLoad.h).
// So every record class of the program puts itself on one list while the
// program is loaded (a pointer, nothing built yet), and a program calls
// hx_build_record_tables() once at its start, before it starts threads: it
// builds the tables of every class on that list, the library's and the
// program's own. The module calls it when it is imported. A program that
// does not call it builds each table at the first decode of its class,
// which is safe as long as it does not fork while threads decode.
void hx_build_record_tables();

// What became of the record tables so far: the classes on the list, the
// tables hx_build_record_tables() built, and those built at the first
// decode of their class instead (before the call, or in a program that never
// makes it).
struct HxRecordTableCount {
  int classes = 0;
  int built = 0;
  int lazily = 0;
};
HxRecordTableCount hx_record_table_count();

// One record class on that list: a static member of HxRecord (below).
class HxRecordClass {
 public:
  // Puts the class on the list; runs while the program is loaded.
  explicit HxRecordClass(void (*build)()) noexcept;
  HxRecordClass(HxRecordClass const&) = delete;
  HxRecordClass& operator=(HxRecordClass const&) = delete;
  // Counts one decoding table built, by hx_build_record_tables() or at the
  // first decode of its class.
  static void counted() noexcept;

 private:
  friend void hx_build_record_tables();
  void (*build_)();
  HxRecordClass const* next_;
};

template <class Derived, class Base = HxPack>
class HxRecord : public Base {
 public:
  using Base::Base;

  void encode() override {
    std::apply([this](auto const&... f) { (HxFieldCodec<member_t<decltype(f)>>::store(*this, f.number, self().*(f.member)), ...); },
               fields_());
  }

  // A record goes straight to the members of its field number through a
  // table built once per class, so the cost per record does not grow with
  // the number of fields. Each pair of field number and kind belongs to one
  // member only; among several members of one number the first that takes
  // the record ends the search. Two object members may share a number: the
  // record then goes to the one whose type number it opens with, else to the
  // first of that number.
  void decode() override {
    Dispatch const& d = dispatch_();
    auto const at = static_cast<unsigned>(this->_field() - d.lowest);
    if (at >= d.size) return;
    Entry const& e = d.entries[at];
    if (e.count == 1) return restore_one_(e.member);
    if (e.count == 0) return;
    Member const* m = d.shared.data() + e.shared;
    int const object_type = this->_objectType();
    if (object_type != -1) {
      for (int i = 0; i < e.count; ++i) {
        if (m[i].type_of(self()) == object_type) return m[i].restore(self());
      }
    }
    for (int i = 0; i < e.count && !this->_consumed(); ++i) m[i].restore(self());
  }

  void encodeXML() override {
    std::apply([this](auto const&... f) {
      (HxFieldCodec<member_t<decltype(f)>>::storeXML(*this, f.xml, self().*(f.member)), ...);
    }, fields_());
  }

  bool decodeXML() override {
    std::apply([this](auto const&... f) {
      (HxFieldCodec<member_t<decltype(f)>>::restoreXML(*this, f.xml, self().*(f.member)), ...);
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
    static_cast<void>(&class_);
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

  // The decoding table: per field number (from the lowest one stated) the
  // members of that number, in the order the class states them. A member of a plain value type is read in place through its member
  // pointer; any other goes through its codec's function.
  enum How : unsigned char { kGeneric, kInt, kChar, kUChar, kBool, kFloat, kLongLong, kString };
  struct Member {
    How how;
    union {
      int Derived::*i;
      char Derived::*c;
      unsigned char Derived::*u;
      bool Derived::*b;
      float Derived::*f;
      long long Derived::*l;
      HxString Derived::*s;
    };
    void (*restore)(Derived&);
    int (*type_of)(Derived&);
  };

  // Tests rather than a jump table: a run of records of mixed kinds predicts
  // far better through branches than through one indirect jump.
  void restore_one_(Member const& m) {
    Derived& o = self();
    auto const field = static_cast<short>(this->_field());
    How const how = m.how;
    if (how == kInt) return this->restore(field, o.*m.i);
    if (how == kString) return this->restore(field, o.*m.s);
    if (how == kGeneric) return m.restore(o);
    if (how == kFloat) return this->restore(field, o.*m.f);
    if (how == kLongLong) return this->restore(field, o.*m.l);
    if (how == kBool) return HxFieldCodec<bool>::restore(*this, field, o.*m.b);
    if (how == kUChar) return this->restore(field, o.*m.u);
    return this->restore(field, o.*m.c);
  }
  // Per field number: its one member in place, or where the members that
  // share the number begin in the shared run.
  struct Entry {
    Member member;
    int count;
    int shared;
  };
  struct Dispatch {
    int lowest = 0;
    unsigned size = 0;
    std::vector<Entry> entries;
    std::vector<Member> shared;
  };

  template <size_t I>
  static void restore_at_(Derived& d) {
    auto const& f = std::get<I>(fields_());
    HxFieldCodec<member_t<decltype(f)>>::restore(d, f.number, d.*(f.member));
  }
  template <size_t I>
  static int type_at_(Derived& d) {
    return type_of_(d.*(std::get<I>(fields_()).member));
  }

  template <size_t I>
  static Member member_at_() {
    auto const& f = std::get<I>(fields_());
    using M = member_t<decltype(f)>;
    Member m;
    m.how = kGeneric;
    m.restore = &restore_at_<I>;
    m.type_of = &type_at_<I>;
    if constexpr (std::is_same<M, int>::value) {
      m.how = kInt;
      m.i = f.member;
    } else if constexpr (std::is_same<M, char>::value) {
      m.how = kChar;
      m.c = f.member;
    } else if constexpr (std::is_same<M, unsigned char>::value) {
      m.how = kUChar;
      m.u = f.member;
    } else if constexpr (std::is_same<M, bool>::value) {
      m.how = kBool;
      m.b = f.member;
    } else if constexpr (std::is_same<M, float>::value) {
      m.how = kFloat;
      m.f = f.member;
    } else if constexpr (std::is_same<M, long long>::value) {
      m.how = kLongLong;
      m.l = f.member;
    } else if constexpr (std::is_same<M, HxString>::value) {
      m.how = kString;
      m.s = f.member;
    }
    return m;
  }

  template <size_t... I>
  static Dispatch build_dispatch_(std::index_sequence<I...>) {
    Dispatch d;
    constexpr size_t n = sizeof...(I);
    if constexpr (n == 0) {
      return d;
    } else {
      auto const& t = fields_();
      int const numbers[] = {std::get<I>(t).number...};
      Member const all[] = {member_at_<I>()...};
      int lo = numbers[0], hi = numbers[0];
      for (int v : numbers) {
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
      }
      d.lowest = lo;
      d.size = static_cast<unsigned>(hi - lo + 1);
      d.entries.assign(d.size, Entry{Member{}, 0, 0});
      for (size_t i = 0; i < n; ++i) {
        Entry& e = d.entries[static_cast<size_t>(numbers[i] - lo)];
        if (e.count++ == 0) e.member = all[i];
      }
      for (Entry& e : d.entries) {
        if (e.count < 2) continue;
        e.shared = static_cast<int>(d.shared.size());
        for (size_t i = 0; i < n; ++i)
          if (&d.entries[static_cast<size_t>(numbers[i] - lo)] == &e) d.shared.push_back(all[i]);
      }
      return d;
    }
  }

  // Never destroyed: a thread may still decode a reply while the program
  // exits.
  static Dispatch const& dispatch_() {
    static Dispatch const* const table = make_dispatch_();
    return *table;
  }
  // The table builder. Like everything of the template it is compiled into
  // every object that emits the class's vtable (whose decode() needs the
  // table), not into one file only; kept out of line, so that the linker
  // keeps one copy of it rather than one inlined into each caller.
  [[gnu::noinline]] static Dispatch const* make_dispatch_() {
    auto const* made = new Dispatch(
        build_dispatch_(std::make_index_sequence<std::tuple_size<std::decay_t<decltype(fields_())>>::value>()));
    HxRecordClass::counted();
    return made;
  }

  // Builds the class's field statement and decoding table.
  static void buildTables() {
    static_cast<void>(fields_());
    static_cast<void>(dispatch_());
  }

  // The class on the list of hx_build_record_tables(): named by fields_(),
  // which every encoder and decoder reaches, so that no class can build a
  // table without being on the list.
  static inline HxRecordClass const class_{&HxRecord::buildTables};
};

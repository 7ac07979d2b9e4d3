#pragma once

#include <algorithm>
#include <utility>

#include "core/HxString.h"
#include "core/pack/HxPack.h"

// Owning list of heap objects. Slots first..last of the array hold the
// elements; the array grows to 2 * capacity + 1 and never shrinks.
template <class T>
class HxBaseList {
 public:
  HxBaseList() = default;
  HxBaseList(HxBaseList const& other) { copy(other); }
  HxBaseList& operator=(HxBaseList const& other) {
    copy(other);
    return *this;
  }
  virtual ~HxBaseList() {
    empty_();
    delete[] items_;
  }

  void append(T* item) {
    if (last_ + 1 >= capacity_) move_to_(2 * capacity_ + 1);
    items_[++last_] = item;
  }

  T* get(int i) const {
    if (length() < 1 || i < 0 || first_ + i > last_) return nullptr;
    return items_[first_ + i];
  }
  int length() const { return last_ - first_ + 1; }
  int capacity() const { return capacity_; }
  void clear() { empty_(); }
  void forget() {
    last_ = -1;
    first_ = 0;
  }

  // Deep copy through each element's copy(); copying a list into itself keeps it.
  void copy(HxBaseList const& other) {
    if (&other == this) return;
    empty_();
    for (int i = 0; i < other.length(); ++i) {
      T* e = new T();
      e->copy(*other.get(i));
      append(e);
    }
  }

  // Moves the other list's elements over; stealing from itself keeps the list.
  void steal(HxBaseList& other) {
    if (&other == this) return;
    empty_();
    for (int i = 0; i < other.length(); ++i) append(other.get(i));
    other.forget();
  }

  // Quicksort on the pointer array with the middle element as pivot,
  // partitioned three ways: elements less than, equal to and greater than the
  // pivot. Runs of equal elements end in the middle and are never sorted
  // again, so many equal elements cost linear time, not quadratic. Each
  // element meets the comparison once per partition. The smaller side is
  // sorted recursively and the larger one by the loop, so the stack stays
  // logarithmic even on sorted input; short parts are finished by insertion.
  // The order of equal elements is not kept.
  void _sort(int lo, int hi, int (*cmp)(T const*, T const*)) {
    T** a = items_;
    while (hi - lo >= kInsertionSort) {
      int mid = lo + (hi - lo) / 2;
      std::swap(a[lo], a[mid]);
      T const* pivot = a[lo];
      // [lo, p) and (q, hi] hold elements equal to the pivot, [p, i) smaller
      // ones and (j, q] greater ones while i and j scan towards each other.
      int p = lo + 1, i = lo + 1, j = hi, q = hi;
      for (;;) {
        for (; i <= j; ++i) {
          int c = cmp(a[i], pivot);
          if (c > 0) break;
          if (c == 0) std::swap(a[p++], a[i]);
        }
        for (; i <= j; --j) {
          int c = cmp(a[j], pivot);
          if (c < 0) break;
          if (c == 0) std::swap(a[j], a[q--]);
        }
        if (i > j) break;
        std::swap(a[i++], a[j--]);
      }
      // The equal runs move from the ends into the middle.
      int less = i - p, greater = q - j;
      for (int n = std::min(p - lo, less), k = 0; k < n; ++k) std::swap(a[lo + k], a[i - n + k]);
      for (int n = std::min(hi - q, greater), k = 0; k < n; ++k) std::swap(a[i + k], a[hi - n + 1 + k]);
      int const less_hi = lo + less - 1, greater_lo = hi - greater + 1;
      if (less < greater) {
        if (less > 1) _sort(lo, less_hi, cmp);
        lo = greater_lo;
      } else {
        if (greater > 1) _sort(greater_lo, hi, cmp);
        hi = less_hi;
      }
    }
    for (int i = lo + 1; i <= hi; ++i) {
      T* e = a[i];
      int k = i;
      for (; k > lo && cmp(e, a[k - 1]) < 0; --k) a[k] = a[k - 1];
      a[k] = e;
    }
  }

 protected:
  // Parts of fewer elements are sorted by insertion.
  static constexpr int kInsertionSort = 16;

  // The capacity that appending n more elements one by one would reach from
  // capacity c with the last element at index last: c, 2c + 1, 2(2c + 1) + 1 ...
  static int grown_for_(int c, int last, int n) {
    long long need = static_cast<long long>(last) + 1 + n;
    long long cap = c;
    while (cap < need) cap = 2 * cap + 1;
    return cap > 0x7fffffff ? 0x7fffffff : static_cast<int>(cap);
  }

  // Makes room for n more elements at once, to the capacity that appending
  // them one by one would reach.
  void reserve_appends_(int n) {
    int cap = grown_for_(capacity_, last_, n);
    if (cap > capacity_) move_to_(cap);
  }

  // After reserve_appends_ from capacity c with fewer elements appended than
  // reserved for: back to the capacity that appending would have reached.
  void settle_appends_(int c, int last) {
    int cap = grown_for_(c, last, last_ - last);
    if (cap < capacity_) move_to_(cap);
  }

  // Moves the elements to a new array of cap slots, at the same indices.
  void move_to_(int cap) {
    T** fresh = new T*[cap];
    for (int i = first_; i <= last_; ++i) fresh[i] = items_[i];
    delete[] items_;
    items_ = fresh;
    capacity_ = cap;
  }

  void empty_() {
    for (int i = first_; i <= last_; ++i) delete items_[i];
    last_ = -1;
    first_ = 0;
  }

  T** items_ = nullptr;
  int capacity_ = 0;
  int last_ = -1;
  int first_ = 0;
};

// A list that travels as one record: field 1 holds the count, then one
// field 10 per element (a string, or a nested object). In XML each element is
// an "item".
template <class T>
class HxList : public HxBaseList<T>, public HxPack {
 public:
  HxList() = default;
  HxList(HxList const& other) : HxBaseList<T>(other), HxPack() {}
  HxList& operator=(HxList const& other) {
    HxBaseList<T>::copy(other);
    return *this;
  }

  void encode() override {
    store(1, this->length());
    for (int i = 0; i < this->length(); ++i) store(10, *this->get(i));
  }

  // The array is sized once, from the count, to the capacity that appending
  // the items one by one would reach. The count is only trusted as far as
  // the bytes that follow can hold items (each takes at least 4) and the
  // decode budget can pay for them: each item claims its object and two
  // slots of the array before it is made, and once a claim is refused the
  // rest of the list is dropped.
  void decode() override {
    int count = _itemCount();
    if (count < 1) return;
    int const cap = HxBaseList<T>::capacity_, last = this->last_;
    long long fits = _remaining() / 4;
    long long const affordable = HxDecodeBudget::left() / kItemClaim;
    if (affordable < fits) fits = affordable;
    this->reserve_appends_(count < fits ? count : static_cast<int>(fits));
    while (_readtag()) {
      if (!HxDecodeBudget::claim(kItemClaim)) {
        drop_();
        break;
      }
      T* e = new T();
      restore(10, *e);
      this->append(e);
      _yank();
    }
    this->settle_appends_(cap, last);
  }

  void encodeXML() override {
    for (int i = 0; i < this->length(); ++i) storeXML("item", *this->get(i));
  }

  bool decodeXML() override {
    char room[kHxXmlNameRoom];
    for (int i = 0;; ++i) {
      char const* name = _xmlName(room, "item", i);
      if (!_xmlHasObject(name) && !_xmlHasValue(name)) break;
      if (!HxDecodeBudget::claim(kItemClaim)) break;
      T* e = new T();
      restoreXML(name, *e);
      this->append(e);
    }
    return true;
  }

 private:
  // What one decoded item claims: its object, and the two slots of the
  // array that it may take as the array doubles.
  static constexpr long long kItemClaim = static_cast<long long>(sizeof(T) + 2 * sizeof(T*));
};

// Names a list class: its element type, type number and XML tag.
#define HX_NAMED_LIST(Name, Element, Number, Tag)                \
  class Name : public HxList<Element> {                          \
   public:                                                       \
    int type() const override { return Number; }                 \
    HxString typeXML() const override { return HxString(Tag); }  \
    void copy(Name const& other) { HxBaseList<Element>::copy(other); } \
  }

int hx_string_sort_func(HxString const* a, HxString const* b);

// The list of strings used by the splitters, configuration and the data model.
class HxStringList : public HxList<HxString> {
 public:
  int type() const override { return 55; }
  HxString typeXML() const override { return HxString("string_list"); }
  void copy(HxStringList const& other) { HxBaseList<HxString>::copy(other); }

  HxString join(HxString const& separator) const;
  int find(HxString const& s) const;
  void sort();
  void sort(int (*cmp)(HxString const*, HxString const*));
};

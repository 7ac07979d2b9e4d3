#pragma once

#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxWorld.h"
#include "core/pack/HxPack.h"

// Hash of a key: the sum of its bytes (as signed chars) times 7^i, in
// unsigned 32-bit arithmetic.
inline uint32_t hx_hash_key(HxString const& key) {
  uint32_t h = 0, f = 1;
  char const* p = key.value();
  for (int i = 0; i < key.length(); ++i) {
    h += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(p[i]))) * f;
    f *= 7u;
  }
  return h;
}

// Second hash of a key (FNV-1a), where the search goes on once the probe path
// is exhausted: keys whose first hashes lie close together or collide outright
// spread over the table instead of piling up in one run.
inline uint32_t hx_hash_spread(HxString const& key) {
  uint32_t g = 2166136261u;
  char const* p = key.value();
  for (int i = 0; i < key.length(); ++i) {
    g ^= static_cast<unsigned char>(p[i]);
    g *= 16777619u;
  }
  return g;
}

// Open-addressing table from string keys to values of type V, without any
// ownership of values; the owning and the plain-int tables build on it.
//
// Probe path: h mod n, then (h + (4 << k)) mod n, at most n / 2 slots. The
// shift count wraps at 32, so the path visits its distinct slots within its
// first 33 steps and only repeats them after that: the walk stops there, which
// finds exactly what the full walk finds. When the path holds no free slot and
// the table is less than half full, the search goes on linearly from the second
// hash of the key,
// so keys that share one hash never force growth of a mostly empty table.
template <class V>
class HxHashTable {
 public:
  using value_type = V;
  HxHashTable() { alloc_(17); }
  HxHashTable(HxHashTable const&) = delete;
  HxHashTable& operator=(HxHashTable const&) = delete;

  int size() const { return size_; }
  int count() const { return count_; }

  // The value stored under key; for an absent key a null pointer, or 0.
  V get(HxString const& key) const {
    int s = find_(key);
    return s < 0 ? V() : values_[s];
  }

  // Stores value under a new copy of key, growing the table until a slot is
  // found; 0 only for a table without slots.
  int set(V value, HxString const& key) {
    if (size_ < 1) return 0;
    HxString* k = new HxString(key);
    while (!_set(value, k)) grow_();
    return 1;
  }

  int _set(V value, HxString* key) { return insert_(value, key) ? 1 : 0; }
  void resize() { grow_(); }

  // The table's own key strings, in slot order; the caller forget()s the list.
  void keys(HxBaseList<HxString>& list) const {
    list.clear();
    for (int i = 0; i < size_; ++i)
      if (used_(i)) list.append(keys_[i]);
  }

  // Slot access for iteration in slot order.
  HxString* _key(int slot) const { return used_(slot) ? keys_[slot] : nullptr; }
  V _value(int slot) const { return values_[slot]; }

  // The slot holding key, or -1.
  int find_(HxString const& key) const {
    if (count_ == 0 || size_ < 2) return -1;
    uint32_t h = hx_hash_key(key);
    int limit = probe_limit_();
    for (int k = 0; k < limit; ++k) {
      int s = probe_(h, k);
      if (keys_[s] == nullptr) return -1;
      if (keys_[s] != &deleted_ && *keys_[s] == key) return s;
    }
    uint32_t g = hx_hash_spread(key);
    for (int i = 0; i < size_; ++i) {
      int s = static_cast<int>((g + static_cast<uint32_t>(i)) % static_cast<uint32_t>(size_));
      if (keys_[s] == nullptr) return -1;
      if (keys_[s] != &deleted_ && *keys_[s] == key) return s;
    }
    return -1;
  }

  // Insertion slot for key: the slot of an equal key (*existing set), or the
  // first free slot; -1 when there is none and the table should grow.
  int place_(HxString const& key, bool* existing) const {
    *existing = false;
    if (size_ < 2) return -1;
    uint32_t h = hx_hash_key(key);
    int limit = probe_limit_();
    int free_slot = -1;
    for (int k = 0; k < limit; ++k) {
      int s = probe_(h, k);
      if (keys_[s] == nullptr) return free_slot >= 0 ? free_slot : s;
      if (keys_[s] == &deleted_) {
        if (free_slot < 0) free_slot = s;
      } else if (*keys_[s] == key) {
        *existing = true;
        return s;
      }
    }
    // The probe path is exhausted. An equal key may still lie further on.
    bool mostly_full = 2LL * count_ >= size_;
    if (free_slot < 0 && mostly_full) return -1;
    uint32_t g = hx_hash_spread(key);
    for (int i = 0; i < size_; ++i) {
      int s = static_cast<int>((g + static_cast<uint32_t>(i)) % static_cast<uint32_t>(size_));
      if (keys_[s] == nullptr) return free_slot >= 0 ? free_slot : s;
      if (keys_[s] == &deleted_) {
        if (free_slot < 0) free_slot = s;
      } else if (*keys_[s] == key) {
        *existing = true;
        return s;
      }
    }
    return free_slot;
  }

 protected:
  ~HxHashTable() {
    delete[] keys_;
    delete[] values_;
  }

  bool used_(int slot) const { return keys_[slot] != nullptr && keys_[slot] != &deleted_; }

  // Steps of the probe path worth walking: n / 2, but no more than the 33
  // after which the path repeats itself.
  int probe_limit_() const { return size_ / 2 < 33 ? size_ / 2 : 33; }

  int probe_(uint32_t h, int k) const {
    uint32_t step = k == 0 ? 0u : (4u << ((k - 1) & 31));
    return static_cast<int>((h + step) % static_cast<uint32_t>(size_));
  }

  void alloc_(int n) {
    keys_ = new HxString*[n]();
    values_ = new V[n]();
    size_ = n;
  }

  // Grows to (rand() mod 100) + 4 * size + 1 slots and reinserts every entry.
  void grow_() {
    HxString** old_keys = keys_;
    V* old_values = values_;
    int old_size = size_;
    int s = size_;
    for (;;) {
      int n = (hx_world().random() % 100) + 4 * s + 1;
      alloc_(n);
      count_ = 0;
      bool ok = true;
      for (int i = 0; i < old_size && ok; ++i) {
        if (old_keys[i] == nullptr || old_keys[i] == &deleted_) continue;
        ok = insert_(old_values[i], old_keys[i]);
      }
      if (ok) break;
      delete[] keys_;
      delete[] values_;
      s = n;
    }
    delete[] old_keys;
    delete[] old_values;
  }

  // Stores key and value (both owned from now on); an entry with an equal key
  // is replaced. False when no slot was found.
  bool insert_(V value, HxString* key) {
    bool existing = false;
    int s = place_(*key, &existing);
    if (s < 0) return false;
    if (existing) {
      // Storing the entry's own value or key again must not free it.
      if (!(values_[s] == value)) release_value_(values_[s]);
      if (keys_[s] != key) delete keys_[s];
    } else {
      ++count_;
    }
    keys_[s] = key;
    values_[s] = value;
    return true;
  }

  static void release_value_(V& v) {
    if constexpr (std::is_pointer<V>::value) {
      delete v;
      v = nullptr;
    }
  }

  void release_all_() {
    for (int i = 0; i < size_; ++i) {
      if (used_(i)) {
        delete keys_[i];
        release_value_(values_[i]);
      }
      keys_[i] = nullptr;
    }
    count_ = 0;
  }

  HxString** keys_ = nullptr;
  HxString deleted_;
  V* values_ = nullptr;
  int size_ = 0;
  int count_ = 0;
};

// Table from string keys to owned heap objects.
template <class T>
class HxBaseHash : public HxHashTable<T*> {
  using Base = HxHashTable<T*>;

 public:
  HxBaseHash() = default;
  HxBaseHash(HxBaseHash const& other) : Base() { copy(other); }
  HxBaseHash& operator=(HxBaseHash const& other) {
    copy(other);
    return *this;
  }
  virtual ~HxBaseHash() { this->release_all_(); }

  T* remove(HxString const& key) {
    int s = this->find_(key);
    if (s < 0) return nullptr;
    T* v = this->values_[s];
    delete this->keys_[s];
    this->keys_[s] = &this->deleted_;
    this->values_[s] = nullptr;
    --this->count_;
    return v;
  }

  void copykeys(HxBaseList<HxString>& list) const {
    list.clear();
    for (int i = 0; i < this->size_; ++i)
      if (this->used_(i)) list.append(new HxString(*this->keys_[i]));
  }

  // Slot-for-slot copy: deleted slots stay deleted.
  void copy(HxBaseHash const& other) {
    if (&other == this) return;
    this->release_all_();
    delete[] this->keys_;
    delete[] this->values_;
    this->alloc_(other.size_);
    this->count_ = other.count_;
    for (int i = 0; i < other.size_; ++i) {
      if (other.keys_[i] == &other.deleted_) {
        this->keys_[i] = &this->deleted_;
      } else if (other.keys_[i] != nullptr) {
        this->keys_[i] = new HxString(*other.keys_[i]);
        if (other.values_[i] != nullptr) {
          T* v = new T();
          v->copy(*other.values_[i]);
          this->values_[i] = v;
        }
      }
    }
  }
};

// Table from string keys to plain ints; an absent key reads as 0.
template <class V>
class HxSimpleHash : public HxHashTable<V> {
 public:
  HxSimpleHash() = default;
  virtual ~HxSimpleHash() { this->release_all_(); }
};

namespace hx_detail {

// What a table slot's value is to the codec: a plain value, or an owned
// object behind a pointer (where an empty pointer is no entry to write).
template <class V>
struct SlotValue {
  static V make() { return V(); }
  static V& ref(V& v) { return v; }
  static bool present(V const&) { return true; }
};

template <class T>
struct SlotValue<T*> {
  static T* make() { return new T(); }
  static T& ref(T* v) { return *v; }
  static bool present(T const* v) { return v != nullptr; }
};

}  // namespace hx_detail

// A hash that travels as one record: field 1 holds the count, then per entry
// field 10 with the key and field 30 with the value. In XML each entry is a
// "key" element followed by an "element" element.
template <class Table>
class HxPackedHash : public Table, public HxPack {
  using V = typename Table::value_type;
  using Slot = hx_detail::SlotValue<V>;

 public:
  HxPackedHash() = default;
  HxPackedHash(HxPackedHash const& other) : Table(other), HxPack() {}
  HxPackedHash& operator=(HxPackedHash const& other) {
    Table::operator=(other);
    return *this;
  }

  void encode() override {
    store(1, this->count_);
    int written = 0;
    for (int i = 0; i < this->size_ && written < this->count_; ++i) {
      if (!this->used_(i) || !Slot::present(this->values_[i])) continue;
      store(10, *this->keys_[i]);
      store(30, Slot::ref(this->values_[i]));
      ++written;
    }
  }

  void decode() override {
    if (!_itemsFollow()) return;
    while (_readtag()) {
      HxString* key = new HxString();
      restore(10, *key);
      _yank();
      V value = Slot::make();
      if (_readtag()) {
        restore(30, Slot::ref(value));
        _yank();
      }
      while (!this->_set(value, key)) this->grow_();
    }
  }

  void encodeXML() override {
    static HxString const key("key"), element("element");
    for (int i = 0; i < this->size_; ++i) {
      if (!this->used_(i) || !Slot::present(this->values_[i])) continue;
      storeXML(key, *this->keys_[i]);
      storeXML(element, Slot::ref(this->values_[i]));
    }
  }

  bool decodeXML() override {
    for (int i = 0;; ++i) {
      HxString kname = _xmlName("key", i);
      if (!_xmlHasObject(kname) && !_xmlHasValue(kname)) break;
      HxString* key = new HxString();
      restoreXML(kname, *key);
      V value = Slot::make();
      restoreXML(_xmlName("element", i), Slot::ref(value));
      while (!this->_set(value, key)) this->grow_();
    }
    return true;
  }
};

// Hashes of owned objects, and of plain ints, that travel as records.
template <class T>
using HxHash = HxPackedHash<HxBaseHash<T>>;
template <class V>
using HxDataHash = HxPackedHash<HxSimpleHash<V>>;

// Names a hash class: its value type, type number and XML tag.
#define HX_NAMED_HASH(Name, Value, Number, Tag)                  \
  class Name : public HxHash<Value> {                            \
   public:                                                       \
    int type() const override { return Number; }                 \
    HxString typeXML() const override { return HxString(Tag); }  \
    void copy(Name const& other) { HxBaseHash<Value>::copy(other); } \
  }

HX_NAMED_HASH(HxStringHash, HxString, 56, "string_hash");

class HxIntHash : public HxDataHash<int> {
 public:
  int type() const override { return 176; }
  HxString typeXML() const override { return HxString("int_hash"); }
};

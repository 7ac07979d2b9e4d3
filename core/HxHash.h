#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
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
inline uint32_t hx_hash_spread(char const* p, int n) {
  uint32_t g = 2166136261u;
  for (int i = 0; i < n; ++i) {
    g ^= static_cast<unsigned char>(p[i]);
    g *= 16777619u;
  }
  return g;
}

inline uint32_t hx_hash_spread(HxString const& key) { return hx_hash_spread(key.value(), key.length()); }

// The two hashes of a key, taken in one pass over its bytes: the specified
// hash h, which places the key on its probe path, and the FNV-1a hash f of the
// bytes before the first NUL, which is what key equality (the lengths and
// strcmp) looks at. A table keeps both per slot: f tells keys apart before any
// key is touched, h moves an entry when the table grows without hashing its
// key again. Where the probe path is exhausted the search goes on from the
// second hash of the whole key, which is f unless the key holds a NUL.
struct HxKeyHash {
  uint32_t h;
  uint32_t f;
  bool nul;
};

inline HxKeyHash hx_key_hash(char const* p, int n) {
  uint32_t h = 0, m = 1, f = 2166136261u;
  int i = 0;
  for (; i < n && p[i] != 0; ++i) {
    h += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(p[i]))) * m;
    m *= 7u;
    f = (f ^ static_cast<unsigned char>(p[i])) * 16777619u;
  }
  bool const nul = i < n;
  for (; i < n; ++i) {
    h += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(p[i]))) * m;
    m *= 7u;
  }
  return HxKeyHash{h, f, nul};
}

// Open-addressing table from string keys to values of type V, without any
// ownership of values; the owning and the plain-int tables build on it.
//
// Probe path: h mod n, then (h + (4 << k)) mod n, at most n / 2 slots. The
// shift count wraps at 32, so the path visits its distinct slots within its
// first 33 steps and only repeats them after that: the walk stops there, which
// finds exactly what the full walk finds. When the path holds no free slot and
// the table is less than half full, the search goes on linearly from the second
// hash of the key, so keys that share one hash never force growth of a mostly
// empty table.
//
// The slot arrays are allocated by the first insertion: a table that never
// holds anything (most of the XML reader's, many of a record's) costs none.
template <class V>
class HxHashTable {
 public:
  using value_type = V;
  HxHashTable() = default;
  HxHashTable(HxHashTable const&) = delete;
  HxHashTable& operator=(HxHashTable const&) = delete;

  int size() const { return size_; }
  int count() const { return count_; }

  // The value stored under key; for an absent key a null pointer, or 0.
  V get(HxString const& key) const {
    int s = find_(key);
    return s < 0 ? V() : value_(s);
  }
  // The same for a key given as NUL-terminated text, without making a string.
  V get(char const* key) const {
    int s = key != nullptr ? find_(key, static_cast<int>(std::strlen(key))) : -1;
    return s < 0 ? V() : value_(s);
  }
  // Where the value of key is kept, to be changed in place; null when absent.
  V* _find(HxString const& key) {
    int s = find_(key);
    return s < 0 ? nullptr : &value_(s);
  }

  // Stores value under a new copy of key, growing the table until a slot is
  // found; 0 only for a table without slots.
  int set(V value, HxString const& key) {
    if (size_ < 1) return 0;
    HxString* k = HxString::_new(key);
    while (!_set(value, k)) grow_();
    return 1;
  }

  int _set(V value, HxString* key) { return insert_(value, key) ? 1 : 0; }
  void resize() { grow_(); }

  // The table's own key strings, in slot order; the caller forget()s the list.
  void keys(HxBaseList<HxString>& list) const {
    list.clear();
    for (int i = 0; i < slots_(); ++i)
      if (used_(i)) list.append(key_(i));
  }

  // Slot access for iteration in slot order.
  HxString* _key(int slot) const { return used_(slot) ? key_(slot) : nullptr; }
  V _value(int slot) const { return table_ != nullptr ? value_(slot) : V(); }

  // The slot holding key, or -1.
  int find_(HxString const& key) const { return find_(key.value(), key.length()); }
  int find_(char const* key, int n) const {
    if (count_ == 0 || size_ < 2) return -1;
    HxKeyHash const kh = hx_key_hash(key, n);
    int const limit = probe_limit_();
    // The first steps of the path lie far apart in a large table: their
    // slots are fetched together rather than one miss after the other.
    if (limit > 3) {
      __builtin_prefetch(&table_[probe_(kh.h, 1)]);
      __builtin_prefetch(&table_[probe_(kh.h, 2)]);
      __builtin_prefetch(&table_[probe_(kh.h, 3)]);
    }
    for (int k = 0; k < limit; ++k) {
      int s = probe_(kh.h, k);
      if (key_(s) == nullptr) return -1;
      if (same_(s, kh, key, n)) return s;
    }
    uint32_t const g = spread_(kh, key, n);
    for (int i = 0; i < size_; ++i) {
      int s = mod_(g + static_cast<uint32_t>(i));
      if (key_(s) == nullptr) return -1;
      if (same_(s, kh, key, n)) return s;
    }
    return -1;
  }

  // Insertion slot for key: the slot of an equal key (*existing set), or the
  // first free slot; -1 when there is none and the table should grow.
  int place_(HxString const& key, HxKeyHash const& kh, bool* existing) const {
    *existing = false;
    if (size_ < 2) return -1;
    int const limit = probe_limit_();
    int free_slot = -1;
    for (int k = 0; k < limit; ++k) {
      int s = probe_(kh.h, k);
      if (key_(s) == nullptr) return free_slot >= 0 ? free_slot : s;
      if (key_(s) == &deleted_) {
        if (free_slot < 0) free_slot = s;
      } else if (same_(s, kh, key.value(), key.length())) {
        *existing = true;
        return s;
      }
    }
    // The probe path is exhausted. An equal key may still lie further on.
    bool mostly_full = 2LL * count_ >= size_;
    if (free_slot < 0 && mostly_full) return -1;
    uint32_t const g = spread_(kh, key.value(), key.length());
    for (int i = 0; i < size_; ++i) {
      int s = mod_(g + static_cast<uint32_t>(i));
      if (key_(s) == nullptr) return free_slot >= 0 ? free_slot : s;
      if (key_(s) == &deleted_) {
        if (free_slot < 0) free_slot = s;
      } else if (same_(s, kh, key.value(), key.length())) {
        *existing = true;
        return s;
      }
    }
    return free_slot;
  }

 protected:
  ~HxHashTable() { free_arrays_(); }

  // The two hashes of a key.
  struct Hashes {
    uint32_t h;
    uint32_t f;
  };
  // One slot: its key (null = empty, the address of deleted_ = deleted),
  // the key's hashes and the value, side by side so that a probe reads one
  // place.
  struct Slot {
    HxString* key;
    Hashes hashes;
    V value;
  };

  HxString*& key_(int slot) const { return table_[slot].key; }
  V& value_(int slot) const { return table_[slot].value; }

  // Slots to walk over: none before the array exists.
  int slots_() const { return table_ != nullptr ? size_ : 0; }
  bool used_(int slot) const {
    return table_ != nullptr && key_(slot) != nullptr && key_(slot) != &deleted_;
  }

  // Whether slot s holds key: its hashes first, then the key itself.
  bool same_(int s, HxKeyHash const& kh, char const* key, int n) const {
    Slot const& at = table_[s];
    return at.hashes.f == kh.f && at.hashes.h == kh.h && at.key != &deleted_ && equal_(*at.key, key, n);
  }

  // HxString equality (the lengths, then strcmp) with n bytes of text that
  // a NUL follows, here where it is inlined.
  static bool equal_(HxString const& a, char const* b, int n) {
    return a.length() == n && (n == 0 || std::strcmp(a.value(), b) == 0);
  }

  static uint32_t spread_(HxKeyHash const& kh, char const* key, int n) {
    return kh.nul ? hx_hash_spread(key, n) : kh.f;
  }

  // Steps of the probe path worth walking: n / 2, but no more than the 33
  // after which the path repeats itself.
  int probe_limit_() const { return size_ / 2 < 33 ? size_ / 2 : 33; }

  int probe_(uint32_t h, int k) const {
    uint32_t step = k == 0 ? 0u : (4u << ((k - 1) & 31));
    return mod_(h + step);
  }

  // a mod size without a division: the remainder from the high half of
  // a 64 by 64 bit product, exact for every 32-bit a and size.
  int mod_(uint32_t a) const {
    uint64_t low = magic_ * a;
    return static_cast<int>((static_cast<unsigned __int128>(low) * static_cast<uint32_t>(size_)) >> 64);
  }

  void set_size_(int n) {
    size_ = n;
    magic_ = n > 0 ? ~uint64_t{0} / static_cast<uint32_t>(n) + 1 : 0;
  }

  void alloc_(int n) {
    table_ = new Slot[n]();
    set_size_(n);
  }

  void free_arrays_() {
    delete[] table_;
    table_ = nullptr;
  }

  // Grows to (rand() mod 100) + 4 * size + 1 slots and reinserts every entry
  // from its kept hashes: the keys are distinct, so none is compared.
  void grow_() {
    Slot* old = table_;
    int old_size = slots_();
    int s = size_;
    for (;;) {
      int n = (hx_world().random() % 100) + 4 * s + 1;
      alloc_(n);
      count_ = 0;
      bool ok = true;
      for (int i = 0; i < old_size && ok; ++i) {
        if (old[i].key == nullptr || old[i].key == &deleted_) continue;
        ok = insert_distinct_(old[i]);
      }
      if (ok) break;
      delete[] table_;
      s = n;
    }
    delete[] old;
  }

  // Stores a key that the table does not hold in the first free slot of its
  // path; false when there is none.
  bool insert_distinct_(Slot const& entry) {
    int const limit = probe_limit_();
    int at = -1;
    for (int k = 0; k < limit && at < 0; ++k) {
      int s = probe_(entry.hashes.h, k);
      if (key_(s) == nullptr) at = s;
    }
    if (at < 0) {
      if (2LL * count_ >= size_) return false;
      HxString const& key = *entry.key;
      bool nul = std::memchr(key.value(), 0, static_cast<size_t>(key.length())) != nullptr;
      uint32_t const g = nul ? hx_hash_spread(key) : entry.hashes.f;
      for (int i = 0; i < size_ && at < 0; ++i) {
        int s = mod_(g + static_cast<uint32_t>(i));
        if (key_(s) == nullptr) at = s;
      }
      if (at < 0) return false;
    }
    table_[at] = entry;
    ++count_;
    return true;
  }

  // Stores key and value (both owned from now on); an entry with an equal key
  // is replaced. False when no slot was found.
  bool insert_(V value, HxString* key) {
    if (table_ == nullptr) {
      if (size_ < 2) return false;
      alloc_(size_);
    }
    HxKeyHash const kh = hx_key_hash(key->value(), key->length());
    bool existing = false;
    int s = place_(*key, kh, &existing);
    if (s < 0) return false;
    if (existing) {
      // Storing the entry's own value or key again must not free it.
      if (!(value_(s) == value)) release_value_(value_(s));
      if (key_(s) != key) delete key_(s);
    } else {
      ++count_;
    }
    table_[s] = Slot{key, Hashes{kh.h, kh.f}, value};
    return true;
  }

  static void release_value_(V& v) {
    if constexpr (std::is_pointer<V>::value) {
      delete v;
      v = nullptr;
    }
  }

  void release_all_() {
    int const n = slots_();
    for (int i = 0; i < n; ++i) {
      // Keys lie scattered over the heap in slot order: fetching one a few
      // slots ahead overlaps the misses that freeing them one by one waits on.
      if (i + kReleaseAhead < n) {
        HxString* ahead = key_(i + kReleaseAhead);
        if (ahead != nullptr) __builtin_prefetch(ahead);
      }
      if (used_(i)) {
        delete key_(i);
        release_value_(value_(i));
      }
      key_(i) = nullptr;
    }
    count_ = 0;
  }

  static constexpr int kReleaseAhead = 8;

  Slot* table_ = nullptr;
  HxString deleted_;
  int size_ = 17;
  int count_ = 0;
  uint64_t magic_ = ~uint64_t{0} / 17 + 1;
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
    T* v = this->value_(s);
    delete this->key_(s);
    this->key_(s) = &this->deleted_;
    this->value_(s) = nullptr;
    --this->count_;
    return v;
  }

  void copykeys(HxBaseList<HxString>& list) const {
    list.clear();
    for (int i = 0; i < this->slots_(); ++i)
      if (this->used_(i)) list.append(HxString::_new(*this->key_(i)));
  }

  // A new copy of a value through its class's copy; a string value is made
  // in one block, as the same copy.
  static T* copy_value_(T const& value) {
    if constexpr (std::is_same<T, HxString>::value) {
      return HxString::_new(value);
    } else {
      T* v = new T();
      v->copy(value);
      return v;
    }
  }

  // Slot-for-slot copy: deleted slots stay deleted.
  void copy(HxBaseHash const& other) {
    if (&other == this) return;
    this->release_all_();
    this->free_arrays_();
    this->set_size_(other.size_);
    this->count_ = other.count_;
    if (other.table_ == nullptr) return;
    this->alloc_(other.size_);
    for (int i = 0; i < other.size_; ++i) {
      this->table_[i].hashes = other.table_[i].hashes;
      if (other.key_(i) == &other.deleted_) {
        this->key_(i) = &this->deleted_;
      } else if (other.key_(i) != nullptr) {
        this->key_(i) = HxString::_new(*other.key_(i));
        if (other.value_(i) != nullptr) this->value_(i) = copy_value_(*other.value_(i));
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
    for (int i = 0; i < this->slots_() && written < this->count_; ++i) {
      if (!this->used_(i) || !Slot::present(this->value_(i))) continue;
      store(10, *this->key_(i));
      store(30, Slot::ref(this->value_(i)));
      ++written;
    }
  }

  // Each entry claims its key, its value and the slots of the table from the
  // decode budget before it is made; once a claim is refused the rest of the
  // hash is dropped.
  void decode() override {
    if (!_itemsFollow()) return;
    // Each key is read into one reused string, then made in one block.
    HxString text;
    while (_readtag()) {
      text.clear();
      restore(10, text);
      _yank();
      if (!HxDecodeBudget::claim(entry_claim_(text))) {
        drop_();
        break;
      }
      HxString* key = HxString::_new(text);
      V value = Slot::make();
      if (_readtag()) {
        restore(30, Slot::ref(value));
        _yank();
      }
      while (!this->_set(value, key)) this->grow_();
    }
  }

  void encodeXML() override {
    for (int i = 0; i < this->slots_(); ++i) {
      if (!this->used_(i) || !Slot::present(this->value_(i))) continue;
      storeXML("key", *this->key_(i));
      storeXML("element", Slot::ref(this->value_(i)));
    }
  }

  bool decodeXML() override {
    char kroom[kHxXmlNameRoom], eroom[kHxXmlNameRoom];
    for (int i = 0;; ++i) {
      char const* kname = _xmlName(kroom, "key", i);
      if (!_xmlHasObject(kname) && !_xmlHasValue(kname)) break;
      if (!HxDecodeBudget::claim(entry_claim_(HxString()))) break;
      HxString* key = new HxString();
      restoreXML(kname, *key);
      if (HxDecodeBudget::refused()) {
        delete key;
        break;
      }
      V value = Slot::make();
      restoreXML(_xmlName(eroom, "element", i), Slot::ref(value));
      while (!this->_set(value, key)) this->grow_();
    }
    return true;
  }

 private:
  // What one decoded entry claims: its key made in one block, its value
  // when the table owns it, and eight slots, as many as a table grown from
  // half full to four times its size keeps per entry; the first entry also
  // the table's first slots.
  long long entry_claim_(HxString const& key) const {
    long long const slot = static_cast<long long>(sizeof(typename Table::Slot));
    long long bytes = static_cast<long long>(sizeof(HxString)) + key.length() + 1 + 8 * slot;
    if (this->table_ == nullptr) bytes += this->size_ * slot;
    if constexpr (std::is_pointer<V>::value) bytes += static_cast<long long>(sizeof(std::remove_pointer_t<V>));
    return bytes;
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

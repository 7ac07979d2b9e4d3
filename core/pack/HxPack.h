#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "core/HxBase.h"
#include "core/HxLimits.h"
#include "core/HxString.h"

class HxFileReplacement;

class HxPackObj;

// A bound on the memory that decoding makes, open on one thread while it
// lives. The decoders claim bytes before they allocate: every list item and
// hash entry its object and slots, a message its content, a text the buffer
// it grows to. Once a claim is refused the budget is spent: every later
// claim is refused too, and each decoder drops the rest of its object as it
// does for malformed input. unpack, _unpack, unpackXML and the file readers
// open one of kHxMaxDecodeBytes when none is open; a caller that must know
// whether the bound was reached (a received message) opens its own around
// the decode. A budget opened inside another holds at most what the outer
// one has left, and what it claims counts for both.
class HxDecodeBudget {
 public:
  explicit HxDecodeBudget(long long bytes = kHxMaxDecodeBytes) : outer_(current_), left_(bytes > 0 ? bytes : 0) {
    current_ = this;
  }
  ~HxDecodeBudget() { current_ = outer_; }
  HxDecodeBudget(HxDecodeBudget const&) = delete;
  HxDecodeBudget& operator=(HxDecodeBudget const&) = delete;

  // Whether a claim was refused while this budget was open.
  bool spent() const { return left_ < 0; }
  // The bytes claimed under it so far.
  long long claimed() const { return claimed_; }

  // For the decoders: takes bytes from the budgets open on this thread;
  // false, and the budget spent, when they do not hold them. Without an
  // open budget every claim is granted. A claim comes with every object a
  // decode makes, so the usual case (one budget, room left) is inline.
  static bool claim(long long bytes) {
    HxDecodeBudget* const b = current_;
    if (b == nullptr) return true;
    if (b->outer_ == nullptr && bytes <= b->left_) {
      b->left_ -= bytes;
      b->claimed_ += bytes;
      return true;
    }
    return claimNested_(bytes);
  }
  // What the innermost open budget still grants (0 once spent); a huge
  // number when none is open.
  static long long left();
  // Whether the innermost open budget is spent.
  static bool refused() { return current_ != nullptr && current_->left_ < 0; }
  // Whether a budget is open on this thread.
  static bool open() { return current_ != nullptr; }

 private:
  // A claim through nested budgets, or one refused.
  static bool claimNested_(long long bytes);

  // The innermost budget open on this thread (a plain thread-local pointer,
  // reached without the initialisation check of thread_local).
  static __thread HxDecodeBudget* current_;

  HxDecodeBudget* outer_;
  long long left_;  // below 0 once spent
  long long claimed_ = 0;
};

// The budget of one decode: the caller's when one is open, else one of
// kHxMaxDecodeBytes opened for as long as this lives.
class HxDefaultDecodeBudget {
 public:
  HxDefaultDecodeBudget() {
    if (!HxDecodeBudget::open()) own_.emplace();
  }

 private:
  std::optional<HxDecodeBudget> own_;
};

// Conversion between host and big-endian byte order.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
inline uint16_t hx_be16(uint16_t u) { return u; }
inline uint32_t hx_be32(uint32_t u) { return u; }
inline uint64_t hx_be64(uint64_t u) { return u; }
#else
inline uint16_t hx_be16(uint16_t u) { return __builtin_bswap16(u); }
inline uint32_t hx_be32(uint32_t u) { return __builtin_bswap32(u); }
inline uint64_t hx_be64(uint64_t u) { return __builtin_bswap64(u); }
#endif

// Big-endian signed integers at a byte pointer.
inline short _rc_int16(char const* p) {
  uint16_t u;
  std::memcpy(&u, p, 2);
  return static_cast<short>(hx_be16(u));
}

inline int _rc_int32(char const* p) {
  uint32_t u;
  std::memcpy(&u, p, 4);
  return static_cast<int>(hx_be32(u));
}

inline long long _rc_int64(char const* p) {
  uint64_t u;
  std::memcpy(&u, p, 8);
  return static_cast<long long>(hx_be64(u));
}


// Value kinds of the binary record form.
enum HxPackKind : short {
  kHxKindInt = 1,
  kHxKindChar = 2,
  kHxKindString = 3,
  kHxKindObject = 4,
  kHxKindFloat = 5,
  kHxKindBool = 6,
  kHxKindLongLong = 7,
};

// Base of every serialisable class. A class supplies type(), encode() and
// decode() (and typeXML(), encodeXML(), decodeXML()); HxPack holds the byte
// buffers, the record layout and the files.
//
// Binary form: the header 00 00 00 01, then records of a 2-byte field number,
// a 2-byte kind and the value, all big-endian.
class HxPack : public HxBase {
 public:
  HxPack() = default;
  // Copying a record copies its members, never the codec's buffers or cursor.
  HxPack(HxPack const&) : HxBase() {}
  HxPack& operator=(HxPack const&) { return *this; }
  ~HxPack() override;

  int type() const override { return 71; }
  virtual void encode() = 0;
  virtual void decode() = 0;
  virtual HxString typeXML() const { return "pack"; }
  virtual void encodeXML() = 0;
  virtual bool decodeXML() = 0;

  // ---- binary writing ----
  // Each value record is one capacity check, one block of big-endian stores
  // and one update of the length.
  void store(short field, int value) {
    char* p = room_(8);
    put_tag_(p, field, kHxKindInt);
    put32_(p + 4, static_cast<uint32_t>(value));
    length_ += 8;
  }
  void store(short field, char value) {
    char* p = room_(5);
    put_tag_(p, field, kHxKindChar);
    p[4] = value;
    length_ += 5;
  }
  void store(short field, unsigned char value) {
    char* p = room_(5);
    put_tag_(p, field, kHxKindBool);
    p[4] = static_cast<char>(value);
    length_ += 5;
  }
  void store(short field, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    char* p = room_(8);
    put_tag_(p, field, kHxKindFloat);
    put32_(p + 4, bits);
    length_ += 8;
  }
  void store(short field, long long value) {
    char* p = room_(12);
    put_tag_(p, field, kHxKindLongLong);
    put64_(p + 4, static_cast<uint64_t>(value));
    length_ += 12;
  }
  void store(short field, HxString const& value) {
    int const n = value.length();
    char* p = room_(8LL + n);
    put_tag_(p, field, kHxKindString);
    put32_(p + 4, static_cast<uint32_t>(n));
    if (n > 0) std::memcpy(p + 8, value.value(), static_cast<size_t>(n));
    length_ += 8 + n;
  }
  void store(short field, char const* text);
  void store(short field, HxPack& child);
  void _tag(short field, short kind) {
    char* p = room_(4);
    put_tag_(p, field, kind);
    length_ += 4;
  }
  void _store(char const* bytes, int n) {
    if (bytes == nullptr || n < 1) return;
    append_(bytes, n);
  }
  void pack();
  void _package();
  char* packContents() const { return buffer_; }
  int packSize() const { return length_; }
  void _clear();

  // ---- binary reading ----
  int unpack(char const* bytes, int size);
  int _unpack(char const* bytes, int n);
  bool _readtag() {
    if (length_ < 4 || cursor_ == nullptr) return false;
    next_tag_();
    return true;
  }
  void restore(short field, int& value) {
    if (char const* p = take_(field, kHxKindInt, 4)) value = _rc_int32(p);
  }
  void restore(short field, char& value) {
    if (char const* p = take_(field, kHxKindChar, 1)) value = *p;
  }
  void restore(short field, unsigned char& value) {
    if (char const* p = take_(field, kHxKindBool, 1)) value = static_cast<unsigned char>(*p);
  }
  void restore(short field, float& value) {
    if (char const* p = take_(field, kHxKindFloat, 4)) {
      auto bits = static_cast<uint32_t>(_rc_int32(p));
      std::memcpy(&value, &bits, 4);
    }
  }
  void restore(short field, long long& value) {
    if (char const* p = take_(field, kHxKindLongLong, 8)) value = _rc_int64(p);
  }
  void restore(short field, HxString& value) {
    if (field_ != field || kind_ != kHxKindString) return;
    if (length_ < 4) return drop_();
    int n = _rc_int32(cursor_);
    if (n < 0 || n > length_ - 4) return drop_();
    if (n > 0) {
      // A text that outgrows its buffer claims the new one first.
      if (n >= value.capacity() && !claim_text_(n)) return drop_();
      value.copy(cursor_ + 4, n);
    }
    cursor_ += 4 + n;
    length_ -= 4 + n;
    consumed_ = 1;
  }
  void restore(short field, HxPack& child);
  void trashObj(short field);
  void _yank() {
    if (!consumed_) pass_over_();
  }
  // For lists and hashes: reads the count their records open with (field 1,
  // an int; any other record counts 0) and tells whether items follow it.
  bool _itemsFollow() { return _itemCount() > 0; }
  // The same, giving the count: 0 when no items follow. The count comes from
  // the wire and may lie: only the records that follow say how many items
  // there are, and each of them takes at least 4 bytes.
  int _itemCount();
  // The record being read: its field number, its kind, whether it was read.
  int _field() const { return field_; }
  int _kind() const { return kind_; }
  bool _consumed() const { return consumed_ != 0; }
  int _remaining() const { return length_; }
  // The type number an object record opens with, when the current record is
  // an unread object with its 4 type bytes present; else -1. Moves nothing.
  int _objectType() const {
    return (kind_ == kHxKindObject && !consumed_ && length_ >= 4 && cursor_ != nullptr) ? _rc_int32(cursor_) : -1;
  }

  // ---- files ----
  int archive(HxString const& path);
  int recover(HxString const& path);

  void _debug_print() const;

  // ---- XML form ----
  // Element names come as HxString or as plain text; the plain text ones
  // write and look up without making a string of the name.
  void packXML();
  void _packageXML();
  void storeXML(HxString const& name, HxString const& value) { xml_text_(name.value(), name.length(), value); }
  void storeXML(HxString const& name, char const* value) { storeXML(name.value(), value); }
  void storeXML(HxString const& name, int value) { storeXML(name.value(), value); }
  void storeXML(HxString const& name, long long value) { storeXML(name.value(), value); }
  void storeXML(HxString const& name, unsigned char value) { storeXML(name.value(), value); }
  void storeXML(HxString const& name, float value) { storeXML(name.value(), value); }
  void storeXML(HxString const& name, char value) { storeXML(name.value(), value); }
  void storeXML(HxString const& name, HxPack& child) { xml_child_(name.value(), name.length(), child); }
  void storeXML(char const* name, HxString const& value) { xml_text_(name, xml_len_(name), value); }
  void storeXML(char const* name, char const* value);
  void storeXML(char const* name, int value);
  void storeXML(char const* name, long long value);
  void storeXML(char const* name, unsigned char value);
  void storeXML(char const* name, float value);
  void storeXML(char const* name, char value);
  void storeXML(char const* name, HxPack& child) { xml_child_(name, xml_len_(name), child); }
  void _storeXML(char const* text, int n);
  void _tagXML(HxString const&, short) {}
  void showXML();
  int archiveXML(HxString const& path);
  int unpackXML(char const* text, int length);
  int recoverXML(HxString const& path);
  void restoreXML(HxString const& name, HxString& value) { restoreXML(name.value(), value); }
  void restoreXML(HxString const& name, int& value) { restoreXML(name.value(), value); }
  void restoreXML(HxString const& name, long long& value) { restoreXML(name.value(), value); }
  void restoreXML(HxString const& name, unsigned char& value) { restoreXML(name.value(), value); }
  void restoreXML(HxString const& name, float& value) { restoreXML(name.value(), value); }
  void restoreXML(HxString const& name, char& value) { restoreXML(name.value(), value); }
  bool restoreXML(HxString const& name, HxPack& child) { return restoreXML(name.value(), child); }
  void restoreXML(char const* name, HxString& value);
  void restoreXML(char const* name, int& value);
  void restoreXML(char const* name, long long& value);
  void restoreXML(char const* name, unsigned char& value);
  void restoreXML(char const* name, float& value);
  void restoreXML(char const* name, char& value);
  bool restoreXML(char const* name, HxPack& child);
  void _unpackXML(HxPackObj* node);
  HxPackObj* _xmlnode() const { return xmlnode_; }
  // Whether the current XML node holds a nested object, or a value, of this name.
  bool _xmlHasObject(HxString const& name) const { return _xmlHasObject(name.value()); }
  bool _xmlHasValue(HxString const& name) const { return _xmlHasValue(name.value()); }
  bool _xmlHasObject(char const* name) const;
  bool _xmlHasValue(char const* name) const;
  // The name the XML reader gives the i-th repeated element: base, base1, ...
  static HxString _xmlName(char const* base, int i) {
    HxString name(base);
    if (i > 0) name += i;
    return name;
  }
  // The same into a buffer of kHxXmlNameRoom bytes, without a string; the
  // name is cut to fit.
  static constexpr int kHxXmlNameRoom = 64;
  static char const* _xmlName(char* room, char const* base, int i);
  int _xmldepth() const { return xmldepth_; }

 protected:
  // Room for n more bytes at the end of the owned buffer, which grows to
  // (length + n) * 4 + 16 when it is too small.
  char* room_(long long n) {
    if (length_ + n > capacity_) grow_buffer_(n);
    return buffer_ + length_;
  }
  void grow_buffer_(long long n);
  void append_(void const* bytes, int n) {
    std::memcpy(room_(n), bytes, static_cast<size_t>(n));
    length_ += n;
  }
  void append_int32_(int value) {
    put32_(room_(4), static_cast<uint32_t>(value));
    length_ += 4;
  }
  // Drops the rest of the object being read.
  void drop_() { length_ = 0; }
  // Claims from the decode budget the buffer a string grows to for n bytes
  // of text (the string's capacity rule: 4n + 4, at least 16).
  static bool claim_text_(int n) { return HxDecodeBudget::claim(n < 3 ? 16 : 4LL * n + 4); }
  // Hands the buffer being written to a child record, which writes its
  // fields straight after the parent's, and takes it back when the loan ends,
  // also when the child's encoding throws half way.
  struct BufferLoan {
    HxPack& parent;
    HxPack& child;
    BufferLoan(HxPack& p, HxPack& c) : parent(p), child(c) {
      child._clear();
      child.buffer_ = parent.buffer_;
      child.length_ = parent.length_;
      child.capacity_ = parent.capacity_;
      parent.buffer_ = nullptr;
    }
    ~BufferLoan() {
      parent.buffer_ = child.buffer_;
      parent.length_ = child.length_;
      parent.capacity_ = child.capacity_;
      child.buffer_ = nullptr;
      child.length_ = 0;
      child.capacity_ = 0;
    }
    BufferLoan(BufferLoan const&) = delete;
    BufferLoan& operator=(BufferLoan const&) = delete;
  };
  // Reads a record sequence in place; used by unpack, _unpack and nesting.
  void read_records_(char const* bytes, int n);
  // Reads the header of the next record (at least 4 bytes remain).
  void next_tag_() {
    field_ = _rc_int16(cursor_);
    kind_ = _rc_int16(cursor_ + 2);
    consumed_ = 0;
    cursor_ += 4;
    length_ -= 4;
  }
  // Passes over the current record, which nothing read.
  void pass_over_();
  // The n value bytes of the current record when it has this field number and
  // kind (the cursor moves past them); null when it does not, or when fewer
  // bytes remain, in which case the rest of the object is dropped.
  char const* take_(short field, short kind, int n) {
    if (field_ != field || kind_ != kind) return nullptr;
    if (length_ < n) {
      drop_();
      return nullptr;
    }
    char const* at = cursor_;
    cursor_ += n;
    length_ -= n;
    consumed_ = 1;
    return at;
  }
  // Big-endian stores.
  static void put32_(char* p, uint32_t u) {
    u = hx_be32(u);
    std::memcpy(p, &u, 4);
  }
  static void put64_(char* p, uint64_t u) {
    u = hx_be64(u);
    std::memcpy(p, &u, 8);
  }
  static void put_tag_(char* p, short field, short kind) {
    put32_(p, (static_cast<uint32_t>(static_cast<uint16_t>(field)) << 16) | static_cast<uint16_t>(kind));
  }
  // Writes the buffer to the file, puts it in place and releases the
  // buffer; the number of bytes written, or 0 (the path as it was) when a
  // write, the close or the renaming failed.
  int write_out_(HxFileReplacement& file);
  void xml_append_(char const* text, int n);
  static int xml_len_(char const* name);
  // One value line: depth tabs, the element, the text (escaped when asked).
  void xml_line_(char const* name, int name_length, char const* text, int n, bool escape);
  void xml_text_(char const* name, int name_length, HxString const& value) {
    xml_line_(name, name_length, value.value(), value.length(), true);
  }
  // A nested object member, written by the child straight into this buffer.
  void xml_child_(char const* name, int name_length, HxPack& child);
  // The object lines of this object at the current depth, from "<object"
  // to "</object>" and a newline, appended at the current length.
  void xml_block_();

  char* buffer_ = nullptr;        // owned while writing
  char const* cursor_ = nullptr;  // borrowed while reading
  int length_ = 0;
  int capacity_ = 0;
  HxPackObj* xmlnode_ = nullptr;
  int field_ = 0;
  int kind_ = 0;
  int consumed_ = 0;
  int xmldepth_ = 0;
};

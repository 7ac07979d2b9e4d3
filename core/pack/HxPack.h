#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/HxBase.h"
#include "core/HxString.h"

class HxPackObj;

inline int _rc_int32(char const* p);

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
  void store(short field, int value);
  void store(short field, char value);
  void store(short field, unsigned char value);
  void store(short field, float value);
  void store(short field, long long value);
  void store(short field, HxString const& value);
  void store(short field, char const* text);
  void store(short field, HxPack& child);
  void _tag(short field, short kind);
  void _store(char const* bytes, int n);
  void pack();
  void _package();
  char* packContents() const { return buffer_; }
  int packSize() const { return length_; }
  void _clear();

  // ---- binary reading ----
  int unpack(char const* bytes, int size);
  int _unpack(char const* bytes, int n);
  bool _readtag();
  void restore(short field, int& value);
  void restore(short field, char& value);
  void restore(short field, unsigned char& value);
  void restore(short field, float& value);
  void restore(short field, long long& value);
  void restore(short field, HxString& value);
  void restore(short field, HxPack& child);
  void trashObj(short field);
  void _yank();
  // For lists and hashes: reads the count their records open with (field 1,
  // an int; any other record counts 0) and tells whether items follow it.
  bool _itemsFollow();
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
  void packXML();
  void _packageXML();
  void storeXML(HxString const& name, HxString const& value);
  void storeXML(HxString const& name, char const* value);
  void storeXML(HxString const& name, int value);
  void storeXML(HxString const& name, long long value);
  void storeXML(HxString const& name, unsigned char value);
  void storeXML(HxString const& name, float value);
  void storeXML(HxString const& name, char value);
  void storeXML(HxString const& name, HxPack& child);
  void _storeXML(char const* text, int n);
  void _tagXML(HxString const&, short) {}
  void showXML();
  int archiveXML(HxString const& path);
  int unpackXML(char const* text, int length);
  int recoverXML(HxString const& path);
  void restoreXML(HxString const& name, HxString& value);
  void restoreXML(HxString const& name, int& value);
  void restoreXML(HxString const& name, long long& value);
  void restoreXML(HxString const& name, unsigned char& value);
  void restoreXML(HxString const& name, float& value);
  void restoreXML(HxString const& name, char& value);
  bool restoreXML(HxString const& name, HxPack& child);
  void _unpackXML(HxPackObj* node);
  HxPackObj* _xmlnode() const { return xmlnode_; }
  // Whether the current XML node holds a nested object, or a value, of this name.
  bool _xmlHasObject(HxString const& name) const;
  bool _xmlHasValue(HxString const& name) const;
  // The name the XML reader gives the i-th repeated element: base, base1, ...
  static HxString _xmlName(char const* base, int i) {
    HxString name(base);
    if (i > 0) name += i;
    return name;
  }
  int _xmldepth() const { return xmldepth_; }

 protected:
  // Room for n more bytes at the end of the owned buffer, which grows to
  // (length + n) * 4 + 16 when it is too small.
  char* room_(int n) {
    if (static_cast<long long>(length_) + n > capacity_) grow_buffer_(n);
    return buffer_ + length_;
  }
  void grow_buffer_(long long n);
  void append_(void const* bytes, int n) {
    std::memcpy(room_(n), bytes, static_cast<size_t>(n));
    length_ += n;
  }
  void append_int32_(int value) {
    char* p = room_(4);
    auto u = static_cast<uint32_t>(value);
    p[0] = static_cast<char>(u >> 24);
    p[1] = static_cast<char>(u >> 16);
    p[2] = static_cast<char>(u >> 8);
    p[3] = static_cast<char>(u);
    length_ += 4;
  }
  // Drops the rest of the object being read.
  void drop_() { length_ = 0; }
  // Reads a record sequence in place; used by unpack, _unpack and nesting.
  void read_records_(char const* bytes, int n);
  // The n value bytes of the current record when it has this field number and
  // kind (the cursor moves past them); null when it does not, or when fewer
  // bytes remain, in which case the rest of the object is dropped.
  char const* take_(short field, short kind, int n);
  // Writes the buffer to f, closes f and releases the buffer; the number of
  // bytes written, or 0 when a write or the close failed.
  int write_out_(std::FILE* f);
  void xml_append_(char const* text, int n);
  void xml_value_(HxString const& name, HxString const& text);

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

// Big-endian signed integers at a byte pointer.
inline short _rc_int16(char const* p) {
  auto const* u = reinterpret_cast<unsigned char const*>(p);
  return static_cast<short>(static_cast<uint16_t>((u[0] << 8) | u[1]));
}

inline int _rc_int32(char const* p) {
  auto const* u = reinterpret_cast<unsigned char const*>(p);
  uint32_t v = (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | uint32_t{u[3]};
  return static_cast<int>(v);
}

inline long long _rc_int64(char const* p) {
  uint64_t hi = static_cast<uint32_t>(_rc_int32(p));
  uint64_t lo = static_cast<uint32_t>(_rc_int32(p + 4));
  return static_cast<long long>((hi << 32) | lo);
}

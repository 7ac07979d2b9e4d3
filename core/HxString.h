#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

#include "core/HxBase.h"

// The library's counted, growable byte string. It is undefined (no buffer),
// empty (a buffer holding only the NUL) or holds text. A secure string zeroes
// every buffer before it gives it up.
class HxString : public HxBase {
 public:
  HxString();
  HxString(char const* bytes, int n);
  HxString(char const* text);
  HxString(HxString const& other);
  // Gives what the copy constructor gives, reusing the other's buffer where
  // that is the one a copy would allocate. Not noexcept: where the buffer
  // cannot be reused it copies, and a copy that finds no memory throws
  // std::bad_alloc, which must reach a caller rather than end the process.
  HxString(HxString&& other);
  HxString(std::string const& text);
  explicit HxString(int value);
  explicit HxString(long long value);
  explicit HxString(float value);
  ~HxString() override;

  // What new HxString(other) gives (the same text, secure flag and
  // capacity), made in one allocation that holds the object and its text:
  // a table key or a stored value costs one allocation instead of two, and
  // no more memory than its text. Before such a string's text changes it
  // moves to a buffer of its own, of the capacity the string reports, so
  // the capacity rule holds as for any string; delete releases strings made
  // either way.
  static HxString* _new(HxString const& other);

  // Strings on the heap come from the global operator new, those made by
  // _new included, so one operator delete serves both; it takes no size,
  // since the block of a string made by _new is larger than the object.
  static void* operator new(std::size_t n) { return ::operator new(n); }
  static void* operator new(std::size_t, void* at) noexcept { return at; }
  static void operator delete(void* p) noexcept { ::operator delete(p); }
  static void operator delete(void*, void*) noexcept {}

  int type() const override { return 72; }
  virtual void copy(HxString const& other);
  virtual void copy(std::string const& text);

  void copy(char const* bytes, int n);
  void copy(char const* text);
  void copy(int value);
  void copy(float value);
  void copy(char c);
  void floatvalue(float value) { copy(value); }

  // Every assignment from a string, a temporary one included, goes through
  // the virtual copy(HxString const&), so the capacity rule decides the
  // buffer and a class that overrides copy sees every assignment.
  HxString& operator=(HxString const& other);
  HxString& operator=(HxString const* other);
  HxString& operator=(std::string const& text);
  HxString& operator=(char const* text);
  HxString& operator=(int value);
  HxString& operator=(char c);

  void clear();
  void _resize(int n);
  // For a reader that fills the buffer itself: drops the text, makes room
  // for n bytes of text by the capacity rule and gives the buffer (n + 1
  // bytes at least); _filled(k) then ends the text after its first k bytes.
  char* _room(int n);
  void _filled(int k);
  unsigned char secure() const { return secure_; }
  void secure(unsigned char on) { secure_ = on; }

  // Appending.
  void append(char c);
  void append(char const* bytes, int n);
  void append(char const* text);
  HxString& operator+=(char c);
  HxString& operator+=(char const* text);
  HxString& operator+=(HxString const& other);
  HxString& operator+=(HxString const* other);
  HxString& operator+=(int value);
  HxString& operator+=(long long value);
  HxString& operator+=(float value);
  void integervalue(int value, int width);
  void integervalue(int value, int width, char pad);
  void hexvalue(char byte);
  static HxString padded_int(int value, int width);

  // Reading.
  char const* value() const { return text_ ? text_ : &empty_; }
  int length() const { return length_; }
  int capacity() const { return capacity_; }
  bool isundef() const { return text_ == nullptr; }
  char get(int i) const { return (i < 0 || i >= length_) ? 0 : text_[i]; }
  void set(int i, char c) {
    if (i >= 0 && i < length_) text_[i] = c;
  }
  char* copyvalue() const;
  void wipe();
  int integervalue() const;
  long long longlongvalue() const;
  float floatvalue() const;
  unsigned int hexvalue() const;
  unsigned char hexchar() const;
  bool isinteger() const;
  bool isfloat() const;
  bool multiline() const;
  bool hasspace() const;
  bool haschar(char c) const;
  int find(HxString const& s) const;
  void _debug_info() const;

  // Derived strings.
  HxString substr(int start, int count) const;
  HxString tolower() const;
  HxString toupper() const;
  HxString removecontrolchars() const;
  HxString LFtoCRLF() const;
  HxString replacevalue(HxString const& find, HxString const& repl, unsigned char mode) const;

  // Comparison.
  bool operator==(HxString const& other) const;
  bool operator!=(HxString const& other) const { return !(*this == other); }
  bool compare(HxString const& other, int mode) const;
  int cmp(HxString const& other) const;
  bool operator<(HxString const& other) const { return cmp(other) < 0; }
  bool operator<=(HxString const& other) const { return cmp(other) <= 0; }
  bool operator>(HxString const& other) const { return cmp(other) > 0; }
  bool operator>=(HxString const& other) const { return cmp(other) >= 0; }

 private:
  // Makes room for l bytes of text (plus the NUL) by the capacity rule;
  // keeps the current text when asked to.
  void reserve_(int l, bool keep);
  // Writes n bytes at offset at (0 to replace the text, length to append)
  // by the capacity rule; the bytes may lie in this string's own buffer.
  void put_(int at, char const* bytes, int n);
  void release_();
  void empty_out_();
  // Bytes the buffer really holds: a text in the block has exactly its
  // length and the NUL (it moves out before it changes).
  int room_() const { return in_block_ ? length_ + 1 : capacity_; }
  // Takes the other string's buffer, leaving the other undefined.
  void take_(HxString& other);
  // A new string (undefined for an empty one) of every byte passed through fn.
  HxString mapped_(int (*fn)(int)) const;

  char* text_ = nullptr;
  int length_ = 0;
  char empty_ = 0;
  int capacity_ = 0;
  unsigned char secure_ = 0;
  // 1 while text_ lies in the block that holds this object (made by _new):
  // that buffer goes with the object, never on its own, and holds only the
  // text as made (room_()).
  unsigned char in_block_ = 0;
};

HxString operator+(HxString const& a, HxString const& b);
HxString operator+(HxString const& a, char const* b);
HxString operator+(char const* a, HxString const& b);
HxString operator+(HxString const& a, int b);
HxString operator+(int a, HxString const& b);
HxString operator+(HxString const& a, float b);
HxString operator+(float a, HxString const& b);
HxString operator+(HxString const& a, char b);
HxString operator+(char a, HxString const& b);

std::ostream& operator<<(std::ostream& out, HxString const& s);

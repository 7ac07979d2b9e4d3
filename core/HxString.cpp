#include "core/HxString.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

// Overwrites a buffer in a way the compiler may not drop.
void wipe_bytes(char* p, int n) {
  if (p == nullptr || n <= 0) return;
  volatile char* v = p;
  for (int i = 0; i < n; ++i) v[i] = 0;
}

std::string format_int(int value) { return std::to_string(value); }

std::string format_float(float value) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%f", static_cast<double>(value));
  if (n >= 0 && n < static_cast<int>(sizeof buf)) return std::string(buf, n);
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(&big[0], big.size(), "%f", static_cast<double>(value));
  big.resize(static_cast<size_t>(n));
  return big;
}

// "%0<width>d" without a fixed buffer, for any width.
std::string format_padded(int value, int width) {
  std::string digits = std::to_string(value);
  bool neg = value < 0;
  std::string body = neg ? digits.substr(1) : digits;
  size_t want = width > 0 ? static_cast<size_t>(width) : 0;
  size_t have = body.size() + (neg ? 1 : 0);
  if (have < want) body.insert(0, want - have, '0');
  return neg ? "-" + body : body;
}

// Buffer size for l bytes of text: max(16, 4 * l + 4), within int.
int grown_capacity(int l) {
  long long want = 4LL * l + 4;
  if (want < 16) return 16;
  if (want > INT_MAX) return INT_MAX;
  return static_cast<int>(want);
}

int hexdigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

// ---- storage --------------------------------------------------------------

void HxString::release_() {
  if (text_ == nullptr) return;
  if (secure_) wipe_bytes(text_, room_());
  if (!in_block_) delete[] text_;
  in_block_ = 0;
  text_ = nullptr;
  capacity_ = 0;
}

void HxString::reserve_(int l, bool keep) {
  if (capacity_ > l && !in_block_) return;
  // A text in the block moves to a buffer of the capacity it reports.
  int cap = capacity_ > l ? capacity_ : grown_capacity(l);
  char* fresh = new char[cap];
  if (keep && text_ != nullptr) {
    std::memcpy(fresh, text_, static_cast<size_t>(length_) + 1);
  } else {
    fresh[0] = 0;
  }
  release_();
  text_ = fresh;
  capacity_ = cap;
}

void HxString::put_(int at, char const* bytes, int n) {
  int l = at + n;
  if (capacity_ <= l || in_block_) {
    // A text in the block moves to a buffer of the capacity it reports.
    int cap = capacity_ > l ? capacity_ : grown_capacity(l);
    char* fresh = new char[cap];
    if (at > 0) std::memcpy(fresh, text_, static_cast<size_t>(at));
    // The old buffer is still alive here, so bytes may point into it.
    std::memcpy(fresh + at, bytes, static_cast<size_t>(n));
    release_();
    text_ = fresh;
    capacity_ = cap;
  } else {
    std::memmove(text_ + at, bytes, static_cast<size_t>(n));
  }
  length_ = l;
  text_[l] = 0;
}

void HxString::take_(HxString& other) {
  text_ = other.text_;
  length_ = other.length_;
  capacity_ = other.capacity_;
  other.text_ = nullptr;
  other.length_ = 0;
  other.capacity_ = 0;
}

void HxString::empty_out_() {
  if (in_block_) reserve_(0, false);
  length_ = 0;
  if (text_ != nullptr) text_[0] = 0;
}

// ---- construction and assignment -----------------------------------------

HxString::HxString() = default;

HxString::HxString(char const* bytes, int n) { copy(bytes, n); }

HxString::HxString(char const* text) { copy(text); }

HxString::HxString(HxString const& other) : HxBase(other) { copy(other); }

// A move gives exactly what a copy gives: the same text, secure flag and
// capacity. It takes the other's buffer only when that is the buffer a copy
// would have allocated (and so saves the allocation); otherwise it copies.
HxString::HxString(HxString&& other) : HxBase(other) {
  // A buffer that shares its block with the other object stays with it.
  if (other.length_ >= 1 && other.capacity_ == grown_capacity(other.length_) && !other.in_block_) {
    secure_ = other.secure_;
    take_(other);
  } else {
    copy(other);
  }
}

HxString::HxString(std::string const& text) {
  if (!text.empty()) copy(text.c_str());
}

HxString::HxString(int value) { copy(value); }

HxString::HxString(long long value) {
  std::string t = std::to_string(value);
  copy(t.data(), static_cast<int>(t.size()));
}

HxString::HxString(float value) { copy(value); }

HxString::~HxString() { release_(); }

HxString* HxString::_new(HxString const& other) {
  int const n = other.length_;
  // A copy of an empty or undefined string is undefined: no buffer.
  int const cap = n >= 1 ? grown_capacity(n) : 0;
  // The block holds the text and its NUL; the capacity is what a copy
  // reports, and the text moves to a buffer that large before it changes.
  void* block = ::operator new(sizeof(HxString) + (n >= 1 ? static_cast<size_t>(n) + 1 : 0));
  HxString* s = new (block) HxString();
  s->secure_ = other.secure_;
  if (n >= 1) {
    s->text_ = static_cast<char*>(block) + sizeof(HxString);
    s->in_block_ = 1;
    s->capacity_ = cap;
    s->length_ = n;
    std::memcpy(s->text_, other.text_, static_cast<size_t>(n));
    s->text_[n] = 0;
  }
  return s;
}

void HxString::copy(HxString const& other) {
  if (&other == this) return;
  // The buffer this string may give up holds its own text: it is wiped when
  // this string was secure, whatever flag it takes over.
  unsigned char was = secure_;
  secure_ = static_cast<unsigned char>(was | other.secure_);
  if (other.length_ >= 1) {
    copy(other.text_, other.length_);
  } else {
    empty_out_();
  }
  // A buffer kept in place still holds the end of a longer secret past the
  // new text; once the flag is off nothing would wipe it on release.
  if (was && !other.secure_ && text_ != nullptr) wipe_bytes(text_ + length_ + 1, room_() - length_ - 1);
  secure_ = other.secure_;
}

void HxString::copy(std::string const& text) {
  if (text.empty()) {
    empty_out_();
    return;
  }
  copy(text.data(), static_cast<int>(text.size()));
}

void HxString::copy(char const* bytes, int n) {
  if (bytes == nullptr || (bytes == text_ && text_ != nullptr)) return;
  if (n < 1) {
    empty_out_();
    return;
  }
  put_(0, bytes, n);
}

void HxString::copy(char const* text) {
  if (text == nullptr || (text == text_ && text_ != nullptr)) return;
  size_t n = std::strlen(text);
  if (n == 0) {
    reserve_(0, false);
    empty_out_();
    return;
  }
  copy(text, static_cast<int>(n));
}

void HxString::copy(int value) {
  std::string t = format_int(value);
  copy(t.data(), static_cast<int>(t.size()));
}

void HxString::copy(float value) {
  std::string t = format_float(value);
  copy(t.data(), static_cast<int>(t.size()));
}

void HxString::copy(char c) { copy(&c, 1); }

HxString& HxString::operator=(HxString const& other) {
  copy(other);
  return *this;
}

HxString& HxString::operator=(HxString const* other) {
  if (other != nullptr) copy(*other);
  return *this;
}

HxString& HxString::operator=(std::string const& text) {
  copy(text);
  return *this;
}

HxString& HxString::operator=(char const* text) {
  copy(text);
  return *this;
}

HxString& HxString::operator=(int value) {
  copy(value);
  return *this;
}

HxString& HxString::operator=(char c) {
  copy(c);
  return *this;
}

void HxString::clear() { empty_out_(); }

void HxString::_resize(int n) {
  release_();
  int cap = n < 16 ? 16 : n;
  text_ = new char[cap];
  capacity_ = cap;
  // The old text is gone with its buffer, so the length goes too.
  length_ = 0;
  text_[0] = 0;
}

char* HxString::_room(int n) {
  empty_out_();
  reserve_(n < 0 ? 0 : n, false);
  return text_;
}

void HxString::_filled(int k) {
  if (text_ == nullptr) return;
  reserve_(length_, true);  // a text in the block moves out first
  if (k < 0) k = 0;
  if (k > capacity_ - 1) k = capacity_ - 1;
  length_ = k;
  text_[k] = 0;
}

// ---- appending -----------------------------------------------------------

void HxString::append(char c) { put_(length_, &c, 1); }

void HxString::append(char const* bytes, int n) {
  if (bytes == nullptr || n < 1) return;
  put_(length_, bytes, n);
}

void HxString::append(char const* text) {
  if (text == nullptr || *text == 0) return;
  append(text, static_cast<int>(std::strlen(text)));
}

HxString& HxString::operator+=(char c) {
  append(c);
  return *this;
}

HxString& HxString::operator+=(char const* text) {
  append(text);
  return *this;
}

HxString& HxString::operator+=(HxString const& other) {
  if (other.length_ > 0) append(other.text_, other.length_);
  return *this;
}

HxString& HxString::operator+=(HxString const* other) {
  if (other != nullptr) *this += *other;
  return *this;
}

HxString& HxString::operator+=(int value) {
  std::string t = format_int(value);
  append(t.data(), static_cast<int>(t.size()));
  return *this;
}

HxString& HxString::operator+=(long long value) {
  std::string t = std::to_string(value);
  append(t.data(), static_cast<int>(t.size()));
  return *this;
}

HxString& HxString::operator+=(float value) {
  std::string t = format_float(value);
  append(t.data(), static_cast<int>(t.size()));
  return *this;
}

void HxString::integervalue(int value, int width) {
  std::string t = format_padded(value, width);
  append(t.data(), static_cast<int>(t.size()));
}

void HxString::integervalue(int value, int width, char pad) {
  std::string t = format_int(value);
  if (static_cast<int>(t.size()) < width) t.insert(0, static_cast<size_t>(width) - t.size(), pad);
  append(t.data(), static_cast<int>(t.size()));
}

void HxString::hexvalue(char byte) {
  static char const digits[] = "0123456789ABCDEF";
  unsigned char b = static_cast<unsigned char>(byte);
  append(digits[b >> 4]);
  append(digits[b & 15]);
}

HxString HxString::padded_int(int value, int width) {
  HxString out;
  out.integervalue(value, width);
  return out;
}

// ---- reading -------------------------------------------------------------

char* HxString::copyvalue() const {
  char* out = new char[static_cast<size_t>(length_) + 1];
  if (length_ > 0) std::memcpy(out, text_, static_cast<size_t>(length_));
  out[length_] = 0;
  return out;
}

void HxString::wipe() { wipe_bytes(text_, room_()); }

int HxString::integervalue() const { return length_ == 0 ? 0 : std::atoi(text_); }

long long HxString::longlongvalue() const { return length_ == 0 ? 0 : std::strtoll(text_, nullptr, 10); }

float HxString::floatvalue() const { return length_ == 0 ? 0.0f : static_cast<float>(std::atof(text_)); }

unsigned int HxString::hexvalue() const {
  unsigned int v = 0;
  for (int i = 0; i < length_; ++i) v = v * 16u + static_cast<unsigned>(hexdigit(text_[i]));
  return v;
}

unsigned char HxString::hexchar() const {
  if (length_ == 0) return 0;
  if (length_ == 1) return static_cast<unsigned char>(hexdigit(text_[0]));
  return static_cast<unsigned char>(hexdigit(text_[0]) * 16 + hexdigit(text_[1]));
}

bool HxString::isinteger() const {
  if (length_ == 0) return false;
  if (text_[0] != '-' && !std::isdigit(static_cast<unsigned char>(text_[0]))) return false;
  for (int i = 1; i < length_; ++i)
    if (!std::isdigit(static_cast<unsigned char>(text_[i]))) return false;
  return true;
}

bool HxString::isfloat() const {
  if (length_ == 0) return false;
  char c = text_[0];
  if (!std::isdigit(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  int dots = c == '.' ? 1 : 0;
  for (int i = 1; i < length_; ++i) {
    if (text_[i] == '.') {
      if (++dots > 1) return false;
    } else if (!std::isdigit(static_cast<unsigned char>(text_[i]))) {
      return false;
    }
  }
  return true;
}

bool HxString::multiline() const {
  for (int i = 0; i < length_; ++i)
    if (text_[i] == '\n' || text_[i] == '\r') return true;
  return false;
}

bool HxString::hasspace() const {
  for (int i = 0; i < length_; ++i) {
    char c = text_[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') return true;
  }
  return false;
}

bool HxString::haschar(char c) const {
  for (int i = 0; i < length_; ++i)
    if (text_[i] == c) return true;
  return false;
}

int HxString::find(HxString const& s) const {
  if (s.length_ == 0) return 1;
  if (length_ < s.length_) return 0;
  for (int i = 0; i + s.length_ <= length_; ++i)
    if (text_[i] == s.text_[0] && std::memcmp(text_ + i, s.text_, static_cast<size_t>(s.length_)) == 0) return 1;
  return 0;
}

void HxString::_debug_info() const {
  std::cout << "HxString:\n\tsize: " << capacity_ << "\n\tlength: " << length_ << "\n\tdata: '" << value() << "'\n";
}

// ---- derived strings -----------------------------------------------------

HxString HxString::substr(int start, int count) const {
  HxString out;
  if (count < 1 || start >= length_) return out;
  for (int i = start; i < length_ && count > 0; ++i, --count) out.append(get(i));
  return out;
}

HxString HxString::mapped_(int (*fn)(int)) const {
  HxString out;
  if (length_ == 0) return out;
  out.reserve_(length_, false);
  for (int i = 0; i < length_; ++i) out.text_[i] = static_cast<char>(fn(static_cast<unsigned char>(text_[i])));
  out.length_ = length_;
  out.text_[length_] = 0;
  return out;
}

HxString HxString::tolower() const { return mapped_([](int c) { return std::tolower(c); }); }

HxString HxString::toupper() const { return mapped_([](int c) { return std::toupper(c); }); }

HxString HxString::removecontrolchars() const {
  HxString out;
  for (int i = 0; i < length_; ++i) {
    unsigned char c = static_cast<unsigned char>(text_[i]);
    if ((c >= 32 && c <= 126) || c == '\t' || c == '\n' || c == '\r') out.append(static_cast<char>(c));
  }
  return out;
}

HxString HxString::LFtoCRLF() const {
  HxString out;
  for (int i = 0; i < length_; ++i) {
    if (text_[i] == '\n' && (i == 0 || text_[i - 1] != '\r')) out.append('\r');
    out.append(text_[i]);
  }
  return out;
}

HxString HxString::replacevalue(HxString const& find, HxString const& repl, unsigned char mode) const {
  if (find.length_ == 0) return *this;
  HxString out;
  auto fold = [mode](char c) {
    return mode == 0 ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : c;
  };
  int n = find.length_;
  int i = 0;
  while (i < length_) {
    bool match = false;
    if (fold(text_[i]) == fold(find.text_[0]) && i + n <= length_) {
      match = true;
      for (int k = 1; k < n && match; ++k) match = fold(text_[i + k]) == fold(find.text_[k]);
    }
    if (match) {
      out += repl;
      i += n;
    } else {
      out.append(text_[i]);
      ++i;
    }
  }
  return out;
}

// ---- comparison ----------------------------------------------------------

bool HxString::operator==(HxString const& other) const {
  if (length_ != other.length_) return false;
  if (length_ == 0) return true;
  return std::strcmp(text_, other.text_) == 0;
}

bool HxString::compare(HxString const& other, int mode) const {
  if (length_ != other.length_) return false;
  if (length_ == 0) return true;
  if (mode == 1) return strcasecmp(text_, other.text_) == 0;
  if (mode == 0) return std::strcmp(text_, other.text_) == 0;
  return false;
}

int HxString::cmp(HxString const& other) const {
  if (length_ == 0) return other.length_ == 0 ? 0 : -1;
  if (other.length_ == 0) return 1;
  return std::strcmp(text_, other.text_);
}

// ---- free operators ------------------------------------------------------

namespace {

// The left operand made into a string (which carries its secure flag when it
// is one), followed by the right one.
template <class L, class R>
HxString concat(L const& a, R const& b) {
  HxString out(a);
  out += b;
  return out;
}

int char_code(char c) { return static_cast<signed char>(c); }

}  // namespace

HxString operator+(HxString const& a, HxString const& b) { return concat(a, b); }
HxString operator+(HxString const& a, char const* b) { return concat(a, b); }
HxString operator+(char const* a, HxString const& b) { return concat(a, b); }
HxString operator+(HxString const& a, int b) { return concat(a, b); }
HxString operator+(int a, HxString const& b) { return concat(a, b); }
HxString operator+(HxString const& a, float b) { return concat(a, b); }
HxString operator+(float a, HxString const& b) { return concat(a, b); }
// A char operand counts by its code, not as the character.
HxString operator+(HxString const& a, char b) { return concat(a, char_code(b)); }
HxString operator+(char a, HxString const& b) { return concat(char_code(a), b); }

std::ostream& operator<<(std::ostream& out, HxString const& s) { return out << s.value(); }

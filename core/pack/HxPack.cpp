#include "core/pack/HxPack.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>

#include "core/HxFile.h"
#include "core/HxLimits.h"

namespace {

// Nesting level of the object records being decoded on this thread.
thread_local int t_pack_depth = 0;

}  // namespace

// ---- decode budget -----------------------------------------------------------

__thread HxDecodeBudget* HxDecodeBudget::current_ = nullptr;

bool HxDecodeBudget::claimNested_(long long bytes) {
  HxDecodeBudget* const inner = current_;
  for (HxDecodeBudget* b = inner; b != nullptr; b = b->outer_) {
    if (bytes <= b->left_) continue;
    // Refused: this budget and every one inside it is spent.
    for (HxDecodeBudget* s = inner; s != b->outer_; s = s->outer_) s->left_ = -1;
    return false;
  }
  for (HxDecodeBudget* b = inner; b != nullptr; b = b->outer_) {
    b->left_ -= bytes;
    b->claimed_ += bytes;
  }
  return true;
}

long long HxDecodeBudget::left() {
  long long least = LLONG_MAX;
  for (HxDecodeBudget const* b = current_; b != nullptr; b = b->outer_) {
    if (b->left_ < 0) return 0;
    if (b->left_ < least) least = b->left_;
  }
  return least;
}


HxPack::~HxPack() { delete[] buffer_; }

// ---- writing ---------------------------------------------------------------

void HxPack::grow_buffer_(long long n) {
  long long want = (length_ + n) * 4 + 16;
  // Past 2 GiB the form cannot be held in an int length: treated like any
  // other exhaustion of memory.
  if (want > INT_MAX) want = INT_MAX;
  if (length_ + n > want) throw std::bad_alloc();
  int cap = static_cast<int>(want);
  char* fresh = new char[cap];
  if (length_ > 0) std::memcpy(fresh, buffer_, static_cast<size_t>(length_));
  delete[] buffer_;
  buffer_ = fresh;
  capacity_ = cap;
}

void HxPack::store(short field, char const* text) { store(field, HxString(text)); }

// The child writes its records straight into this object's buffer, after
// its type and a length that is filled in once the body is known: the same
// bytes as packing the child apart and copying them over, without a buffer
// and a copy per nested object.
void HxPack::store(short field, HxPack& child) {
  _tag(field, kHxKindObject);
  append_int32_(child.type());
  int const at = length_;
  append_int32_(0);
  BufferLoan loan(*this, child);
  child.encode();
  put32_(child.buffer_ + at, static_cast<uint32_t>(child.length_ - at - 4));
}

void HxPack::pack() {
  length_ = 0;
  if (capacity_ < 4) {
    delete[] buffer_;
    buffer_ = new char[32];
    capacity_ = 32;
  }
  append_int32_(1);
  encode();
}

void HxPack::_package() {
  length_ = 0;
  encode();
}

void HxPack::_clear() {
  delete[] buffer_;
  buffer_ = nullptr;
  cursor_ = nullptr;
  length_ = 0;
  capacity_ = 0;
}

// ---- reading ---------------------------------------------------------------

void HxPack::read_records_(char const* bytes, int n) {
  cursor_ = bytes;
  length_ = n;
  while (length_ >= 4) {
    next_tag_();
    decode();
    _yank();
  }
  cursor_ = nullptr;
  length_ = 0;
  capacity_ = 0;
}

int HxPack::unpack(char const* bytes, int size) {
  if (size < 4 || bytes == nullptr) return 1;
  _clear();
  if (_rc_int32(bytes) != 1) return 3;
  if (size == 4) return 2;
  HxDefaultDecodeBudget budget;
  read_records_(bytes + 4, size - 4);
  return 0;
}

int HxPack::_unpack(char const* bytes, int n) {
  _clear();
  if (bytes != nullptr && n > 0) {
    HxDefaultDecodeBudget budget;
    read_records_(bytes, n);
  }
  return 0;
}

void HxPack::restore(short field, HxPack& child) {
  if (field_ != field || kind_ != kHxKindObject) return;
  if (length_ < 4) return drop_();
  if (_rc_int32(cursor_) != child.type()) return drop_();
  if (length_ < 8) return drop_();
  int n = _rc_int32(cursor_ + 4);
  if (n < 0 || n > length_ - 8) return drop_();
  // A chain of objects nested deeper than any real record is hostile.
  if (t_pack_depth >= kHxMaxPackDepth) return drop_();
  {
    // The level is given back also when the child's decode throws.
    struct Level {
      Level() { ++t_pack_depth; }
      ~Level() { --t_pack_depth; }
    } level;
    child._clear();
    child.read_records_(cursor_ + 8, n);
  }
  cursor_ += 8 + n;
  length_ -= 8 + n;
  consumed_ = 1;
}

void HxPack::trashObj(short field) {
  if (field_ != field || kind_ != kHxKindObject) return;
  if (length_ < 8) return drop_();
  int n = _rc_int32(cursor_ + 4);
  if (n < 0 || n > length_ - 8) return drop_();
  cursor_ += 8 + n;
  length_ -= 8 + n;
  consumed_ = 1;
}

void HxPack::pass_over_() {
  int skip = -1;
  switch (kind_) {
    case kHxKindObject:
      if (length_ >= 8) {
        int n = _rc_int32(cursor_ + 4);
        if (n >= 0 && n <= length_ - 8) skip = 8 + n;
      }
      break;
    case kHxKindString:
      if (length_ >= 4) {
        int n = _rc_int32(cursor_);
        if (n >= 0 && n <= length_ - 4) skip = 4 + n;
      }
      break;
    case kHxKindInt:
    case kHxKindFloat:
      skip = 4;
      break;
    case kHxKindChar:
    case kHxKindBool:
      skip = 1;
      break;
    case kHxKindLongLong:
      // A newer peer may send 64-bit fields this class does not know: pass
      // over them like every other known kind instead of losing the rest.
      skip = 8;
      break;
    default:
      break;
  }
  if (skip < 0 || skip > length_) {
    drop_();
  } else {
    cursor_ += skip;
    length_ -= skip;
  }
  consumed_ = 1;
}

int HxPack::_itemCount() {
  int count = 0;
  restore(1, count);
  if (count < 1) return 0;
  _yank();
  return count;
}

// ---- files -----------------------------------------------------------------

// An archive is written through HxFileReplacement: where the file at the path
// can be replaced, a write that fails part way (a full disk) leaves an
// earlier archive as it was.
int HxPack::archive(HxString const& path) {
  HxFileReplacement file(path, HxFileReplacement::kAsWrittenInPlace);
  if (!file.ok()) return 0;
  pack();
  return write_out_(file);
}

int HxPack::write_out_(HxFileReplacement& file) {
  int n = length_;
  file.write(buffer_, n);
  // A failed write or close (a full disk) must not be reported as success.
  bool ok = file.commit();
  _clear();
  return ok ? n : 0;
}

// The file is read whole as every file of the library is: a missing, unreadable
// or oversized file, one that is not a regular file (a pipe would block the
// open) or a read that fails part way gives no bytes, which unpack refuses.
int HxPack::recover(HxString const& path) {
  HxString data = HxFile::load(path);
  // A file that decodes to more than the budget grants does not decode.
  HxDecodeBudget budget;
  if (unpack(data.value(), data.length()) != 0 || budget.spent()) return 0;
  return data.length();
}

void HxPack::_debug_print() const {
  // While reading, length counts the bytes at the cursor, not in a buffer.
  char const* at = buffer_ != nullptr ? buffer_ : cursor_;
  for (int i = 0; at != nullptr && i < length_; ++i) std::cout << static_cast<int>(static_cast<signed char>(at[i])) << ' ';
  std::cout << '\n' << std::flush;
}

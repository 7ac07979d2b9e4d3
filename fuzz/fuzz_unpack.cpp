// Arbitrary bytes as the binary record form of records with nested records,
// lists and strings: decoding stays within the input, and whatever decodes
// packs to a form that decodes to the same bytes again.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/pack/HxRecord.h"

namespace {

class Leaf : public HxRecord<Leaf> {
 public:
  int id = 0;
  HxString name;
  long long big = 0;
  float ratio = 0.0f;
  unsigned char flag = 0;
  char letter = 0;
  int type() const override { return 9601; }
  HxString typeXML() const override { return "leaf"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "id", &Leaf::id), hx_field(2, "name", &Leaf::name),
                           hx_field(3, "big", &Leaf::big), hx_field(4, "ratio", &Leaf::ratio),
                           hx_field(5, "flag", &Leaf::flag), hx_field(6, "letter", &Leaf::letter));
  }
};

HX_NAMED_LIST(LeafList, Leaf, 9602, "leaf_list");

class Branch : public HxRecord<Branch> {
 public:
  HxString title;
  Leaf first;
  LeafList leaves;
  HxStringList words;
  int count = 0;
  int type() const override { return 9603; }
  HxString typeXML() const override { return "branch"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "title", &Branch::title), hx_field(2, "first", &Branch::first),
                           hx_field(3, "leaves", &Branch::leaves), hx_field(4, "words", &Branch::words),
                           hx_field(5, "count", &Branch::count));
  }
};

HX_NAMED_LIST(BranchList, Branch, 9604, "branch_list");

class Tree : public HxRecord<Tree> {
 public:
  HxString name;
  Branch trunk;
  BranchList branches;
  int type() const override { return 9605; }
  HxString typeXML() const override { return "tree"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &Tree::name), hx_field(2, "trunk", &Tree::trunk),
                           hx_field(3, "branches", &Tree::branches));
  }
};

// Decodes the bytes into a fresh T; when that worked, its packed form must
// decode into another fresh T that packs to the very same bytes.
template <class T>
void check(char const* bytes, int size) {
  T first;
  if (first.unpack(bytes, size) != 0) return;
  first.pack();
  HxString once(first.packContents(), first.packSize());
  T second;
  if (second.unpack(once.value(), once.length()) != 0 && once.length() > 4) std::abort();
  second.pack();
  if (second.packSize() != once.length() || std::memcmp(second.packContents(), once.value(), once.length()) != 0)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  char const* bytes = reinterpret_cast<char const*>(data) + 1;
  int n = static_cast<int>(size - 1);
  // Each input goes to one target, chosen by its first byte, so that the
  // corpus of each stays meaningful; every target reads the rest in place.
  switch (data[0] % 5) {
    case 0: check<Tree>(bytes, n); break;
    case 1: check<Branch>(bytes, n); break;
    case 2: check<LeafList>(bytes, n); break;
    case 3: check<HxStringList>(bytes, n); break;
    default: {
      // A header-less body, as the message envelope hands it over.
      Tree t;
      t._unpack(bytes, n);
      break;
    }
  }
  return 0;
}

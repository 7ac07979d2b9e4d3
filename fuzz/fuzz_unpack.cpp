// Arbitrary bytes as the binary record form of records with nested records,
// lists and strings: decoding stays within the input and within its decode
// budget, and whatever decodes packs to a form that decodes to the same
// bytes again. Two targets repeat one item record of the input a megabyte
// long, so that lists of many thousand items reach the budget.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/pack/HxRecord.h"
#include "fuzz/FuzzBudget.h"

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

// Decodes the bytes into a fresh T under the fuzz budget; when that worked,
// its packed form (what the budget let through) must decode into another
// fresh T that packs to the very same bytes.
template <class T>
void check(char const* bytes, int size) {
  T first;
  {
    FuzzBudget budget;
    int const r = first.unpack(bytes, size);
    budget.check();
    if (r != 0) return;
  }
  first.pack();
  HxString once(first.packContents(), first.packSize());
  T second;
  if (second.unpack(once.value(), once.length()) != 0 && once.length() > 4) std::abort();
  second.pack();
  if (second.packSize() != once.length() || std::memcmp(second.packContents(), once.value(), once.length()) != 0)
    std::abort();
}

// A record whose field 3 is a list of the given type: its count claims two
// billion items, and its items are the one item record `item` repeated to
// fill a megabyte: the shape of a small message that asks for millions of
// objects.
std::string repeated_list(int type, std::string const& item) {
  auto const be32 = fuzz_be32;
  std::string const body = fuzz_repeated_items(item);
  return be32(1) + be32(0x00030004u) + be32(static_cast<uint32_t>(type)) +
         be32(static_cast<uint32_t>(body.size())) + body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  char const* bytes = reinterpret_cast<char const*>(data) + 1;
  int n = static_cast<int>(size - 1);
  // Each input goes to one target, chosen by its first byte, so that the
  // corpus of each stays meaningful; every target reads the rest in place.
  switch (data[0] % 7) {
    case 0: check<Tree>(bytes, n); break;
    case 1: check<Branch>(bytes, n); break;
    case 2: check<LeafList>(bytes, n); break;
    case 3: check<HxStringList>(bytes, n); break;
    case 4: {
      // A header-less body, as the message envelope hands it over.
      Tree t;
      FuzzBudget budget;
      t._unpack(bytes, n);
      budget.check();
      break;
    }
    default: {
      // The rest is one item record, repeated in the leaf list of a branch
      // (5) or the branch list of a tree (6), whose items hold lists too.
      std::string const item(bytes, static_cast<size_t>(n));
      if (data[0] % 7 == 5) {
        std::string const form = repeated_list(9602, item);
        check<Branch>(form.data(), static_cast<int>(form.size()));
      } else {
        std::string const form = repeated_list(9604, item);
        check<Tree>(form.data(), static_cast<int>(form.size()));
      }
      break;
    }
  }
  return 0;
}

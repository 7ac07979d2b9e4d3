// XML text from outside into a record that holds nested records, lists and
// hashes: the reader must stay within bounds and end, and what it decoded
// must survive being written and read again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"
#include "tests/core/pack/TestRecords.h"

namespace {

class Mid : public HxRecord<Mid> {
 public:
  Leaf leaf;
  LeafList list;
  int type() const override { return 9204; }
  HxString typeXML() const override { return "mid"; }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "leaf", &Mid::leaf), hx_field(2, "list", &Mid::list)); }
};

class Top : public HxRecord<Top> {
 public:
  HxString name;
  Mid mid;
  LeafList list;
  LeafHash hash;
  HxStringList strings;
  HxStringHash texts;
  HxIntHash ints;
  int type() const override { return 9205; }
  HxString typeXML() const override { return "top"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &Top::name), hx_field(2, "mid", &Top::mid),
                           hx_field(3, "list", &Top::list), hx_field(4, "hash", &Top::hash),
                           hx_field(5, "strings", &Top::strings), hx_field(6, "texts", &Top::texts),
                           hx_field(7, "ints", &Top::ints));
  }
};

std::string str(HxString const& s) { return std::string(s.value(), s.length()); }

std::string dump(Leaf const& l) {
  char b[128];
  std::snprintf(b, sizeof b, "%d|%f|%lld|%d|%d|", l.n, static_cast<double>(l.f), l.big, l.flag ? 1 : 0, l.c);
  return b + str(l.s) + ";";
}

std::string dump(LeafList const& l) {
  std::string out = "[";
  for (int i = 0; i < l.length(); ++i) out += dump(*l.get(i));
  return out + "]";
}

// Hash entries in key order: slot order depends on how the table grew.
template <class H, class F>
std::string dump_hash(H const& h, F value) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < h.size(); ++i)
    if (HxString* k = h._key(i)) entries.emplace_back(str(*k), value(h._value(i)));
  std::sort(entries.begin(), entries.end());
  std::string out = "{";
  for (auto const& e : entries) out += e.first + "=" + e.second + ",";
  return out + "}";
}

std::string dump(Top const& t) {
  std::string out = str(t.name) + "#" + dump(t.mid.leaf) + dump(t.mid.list) + dump(t.list);
  out += dump_hash(t.hash, [](Leaf* l) { return l ? dump(*l) : std::string("null"); });
  for (int i = 0; i < t.strings.length(); ++i) out += str(*t.strings.get(i)) + "\x01";
  out += dump_hash(t.texts, [](HxString* s) { return s ? str(*s) : std::string("null"); });
  out += dump_hash(t.ints, [](int v) { return std::to_string(v); });
  return out;
}

// Writes the record and reads the text back, as an archive file would be.
bool rewrite(Top& from, Top& to) {
  from.packXML();
  std::string doc = "<pack>\n" + std::string(from.packContents(), from.packSize()) + "\n</pack>";
  from._clear();
  return to.unpackXML(doc.data(), static_cast<int>(doc.size())) == 0;
}

// Members of every kind, put in front of the input on request so that each
// run reaches the list and hash readers from an empty corpus on.
std::string const kMembers =
    "<name>a&amp;b</name><mid><object><leaf><object><n>4</n><s>x</s><c>65</c><f>1.5</f><big>-9</big>"
    "<flag>1</flag></object></leaf><list><object><item><object><n>1</n></object></item><item><object><s>q</s>"
    "</object></item></object></list></object></mid><list><object><item><object><n>2</n></object></item>"
    "</object></list><hash><object><key>k</key><element><object><n>3</n></object></element><key>j</key>"
    "<element><object><s>z&#13;</s></object></element></object></hash><strings><object><item>s</item>"
    "<item>t</item></object></strings><texts><object><key>a</key><element>b</element></object></texts>"
    "<ints><object><key>a</key><element>5</element><key>b</key><element>-7</element></object></ints>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses between a whole document and the members of the
  // top object inside a ready frame, which reaches the decoders sooner.
  std::string text(reinterpret_cast<char const*>(data + 1), size - 1);
  if (data[0] & 2) text = kMembers + text;
  if (data[0] & 1) text = "<pack><version>1</version><object type = 'top'>" + text + "</object></pack>";
  Top first;
  int const code = first.unpackXML(text.data(), static_cast<int>(text.size()));
  // A comment after the document leaves it to the full parser, where plain
  // documents are read without it: a document read one way reads the same
  // the other way.
  std::string const commented = text + "<!---->";
  Top parsed;
  int const parsed_code = parsed.unpackXML(commented.data(), static_cast<int>(commented.size()));
  if (code == 0 && (parsed_code != 0 || dump(parsed) != dump(first))) __builtin_trap();
  if (code != 0) return 0;
  // Whatever was read can be written and read again; from then on the text
  // stands still (the first pass may still turn a carriage return into a
  // line feed or round a float).
  Top second, third;
  if (!rewrite(first, second)) __builtin_trap();
  if (!rewrite(second, third)) __builtin_trap();
  if (dump(second) != dump(third)) __builtin_trap();
  // The binary form carries the same record.
  second.pack();
  Top bin;
  if (bin.unpack(second.packContents(), second.packSize()) != 0) __builtin_trap();
  if (dump(bin) != dump(second)) __builtin_trap();
  return 0;
}

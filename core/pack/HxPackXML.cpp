// The XML form of HxPack: the writer, and the reader that parses a document
// with expat into a tree of HxPackObj nodes before decodeXML() picks members.
#include <expat.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <random>
#include <new>
#include <string>
#include <vector>

#include "core/HxFile.h"
#include "core/HxLimits.h"
#include "core/pack/HxPack.h"
#include "core/pack/HxPackObj.h"

// ---- writing ----

void HxPack::xml_append_(char const* text, int n) {
  if (text == nullptr || n < 1) return;
  // Room for the text and the NUL after it; the buffer grows as the binary
  // one does, to (length + n) * 4 + 20, and a text beyond an int length is
  // refused there like any other exhaustion of memory.
  if (static_cast<long long>(length_) + n + 1 > capacity_) grow_buffer_(static_cast<long long>(n) + 1);
  std::memcpy(buffer_ + length_, text, static_cast<size_t>(n));
  length_ += n;
  buffer_[length_] = 0;
}

void HxPack::_storeXML(char const* text, int n) { xml_append_(text, n); }

int HxPack::xml_len_(char const* name) { return name != nullptr ? static_cast<int>(std::strlen(name)) : 0; }

// The name and the number, cut to the room as snprintf would cut them.
char const* HxPack::_xmlName(char* room, char const* base, int i) {
  size_t const most = kHxXmlNameRoom - 1;
  size_t n = 0;
  if (base != nullptr) {
    while (n < most && base[n] != 0) ++n;
    std::memcpy(room, base, n);
  }
  if (i > 0 && n < most) {
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, i).ptr;
    size_t const d = std::min(static_cast<size_t>(end - digits), most - n);
    std::memcpy(room + n, digits, d);
    n += d;
  }
  room[n] = 0;
  return room;
}

namespace {

// What escaping adds to a text: "&amp;", "&lt;", "&gt;", "&quot;".
long long escaped_extra(char const* p, int n) {
  long long extra = 0;
  for (int i = 0; i < n; ++i) {
    switch (p[i]) {
      case '&': extra += 4; break;
      case '<':
      case '>': extra += 3; break;
      case '"': extra += 5; break;
      default: break;
    }
  }
  return extra;
}

char* put(char* at, char const* text, int n) {
  if (n > 0) std::memcpy(at, text, static_cast<size_t>(n));
  return at + n;
}

char* put_tabs(char* at, int depth) {
  for (int i = 0; i < depth; ++i) *at++ = '\t';
  return at;
}

}  // namespace

// The line is measured first and written once into the buffer.
void HxPack::xml_line_(char const* name, int name_length, char const* text, int n, bool escape) {
  if (text == nullptr || n < 0) {
    text = "";
    n = 0;
  }
  if (name == nullptr) name = "";
  int const depth = xmldepth_ > 0 ? xmldepth_ : 0;
  long long const extra = escape ? escaped_extra(text, n) : 0;
  long long const total = depth + 2LL * name_length + 6 + n + extra;
  if (length_ + total + 1 > capacity_) grow_buffer_(total + 1);
  char* at = put_tabs(buffer_ + length_, depth);
  *at++ = '<';
  at = put(at, name, name_length);
  *at++ = '>';
  if (extra == 0) {
    at = put(at, text, n);
  } else {
    for (int i = 0; i < n; ++i) {
      switch (text[i]) {
        case '&': at = put(at, "&amp;", 5); break;
        case '<': at = put(at, "&lt;", 4); break;
        case '>': at = put(at, "&gt;", 4); break;
        case '"': at = put(at, "&quot;", 6); break;
        default: *at++ = text[i];
      }
    }
  }
  at = put(at, "</", 2);
  at = put(at, name, name_length);
  at = put(at, ">\n", 2);
  length_ = static_cast<int>(at - buffer_);
  *at = 0;
}

void HxPack::storeXML(char const* name, char const* value) {
  xml_line_(name, xml_len_(name), value, xml_len_(value), true);
}

void HxPack::storeXML(char const* name, int value) {
  char text[16];
  char* end = std::to_chars(text, text + sizeof text, value).ptr;
  xml_line_(name, xml_len_(name), text, static_cast<int>(end - text), false);
}

void HxPack::storeXML(char const* name, long long value) {
  char text[24];
  char* end = std::to_chars(text, text + sizeof text, value).ptr;
  xml_line_(name, xml_len_(name), text, static_cast<int>(end - text), false);
}

void HxPack::storeXML(char const* name, unsigned char value) {
  xml_line_(name, xml_len_(name), value ? "1" : "0", 1, false);
}

void HxPack::storeXML(char const* name, float value) {
  // "%f" of any float fits: at most 39 digits before the point.
  char text[64];
  int n = std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
  xml_line_(name, xml_len_(name), text, n, false);
}

// A char is written as its code in signed decimal and read back the same way:
// every byte value survives, where the byte itself could be a control
// character or half a UTF-8 sequence that no reader accepts.
void HxPack::storeXML(char const* name, char value) { storeXML(name, static_cast<int>(static_cast<signed char>(value))); }

void HxPack::xml_block_() {
  HxString const tag = typeXML();
  int const depth = xmldepth_ > 0 ? xmldepth_ : 0;
  long long const total = depth + 16LL + tag.length() + 3;
  if (length_ + total + 1 > capacity_) grow_buffer_(total + 1);
  char* at = put_tabs(buffer_ + length_, depth);
  at = put(at, "<object type = '", 16);
  at = put(at, tag.value(), tag.length());
  at = put(at, "'>\n", 3);
  length_ = static_cast<int>(at - buffer_);
  *at = 0;
  ++xmldepth_;
  encodeXML();
  --xmldepth_;
  if (length_ + depth + 10LL + 1 > capacity_) grow_buffer_(depth + 10LL + 1);
  at = put_tabs(buffer_ + length_, depth);
  at = put(at, "</object>\n", 10);
  length_ = static_cast<int>(at - buffer_);
  *at = 0;
}

void HxPack::_packageXML() {
  length_ = 0;
  xml_block_();
}

// The child writes its block straight into this object's buffer: the same
// text as packaging it apart and copying it over.
void HxPack::xml_child_(char const* name, int name_length, HxPack& child) {
  int depth = xmldepth_ > 0 ? xmldepth_ : 0;
  long long total = depth + name_length + 3LL;
  if (length_ + total + 1 > capacity_) grow_buffer_(total + 1);
  char* at = put_tabs(buffer_ + length_, depth);
  *at++ = '<';
  at = put(at, name, name_length);
  at = put(at, ">\n", 2);
  length_ = static_cast<int>(at - buffer_);
  *at = 0;
  ++xmldepth_;
  child.xmldepth_ = xmldepth_;
  {
    BufferLoan loan(*this, child);
    child.xml_block_();
  }
  --xmldepth_;
  total = depth + name_length + 4LL;
  if (length_ + total + 1 > capacity_) grow_buffer_(total + 1);
  at = put_tabs(buffer_ + length_, depth);
  at = put(at, "</", 2);
  at = put(at, name, name_length);
  at = put(at, ">\n", 2);
  length_ = static_cast<int>(at - buffer_);
  *at = 0;
}

void HxPack::packXML() {
  length_ = 0;
  xmldepth_ = 0;
  storeXML("version", "1");
  HxString const tag = typeXML();
  xml_append_("<object type = '", 16);
  xml_append_(tag.value(), tag.length());
  xml_append_("'>\n", 3);
  xmldepth_ = 1;
  encodeXML();
  xmldepth_ = 0;
  xml_append_("</object>", 9);
}

void HxPack::showXML() {
  packXML();
  std::cout.write(buffer_, length_);
  std::cout << '\n' << std::flush;
}

int HxPack::archiveXML(HxString const& path) {
  HxFileReplacement file(path, HxFileReplacement::kAsWrittenInPlace);
  if (!file.ok()) return 0;
  packXML();
  return write_out_(file);
}

// ---- reading ---------------------------------------------------------------

// The tree of one document. Every text of it (keys and values, each followed
// by a NUL) lies in one buffer, and every entry (a value or a nested object
// of a node, under its key) in one table hashed by node, kind and key: a
// document costs a few growing buffers instead of strings and tables per
// node. A reader reuses its tree, so that reading the next document of a
// similar size allocates nothing.
class HxXmlTree {
 public:
  enum Kind : uint32_t {
    kObject = 0,
    kValue = 1,
    // Per node and name, where the search for a free numbered key starts:
    // the reader only ever adds keys, so every smaller number is taken.
    kObjectCount = 2,
    kValueCount = 3,
  };
  struct Entry {
    uint64_t hash;
    size_t key;     // offset of the key in text_
    size_t value;   // offset of a value's text, a node's index, or a count
    uint32_t key_length;
    uint32_t value_length;
    uint32_t owner;  // index of the node that holds the entry
    uint32_t kind;
  };

  std::vector<HxPackObj> nodes;

  explicit HxXmlTree(uint64_t salt) : salt_(salt) {}

  void clear() {
    nodes.clear();
    text_used_ = 0;
    entries_.clear();
    // A table grown for a large document is let go rather than wiped for
    // every small one after it.
    if (slots_.size() > kKeptSlots) {
      std::vector<uint32_t>().swap(slots_);
    } else {
      std::fill(slots_.begin(), slots_.end(), 0u);
    }
  }
  // Gives back all memory: after a large document.
  void release() {
    clear();
    std::vector<HxPackObj>().swap(nodes);
    text_.reset();
    text_capacity_ = 0;
    std::vector<Entry>().swap(entries_);
    std::string().swap(key_);
    scratch._resize(0);
  }

  uint32_t add_node() {
    auto const index = static_cast<uint32_t>(nodes.size());
    nodes.emplace_back(this, index);
    return index;
  }

  // Stores a value of the node under a free key made from name.
  void add_value(uint32_t owner, std::string const& name, std::string const& value) {
    size_t const at = add_text_(value.data(), value.size());
    add_(owner, kValue, name.data(), name.size(), at, static_cast<uint32_t>(value.size()));
  }
  // Stores a nested object of the node under a free key made from name.
  void add_object(uint32_t owner, std::string const& name, uint32_t child) {
    add_(owner, kObject, name.data(), name.size(), child, 0);
  }

  Entry const* find(uint32_t owner, uint32_t kind, char const* key) const {
    if (key == nullptr) return nullptr;
    size_t const n = std::strlen(key);
    return at_(find_(owner, kind, key, n, hash_(owner, kind, key, n)));
  }
  char const* text(size_t at) const { return text_.get() + at; }

  // Where a string member takes its text from: assigning a string keeps the
  // member's capacity rule and secure flag exactly as for any other string.
  HxString scratch;

 private:
  static constexpr size_t kKeptSlots = 256;
  static constexpr uint32_t kNoEntry = UINT32_MAX;

  uint64_t hash_(uint32_t owner, uint32_t kind, char const* p, size_t n) const {
    uint64_t h = salt_ ^ (n * 0x9E3779B97F4A7C15ULL) ^ ((static_cast<uint64_t>(owner) << 2 | kind) << 32);
    while (n >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      h = (h ^ w) * 0xBF58476D1CE4E5B9ULL;
      h ^= h >> 31;
      p += 8;
      n -= 8;
    }
    // The last bytes in at most two loads, without a store to gather them.
    uint64_t w = 0;
    if (n >= 4) {
      uint32_t a, b;
      std::memcpy(&a, p, 4);
      std::memcpy(&b, p + n - 4, 4);
      w = static_cast<uint64_t>(a) << 32 | b;
    } else if (n > 0) {
      auto const* u = reinterpret_cast<unsigned char const*>(p);
      w = static_cast<uint64_t>(u[0]) << 16 | static_cast<uint64_t>(u[n >> 1]) << 8 | u[n - 1];
    }
    h ^= w;
    h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ULL;
    h = (h ^ (h >> 27)) * 0x94D049BB133111EBULL;
    return h ^ (h >> 31);
  }

  Entry const* at_(uint32_t e) const { return e == kNoEntry ? nullptr : &entries_[e]; }

  uint32_t find_(uint32_t owner, uint32_t kind, char const* key, size_t n, uint64_t h) const {
    if (slots_.empty()) return kNoEntry;
    size_t const mask = slots_.size() - 1;
    for (size_t i = static_cast<size_t>(h) & mask;; i = (i + 1) & mask) {
      uint32_t const s = slots_[i];
      if (s == 0) return kNoEntry;
      Entry const& e = entries_[s - 1];
      if (e.hash == h && e.owner == owner && e.kind == kind && e.key_length == n &&
          std::memcmp(text_.get() + e.key, key, n) == 0)
        return s - 1;
    }
  }

  size_t add_text_(char const* p, size_t n) {
    if (text_capacity_ - text_used_ < n + 1) grow_text_(n + 1);
    size_t const at = text_used_;
    if (n > 0) std::memcpy(text_.get() + at, p, n);
    text_[at + n] = 0;
    text_used_ += n + 1;
    return at;
  }
  void grow_text_(size_t n) {
    size_t const capacity = std::max({text_capacity_ * 2, text_used_ + n, size_t{1024}});
    std::unique_ptr<char[]> fresh(new char[capacity]);
    if (text_used_ > 0) std::memcpy(fresh.get(), text_.get(), text_used_);
    text_ = std::move(fresh);
    text_capacity_ = capacity;
  }

  void insert_(uint32_t owner, uint32_t kind, char const* key, size_t n, uint64_t h, size_t value,
               uint32_t value_length) {
    if ((entries_.size() + 1) * 2 > slots_.size()) grow_();
    size_t const at = add_text_(key, n);
    // Filled in place: an entry put together on the stack and copied in is
    // read back in wider loads than it was stored in, which stalls.
    Entry& e = entries_.emplace_back();
    e.hash = h;
    e.key = at;
    e.key_length = static_cast<uint32_t>(n);
    e.value = value;
    e.value_length = value_length;
    e.owner = owner;
    e.kind = kind;
    place_(static_cast<uint32_t>(entries_.size() - 1));
  }

  void place_(uint32_t e) {
    size_t const mask = slots_.size() - 1;
    size_t i = static_cast<size_t>(entries_[e].hash) & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = e + 1;
  }

  void grow_() {
    slots_.assign(slots_.empty() ? 64 : slots_.size() * 2, 0u);
    for (size_t e = 0; e < entries_.size(); ++e) place_(static_cast<uint32_t>(e));
  }

  // The key of a new entry named like the open element: name, then name1,
  // name2, ... whichever is free first among the node's entries of its kind.
  // The counter of a name is kept only once the name repeats.
  void add_(uint32_t owner, uint32_t kind, char const* name, size_t n, size_t value, uint32_t value_length) {
    uint64_t const h = hash_(owner, kind, name, n);
    if (find_(owner, kind, name, n, h) == kNoEntry) return insert_(owner, kind, name, n, h, value, value_length);
    uint32_t const count_kind = kind + 2;
    uint64_t const ch = hash_(owner, count_kind, name, n);
    uint32_t const counter = find_(owner, count_kind, name, n, ch);
    size_t i = counter != kNoEntry && entries_[counter].value > 1 ? entries_[counter].value : 1;
    key_.assign(name, n);
    uint64_t kh = 0;
    for (;; ++i) {
      char digits[24];
      char* end = std::to_chars(digits, digits + sizeof digits, i).ptr;
      key_.resize(n);
      key_.append(digits, static_cast<size_t>(end - digits));
      kh = hash_(owner, kind, key_.data(), key_.size());
      if (find_(owner, kind, key_.data(), key_.size(), kh) == kNoEntry) break;
    }
    if (counter != kNoEntry) {
      entries_[counter].value = i + 1;
    } else {
      insert_(owner, count_kind, name, n, ch, i + 1, 0);
    }
    insert_(owner, kind, key_.data(), key_.size(), kh, value, value_length);
  }

  uint64_t salt_;
  // Every key and value, each with a NUL after it.
  std::unique_ptr<char[]> text_;
  size_t text_used_ = 0;
  size_t text_capacity_ = 0;
  std::vector<Entry> entries_;
  std::vector<uint32_t> slots_;  // entry + 1; 0 marks a free slot
  std::string key_;              // a numbered key being tried
};

HxPackObj* HxPackObj::element(char const* name) const {
  HxXmlTree::Entry const* e = tree_->find(index_, HxXmlTree::kObject, name);
  return e != nullptr ? &tree_->nodes[e->value] : nullptr;
}

char const* HxPackObj::variable(char const* name, int* n) const {
  HxXmlTree::Entry const* e = tree_->find(index_, HxXmlTree::kValue, name);
  if (e == nullptr) return nullptr;
  *n = static_cast<int>(e->value_length);
  return tree_->text(e->value);
}

namespace {

// The hash salt of this thread, drawn once.
unsigned long thread_salt() {
  static thread_local unsigned long const salt = [] {
    std::random_device device;
    return (static_cast<unsigned long>(device()) << 16) ^ device();
  }();
  return salt;
}

// An open object element: its node, the name of the element open in it and
// the text gathered since an element of it last began or ended.
struct Level {
  uint32_t node = 0;
  std::string name;
  std::string cache;
};

struct Reader {
  HxXmlTree tree{static_cast<uint64_t>(thread_salt()) * 0x9E3779B97F4A7C15ULL + 1};
  // The root and at most kHxMaxXmlDepth + 1 objects (a deeper one is refused
  // before it is pushed); the levels keep their strings from one document
  // to the next.
  Level levels[kHxMaxXmlDepth + 2];
  size_t depth = 0;
  XML_Parser parser = nullptr;
  bool too_deep = false;
  bool doctype = false;
  // Read as ISO-8859-1: the parser hands over UTF-8, which is turned back
  // into the document's own bytes.
  bool latin1 = false;
  bool busy = false;

  void reset() {
    tree.clear();
    depth = 0;
  }
  void push() {
    Level& l = levels[depth++];
    l.node = tree.add_node();
    l.name.clear();
    l.cache.clear();
  }
  Level& top() { return levels[depth - 1]; }
  bool start(char const* name, size_t n);
  void end(char const* name, size_t n);
  void data(char const* text, size_t n);
  // Appends text from the parser as the bytes of the document.
  void append(std::string& out, char const* p, size_t n) const {
    if (!latin1) {
      out.append(p, n);
      return;
    }
    for (size_t i = 0; i < n; ++i) {
      auto b = static_cast<unsigned char>(p[i]);
      if ((b == 0xC2 || b == 0xC3) && i + 1 < n) {
        out.push_back(static_cast<char>(((b & 0x03) << 6) | (static_cast<unsigned char>(p[i + 1]) & 0x3F)));
        ++i;
      } else {
        out.push_back(p[i]);
      }
    }
  }
};

bool is_object(char const* name, size_t n) { return n == 6 && std::memcmp(name, "object", 6) == 0; }

// An element begins: an object element opens a new node, any other names
// the value that its node gathers. False when the object would be too deep.
bool Reader::start(char const* name, size_t n) {
  if (depth == 0) return true;
  if (is_object(name, n)) {
    // The depth of the tree is bounded so that neither building nor
    // reading it can exhaust the stack.
    if (depth > static_cast<size_t>(kHxMaxXmlDepth)) return false;
    push();
  } else {
    Level& l = top();
    l.name.clear();
    append(l.name, name, n);
    l.cache.clear();
  }
  return true;
}

// An element ends: an object is stored in its parent under the name of the
// element open there, a value in its node under its own name.
void Reader::end(char const* name, size_t n) {
  if (depth == 0) return;
  if (is_object(name, n)) {
    if (depth < 2) return;
    uint32_t const child = top().node;
    --depth;
    Level& parent = top();
    tree.add_object(parent.node, parent.name, child);
  } else {
    Level& l = top();
    tree.add_value(l.node, l.name, l.cache);
    l.cache.clear();
    l.name.assign("undef_obj");
  }
}

void Reader::data(char const* text, size_t n) {
  if (n == 0 || depth == 0) return;
  append(top().cache, text, n);
}

void XMLCALL HxPackStartElement(void* data, XML_Char const* name, XML_Char const** /*attributes*/) {
  auto* r = static_cast<Reader*>(data);
  if (!r->start(name, std::strlen(name))) {
    r->too_deep = true;
    XML_StopParser(r->parser, XML_FALSE);
  }
}

void XMLCALL HxPackEndElement(void* data, XML_Char const* name) {
  static_cast<Reader*>(data)->end(name, std::strlen(name));
}

// Documents of this form never carry a document type declaration; one that
// does is refused before its entity definitions can be expanded.
void XMLCALL HxPackDoctype(void* data, XML_Char const*, XML_Char const*, XML_Char const*, int) {
  auto* r = static_cast<Reader*>(data);
  r->doctype = true;
  XML_StopParser(r->parser, XML_FALSE);
}

void XMLCALL HxPackData(void* data, XML_Char const* text, int n) {
  if (n > 0) static_cast<Reader*>(data)->data(text, static_cast<size_t>(n));
}

// ---- the plain form, read without the parser ----
//
// The writer's documents use a small part of XML: ASCII text, elements with
// at most one attribute, the five predefined entities, white space around
// the document element. Such a document is read here in one pass; at the
// first thing outside that part (another byte, a comment, a processing
// instruction, a section, a character reference, a second attribute, a
// carriage return, deeper nesting) and at any fault, the scan gives up and
// the parser reads the document from the start. The scan thus accepts only
// well-formed documents and builds the tree the parser's events would build:
// what is accepted and how it reads is the parser's.

enum ByteClass : unsigned char { kPlain, kLess, kAmp, kBracket, kOther };

struct ByteClasses {
  unsigned char text[256];
  bool name_start[256];
  bool name[256];
  ByteClasses() {
    for (int c = 0; c < 256; ++c) {
      text[c] = (c == '\t' || c == '\n' || (c >= 0x20 && c < 0x7F)) ? kPlain : kOther;
      bool const letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
      name_start[c] = letter;
      name[c] = letter || (c >= '0' && c <= '9') || c == '.' || c == '-';
    }
    text[static_cast<unsigned char>('<')] = kLess;
    text[static_cast<unsigned char>('&')] = kAmp;
    text[static_cast<unsigned char>(']')] = kBracket;
  }
};

ByteClasses const kBytes;

// Open elements the scan follows; a document nested deeper goes to the
// parser.
constexpr size_t kScanDepth = 4 * kHxMaxXmlDepth + 8;

class Scan {
 public:
  Scan(Reader& r, char const* text, size_t n) : r_(r), p_(text), end_(text + n) {}

  bool run() {
    blanks();
    if (!at_tag()) return false;
    for (;;) {
      // At "<": a tag.
      ++p_;
      if (*p_ == '/') {
        ++p_;
        Open const& o = open_[depth_ - 1];
        if (static_cast<size_t>(end_ - p_) < o.n || std::memcmp(p_, o.name, o.n) != 0) return false;
        p_ += o.n;
        if (p_ < end_ && is_name(*p_)) return false;
        blanks();
        if (!take('>')) return false;
        r_.end(o.name, o.n);
        if (--depth_ == 0) break;
      } else {
        char const* name = p_;
        skip_name();
        auto const n = static_cast<size_t>(p_ - name);
        blanks();
        if (p_ < end_ && is_name_start(*p_)) {
          // One attribute after white space (the name took every name
          // byte); a second one is left to the parser.
          if (!attribute()) return false;
          blanks();
          if (p_ < end_ && is_name_start(*p_)) return false;
        }
        bool const empty = take('/');
        if (!take('>')) return false;
        if (!r_.start(name, n)) return false;
        if (empty) {
          r_.end(name, n);
          if (depth_ == 0) break;
        } else {
          if (depth_ == kScanDepth) return false;
          open_[depth_++] = Open{name, n};
        }
      }
      if (!content()) return false;
    }
    blanks();
    return p_ == end_;
  }

 private:
  struct Open {
    char const* name;
    size_t n;
  };

  static bool is_name_start(char c) { return kBytes.name_start[static_cast<unsigned char>(c)]; }
  static bool is_name(char c) { return kBytes.name[static_cast<unsigned char>(c)]; }

  void blanks() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\t')) ++p_;
  }
  bool take(char c) {
    if (p_ >= end_ || *p_ != c) return false;
    ++p_;
    return true;
  }
  // At "<" and a name, or "</": a tag the scan reads.
  bool at_tag() const {
    return end_ - p_ >= 2 && *p_ == '<' && (p_[1] == '/' || is_name_start(p_[1])) && (p_[1] != '/' || depth_ > 0);
  }
  void skip_name() {
    ++p_;
    while (p_ < end_ && is_name(*p_)) ++p_;
  }
  // One attribute: name, "=", a quoted value of plain text. Its value is
  // not used; a name that the parser could treat apart goes to the parser.
  bool attribute() {
    char const* name = p_;
    skip_name();
    if (p_ - name >= 3 && (name[0] | 0x20) == 'x' && (name[1] | 0x20) == 'm' && (name[2] | 0x20) == 'l') return false;
    blanks();
    if (!take('=')) return false;
    blanks();
    if (p_ >= end_ || (*p_ != '\'' && *p_ != '"')) return false;
    char const quote = *p_++;
    for (; p_ < end_ && *p_ != quote; ++p_) {
      unsigned char const c = kBytes.text[static_cast<unsigned char>(*p_)];
      if (c != kPlain && c != kBracket) return false;
    }
    return take(quote);
  }
  // The text of an element up to its next tag, with the predefined
  // entities replaced.
  bool content() {
    for (;;) {
      char const* run = p_;
      while (p_ < end_ && kBytes.text[static_cast<unsigned char>(*p_)] == kPlain) ++p_;
      if (p_ > run) r_.data(run, static_cast<size_t>(p_ - run));
      if (p_ >= end_) return false;
      switch (kBytes.text[static_cast<unsigned char>(*p_)]) {
        case kLess: return at_tag();
        case kAmp:
          if (!entity()) return false;
          break;
        case kBracket:
          // "]]>" may not stand in text.
          if (end_ - p_ >= 3 && p_[1] == ']' && p_[2] == '>') return false;
          r_.data(p_++, 1);
          break;
        default: return false;
      }
    }
  }
  bool entity() {
    static struct {
      char const* text;
      size_t n;
      char c;
    } const kEntities[] = {{"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''}};
    for (auto const& e : kEntities) {
      if (static_cast<size_t>(end_ - p_) >= e.n && std::memcmp(p_, e.text, e.n) == 0) {
        r_.data(&e.c, 1);
        p_ += e.n;
        return true;
      }
    }
    return false;
  }

  Reader& r_;
  char const* p_;
  char const* const end_;
  Open open_[kScanDepth];
  size_t depth_ = 0;
};

bool file_exists(HxString const& path) {
  struct stat st;
  return ::stat(path.value(), &st) == 0;
}

// A parser per thread and encoding, reset for each document instead of made
// anew: its memory pools and its hash salt (drawn once per thread, not per
// document) are kept. One that held a large document is let go after it.
struct KeptParser {
  XML_Parser parser = nullptr;
  bool busy = false;
  ~KeptParser() {
    if (parser != nullptr) XML_ParserFree(parser);
  }
};

// Documents up to this size leave their parser and their reader for the
// next one.
constexpr int kKeptParserBytes = 1 << 20;

XML_Parser take_parser(KeptParser& kept, char const* encoding) {
  XML_Parser p = nullptr;
  if (!kept.busy && kept.parser != nullptr && XML_ParserReset(kept.parser, encoding)) {
    p = kept.parser;
  } else {
    p = XML_ParserCreate(encoding);
  }
  if (p != nullptr) XML_SetHashSalt(p, thread_salt());
  return p;
}

void give_parser(KeptParser& kept, XML_Parser p, int length) {
  if (p == kept.parser) {
    kept.busy = false;
    if (length <= kKeptParserBytes) return;
    kept.parser = nullptr;
  } else if (!kept.busy && kept.parser == nullptr && length <= kKeptParserBytes) {
    kept.parser = p;
    return;
  }
  XML_ParserFree(p);
}

// One parse of the whole text into r's tree; the parser's error code, or
// XML_ERROR_NONE.
XML_Error parse_tree(Reader& r, char const* text, int length, char const* encoding, bool* created) {
  static thread_local KeptParser kept[2];
  KeptParser& mine = kept[encoding != nullptr ? 1 : 0];
  r.reset();
  r.too_deep = r.doctype = false;
  r.latin1 = encoding != nullptr;
  r.parser = take_parser(mine, encoding);
  *created = r.parser != nullptr;
  if (r.parser == nullptr) return XML_ERROR_NO_MEMORY;
  if (r.parser == mine.parser) mine.busy = true;
  r.push();
  XML_SetUserData(r.parser, &r);
  XML_SetElementHandler(r.parser, HxPackStartElement, HxPackEndElement);
  XML_SetCharacterDataHandler(r.parser, HxPackData);
  XML_SetStartDoctypeDeclHandler(r.parser, HxPackDoctype);
  XML_Status status = XML_Parse(r.parser, text, length < 0 ? 0 : length, XML_TRUE);
  XML_Error error = status == XML_STATUS_OK ? XML_ERROR_NONE : XML_GetErrorCode(r.parser);
  if (error == XML_ERROR_NONE && (r.too_deep || r.doctype)) error = XML_ERROR_ABORTED;
  give_parser(mine, r.parser, length);
  r.parser = nullptr;
  return error;
}

// The plain form read straight into r's tree; false when the parser has to
// read the text.
bool scan_tree(Reader& r, char const* text, int length) {
  r.reset();
  r.too_deep = r.doctype = r.latin1 = false;
  r.push();
  return Scan(r, text, length < 0 ? 0 : static_cast<size_t>(length)).run();
}

// The reader of this thread while no other read on it uses it (a decodeXML
// may read another document), else one of the call's own. A reader that
// held a large document gives its memory back.
class ReaderLease {
 public:
  explicit ReaderLease(int length) : length_(length) {
    static thread_local Reader kept;
    if (!kept.busy) {
      reader_ = &kept;
    } else {
      own_.reset(new Reader());
      reader_ = own_.get();
    }
    reader_->busy = true;
  }
  ~ReaderLease() {
    reader_->busy = false;
    reader_->reset();
    if (length_ > kKeptParserBytes && own_ == nullptr) {
      // Only a saving: where letting go takes a little memory that is not
      // there (std::bad_alloc unwinding), what is left stays kept.
      try {
        reader_->tree.release();
        for (Level& l : reader_->levels) {
          std::string().swap(l.name);
          std::string().swap(l.cache);
        }
      } catch (std::bad_alloc const&) {
      }
    }
  }
  ReaderLease(ReaderLease const&) = delete;
  ReaderLease& operator=(ReaderLease const&) = delete;
  Reader& operator*() const { return *reader_; }

 private:
  int length_;
  Reader* reader_ = nullptr;
  std::unique_ptr<Reader> own_;
};

// The integer value of a text as atoi and strtoll read it; short runs of
// digits are read here without a pass through the C library.
template <class T, int kDigits>
T text_integer(char const* p, int n) {
  if (n <= 0) return 0;
  int i = p[0] == '-' ? 1 : 0;
  if (n - i < 1 || n - i > kDigits) return static_cast<T>(sizeof(T) == sizeof(int) ? std::atoi(p) : std::strtoll(p, nullptr, 10));
  T v = 0;
  for (int k = i; k < n; ++k) {
    unsigned d = static_cast<unsigned char>(p[k]) - static_cast<unsigned>('0');
    if (d > 9) return static_cast<T>(sizeof(T) == sizeof(int) ? std::atoi(p) : std::strtoll(p, nullptr, 10));
    v = v * 10 + static_cast<T>(d);
  }
  return i == 1 ? -v : v;
}

int text_int(char const* p, int n) { return text_integer<int, 9>(p, n); }
long long text_longlong(char const* p, int n) { return text_integer<long long, 18>(p, n); }

}  // namespace

int HxPack::unpackXML(char const* text, int length) {
  // The objects the document makes are bounded as binary records are.
  HxDefaultDecodeBudget budget;
  ReaderLease lease(length);
  Reader& r = *lease;
  if (!scan_tree(r, text, length)) {
    bool created = false;
    XML_Error error = parse_tree(r, text, length, nullptr, &created);
    if (!created) return 5;
    // The writer puts string bytes into the text as they are, so a value
    // that is not UTF-8 (a name in a one-byte code page) makes a document
    // that reads as malformed. Such a document is read again byte for byte.
    if ((error == XML_ERROR_INVALID_TOKEN || error == XML_ERROR_PARTIAL_CHAR) && !r.too_deep && !r.doctype) {
      error = parse_tree(r, text, length, "ISO-8859-1", &created);
      if (!created) return 5;
    }
    if (error != XML_ERROR_NONE || r.too_deep || r.doctype) return 4;
  }
  if (r.tree.nodes.empty()) return 5;
  HxPackObj* root = &r.tree.nodes.front();
  int n = 0;
  char const* version = root->variable("version", &n);
  if (version == nullptr) return 1;
  if (text_int(version, n) != 1) return 3;
  HxPackObj* top = root->element("undef_obj");
  if (top != nullptr) _unpackXML(top);
  return 0;
}

int HxPack::recoverXML(HxString const& path) {
  if (!file_exists(path)) return 0;
  // An empty file holds no version either: both give 0. Files too large for
  // one string are refused by the load.
  HxString body = HxFile::load(path);
  if (body.length() == 0) return 0;
  HxString text("<pack>\n");
  text += body;
  text += "\n</pack>";
  // A file that decodes to more than the budget grants does not decode.
  HxDecodeBudget budget;
  if (unpackXML(text.value(), text.length()) != 0 || budget.spent()) return 0;
  return text.length();
}

void HxPack::_unpackXML(HxPackObj* node) {
  if (node == nullptr) return;
  xmlnode_ = node;
  decodeXML();
  xmlnode_ = nullptr;
}

bool HxPack::_xmlHasObject(char const* name) const { return xmlnode_ != nullptr && xmlnode_->element(name) != nullptr; }

bool HxPack::_xmlHasValue(char const* name) const {
  int n = 0;
  return xmlnode_ != nullptr && xmlnode_->variable(name, &n) != nullptr;
}

void HxPack::restoreXML(char const* name, HxString& value) {
  if (xmlnode_ == nullptr) return;
  int n = 0;
  if (char const* t = xmlnode_->variable(name, &n)) {
    // A text that outgrows its buffer claims the new one first.
    if (n > 0 && n >= value.capacity() && !claim_text_(n)) return;
    HxString& scratch = xmlnode_->tree()->scratch;
    scratch.copy(t, n);
    value = scratch;
  }
}

void HxPack::restoreXML(char const* name, int& value) {
  if (xmlnode_ == nullptr) return;
  int n = 0;
  if (char const* t = xmlnode_->variable(name, &n)) value = text_int(t, n);
}

void HxPack::restoreXML(char const* name, long long& value) {
  if (xmlnode_ == nullptr) return;
  int n = 0;
  if (char const* t = xmlnode_->variable(name, &n)) value = text_longlong(t, n);
}

void HxPack::restoreXML(char const* name, unsigned char& value) {
  if (xmlnode_ == nullptr) return;
  int n = 0;
  if (char const* t = xmlnode_->variable(name, &n)) value = text_int(t, n) != 0 ? 1 : 0;
}

void HxPack::restoreXML(char const* name, float& value) {
  if (xmlnode_ == nullptr) return;
  int n = 0;
  if (char const* t = xmlnode_->variable(name, &n)) value = n == 0 ? 0.0f : static_cast<float>(std::atof(t));
}

void HxPack::restoreXML(char const* name, char& value) {
  if (xmlnode_ == nullptr) return;
  int n = 0;
  char const* t = xmlnode_->variable(name, &n);
  if (t != nullptr && n > 0) value = static_cast<char>(text_int(t, n));
}

bool HxPack::restoreXML(char const* name, HxPack& child) {
  if (xmlnode_ == nullptr) return false;
  HxPackObj* node = xmlnode_->element(name);
  if (node == nullptr) return false;
  child.xmlnode_ = node;
  bool r = child.decodeXML();
  child.xmlnode_ = nullptr;
  return r;
}

// The XML form of HxPack: the writer, and the reader that parses a document
// with expat into a tree of HxPackObj nodes before decodeXML() picks members.
#include <expat.h>
#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <vector>

#include "core/HxFile.h"
#include "core/HxLimits.h"
#include "core/pack/HxPack.h"
#include "core/pack/HxPackObj.h"

namespace {

// The reader's stack of open object nodes, held in place: its depth is
// bounded, so it needs no allocation.
class NodeStack {
 public:
  bool empty() const { return n_ == 0; }
  size_t size() const { return n_; }
  void push_back(HxPackObj* node) { nodes_[n_++] = node; }
  void pop_back() { --n_; }
  HxPackObj* back() const { return nodes_[n_ - 1]; }
  HxPackObj* front() const { return nodes_[0]; }
  void clear() { n_ = 0; }
  HxPackObj* const* begin() const { return nodes_; }
  HxPackObj* const* end() const { return nodes_ + n_; }

 private:
  // The root and at most kHxMaxXmlDepth + 1 objects (a deeper one is refused
  // before it is pushed).
  HxPackObj* nodes_[kHxMaxXmlDepth + 2];
  size_t n_ = 0;
};

struct Reader {
  NodeStack stack;
  XML_Parser parser = nullptr;
  bool too_deep = false;
  bool doctype = false;
  // Read as ISO-8859-1: the parser hands over UTF-8, which is turned back
  // into the document's own bytes.
  bool latin1 = false;

  ~Reader() { reset(); }
  void reset() {
    for (HxPackObj* node : stack) delete node;
    stack.clear();
  }
  // Text from the parser as the bytes of the document.
  HxString text(XML_Char const* p, int n) const {
    HxString out("");
    if (!latin1) {
      out.append(p, n);
      return out;
    }
    for (int i = 0; i < n; ++i) {
      auto b = static_cast<unsigned char>(p[i]);
      if ((b == 0xC2 || b == 0xC3) && i + 1 < n) {
        out.append(static_cast<char>(((b & 0x03) << 6) | (static_cast<unsigned char>(p[i + 1]) & 0x3F)));
        ++i;
      } else {
        out.append(p[i]);
      }
    }
    return out;
  }
};

void XMLCALL HxPackStartElement(void* data, XML_Char const* name, XML_Char const** /*attributes*/) {
  auto* r = static_cast<Reader*>(data);
  if (r->stack.empty()) return;
  if (std::strcmp(name, "object") == 0) {
    // The depth of the tree is bounded so that neither building nor
    // destroying it can exhaust the stack.
    if (static_cast<int>(r->stack.size()) > kHxMaxXmlDepth) {
      r->too_deep = true;
      XML_StopParser(r->parser, XML_FALSE);
      return;
    }
    r->stack.push_back(new HxPackObj());
  } else {
    HxPackObj* top = r->stack.back();
    if (r->latin1) {
      top->name() = r->text(name, static_cast<int>(std::strlen(name)));
    } else {
      top->name().copy(name);
    }
    top->cache().clear();
  }
}

void XMLCALL HxPackEndElement(void* data, XML_Char const* name) {
  auto* r = static_cast<Reader*>(data);
  if (r->stack.empty()) return;
  if (std::strcmp(name, "object") == 0) {
    if (r->stack.size() < 2) return;
    HxPackObj* node = r->stack.back();
    r->stack.pop_back();
    HxPackObj* parent = r->stack.back();
    HxString* key = parent->freeKey(parent->elements(), parent->nextElement());
    while (!parent->elements()._set(node, key)) parent->elements().resize();
  } else {
    HxPackObj* top = r->stack.back();
    HxString* key = top->freeKey(top->variables(), top->nextVariable());
    auto* value = new HxString(top->cache());
    while (!top->variables()._set(value, key)) top->variables().resize();
    top->cache().clear();
    top->name() = "undef_obj";
  }
}

// Documents of this form never carry a document type declaration; one that
// does is refused before its entity definitions can be expanded.
void XMLCALL HxPackDoctype(void* data, XML_Char const*, XML_Char const*, XML_Char const*, int) {
  auto* r = static_cast<Reader*>(data);
  r->doctype = true;
  XML_StopParser(r->parser, XML_FALSE);
}

void XMLCALL HxPackData(void* data, XML_Char const* text, int n) {
  auto* r = static_cast<Reader*>(data);
  if (n <= 0 || r->stack.empty()) return;
  if (r->latin1) {
    r->stack.back()->cache() += r->text(text, n);
  } else {
    r->stack.back()->cache().append(text, n);
  }
}

bool file_exists(HxString const& path) {
  struct stat st;
  return ::stat(path.value(), &st) == 0;
}

}  // namespace

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

char const* HxPack::_xmlName(char* room, char const* base, int i) {
  if (i > 0) {
    std::snprintf(room, kHxXmlNameRoom, "%s%d", base, i);
  } else {
    std::snprintf(room, kHxXmlNameRoom, "%s", base);
  }
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
  FILE* f = HxFile::_fopenWrite(path, false);
  if (f == nullptr) return 0;
  packXML();
  return write_out_(f);
}

// ---- reading ---------------------------------------------------------------

namespace {

// One parse of the whole text into r's tree; the parser's error code, or
// XML_ERROR_NONE.
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

// Documents up to this size leave their parser for the next one.
constexpr int kKeptParserBytes = 1 << 20;

XML_Parser take_parser(KeptParser& kept, char const* encoding) {
  static thread_local unsigned long const salt = [] {
    std::random_device device;
    return (static_cast<unsigned long>(device()) << 16) ^ device();
  }();
  XML_Parser p = nullptr;
  if (!kept.busy && kept.parser != nullptr && XML_ParserReset(kept.parser, encoding)) {
    p = kept.parser;
  } else {
    p = XML_ParserCreate(encoding);
  }
  if (p != nullptr) XML_SetHashSalt(p, salt);
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
  r.stack.push_back(new HxPackObj());
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

}  // namespace

int HxPack::unpackXML(char const* text, int length) {
  Reader r;
  bool created = false;
  XML_Error error = parse_tree(r, text, length, nullptr, &created);
  if (!created) return 5;
  // The writer puts string bytes into the text as they are, so a value that
  // is not UTF-8 (a name in a one-byte code page) makes a document that
  // reads as malformed. Such a document is read again byte for byte.
  if ((error == XML_ERROR_INVALID_TOKEN || error == XML_ERROR_PARTIAL_CHAR) && !r.too_deep && !r.doctype) {
    error = parse_tree(r, text, length, "ISO-8859-1", &created);
    if (!created) return 5;
  }
  if (error != XML_ERROR_NONE || r.too_deep || r.doctype) return 4;
  if (r.stack.empty()) return 5;
  HxPackObj* root = r.stack.front();
  HxString* version = root->variables().get("version");
  if (version == nullptr) return 1;
  if (version->integervalue() != 1) return 3;
  HxPackObj* top = root->elements().get("undef_obj");
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
  if (unpackXML(text.value(), text.length()) != 0) return 0;
  return text.length();
}

void HxPack::_unpackXML(HxPackObj* node) {
  if (node == nullptr) return;
  xmlnode_ = node;
  decodeXML();
  xmlnode_ = nullptr;
}

bool HxPack::_xmlHasObject(char const* name) const {
  return xmlnode_ != nullptr && xmlnode_->elements().get(name) != nullptr;
}

bool HxPack::_xmlHasValue(char const* name) const {
  return xmlnode_ != nullptr && xmlnode_->variables().get(name) != nullptr;
}

void HxPack::restoreXML(char const* name, HxString& value) {
  if (xmlnode_ == nullptr) return;
  if (HxString* t = xmlnode_->variables().get(name)) value = *t;
}

void HxPack::restoreXML(char const* name, int& value) {
  if (xmlnode_ == nullptr) return;
  if (HxString* t = xmlnode_->variables().get(name)) value = t->integervalue();
}

void HxPack::restoreXML(char const* name, long long& value) {
  if (xmlnode_ == nullptr) return;
  if (HxString* t = xmlnode_->variables().get(name)) value = t->longlongvalue();
}

void HxPack::restoreXML(char const* name, unsigned char& value) {
  if (xmlnode_ == nullptr) return;
  if (HxString* t = xmlnode_->variables().get(name)) value = t->integervalue() != 0 ? 1 : 0;
}

void HxPack::restoreXML(char const* name, float& value) {
  if (xmlnode_ == nullptr) return;
  if (HxString* t = xmlnode_->variables().get(name)) value = t->floatvalue();
}

void HxPack::restoreXML(char const* name, char& value) {
  if (xmlnode_ == nullptr) return;
  HxString* t = xmlnode_->variables().get(name);
  if (t != nullptr && t->length() > 0) value = static_cast<char>(t->integervalue());
}

bool HxPack::restoreXML(char const* name, HxPack& child) {
  if (xmlnode_ == nullptr) return false;
  HxPackObj* node = xmlnode_->elements().get(name);
  if (node == nullptr) return false;
  child.xmlnode_ = node;
  bool r = child.decodeXML();
  child.xmlnode_ = nullptr;
  return r;
}

// The XML form of HxPack: the writer, and the reader that parses a document
// with expat into a tree of HxPackObj nodes before decodeXML() picks members.
#include <expat.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "core/HxFile.h"
#include "core/HxLimits.h"
#include "core/pack/HxPack.h"
#include "core/pack/HxPackObj.h"

namespace {

HxString escape(HxString const& text) {
  HxString out;
  char const* p = text.value();
  for (int i = 0; i < text.length(); ++i) {
    switch (p[i]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.append(p[i]);
    }
  }
  return out;
}

HxString tabs(int depth) {
  HxString out;
  for (int i = 0; i < depth; ++i) out.append('\t');
  return out;
}

struct Reader {
  std::vector<HxPackObj*> stack;
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
    top->name() = r->text(name, static_cast<int>(std::strlen(name)));
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
    HxString key = parent->freeKey(parent->elements(), parent->nextElement());
    parent->elements().set(node, key);
  } else {
    HxPackObj* top = r->stack.back();
    HxString key = top->freeKey(top->variables(), top->nextVariable());
    top->variables().set(new HxString(top->cache()), key);
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

// ---- writing ---------------------------------------------------------------

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

void HxPack::xml_value_(HxString const& name, HxString const& text) {
  HxString line = tabs(xmldepth_);
  line += "<";
  line += name;
  line += ">";
  line += escape(text);
  line += "</";
  line += name;
  line += ">\n";
  xml_append_(line.value(), line.length());
}

void HxPack::storeXML(HxString const& name, HxString const& value) { xml_value_(name, value); }
void HxPack::storeXML(HxString const& name, char const* value) { xml_value_(name, HxString(value)); }
void HxPack::storeXML(HxString const& name, int value) { xml_value_(name, HxString(value)); }
void HxPack::storeXML(HxString const& name, long long value) { xml_value_(name, HxString(value)); }
void HxPack::storeXML(HxString const& name, unsigned char value) { xml_value_(name, HxString(value ? "1" : "0")); }
void HxPack::storeXML(HxString const& name, float value) { xml_value_(name, HxString(value)); }
// A char is written as its code in signed decimal and read back the same way:
// every byte value survives, where the byte itself could be a control
// character or half a UTF-8 sequence that no reader accepts.
void HxPack::storeXML(HxString const& name, char value) {
  xml_value_(name, HxString(static_cast<int>(static_cast<signed char>(value))));
}

void HxPack::_packageXML() {
  length_ = 0;
  HxString head = tabs(xmldepth_);
  head += "<object type = '";
  head += typeXML();
  head += "'>\n";
  xml_append_(head.value(), head.length());
  ++xmldepth_;
  encodeXML();
  --xmldepth_;
  HxString tail = tabs(xmldepth_);
  tail += "</object>\n";
  xml_append_(tail.value(), tail.length());
}

void HxPack::storeXML(HxString const& name, HxPack& child) {
  HxString piece = tabs(xmldepth_);
  piece += "<";
  piece += name;
  piece += ">\n";
  ++xmldepth_;
  child.xmldepth_ = xmldepth_;
  child._packageXML();
  piece.append(child.buffer_, child.length_);
  child._clear();
  --xmldepth_;
  piece += tabs(xmldepth_);
  piece += "</";
  piece += name;
  piece += ">\n";
  xml_append_(piece.value(), piece.length());
}

void HxPack::packXML() {
  length_ = 0;
  xmldepth_ = 0;
  storeXML(HxString("version"), HxString("1"));
  HxString head("<object type = '");
  head += typeXML();
  head += "'>\n";
  xml_append_(head.value(), head.length());
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
XML_Error parse_tree(Reader& r, char const* text, int length, char const* encoding, bool* created) {
  r.reset();
  r.too_deep = r.doctype = false;
  r.latin1 = encoding != nullptr;
  r.parser = XML_ParserCreate(encoding);
  *created = r.parser != nullptr;
  if (r.parser == nullptr) return XML_ERROR_NO_MEMORY;
  r.stack.push_back(new HxPackObj());
  XML_SetUserData(r.parser, &r);
  XML_SetElementHandler(r.parser, HxPackStartElement, HxPackEndElement);
  XML_SetCharacterDataHandler(r.parser, HxPackData);
  XML_SetStartDoctypeDeclHandler(r.parser, HxPackDoctype);
  XML_Status status = XML_Parse(r.parser, text, length < 0 ? 0 : length, XML_TRUE);
  XML_Error error = status == XML_STATUS_OK ? XML_ERROR_NONE : XML_GetErrorCode(r.parser);
  if (error == XML_ERROR_NONE && (r.too_deep || r.doctype)) error = XML_ERROR_ABORTED;
  XML_ParserFree(r.parser);
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
  HxString* version = root->variables().get(HxString("version"));
  if (version == nullptr) return 1;
  if (version->integervalue() != 1) return 3;
  HxPackObj* top = root->elements().get(HxString("undef_obj"));
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

bool HxPack::_xmlHasObject(HxString const& name) const {
  return xmlnode_ != nullptr && xmlnode_->elements().get(name) != nullptr;
}

bool HxPack::_xmlHasValue(HxString const& name) const {
  return xmlnode_ != nullptr && xmlnode_->variables().get(name) != nullptr;
}

void HxPack::restoreXML(HxString const& name, HxString& value) {
  if (xmlnode_ == nullptr) return;
  if (HxString* t = xmlnode_->variables().get(name)) value = *t;
}

void HxPack::restoreXML(HxString const& name, int& value) {
  if (xmlnode_ == nullptr) return;
  if (HxString* t = xmlnode_->variables().get(name)) value = t->integervalue();
}

void HxPack::restoreXML(HxString const& name, long long& value) {
  if (xmlnode_ == nullptr) return;
  if (HxString* t = xmlnode_->variables().get(name)) value = t->longlongvalue();
}

void HxPack::restoreXML(HxString const& name, unsigned char& value) {
  if (xmlnode_ == nullptr) return;
  if (HxString* t = xmlnode_->variables().get(name)) value = t->integervalue() != 0 ? 1 : 0;
}

void HxPack::restoreXML(HxString const& name, float& value) {
  if (xmlnode_ == nullptr) return;
  if (HxString* t = xmlnode_->variables().get(name)) value = t->floatvalue();
}

void HxPack::restoreXML(HxString const& name, char& value) {
  if (xmlnode_ == nullptr) return;
  HxString* t = xmlnode_->variables().get(name);
  if (t != nullptr && t->length() > 0) value = static_cast<char>(t->integervalue());
}

bool HxPack::restoreXML(HxString const& name, HxPack& child) {
  if (xmlnode_ == nullptr) return false;
  HxPackObj* node = xmlnode_->elements().get(name);
  if (node == nullptr) return false;
  child.xmlnode_ = node;
  bool r = child.decodeXML();
  child.xmlnode_ = nullptr;
  return r;
}

#include "core/pack/HxPackage.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "core/HxFile.h"
#include "core/HxLimits.h"

namespace {

// ---- shared by both implementations --------------------------------------

bool is_compact_special(char c) { return c == '(' || c == ')' || c == '=' || c == '\\'; }

// Appends text with the compact escapes.
void append_escaped(std::string& out, char const* text, int n) {
  for (int i = 0; i < n; ++i) {
    if (is_compact_special(text[i])) out += '\\';
    out += text[i];
  }
}

// The package XML writer uses the compact escapes and also escapes "<" and
// the double quote, which would otherwise end a value or a name attribute
// early; its reader undoes them, so every text survives a round trip.
void append_xml_escaped(std::string& out, char const* text, int n) {
  for (int i = 0; i < n; ++i) {
    char c = text[i];
    if (is_compact_special(c) || c == '<' || c == '"') out += '\\';
    out += c;
  }
}

// Reader over compact text. A backslash makes the next character stand for
// itself; a backslash at the very end is dropped.
struct CompactReader {
  char const* text;
  int len;
  int pos = 0;

  // Reads up to the first unescaped stop character or the end.
  std::string read(char stop1, char stop2) {
    std::string out;
    while (pos < len) {
      char c = text[pos];
      if (c == stop1 || c == stop2) break;
      if (c == '\\') {
        ++pos;
        if (pos >= len) break;
        c = text[pos];
      }
      out += c;
      ++pos;
    }
    return out;
  }
  void step() {
    if (pos < len) ++pos;
  }
};

// Builds a tree from compact text. Ops supplies: Node* make(), void
// fill(Node*, name, value), void add(Node* parent, Node* child), void
// drop(Node*). Nesting deeper than kHxMaxPackageDepth ends the read: the
// rest of the text is dropped and every open node ends there.
template <class Node, class Ops>
bool expand_compact(CompactReader& r, Node* node, int depth, Ops& ops) {
  if (r.pos >= r.len || r.text[r.pos] != '(') return false;
  ++r.pos;
  std::string name = r.read('=', '=');
  r.step();
  std::string value = r.read('(', ')');
  ops.fill(node, name, value);
  while (r.pos < r.len && r.text[r.pos] != ')') {
    if (depth >= kHxMaxPackageDepth) {
      r.pos = r.len;
      break;
    }
    Node* child = ops.make();
    if (expand_compact(r, child, depth + 1, ops)) {
      ops.add(node, child);
    } else {
      ops.drop(child);
      r.step();
    }
  }
  r.step();
  return true;
}

// Depth-first walk with an explicit stack. enter(node, parent, index, depth)
// runs before a node's children, leave(node, depth) after them.
template <class Node, class Count, class Child, class Enter, class Leave>
void walk(Node* root, Count count, Child child, Enter enter, Leave leave) {
  struct Frame {
    Node* node;
    int next;
    int depth;
  };
  std::vector<Frame> stack;
  enter(root, static_cast<Node*>(nullptr), 0, 0);
  stack.push_back(Frame{root, 0, 0});
  while (!stack.empty()) {
    Frame f = stack.back();
    if (f.next < count(f.node)) {
      ++stack.back().next;
      Node* c = child(f.node, f.next);
      if (c == nullptr) continue;
      enter(c, f.node, f.next, f.depth + 1);
      stack.push_back(Frame{c, 0, f.depth + 1});
    } else {
      leave(f.node, f.depth);
      stack.pop_back();
    }
  }
}

}  // namespace

// ---- HxPackageList ---------------------------------------------------------

HxPackage* HxPackageList::replace(int i, HxPackage* node) {
  if (i < 0 || i >= length()) return nullptr;
  HxPackage* old = items_[first_ + i];
  items_[first_ + i] = node;
  return old;
}

// ---- HxPackage -------------------------------------------------------------

HxPackage::HxPackage(HxString const& value) : value_(value) {}

HxPackage::HxPackage(HxString const& name, HxString const& value) : name_(name), value_(value) {}

HxPackage::HxPackage(HxPackage const& other) : HxBase(other) { copy(other); }

HxPackage& HxPackage::operator=(HxPackage const& other) {
  copy(other);
  return *this;
}

HxPackage::~HxPackage() { clear(); }

void HxPackage::copy(HxPackage const& other) {
  if (&other == this) return;
  // Copy into a fresh tree first: other may be one of our own descendants.
  HxPackage fresh;
  fresh.name_ = other.name_;
  fresh.value_ = other.value_;
  std::vector<std::pair<HxPackage const*, HxPackage*>> work{{&other, &fresh}};
  while (!work.empty()) {
    auto [src, dst] = work.back();
    work.pop_back();
    for (int i = 0; i < src->length(); ++i) {
      HxPackage const* c = src->get(i);
      HxPackage* d = new HxPackage(c->name_, c->value_);
      dst->children_.append(d);
      work.emplace_back(c, d);
    }
  }
  clear();
  name_ = fresh.name_;
  value_ = fresh.value_;
  for (int i = 0; i < fresh.length(); ++i) children_.append(fresh.get(i));
  fresh.release();
}

int HxPackage::objtype() const {
  if (children_.length() == 0) return 4;
  return children_.get(0)->name_.length() != 0 ? 1 : 2;
}

void HxPackage::push(HxString const& value) { children_.append(new HxPackage(value)); }

void HxPackage::push(HxPackage* child) {
  if (child != nullptr && child != this) children_.append(child);
}

void HxPackage::set(HxString const& name, HxString const& value) { set(new HxPackage(name, value)); }

void HxPackage::set(HxPackage* child) {
  if (child == nullptr || child == this) return;
  for (int i = 0; i < children_.length(); ++i) {
    if (children_.get(i)->name_ == child->name_) {
      HxPackage* old = children_.replace(i, child);
      if (old != child) delete old;
      return;
    }
  }
  children_.append(child);
}

void HxPackage::set(HxString const& name, HxPackage* child) {
  if (child == nullptr) return;
  child->name_ = name;
  set(child);
}

void HxPackage::set(int i, HxPackage* child) {
  if (child == nullptr || child == this || i < 0 || i >= children_.length()) return;
  HxPackage* old = children_.replace(i, child);
  if (old != child) delete old;
}

void HxPackage::clear() {
  // Frees the tree without recursion and without taking memory (it runs
  // while std::bad_alloc unwinds from a tree half built). Going down into a
  // node's last child, the slot that held the child keeps the node's own
  // parent instead; going back up reads it from there.
  HxPackage* node = this;
  HxPackage* up = nullptr;
  for (;;) {
    if (node->children_.length() > 0) {
      HxPackage* child = node->children_.last();
      if (child == nullptr || child->children_.length() == 0) {
        node->children_.drop_last();
        delete child;
      } else {
        node->children_.replace(node->children_.length() - 1, up);
        up = node;
        node = child;
      }
      continue;
    }
    if (node == this) break;
    HxPackage* done = node;
    node = up;
    up = node->children_.last();
    node->children_.drop_last();
    delete done;
  }
}

namespace {

auto const kClassCount = [](HxPackage const* n) { return n->length(); };
auto const kClassChild = [](HxPackage const* n, int i) { return static_cast<HxPackage const*>(n->get(i)); };

}  // namespace

HxString HxPackage::compact() const {
  std::string out;
  walk(
      this, kClassCount, kClassChild,
      [&](HxPackage const* n, HxPackage const*, int, int) {
        out += '(';
        append_escaped(out, n->name_.value(), n->name_.length());
        out += '=';
        append_escaped(out, n->value_.value(), n->value_.length());
      },
      [&](HxPackage const*, int) { out += ')'; });
  return HxString(out.data(), static_cast<int>(out.size()));
}

namespace {

struct ClassOps {
  HxPackage* make() { return new HxPackage(); }
  void fill(HxPackage* n, std::string const& name, std::string const& value) {
    HxString nm = n->name();
    nm.append(name.data(), static_cast<int>(name.size()));
    n->name(nm);
    HxString v = n->value();
    v.append(value.data(), static_cast<int>(value.size()));
    n->value(v);
  }
  void add(HxPackage* parent, HxPackage* child) { parent->push(child); }
  void drop(HxPackage* n) { delete n; }
};

}  // namespace

bool HxPackage::expand(HxString const& text) {
  CompactReader r{text.value(), text.length()};
  ClassOps ops;
  return expand_compact(r, this, 1, ops);
}

void HxPackage::_collect(HxStringList& out) const {
  walk(
      this, kClassCount, kClassChild,
      [&](HxPackage const* n, HxPackage const*, int, int) {
        if (n->name_.length() != 0) out.append(new HxString(n->name_));
        if (n->value_.length() != 0) out.append(new HxString(n->value_));
      },
      [](HxPackage const*, int) {});
}

namespace {

// Appends n spaces; a negative count (from a negative indent) appends none.
void pad(std::string& out, int n) {
  if (n > 0) out.append(static_cast<size_t>(n), ' ');
}

}  // namespace

void HxPackage::_display(int indent) const {
  std::string out;
  walk(
      this, kClassCount, kClassChild,
      [&](HxPackage const* n, HxPackage const*, int, int depth) {
        int in = indent + depth;
        if (n->name_.length() != 0) {
          pad(out, in + 1);
          out.append(n->name_.value(), static_cast<size_t>(n->name_.length()));
          out += " => \n";
        }
        if (n->value_.length() != 0) {
          pad(out, in + 1);
          out.append(n->value_.value(), static_cast<size_t>(n->value_.length()));
          out += '\n';
        }
        if (n->length() != 0) {
          pad(out, in);
          out += n->objtype() == 1 ? "{\n" : "(\n";
        }
      },
      [&](HxPackage const* n, int depth) {
        if (n->length() != 0) {
          pad(out, indent + depth);
          out += n->objtype() == 1 ? "}\n" : ")\n";
        }
      });
  std::cout << out;
  std::cout.flush();
}

// ---- the plain function layer ----------------------------------------------

namespace {

struct StateHolder {
  HxPackageLayerState s;
  ~StateHolder() { delete[] s.cache; }
};

thread_local StateHolder t_state;

void cache_release() {
  HxPackageLayerState& s = hx_package_state();
  delete[] s.cache;
  s.cache = nullptr;
  s.length = 0;
  s.cache_size = 0;
}

// Replaces this thread's result text.
char const* cache_set(std::string const& text) {
  cache_release();
  HxPackageLayerState& s = hx_package_state();
  s.cache = new char[text.size() + 8];
  std::memcpy(s.cache, text.data(), text.size());
  s.cache[text.size()] = 0;
  s.length = static_cast<int>(text.size());
  s.cache_size = static_cast<int>(text.size()) + 8;
  return s.cache;
}

// Replaces a text field of a node and its length by a copy of n bytes, in a
// block of n + 8.
void put_text(char*& field, int& len, char const* text, size_t n) {
  delete[] field;
  field = new char[n + 8];
  std::memcpy(field, text, n);
  field[n] = 0;
  len = static_cast<int>(n);
}

// A name or value read from compact text or package XML: an empty one
// leaves the field null.
void put_read_text(char*& field, int& len, std::string const& text) {
  if (!text.empty()) {
    put_text(field, len, text.data(), text.size());
    return;
  }
  delete[] field;
  field = nullptr;
  len = 0;
}

// The pointer array grows by doubling, so that a long array is not copied
// at every push. Its room is not kept in the node (whose layout callers
// see): it is the smallest power of two not below list_len, so the array is
// full exactly when list_len is 0 or a power of two.
bool list_full(int len) { return (len & (len - 1)) == 0; }

void list_push(_hx_package_pack* node, _hx_package_pack* child) {
  int len = node->list_len;
  if (list_full(len)) {
    size_t room = len == 0 ? 1 : static_cast<size_t>(len) * 2;
    auto** fresh = new _hx_package_pack*[room];
    for (int i = 0; i < len; ++i) fresh[i] = node->list[i];
    delete[] node->list;
    node->list = fresh;
  }
  node->list[node->list_len++] = child;
}

void list_free(_hx_package_pack* node) {
  delete[] node->list;
  node->list = nullptr;
  node->list_len = 0;
}

// Frees a tree without taking memory: it runs while std::bad_alloc unwinds
// from a tree half built. The nodes waiting to be freed are chained through
// their name field, whose text is freed first (a node pointer kept in a
// char* and read back as the node pointer it was).
void node_free(_hx_package_pack* node) {
  auto chain = [](_hx_package_pack* n, _hx_package_pack* next) {
    delete[] n->name;
    n->name = reinterpret_cast<char*>(next);
  };
  chain(node, nullptr);
  _hx_package_pack* pending = node;
  while (pending != nullptr) {
    _hx_package_pack* p = pending;
    pending = reinterpret_cast<_hx_package_pack*>(p->name);
    for (int i = 0; i < p->list_len; ++i) {
      _hx_package_pack* c = p->list[i];
      if (c == nullptr) continue;
      chain(c, pending);
      pending = c;
    }
    list_free(p);
    delete[] p->value;
    delete p;
  }
}

auto const kLayerCount = [](_hx_package_pack* n) { return n->list_len; };
auto const kLayerChild = [](_hx_package_pack* n, int i) { return n->list[i]; };

struct LayerOps {
  _hx_package_pack* make() { return hx_package_new(); }
  void fill(_hx_package_pack* n, std::string const& name, std::string const& value) {
    put_read_text(n->name, n->name_len, name);
    put_read_text(n->value, n->value_len, value);
  }
  void add(_hx_package_pack* parent, _hx_package_pack* child) { list_push(parent, child); }
  void drop(_hx_package_pack* n) { node_free(n); }
};

bool is_hash(_hx_package_pack* n) { return n->list_len > 0 && n->list[0] != nullptr && n->list[0]->name_len != 0; }

// ---- package XML reading ----

struct XmlReader {
  char const* text;
  int len;
  int pos = 0;

  static bool blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
  bool at(char c) const { return pos < len && text[pos] == c; }
  void skip_ws() {
    while (pos < len && blank(text[pos])) ++pos;
  }
  // Characters up to white space or one of the stop characters.
  std::string word(char const* stops) {
    int start = pos;
    while (pos < len && !blank(text[pos]) && std::strchr(stops, text[pos]) == nullptr) ++pos;
    return std::string(text + start, static_cast<size_t>(pos - start));
  }
  // Characters up to the unescaped stop character, with the escapes undone.
  std::string until(char stop) {
    std::string out;
    while (pos < len && text[pos] != stop) {
      if (text[pos] == '\\') {
        ++pos;
        if (pos >= len) break;
      }
      out += text[pos++];
    }
    return out;
  }
  void past(char c) {
    while (pos < len && text[pos] != c) ++pos;
    if (pos < len) ++pos;
  }

  bool end_tag() {
    skip_ws();
    if (!(pos + 1 < len && text[pos] == '<' && text[pos + 1] == '/')) return false;
    pos += 2;
    word(">");
    past('>');
    return true;
  }

  bool element(_hx_package_pack* node, int depth) {
    skip_ws();
    if (!at('<')) return false;
    if (pos + 1 < len && text[pos + 1] == '/') return false;
    if (depth > kHxMaxPackageDepth) {
      pos = len;
      return false;
    }
    ++pos;
    skip_ws();
    std::string tag = word(">");
    bool scalar = tag == "scalar";
    if (!scalar && tag != "array" && tag != "hash") return true;
    for (;;) {
      skip_ws();
      std::string attr = word("=>");
      if (attr.empty()) break;
      skip_ws();
      if (!at('=')) continue;
      ++pos;
      skip_ws();
      std::string value;
      if (at('"') || at('\'')) {
        char q = text[pos++];
        value = until(q);
        if (pos < len) ++pos;
      } else {
        value = word("=>");
      }
      if (attr == "name") {
        put_read_text(node->name, node->name_len, value);
      }
    }
    past('>');
    if (scalar) {
      skip_ws();
      std::string value = until('<');
      put_read_text(node->value, node->value_len, value);
      return end_tag();
    }
    skip_ws();
    while (pos < len && text[pos] != '<') ++pos;
    for (;;) {
      _hx_package_pack* child = hx_package_new();
      if (!element(child, depth + 1)) {
        node_free(child);
        break;
      }
      list_push(node, child);
    }
    return end_tag();
  }
};

}  // namespace

HxPackageLayerState& hx_package_state() { return t_state.s; }

_hx_package_pack* hx_package_new() { return new _hx_package_pack{nullptr, 0, nullptr, 0, nullptr, 0}; }

int hx_package_set_name(_hx_package_pack* node, char const* text) {
  if (node == nullptr || text == nullptr) return 0;
  put_text(node->name, node->name_len, text, std::strlen(text));
  return 1;
}

int hx_package_set_value(_hx_package_pack* node, char const* text) {
  if (node == nullptr || text == nullptr) return 0;
  put_text(node->value, node->value_len, text, std::strlen(text));
  return 1;
}

char const* hx_package_get_name(_hx_package_pack* node) { return node == nullptr ? nullptr : node->name; }
char const* hx_package_get_value(_hx_package_pack* node) { return node == nullptr ? nullptr : node->value; }
int hx_package_name_len(_hx_package_pack* node) { return node == nullptr ? 0 : node->name_len; }
int hx_package_value_len(_hx_package_pack* node) { return node == nullptr ? 0 : node->value_len; }
int hx_package_list_len(_hx_package_pack* node) { return node == nullptr ? 0 : node->list_len; }

_hx_package_pack* hx_package_list_get(_hx_package_pack* node, int i) {
  if (node == nullptr || i < 0 || i >= node->list_len) return nullptr;
  return node->list[i];
}

int hx_package_list_push(_hx_package_pack* node, _hx_package_pack* child) {
  if (node == nullptr || child == nullptr || node == child) return 0;
  list_push(node, child);
  return 1;
}

int hx_package_destroy(_hx_package_pack* node) {
  if (node == nullptr) return 0;
  node_free(node);
  cache_release();
  return 1;
}

namespace {

std::string compact_text(_hx_package_pack* node) {
  std::string out;
  walk(
      node, kLayerCount, kLayerChild,
      [&](_hx_package_pack* n, _hx_package_pack*, int, int) {
        out += '(';
        if (n->name != nullptr) append_escaped(out, n->name, n->name_len);
        out += '=';
        if (n->value != nullptr) append_escaped(out, n->value, n->value_len);
      },
      [&](_hx_package_pack*, int) { out += ')'; });
  return out;
}

}  // namespace

char const* hx_package_compact(_hx_package_pack* node) {
  if (node == nullptr) return nullptr;
  return cache_set(compact_text(node));
}

_hx_package_pack* hx_package_expand(char const* text) {
  if (text == nullptr || text[0] == 0) return nullptr;
  HxPackageLayerState& s = hx_package_state();
  CompactReader r{text, static_cast<int>(std::strlen(text))};
  s.pos = 0;
  s.pos_len = r.len;
  _hx_package_pack* root = hx_package_new();
  LayerOps ops;
  expand_compact(r, root, 1, ops);
  s.pos = r.pos;
  return root;
}

char const* hx_package_xml_compact(_hx_package_pack* node) {
  if (node == nullptr) return nullptr;
  HxPackageLayerState& s = hx_package_state();
  s.indent = 0;
  std::string out;
  auto name_attr = [&](_hx_package_pack* n) {
    if (n->name_len != 0 && n->name != nullptr) {
      out += " name = \"";
      append_xml_escaped(out, n->name, n->name_len);
      out += '"';
    }
  };
  walk(
      node, kLayerCount, kLayerChild,
      [&](_hx_package_pack* n, _hx_package_pack*, int, int depth) {
        out.append(static_cast<size_t>(depth), '\t');
        if (n->list_len == 0) {
          out += "<scalar";
          name_attr(n);
          out += '>';
          if (n->value != nullptr) append_xml_escaped(out, n->value, n->value_len);
          out += "</scalar>\n";
        } else {
          out += is_hash(n) ? "<hash" : "<array";
          name_attr(n);
          out += ">\n";
        }
      },
      [&](_hx_package_pack* n, int depth) {
        if (n->list_len == 0) return;
        out.append(static_cast<size_t>(depth), '\t');
        out += is_hash(n) ? "</hash>\n" : "</array>\n";
      });
  return cache_set(out);
}

_hx_package_pack* hx_package_xml_expand(char const* text) {
  if (text == nullptr || text[0] == 0) return nullptr;
  HxPackageLayerState& s = hx_package_state();
  XmlReader r{text, static_cast<int>(std::strlen(text))};
  s.pos = 0;
  s.pos_len = r.len;
  _hx_package_pack* root = hx_package_new();
  r.element(root, 1);
  s.pos = r.pos;
  return root;
}

int hx_package_archive(_hx_package_pack* node, char const* path) {
  if (node == nullptr || path == nullptr) return 0;
  // Through HxFileReplacement: where the file can be replaced, it is
  // replaced only once the text is written whole.
  HxFileReplacement file(HxString(path), HxFileReplacement::kAsWrittenInPlace);
  if (!file.ok()) return 0;
  char const* text = hx_package_compact(node);
  int n = hx_package_state().length;
  if (text == nullptr || n <= 0) return 0;
  file.write(text, n);
  return file.commit() ? 1 : 0;
}

_hx_package_pack* hx_package_recover(char const* path) {
  if (path == nullptr) return nullptr;
  // Only a regular file is read, whole and within the bound; a read that
  // failed part way would give a tree cut short, so nothing is recovered
  // then, as for a file that cannot be opened.
  HxString text;
  if (!HxFile::_read(HxString(path), text, kHxMaxFileBytes - 1)) return nullptr;
  // The text ends at the first NUL byte of the file.
  return hx_package_expand(text.value());
}

HxString _pack(_hx_package_pack* node, int indent) {
  if (node == nullptr) return HxString("");
  std::string out;
  walk(
      node, kLayerCount, kLayerChild,
      [&](_hx_package_pack* n, _hx_package_pack* parent, int index, int depth) {
        if (parent != nullptr) {
          for (int i = 0; i < indent + depth - 1; ++i) out += "   ";
          if (is_hash(parent)) {
            if (n->name != nullptr) out.append(n->name, static_cast<size_t>(n->name_len));
          } else {
            out += std::to_string(index);
          }
          out += ": ";
        }
        if (n->list_len == 0 && n->value != nullptr) out.append(n->value, static_cast<size_t>(n->value_len));
        out += '\n';
      },
      [](_hx_package_pack*, int) {});
  return HxString(out.data(), static_cast<int>(out.size()));
}

HxString hxdecodepackage(HxString const& text) {
  _hx_package_pack* tree = hx_package_expand(text.value());
  if (tree == nullptr) return HxString("");
  HxString out = _pack(tree, 0);
  hx_package_destroy(tree);
  return out;
}

HxString hxdecodepackagexml(HxString const& text) {
  _hx_package_pack* tree = hx_package_expand(text.value());
  if (tree == nullptr) return HxString("");
  char const* xml = hx_package_xml_compact(tree);
  HxString out(xml, hx_package_state().length);
  hx_package_destroy(tree);
  return out;
}

void _hx_space(int n) {
  for (int i = 0; i < n; ++i) std::cout << ' ';
}

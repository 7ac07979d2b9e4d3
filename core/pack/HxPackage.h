#pragma once

#include "core/HxList.h"
#include "core/HxString.h"

class HxPackage;

// The children of a package node, owned and in order.
class HxPackageList : public HxBaseList<HxPackage> {
 public:
  // Puts the node at index i and returns the one it displaces (not
  // destroyed); null when i is not a valid index.
  HxPackage* replace(int i, HxPackage* node);
  // The last node (null when empty), and its removal without destroying it.
  HxPackage* last() const { return length() > 0 ? items_[last_] : nullptr; }
  void drop_last() {
    if (length() > 0) --last_;
  }
};

// A nested value: a scalar (no children), a hash (the first child is named)
// or an array (the first child is unnamed). Its compact text is
// "(" name "=" value children... ")" with "(", ")", "=" and backslash escaped
// by a backslash.
//
// Walks over the tree (copy, compaction, display) use an explicit stack and
// destruction takes no memory at all, so trees of any depth are safe;
// reading text stops at kHxMaxPackageDepth.
class HxPackage : public HxBase {
 public:
  HxPackage() = default;
  explicit HxPackage(HxString const& value);
  HxPackage(HxString const& name, HxString const& value);
  HxPackage(HxPackage const& other);
  HxPackage& operator=(HxPackage const& other);
  ~HxPackage() override;

  int type() const override { return 167; }
  void copy(HxPackage const& other);

  HxString const& name() const { return name_; }
  HxString const& value() const { return value_; }
  void name(HxString const& name) { name_ = name; }
  void value(HxString const& value) { value_ = value; }

  // 4 scalar, 1 hash, 2 array.
  int objtype() const;
  int length() const { return children_.length(); }
  HxPackage* get(int i) const { return children_.get(i); }

  void push(HxString const& value);
  void push(HxPackage* child);
  void set(HxString const& name, HxString const& value);
  void set(HxPackage* child);
  void set(HxString const& name, HxPackage* child);
  void set(int i, HxPackage* child);
  // Forgets the children without destroying them.
  void release() { children_.forget(); }
  // Destroys the children.
  void clear();

  HxString compact() const;
  // Reads compact text into this node, appending to its name and value.
  // False when the text does not begin with "(".
  bool expand(HxString const& text);

  void _collect(HxStringList& out) const;
  void _display(int indent) const;

 private:
  HxString name_;
  HxString value_;
  HxPackageList children_;
};

// ---- the plain function layer ------------------------------------------

// A node of the function layer. Callers read and allocate this structure
// directly, so its layout is fixed: six fields, in this order.
struct _hx_package_pack {
  char* name;
  int name_len;
  char* value;
  int value_len;
  _hx_package_pack** list;
  int list_len;
};

// The layer's working state. Each thread has its own, so the result buffer
// of one thread's compaction is never replaced by another thread.
struct HxPackageLayerState {
  char* cache = nullptr;  // result of the last compaction on this thread
  int length = 0;         // its length
  int cache_size = 0;     // its capacity
  int indent = 0;         // nesting level of the package XML writer
  int pos = 0;            // position in the text being expanded
  int pos_len = 0;        // length of that text
};
HxPackageLayerState& hx_package_state();

_hx_package_pack* hx_package_new();
int hx_package_set_name(_hx_package_pack* node, char const* text);
int hx_package_set_value(_hx_package_pack* node, char const* text);
char const* hx_package_get_name(_hx_package_pack* node);
char const* hx_package_get_value(_hx_package_pack* node);
int hx_package_name_len(_hx_package_pack* node);
int hx_package_value_len(_hx_package_pack* node);
int hx_package_list_len(_hx_package_pack* node);
_hx_package_pack* hx_package_list_get(_hx_package_pack* node, int i);
int hx_package_list_push(_hx_package_pack* node, _hx_package_pack* child);
// Frees the tree and this thread's result text.
int hx_package_destroy(_hx_package_pack* node);
// The returned text belongs to the layer: valid on this thread until its next
// compaction, archive or destroy.
char const* hx_package_compact(_hx_package_pack* node);
_hx_package_pack* hx_package_expand(char const* text);
char const* hx_package_xml_compact(_hx_package_pack* node);
_hx_package_pack* hx_package_xml_expand(char const* text);
int hx_package_archive(_hx_package_pack* node, char const* path);
_hx_package_pack* hx_package_recover(char const* path);

// Indented text dump of a tree.
HxString _pack(_hx_package_pack* node, int indent);
HxString hxdecodepackage(HxString const& text);
HxString hxdecodepackagexml(HxString const& text);
void _hx_space(int n);

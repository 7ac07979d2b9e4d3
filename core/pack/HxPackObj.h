#pragma once

#include <cstddef>
#include <cstdint>

#include "core/HxBase.h"

class HxXmlTree;

// One node of the tree the XML reader builds: an object element. Its value
// elements and nested objects are held by the tree of the document, under
// the names the reader gave them, and looked up through the node.
class HxPackObj : public HxBase {
 public:
  HxPackObj(HxXmlTree* tree, uint32_t index) : tree_(tree), index_(index) {}
  int type() const override { return 156; }

  // The nested object stored under this name, or null.
  HxPackObj* element(char const* name) const;
  // The text stored under this name (NUL-terminated; its length in *n), or
  // null.
  char const* variable(char const* name, int* n) const;
  HxXmlTree* tree() const { return tree_; }

 private:
  HxXmlTree* tree_;
  uint32_t index_;
};

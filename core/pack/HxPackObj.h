#pragma once

#include "core/HxHash.h"
#include "core/HxString.h"

class HxPackObj;
using HxPackObjHash = HxBaseHash<HxPackObj>;

// One node of the tree the XML reader builds: the nested objects found in an
// object element by element name, and its value elements by name.
class HxPackObj : public HxBase {
 public:
  HxPackObj() = default;
  HxPackObj(HxPackObj const&) = delete;
  HxPackObj& operator=(HxPackObj const& other) {
    copy(other);
    return *this;
  }
  int type() const override { return 156; }
  virtual void copy(HxPackObj const&) {}

  HxPackObjHash& elements() { return elements_; }
  HxBaseHash<HxString>& variables() { return variables_; }
  HxString& cache() { return cache_; }
  HxString& name() { return name_; }

  // A key for a new entry named like the open element: name, then name1,
  // name2, ... whichever is free first in the given table. The counter of a
  // name is kept only once the name repeats.
  template <class T>
  HxString* freeKey(HxBaseHash<T> const& table, HxSimpleHash<int>& next) {
    if (table.get(name_) == nullptr) return new HxString(name_);
    int* kept = next._find(name_);
    int i = kept != nullptr && *kept > 1 ? *kept : 1;
    auto* key = new HxString();
    for (;; ++i) {
      key->copy(name_);
      *key += i;
      if (table.get(*key) == nullptr) break;
    }
    if (kept != nullptr) {
      *kept = i + 1;
    } else {
      next.set(i + 1, name_);
    }
    return key;
  }
  HxSimpleHash<int>& nextElement() { return next_element_; }
  HxSimpleHash<int>& nextVariable() { return next_variable_; }

 private:
  HxPackObjHash elements_;
  HxBaseHash<HxString> variables_;
  HxString cache_;
  HxString name_;
  // Where the search for a free numbered key starts, per name: the reader
  // only ever adds keys, so every smaller number is taken already.
  HxSimpleHash<int> next_element_;
  HxSimpleHash<int> next_variable_;
};

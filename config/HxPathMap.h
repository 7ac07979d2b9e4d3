#pragma once

#include <tuple>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

class HxConfigFile;

// A direct path map: source path texts and what each is replaced with, in
// the order they were added, so that a path written on one machine names the
// same place on another. Its text form is a sectioned configuration text
// whose section "direct" holds one 'source = replacement' option per mapping.
//
// Each source is listed once, at the place where it was first added; adding
// it again only replaces its replacement.
class HxPathMap : public HxRecord<HxPathMap> {
 public:
  HxPathMap() = default;
  explicit HxPathMap(HxString const& file);
  HxPathMap(HxPathMap const& other);
  HxPathMap& operator=(HxPathMap const& other);
  ~HxPathMap() override = default;

  int type() const override { return 154; }
  HxString typeXML() const override { return HxString("pathmap"); }

  void copy(HxPathMap const& other);

  // Reads the section "direct" of a sectioned configuration file; mappings
  // already held stay.
  void load(HxString const& file);
  // As load, but options before any header belong to "direct" too.
  void parse(HxString const& text);
  void revert(HxString const& text) { parse(text); }
  void revert(char const* text, int length);

  // "[direct]\n" and one 'source=replacement' line per mapping.
  HxString convert() const;

  bool addToDirectMap(HxString const& key, HxString const& value);
  HxStringHash& directmap() { return map_; }
  HxStringList const& directmap_keys() const { return list_; }

  bool valid() const { return map_.count() > 0; }
  bool is_empty() const { return map_.count() == 0; }

  // Calls f(source, replacement) for each mapping in list order. A record
  // decoded from elsewhere may list a source twice or list sources the map
  // lacks: each source is taken once, at its first place, and only when it
  // is mapped.
  template <class F>
  void _mappings(F&& f) const {
    HxSimpleHash<int> seen;
    for (int i = 0; i < list_.length(); ++i) {
      HxString const& key = *list_.get(i);
      HxString const* value = map_.get(key);
      if (value == nullptr || seen.get(key) != 0) continue;
      seen.set(1, key);
      f(key, *value);
    }
  }

  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "direct_map", &HxPathMap::map_),
                           hx_field(2, "direct_list", &HxPathMap::list_));
  }

 private:
  void read_(HxConfigFile& file);

  HxStringHash map_;
  HxStringList list_;
};

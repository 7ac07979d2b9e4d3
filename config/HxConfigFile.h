#pragma once

#include <set>
#include <utility>
#include <vector>

#include "config/HxConfig.h"
#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"

// Sections by name; owns them. Travels as a hash record of type 51.
class HxConfigHash : public HxHash<HxConfig> {
 public:
  int type() const override { return 51; }
  HxString typeXML() const override { return HxString("config_list"); }
  void copy(HxConfigHash const& other) { HxBaseHash<HxConfig>::copy(other); }
  // Empties the table without destroying the sections (their keys go).
  void forget();
};

// An owning list of sections; the same type number and tag as the hash.
HX_NAMED_LIST(HxConfigList, HxConfig, 51, "config_list");

// A configuration file divided into sections: '[name]' headers (a header may
// name several sections through range patterns: '[node[1-3]]'), parents
// after a ':' whose options are copied in, 'key = value' lines, and '$'
// references to options of the same or another section, expanded once the
// whole text has been read. Each section is one HxConfig named after it.
class HxConfigFile : public HxBase {
 public:
  HxConfigFile();
  HxConfigFile(HxString const& path, unsigned char lower);
  HxConfigFile(HxConfigFile const&) = delete;
  HxConfigFile& operator=(HxConfigFile const&) = delete;
  ~HxConfigFile() override;

  int type() const override { return 80; }

  // Reads the text into sections. Reading stops at the first line that is
  // neither a header nor a key = value line; what was read stays.
  void parse(HxString const& text);

  HxConfig* config(HxString const& name) const { return sections_.get(name); }
  void keys(HxStringList& out) const;
  void display() const;
  HxConfigHash* export_hash() const;
  void release() { sections_.forget(); }

  HxString const& default_section_name() const { return default_; }
  void default_section_name(HxString const& name) { default_ = name; }

  static void tokenize(HxString const& text, HxStringList& out);
  static void stringtokenize(HxString const& value, HxStringList& out);
  static HxString _localvalue(HxString const& section, HxString const& value);
  HxString _value(HxString const& current, HxString const& self, HxString const& value) const;

 private:
  // The sections and keys whose values are being expanded, outermost first.
  using Active = std::vector<std::pair<HxString, HxString>>;

  HxString expand_(HxString const& current, HxString const& self, HxString const& value, Active& active,
                   long long& budget) const;
  HxConfig* section_(HxString const& name, std::vector<HxConfig*>& created);

  // The steps of parse; each returns false when reading stops there.
  struct ParseState;
  bool parse_header_(ParseState& st);
  HxString const& header_text_(ParseState& st, bool& closed) const;
  bool copy_parents_(ParseState& st, HxString const& header);
  bool parse_option_(ParseState& st);
  static HxString const& option_value_(ParseState& st, int v);
  void expand_created_(std::vector<HxConfig*> const& created, std::set<HxConfig*> const& referencing);

  HxConfigHash sections_;
  HxString default_;
  unsigned char lower_ = 0;
};

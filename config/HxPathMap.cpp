#include "config/HxPathMap.h"

#include "config/HxConfig.h"
#include "config/HxConfigFile.h"
#include "core/HxPath.h"

namespace {

// Whether a text written bare would be read back differently: blanks and the
// bytes that open strings, blocks and comments split or drop parts of it, and
// in a key every byte that is a token of its own ends it.
bool needs_quotes(HxString const& text, bool key) {
  if (key && text.length() == 0) return true;
  if (text.multiline()) return false;  // a string cannot span lines
  for (int i = 0; i < text.length(); ++i) {
    switch (text.get(i)) {
      case ' ': case '\t': case '"': case '#': case '{':
        return true;
      case '}': case '[': case ']': case ':': case '=': case '\\':
        if (key) return true;
        break;
      default:
        break;
    }
  }
  return false;
}

HxString as_text(HxString const& text, bool key) {
  if (!needs_quotes(text, key)) return text;
  HxString out("\"");
  for (int i = 0; i < text.length(); ++i) {
    char c = text.get(i);
    if (c == '"' || c == '\\') out.append('\\');
    out.append(c);
  }
  out.append('"');
  return out;
}

}  // namespace

HxPathMap::HxPathMap(HxString const& file) { load(file); }

HxPathMap::HxPathMap(HxPathMap const& other) : HxRecord<HxPathMap>() { copy(other); }

HxPathMap& HxPathMap::operator=(HxPathMap const& other) {
  copy(other);
  return *this;
}

void HxPathMap::copy(HxPathMap const& other) {
  if (&other == this) return;
  map_.copy(other.map_);
  list_.copy(other.list_);
}

void HxPathMap::load(HxString const& file) {
  HxConfigFile sections(file, 0);
  read_(sections);
}

void HxPathMap::parse(HxString const& text) {
  HxConfigFile sections;
  sections.default_section_name("direct");
  sections.parse(text);
  read_(sections);
}

void HxPathMap::revert(char const* text, int length) {
  if (text == nullptr || length < 0) length = 0;
  parse(HxString(text != nullptr ? text : "", length));
}

void HxPathMap::read_(HxConfigFile& file) {
  HxConfig* direct = file.config("direct");
  if (direct == nullptr) return;
  HxStringList names;
  direct->labels(names);
  for (int i = 0; i < names.length(); ++i) addToDirectMap(*names.get(i), direct->option(*names.get(i)));
}

bool HxPathMap::addToDirectMap(HxString const& key, HxString const& value) {
  _hx_ordered_set(list_, map_, key, value);
  return true;
}

HxString HxPathMap::convert() const {
  HxString out("[direct]\n");
  _mappings([&out](HxString const& key, HxString const& value) {
    out += as_text(key, true);
    out += "=";
    out += as_text(value, false);
    out += "\n";
  });
  return out;
}

// A member of HxPath, defined here because it needs the path map: core stays
// below config/.
HxString HxPath::translate(HxPathMap& map) const {
  HxString result(path_);
  // Earlier sources act first; a later one also sees what they produced.
  map._mappings([&result](HxString const& key, HxString const& value) { result = result.replacevalue(key, value, 0); });
  return result;
}

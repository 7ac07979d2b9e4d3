#include "config/HxConfig.h"

#include <unistd.h>

#include <cstdio>

#include "config/HxConfigLimits.h"
#include "core/HxFile.h"

namespace {

// Blanks of the flat scanner: line feeds are not blanks, they end lines.
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

void write_out(HxString const& text) {
  if (text.length() > 0) std::fwrite(text.value(), 1, static_cast<size_t>(text.length()), stdout);
}

char const kNotIncluded[] = "# these are not included in the template";

}  // namespace

HxConfig::HxConfig() = default;

HxConfig::HxConfig(HxString const& path) { load(path); }

HxConfig::HxConfig(HxConfig const& other) : HxRecord<HxConfig>() { copy(other); }

HxConfig& HxConfig::operator=(HxConfig const& other) {
  copy(other);
  return *this;
}

HxConfig::~HxConfig() = default;

void HxConfig::copy(HxConfig const& other) {
  if (&other == this) return;
  address_ = other.address_;
  name_ = other.name_;
  options_.copy(other.options_);
  if (other.optionlist_.length() > 0) {
    labels_into_(other.optionlist_, optionlist_);
  } else {
    options_.copykeys(optionlist_);
  }
}

// ---- reading -------------------------------------------------------------

void HxConfig::load(HxString const& path) {
  // Only a regular file within the bound is read: a directory, a pipe (which
  // would wait for a writer), a device (which may never end) or a read that
  // fails counts as unreadable.
  HxString text("");
  if (!HxFile::_read(path, text, kHxMaxConfigFileBytes)) {
    valid_ = 0;
    return;
  }
  text_ = text;
  pos_ = 0;
  valid_ = 1;
  scan_();
}

bool HxConfig::parse(HxString const& text) {
  text_ = text;
  pos_ = 0;
  valid_ = 1;
  scan_();
  return true;
}

bool HxConfig::revert(HxString const& text) { return parse(text); }

void HxConfig::scan_() {
  ptr_ = text_.value();
  len_ = text_.length();
  while (!eof()) {
    _whitespace();
    if (eof()) break;
    if (_header()) continue;
    if (_comment()) continue;
    if (!_option()) ++pos_;
  }
}

bool HxConfig::_whitespace() {
  while (!eof() && is_blank(ptr_[pos_])) ++pos_;
  return false;
}

void HxConfig::skip_line_() {
  while (!eof())
    if (get() == '\n') break;
}

bool HxConfig::_comment() {
  if (peek() != '#' || eof()) return false;
  skip_line_();
  return true;
}

// Section headers mean nothing here: options of every section fall into the
// one table, and the rest of the header's line is scanned as usual.
bool HxConfig::_header() {
  if (peek() != '[' || eof()) return false;
  while (!eof())
    if (get() == ']') break;
  return true;
}

bool HxConfig::_option() {
  _whitespace();
  if (eof()) return false;
  if (peek() == '#') {
    _comment();
    return false;
  }
  HxString key("");
  for (;;) {
    if (eof()) return false;
    char c = get();
    if (is_blank(c)) continue;
    // A line without "=" is abandoned; after a "#" the rest of the line is
    // scanned as new text.
    if (c == '\n' || c == '#') return true;
    if (c == '=') break;
    key.append(c);
  }
  HxString value("");
  if (!_value(value)) return false;
  option(key, value);
  return true;
}

bool HxConfig::_value(HxString& out) {
  out = "";
  if (eof()) return false;
  _whitespace();
  if (eof()) return true;
  char open = peek();
  if (open == '"' || open == '\'') {
    ++pos_;
    while (!eof()) {
      char c = get();
      if (c == open) {
        skip_line_();
        break;
      }
      if (c == '\n') break;
      if (c != '\r') out.append(c);
    }
    return true;
  }
  if (open == '{') {
    ++pos_;
    int depth = 1;
    while (!eof()) {
      char c = get();
      if (c == '\r') continue;
      if (c == '{') {
        ++depth;
      } else if (c == '}') {
        if (depth == 1) {
          skip_line_();
          break;
        }
        --depth;
      }
      out.append(c);
    }
    return true;
  }
  // A bare value runs to the first blank, line feed or "#"; bytes of 0x80 and
  // above belong to it (UTF-8 paths).
  while (!eof()) {
    char c = get();
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '#') {
      if (c != '\n') skip_line_();
      break;
    }
    out.append(c);
  }
  return true;
}

// ---- options -------------------------------------------------------------

HxString const& HxConfig::option(HxString const& key) const {
  HxString const* v = options_.get(key);
  return v != nullptr ? *v : empty_;
}

void HxConfig::option(HxString const& key, HxString const& value) {
  _hx_ordered_set(optionlist_, options_, key, value);
}

void _hx_ordered_set(HxStringList& list, HxStringHash& table, HxString const& key, HxString const& value) {
  // While list and table hold as many keys, a key is listed exactly when the
  // table holds it. A record decoded from elsewhere (or a table changed from
  // outside) may list keys the table lacks or lack keys it holds: then the
  // list itself tells, so no key is listed twice and none stays unlisted.
  bool listed = list.length() == table.count() ? table.get(key) != nullptr : list.find(key) >= 0;
  if (!listed) list.append(HxString::_new(key));
  table.set(HxString::_new(value), key);
}

bool HxConfig::exists(HxString const& key) const { return options_.get(key) != nullptr; }

bool HxConfig::remove(HxString const& key) {
  HxString* v = options_.remove(key);
  bool in_table = v != nullptr;
  delete v;
  int at = optionlist_.find(key);
  if (at < 0) return false;
  HxStringList rest;
  for (int i = 0; i < optionlist_.length(); ++i) {
    if (i == at)
      delete optionlist_.get(i);
    else
      rest.append(optionlist_.get(i));
  }
  optionlist_.forget();
  optionlist_.steal(rest);
  return in_table;
}

HxStringList* HxConfig::optionlist() const {
  HxStringList* out = new HxStringList();
  labels(*out);
  return out;
}

void HxConfig::labels(HxStringList& out) const {
  if (&out == &optionlist_) return;
  labels_into_(optionlist_, out);
}

// Replaces out with copies of the keys of list, each made in one block.
void HxConfig::labels_into_(HxStringList const& list, HxStringList& out) {
  out.clear();
  for (int i = 0; i < list.length(); ++i) out.append(HxString::_new(*list.get(i)));
}

bool HxConfig::matchsubset(HxConfig& other) const {
  for (int i = 0; i < other.optionlist_.length(); ++i) {
    HxString const& key = *other.optionlist_.get(i);
    if (option(key) != other.option(key)) return false;
  }
  return true;
}

void HxConfig::inherit(HxConfig& other) {
  for (int i = 0; i < other.optionlist_.length(); ++i) {
    HxString key(*other.optionlist_.get(i));
    option(key, HxString(other.option(key)));
  }
}

// ---- writing -------------------------------------------------------------

HxString HxConfig::_format(HxString const& value) {
  if (value.multiline()) return "{" + value + "}";
  char const first = value.get(0);
  bool const bare = !value.hasspace() && !value.haschar('#') && first != '"' && first != '\'' && first != '{';
  if (bare) return value;
  // A quoted value ends at its own quote: take the one the value lacks.
  if (!value.haschar('"')) return "\"" + value + "\"";
  if (!value.haschar('\'')) return "'" + value + "'";
  return value;  // holds both quotes: no form reads it back whole
}

HxString HxConfig::convert() const {
  HxString out("");
  for (int i = 0; i < optionlist_.length(); ++i) {
    HxString const& key = *optionlist_.get(i);
    out += key;
    out += " = ";
    out += _format(option(key));
    out += "\n";
  }
  return out;
}

void HxConfig::display() const {
  HxString line("items: ");
  line += optionlist_.length();
  line += "\n";
  write_out(line);
  std::fflush(stdout);
  for (int i = 0; i < optionlist_.length(); ++i) {
    HxString const& key = *optionlist_.get(i);
    line = "";
    line += i;
    line += ": ";
    line += key;
    line += "=";
    line += option(key);
    line += "\n";
    write_out(line);
    std::fflush(stdout);
  }
}

HxString HxConfig::usetemplate(HxString const& text) const {
  HxString out("");
  HxSimpleHash<int> written;
  char const* p = text.value();
  int n = text.length();
  int start = 0;
  while (start < n) {
    // A logical line ends at a line feed outside braces.
    int balance = 0;
    int end = start;
    while (end < n) {
      char c = p[end];
      if (c == '{') ++balance;
      if (c == '}') --balance;
      if (c == '\n' && balance <= 0) break;
      ++end;
    }
    HxString line(p + start, end - start);
    start = end + 1;

    if (line.length() == 0) {
      out += "\n";
      continue;
    }
    bool commented = line.get(0) == '#';
    int k = commented ? 1 : 0;
    while (k < line.length() && !(line.get(k) >= 'a' && line.get(k) <= 'z')) ++k;
    bool assignment = false;
    HxString key("");
    if (k < line.length()) {
      for (; k < line.length(); ++k) {
        char c = line.get(k);
        if (c == '=') {
          assignment = true;
          break;
        }
        if (c == '.') break;
        if (c != ' ' && c != '\t') key.append(c);
      }
    }
    if (assignment && exists(key)) {
      if (written.get(key) != 0) continue;
      out += key;
      out += " = ";
      out += _format(option(key));
      out += "\n";
      written.set(1, key);
    } else if (assignment && !commented) {
      out += "#";
      out += line;
      out += "\n";
    } else if (line != HxString(kNotIncluded)) {
      out += line;
      out += "\n";
    }
  }

  bool header = false;
  for (int i = 0; i < optionlist_.length(); ++i) {
    HxString const& key = *optionlist_.get(i);
    if (written.get(key) != 0) continue;
    if (!header) {
      out += kNotIncluded;
      out += "\n";
      header = true;
    }
    out += key;
    out += " = ";
    out += _format(option(key));
    out += "\n";
    written.set(1, key);
  }
  if (header) out += "\n";
  return out;
}

HxString HxConfig::loadtemplate(HxString const& path) const { return usetemplate(HxFile::load(path)); }

HxString HxConfig::host() const {
  char buffer[1024] = {0};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return HxString("");
  return HxString(buffer);
}

int _hx_config_cmp(HxString* a, HxString* b) {
  if (*a > *b) return 1;
  if (*a < *b) return -1;
  return 0;
}

int hx_config_sort_func(HxString* a, HxString* b) { return _hx_config_cmp(a, b); }

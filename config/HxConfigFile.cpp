#include "config/HxConfigFile.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/HxConfigLimits.h"
#include "core/HxFile.h"
#include "expr/HxRange.h"

namespace {

bool is_text(HxString const& t, char c) { return t.length() == 1 && t.get(0) == c; }

// Whether a value holds a '$', the only byte that starts a reference.
bool has_reference(HxString const& value) {
  return value.length() > 0 && std::memchr(value.value(), '$', static_cast<size_t>(value.length())) != nullptr;
}

// Control bytes go; printable ASCII, tab, line feed and carriage return stay,
// and so do bytes of 0x80 and above, so that UTF-8 paths and names survive.
HxString clean_text(HxString const& text) {
  HxString out("");
  for (int i = 0; i < text.length(); ++i) {
    unsigned char c = static_cast<unsigned char>(text.get(i));
    if ((c >= 32 && c != 127) || c == '\t' || c == '\n' || c == '\r') out.append(static_cast<char>(c));
  }
  return out;
}

// Whether clean_text would drop any byte.
bool has_control(HxString const& text) {
  char const* p = text.value();
  for (int i = 0; i < text.length(); ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if ((c < 32 || c == 127) && c != '\t' && c != '\n' && c != '\r') return true;
  }
  return false;
}

}  // namespace

void HxConfigHash::forget() {
  for (int i = 0; i < slots_(); ++i) {
    if (used_(i)) delete key_(i);
    key_(i) = nullptr;
    value_(i) = nullptr;
  }
  count_ = 0;
}

HxConfigFile::HxConfigFile() : default_("default") {}

HxConfigFile::HxConfigFile(HxString const& path, unsigned char lower) : default_("default"), lower_(lower) {
  parse(HxFile::load(path));
}

HxConfigFile::~HxConfigFile() = default;

void HxConfigFile::keys(HxStringList& out) const {
  for (int i = 0; i < sections_.size(); ++i) {
    HxString* key = sections_._key(i);
    if (key != nullptr) out.append(new HxString(*key));
  }
}

HxConfigHash* HxConfigFile::export_hash() const {
  HxConfigHash* out = new HxConfigHash();
  out->copy(sections_);
  return out;
}

void HxConfigFile::display() const {
  for (int i = 0; i < sections_.size(); ++i) {
    HxString* key = sections_._key(i);
    HxConfig* section = key != nullptr ? sections_._value(i) : nullptr;
    if (section == nullptr) continue;
    HxString line = "[" + section->name() + "]\n";
    std::fwrite(line.value(), 1, static_cast<size_t>(line.length()), stdout);
    std::fflush(stdout);
    HxStringList labels;
    section->labels(labels);
    for (int k = 0; k < labels.length(); ++k) {
      line = *labels.get(k) + " = '" + section->option(*labels.get(k)) + "'\n";
      std::fwrite(line.value(), 1, static_cast<size_t>(line.length()), stdout);
      std::fflush(stdout);
    }
  }
}

// ---- tokens --------------------------------------------------------------

namespace {

// One token: n bytes at off in the text, or, for a quoted or braced text
// whose escapes were taken out, in the tokenizer's own buffer.
struct ConfigToken {
  int off;
  int n;
  bool own;
};

// Splits text into tokens without copying them: words, the one-byte tokens
// '\n', '\r', ':', '=', '[', '\\', ']', '}', a quoted text as '"', its
// contents and '"', a braced text as its contents alone; blanks and comments
// make no token, except blanks at the very end (an empty token).
void config_tokens(char const* p, int n, std::string& own, std::vector<ConfigToken>& out) {
  auto word = [&out](int off, int len) { out.push_back(ConfigToken{off, len, false}); };
  int i = 0;
  while (i < n) {
    char c = p[i];
    if (c == ' ' || c == '\t') {
      while (i < n && (p[i] == ' ' || p[i] == '\t')) ++i;
      if (i == n) word(i, 0);
      continue;
    }
    switch (c) {
      case '\n': case '\r': case ':': case '=': case '[': case '\\': case ']': case '}':
        word(i, 1);
        ++i;
        continue;
      case '#':
        while (i < n && p[i] != '\n' && p[i] != '\r') ++i;
        continue;
      case '"': {
        int const quote = i++;
        int const at = static_cast<int>(own.size());
        while (i < n) {
          char d = p[i++];
          if (d == '"' || d == '\n' || d == '\r') break;
          if (d == '\\' && i < n && (p[i] == '"' || p[i] == '\\')) d = p[i++];
          own.push_back(d);
        }
        word(quote, 1);
        out.push_back(ConfigToken{at, static_cast<int>(own.size()) - at, true});
        word(quote, 1);
        continue;
      }
      case '{': {
        ++i;
        int const at = static_cast<int>(own.size());
        while (i < n) {
          char d = p[i++];
          if (d == '}') break;
          if (d == '\\' && i < n && p[i] == '}') d = p[i++];
          own.push_back(d);
        }
        out.push_back(ConfigToken{at, static_cast<int>(own.size()) - at, true});
        continue;
      }
      default:
        break;
    }
    int start = i;
    while (i < n) {
      char d = p[i];
      if (d == ' ' || d == '\t' || d == '\n' || d == '\r' || d == '"' || d == '#' || d == ':' || d == '=' ||
          d == '[' || d == '\\' || d == ']' || d == '{' || d == '}')
        break;
      ++i;
    }
    word(start, i - start);
  }
}

// The tokens of a text, with the cleaned copy and the buffer they may lie in.
class ConfigTokens {
 public:
  explicit ConfigTokens(HxString const& text) {
    // The text is copied only when it holds a control byte to drop.
    bool const dirty = has_control(text);
    if (dirty) clean_ = clean_text(text);
    text_ = dirty ? clean_.value() : text.value();
    config_tokens(text_, dirty ? clean_.length() : text.length(), own_, tokens_);
  }
  int size() const { return static_cast<int>(tokens_.size()); }
  bool own(int k) const { return tokens_[static_cast<size_t>(k)].own; }
  std::string_view operator[](int k) const {
    ConfigToken const& t = tokens_[static_cast<size_t>(k)];
    return std::string_view((t.own ? own_.data() : text_) + t.off, static_cast<size_t>(t.n));
  }

 private:
  HxString clean_;
  char const* text_ = nullptr;
  std::string own_;
  std::vector<ConfigToken> tokens_;
};

bool is_line_end(std::string_view t) { return t.size() == 1 && (t[0] == '\n' || t[0] == '\r'); }
bool is_text(std::string_view t, char c) { return t.size() == 1 && t[0] == c; }

void append(HxString& s, std::string_view t) { s.append(t.data(), static_cast<int>(t.size())); }

// What HxString::tolower gives, appended.
void append_lower(HxString& s, std::string_view t) {
  for (char c : t) s.append(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
}

}  // namespace

void HxConfigFile::tokenize(HxString const& text, HxStringList& out) {
  ConfigTokens tokens(text);
  for (int k = 0; k < tokens.size(); ++k) {
    std::string_view t = tokens[k];
    // Blanks at the end give an empty text; an empty quoted or braced text
    // gives an undefined string, as its copy would.
    out.append(t.empty() && !tokens.own(k) ? new HxString("") : new HxString(t.data(), static_cast<int>(t.size())));
  }
}

void HxConfigFile::stringtokenize(HxString const& value, HxStringList& out) {
  char const* p = value.value();
  int n = value.length();
  int i = 0;
  auto single = [](char c) { return c == '$' || c == '.' || c == '\\' || c == '{' || c == '}'; };
  while (i < n) {
    int start = i;
    char c = p[i];
    if (c == ' ' || c == '\t') {
      while (i < n && (p[i] == ' ' || p[i] == '\t')) ++i;
    } else if (single(c)) {
      ++i;
    } else {
      // A word; a carriage return ends one but may also begin the next.
      ++i;
      while (i < n && p[i] != ' ' && p[i] != '\t' && p[i] != '\r' && !single(p[i])) ++i;
    }
    out.append(new HxString(p + start, i - start));
  }
}

// ---- parsing -------------------------------------------------------------

HxConfig* HxConfigFile::section_(HxString const& name, std::vector<HxConfig*>& created) {
  HxConfig* s = sections_.get(name);
  if (s != nullptr) return s;
  if (sections_.count() >= kHxMaxConfigSections) return nullptr;
  s = new HxConfig();
  s->name(name);
  sections_.set(s, name);
  created.push_back(s);
  return s;
}

// What one parse carries from step to step: the tokens with the reading
// position, the sections the last header named, the sections created so far
// (expanded at the end) and the counts the bounds are checked against.
struct HxConfigFile::ParseState {
  explicit ParseState(HxString const& text) : tokens(text), n(tokens.size()) {}

  ConfigTokens tokens;
  int n = 0;
  int i = 0;
  std::vector<HxString> current;
  std::vector<HxConfig*> created;
  long long stored_bytes = 0;
  long long header_names = 0;
  // The sections given a value with a reference: the others need no expansion.
  std::set<HxConfig*> referencing;
  // The text of a header and the key and value of an option line, reused
  // from line to line.
  HxString line_header;
  HxString line_key;
  HxString line_value;
  HxString line_target;
  HxString line_local;

  std::string_view tok(int k) const { return tokens[k]; }
  bool at(char c) const { return i < n && is_text(tok(i), c); }

  // Sets one option, counting what the parse holds; false once over the bound.
  bool store(HxConfig* s, HxString const& key, HxString const& value) {
    stored_bytes += key.length() + value.length() + kHxConfigOptionOverhead;
    if (stored_bytes > kHxMaxConfigStoredBytes) return false;
    // value may be the very option it replaces (a section listed as its
    // own parent), gone once stored: look at it first.
    bool const refers = has_reference(value);
    s->option(key, value);
    if (refers) referencing.insert(s);
    return true;
  }
};

void HxConfigFile::parse(HxString const& text) {
  ParseState st(text);
  st.current.push_back(default_);
  bool more = true;
  while (more && st.i < st.n) {
    std::string_view t = st.tok(st.i);
    if (is_line_end(t)) {
      ++st.i;
    } else if (is_text(t, '[')) {
      more = parse_header_(st);
    } else {
      more = parse_option_(st);
    }
  }
  expand_created_(st.created, st.referencing);
}

bool HxConfigFile::parse_header_(ParseState& st) {
  bool closed = false;
  HxString const& header = header_text_(st, closed);
  // The header may name no more sections than the budget has left; the
  // names are counted before any is built.
  HxStringList names;
  if (!HxRange::patternsplit(0, header, names, kHxMaxConfigHeaderNames - st.header_names)) return false;
  st.header_names += names.length();
  st.current.clear();
  for (int k = 0; k < names.length(); ++k) {
    st.current.push_back(*names.get(k));
    if (section_(*names.get(k), st.created) == nullptr) return false;
  }
  if (closed && st.at(':')) return copy_parents_(st, header);
  return true;
}

HxString const& HxConfigFile::header_text_(ParseState& st, bool& closed) const {
  closed = false;
  int depth = 0;
  HxString& header = st.line_header;
  header.copy("");
  for (++st.i; st.i < st.n; ++st.i) {
    std::string_view w = st.tok(st.i);
    if (is_text(w, ']')) {
      if (depth == 0) {
        closed = true;
        ++st.i;
        break;
      }
      --depth;
    } else if (is_text(w, '[')) {
      ++depth;
    }
    if (lower_) {
      append_lower(header, w);
    } else {
      append(header, w);
    }
  }
  return header;
}

bool HxConfigFile::copy_parents_(ParseState& st, HxString const& header) {
  for (++st.i; st.i < st.n && !is_line_end(st.tok(st.i)); ++st.i) {
    HxString parent_name("");
    if (lower_) {
      append_lower(parent_name, st.tok(st.i));
    } else {
      append(parent_name, st.tok(st.i));
    }
    HxConfig* parent = sections_.get(parent_name);
    if (parent == nullptr) {
      HxString line = "WARNING: " + header + " missing parent " + parent_name + "... skipping.\n";
      std::fwrite(line.value(), 1, static_cast<size_t>(line.length()), stderr);
      continue;
    }
    // A header that names no section ('[]') takes nothing; copying the
    // parent's keys for it would be work no store bound counts.
    if (st.current.empty()) continue;
    HxStringList labels;
    parent->labels(labels);
    for (HxString const& name : st.current) {
      HxConfig* s = sections_.get(name);
      for (int k = 0; k < labels.length(); ++k)
        if (!st.store(s, *labels.get(k), parent->option(*labels.get(k)))) return false;
    }
  }
  return true;
}

// An option line: key (or '"key"'), an optional '. key' after a section
// name, '=', and the value up to the end of the line (or '"value"').
bool HxConfigFile::parse_option_(ParseState& st) {
  std::string_view t = st.tok(st.i);
  HxString& key = st.line_key;
  key.copy("");
  int j = st.i + 1;
  if (is_text(t, '"')) {
    int k = st.i + 1;
    while (k < st.n && !is_text(st.tok(k), '"')) append(key, st.tok(k++));
    if (k >= st.n) return false;
    j = k + 1;
  } else {
    append(key, t);
  }
  bool has_target = false;
  HxString& target = st.line_target;
  if (j + 1 < st.n && is_text(st.tok(j), '.')) {
    has_target = true;
    target.copy(key);
    key.copy("");
    append(key, st.tok(j + 1));
    j += 2;
  }
  if (j + 1 >= st.n || !is_text(st.tok(j), '=')) return false;
  HxString const& value = option_value_(st, j + 1);

  // A value without references is stored as it is, without a copy.
  auto local = [&st, &value](HxString const& section) -> HxString const& {
    if (!has_reference(value)) return value;
    st.line_local = _localvalue(section, value);
    return st.line_local;
  };
  if (has_target) {
    HxConfig* s = section_(target, st.created);
    return s != nullptr && st.store(s, key, local(target));
  }
  for (HxString const& name : st.current) {
    HxConfig* s = section_(name, st.created);
    if (s == nullptr || !st.store(s, key, local(name))) return false;
  }
  return true;
}

HxString const& HxConfigFile::option_value_(ParseState& st, int v) {
  HxString& value = st.line_value;
  value.copy("");
  int k = v;
  if (is_text(st.tok(v), '"')) {
    for (k = v + 1; k < st.n && !is_text(st.tok(k), '"'); ++k) append(value, st.tok(k));
    st.i = k + 1;
  } else {
    for (; k < st.n && !is_line_end(st.tok(k)); ++k) append(value, st.tok(k));
    st.i = k;
  }
  return value;
}

// Expansion of the references in every option read, from the last section
// created to the first.
void HxConfigFile::expand_created_(std::vector<HxConfig*> const& created, std::set<HxConfig*> const& referencing) {
  long long budget = kHxMaxConfigExpansionBytes;
  for (size_t k = created.size(); k-- > 0;) {
    HxConfig* s = created[k];
    if (referencing.count(s) == 0) continue;  // no value holds a '$'
    HxString name(s->name());
    HxStringList labels;
    s->labels(labels);
    for (int m = 0; m < labels.length(); ++m) {
      HxString const& key = *labels.get(m);
      HxString const& raw = s->option(key);
      if (!has_reference(raw)) continue;  // nothing to expand
      Active active{{name, key}};
      s->option(key, expand_(name, name, raw, active, budget));
    }
  }
}

// ---- references ----------------------------------------------------------

HxString HxConfigFile::_localvalue(HxString const& section, HxString const& value) {
  if (!has_reference(value)) return value;  // nothing to rewrite
  HxStringList tokens;
  stringtokenize(value, tokens);
  HxString out("");
  int n = tokens.length();
  for (int i = 0; i < n; ++i) {
    HxString const& t = *tokens.get(i);
    out += t;
    if (!is_text(t, '$')) continue;
    if (i + 1 < n && is_text(*tokens.get(i + 1), '{')) out += *tokens.get(++i);
    if (i + 1 < n) {
      HxString const& name = *tokens.get(++i);
      out += (name == HxString("self") || name == HxString("this")) ? section : name;
    }
  }
  return out;
}

HxString HxConfigFile::_value(HxString const& current, HxString const& self, HxString const& value) const {
  Active active;
  long long budget = kHxMaxConfigExpansionBytes;
  return expand_(current, self, value, active, budget);
}

HxString HxConfigFile::expand_(HxString const& current, HxString const& self, HxString const& value,
                               Active& active, long long& budget) const {
  if (!has_reference(value)) return value;  // no references
  HxStringList tokens;
  stringtokenize(value, tokens);
  int const n = tokens.length();
  auto tok = [&tokens](int i) -> HxString const& { return *tokens.get(i); };
  auto as_written = [&tok](int from, int to) {
    HxString s("");
    for (int k = from; k < to; ++k) s += tok(k);
    return s;
  };

  HxString out("");
  int i = 0;
  while (i < n) {
    if (!is_text(tok(i), '$')) {
      out += tok(i++);
      continue;
    }
    int start = i++;
    bool braced = false;
    if (i < n && is_text(tok(i), '{')) {
      braced = true;
      ++i;
    }
    if (i >= n) break;
    HxString const& name = tok(i++);

    if (i < n && is_text(tok(i), '.')) {
      HxString const& sname = (name == HxString("self") || name == HxString("this")) ? self : name;
      HxConfig* section = sections_.get(sname);
      if (section == nullptr) continue;  // copying resumes at the '.'
      if (++i >= n) break;
      HxString const& key = tok(i++);
      if (braced && i < n && is_text(tok(i), '}')) ++i;
      if (key == HxString("_")) {
        out += sname;
        continue;
      }
      // A reference that is already being expanded (a cycle), one nested
      // too deep, or one beyond the expansion budget stays as written.
      bool cyclic = false;
      for (auto const& a : active)
        if (a.first == sname && a.second == key) cyclic = true;
      HxString const& stored = section->option(key);
      if (cyclic || static_cast<int>(active.size()) >= kHxMaxConfigRefDepth || budget < stored.length()) {
        out += as_written(start, i);
        continue;
      }
      budget -= stored.length();
      active.emplace_back(sname, key);
      HxString expanded = expand_(current, sname, stored, active, budget);
      active.pop_back();
      if (budget < expanded.length()) {
        out += as_written(start, i);
        continue;
      }
      budget -= expanded.length();
      out += expanded;
      continue;
    }

    // A reference to an option of the current section, taken as stored. The
    // token after an unbraced name stays in the value ('$a $b' keeps its blank).
    if (braced && i < n && is_text(tok(i), '}')) ++i;
    if (name == HxString("_")) {
      out += current;
      continue;
    }
    HxConfig* section = sections_.get(current);
    HxString const& stored = section != nullptr ? section->option(name) : HxString("");
    if (budget < stored.length()) {
      out += as_written(start, i);
      continue;
    }
    budget -= stored.length();
    out += stored;
  }
  return out;
}

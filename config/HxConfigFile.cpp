#include "config/HxConfigFile.h"

#include <cstdio>
#include <cstring>

#include "config/HxConfigLimits.h"
#include "core/HxFile.h"
#include "expr/HxRange.h"

namespace {

bool is_line_end(HxString const& t) { return t.length() == 1 && (t.get(0) == '\n' || t.get(0) == '\r'); }

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

void HxConfigFile::tokenize(HxString const& text, HxStringList& out) {
  HxString clean = clean_text(text);
  char const* p = clean.value();
  int n = clean.length();
  int i = 0;
  while (i < n) {
    char c = p[i];
    if (c == ' ' || c == '\t') {
      while (i < n && (p[i] == ' ' || p[i] == '\t')) ++i;
      if (i == n) out.append(new HxString(""));
      continue;
    }
    switch (c) {
      case '\n': case '\r': case ':': case '=': case '[': case '\\': case ']': case '}':
        out.append(new HxString(p + i, 1));
        ++i;
        continue;
      case '#':
        while (i < n && p[i] != '\n' && p[i] != '\r') ++i;
        continue;
      case '"': {
        ++i;
        HxString s("");
        while (i < n) {
          char d = p[i++];
          if (d == '"' || d == '\n' || d == '\r') break;
          if (d == '\\' && i < n && (p[i] == '"' || p[i] == '\\')) d = p[i++];
          s.append(d);
        }
        out.append(new HxString("\""));
        out.append(new HxString(s));
        out.append(new HxString("\""));
        continue;
      }
      case '{': {
        ++i;
        HxString s("");
        while (i < n) {
          char d = p[i++];
          if (d == '}') break;
          if (d == '\\' && i < n && p[i] == '}') d = p[i++];
          s.append(d);
        }
        out.append(new HxString(s));
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
    out.append(new HxString(p + start, i - start));
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

void HxConfigFile::parse(HxString const& text) {
  HxStringList tokens;
  tokenize(text, tokens);
  int const n = tokens.length();
  auto tok = [&tokens](int i) -> HxString const& { return *tokens.get(i); };

  std::vector<HxString> current{default_};
  std::vector<HxConfig*> created;
  // Sets one option, counting what the parse holds; false once over the bound.
  long long stored = 0;
  auto store = [&stored](HxConfig* s, HxString const& key, HxString const& value) {
    stored += key.length() + value.length() + kHxConfigOptionOverhead;
    if (stored > kHxMaxConfigStoredBytes) return false;
    s->option(key, value);
    return true;
  };
  long long header_names = 0;
  int i = 0;
  bool stop = false;
  while (i < n && !stop) {
    HxString const& t = tok(i);
    if (is_line_end(t)) {
      ++i;
      continue;
    }

    if (is_text(t, '[')) {
      ++i;
      int depth = 0;
      bool closed = false;
      HxString header("");
      for (; i < n; ++i) {
        HxString const& w = tok(i);
        if (is_text(w, ']')) {
          if (depth == 0) {
            closed = true;
            ++i;
            break;
          }
          --depth;
        } else if (is_text(w, '[')) {
          ++depth;
        }
        header += lower_ ? w.tolower() : w;
      }
      HxStringList names;
      HxRange::patternsplit(0, header, names);
      header_names += names.length();
      if (header_names > kHxMaxConfigHeaderNames) break;
      current.clear();
      for (int k = 0; k < names.length() && !stop; ++k) {
        current.push_back(*names.get(k));
        if (section_(*names.get(k), created) == nullptr) stop = true;
      }
      if (stop) break;
      if (closed && i < n && is_text(tok(i), ':')) {
        for (++i; i < n && !is_line_end(tok(i)) && !stop; ++i) {
          HxString parent_name = lower_ ? tok(i).tolower() : tok(i);
          HxConfig* parent = sections_.get(parent_name);
          if (parent == nullptr) {
            HxString line = "WARNING: " + header + " missing parent " + parent_name + "... skipping.\n";
            std::fwrite(line.value(), 1, static_cast<size_t>(line.length()), stderr);
            continue;
          }
          // A header that names no section ('[]') takes nothing; copying the
          // parent's keys for it would be work no store bound counts.
          if (current.empty()) continue;
          HxStringList labels;
          parent->labels(labels);
          for (HxString const& name : current) {
            HxConfig* s = sections_.get(name);
            for (int k = 0; k < labels.length() && !stop; ++k)
              if (!store(s, *labels.get(k), parent->option(*labels.get(k)))) stop = true;
          }
        }
      }
      if (stop) break;
      continue;
    }

    // An option line: key, an optional '. key' after a section, '=', value.
    HxString key("");
    int j = i + 1;
    if (is_text(t, '"')) {
      int k = i + 1;
      while (k < n && !is_text(tok(k), '"')) key += tok(k++);
      if (k >= n) break;
      j = k + 1;
    } else {
      key = t;
    }
    bool has_target = false;
    HxString target;
    if (j + 1 < n && tok(j) == HxString(".")) {
      has_target = true;
      target = key;
      key = tok(j + 1);
      j += 2;
    }
    if (j + 1 >= n || !is_text(tok(j), '=')) break;
    int v = j + 1;
    HxString value("");
    if (is_text(tok(v), '"')) {
      int k = v + 1;
      while (k < n && !is_text(tok(k), '"')) value += tok(k++);
      i = k + 1;
    } else if (is_line_end(tok(v))) {
      i = v;
    } else {
      int k = v;
      while (k < n && !is_line_end(tok(k))) value += tok(k++);
      i = k;
    }

    if (has_target) {
      HxConfig* s = section_(target, created);
      if (s == nullptr || !store(s, key, _localvalue(target, value))) break;
    } else {
      for (HxString const& name : current) {
        HxConfig* s = section_(name, created);
        if (s == nullptr || !store(s, key, _localvalue(name, value))) {
          stop = true;
          break;
        }
      }
    }
  }

  // Expansion, from the last section created to the first.
  long long budget = kHxMaxConfigExpansionBytes;
  for (size_t k = created.size(); k-- > 0;) {
    HxConfig* s = created[k];
    HxString name(s->name());
    HxStringList labels;
    s->labels(labels);
    for (int m = 0; m < labels.length(); ++m) {
      HxString const& key = *labels.get(m);
      HxString const& stored = s->option(key);
      if (!has_reference(stored)) continue;  // nothing to expand
      Active active{{name, key}};
      s->option(key, expand_(name, name, stored, active, budget));
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

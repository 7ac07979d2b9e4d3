#include "expr/HxExpression.h"

namespace {

inline bool is_blank(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

inline void add(HxStringList& list, char const* bytes, int n) { list.append(new HxString(bytes, n)); }

inline void add(HxStringList& list, HxString const& s) { list.append(new HxString(s)); }

// Appends the quoted token whose opening quote is at p[i]: the text up to the
// next quote of the same kind, a backslash taking the next character
// literally. Returns the position after the closing quote (or the end).
int add_quoted(HxStringList& tokens, char const* p, int n, int i) {
  char q = p[i++];
  HxString* token = new HxString("");
  while (i < n && p[i] != q) {
    if (p[i] == '\\' && i + 1 < n) ++i;
    token->append(p[i++]);
  }
  tokens.append(token);
  return i < n ? i + 1 : n;
}

// The end of a word of the callback and value tokenizers: the next blank,
// quote or parenthesis, or the end of the text.
int word_end(char const* p, int n, int i) {
  while (i < n && !is_blank(p[i]) && p[i] != '"' && p[i] != '\'' && p[i] != '(' && p[i] != ')') ++i;
  return i;
}

// Single-separator splitting shared by splitslash, splitchar and splittab.
void split_on(HxString const& text, char sep, HxStringList& list) {
  char const* p = text.value();
  int n = text.length();
  int start = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] == sep) {
      add(list, p + start, i - start);
      start = i + 1;
    }
  }
  if (n > start) add(list, p + start, n - start);
}

// Name and value splitting shared by splitequal and splitbecomes: the name
// runs to the first "=" (or, when colon is set, the first ":" or "=").
bool split_name_value(HxString const& text, HxString& name, HxString& value, bool colon) {
  char const* p = text.value();
  int n = text.length();
  int i = 0;
  for (; i < n; ++i) {
    char c = p[i];
    if (c == '=') {
      if (colon) return false;
      break;
    }
    if (colon && c == ':') break;
    if (!is_blank(c)) name.append(c);
  }
  if (i >= n) return false;
  ++i;
  while (i < n && is_blank(p[i])) ++i;
  value.append(p + i, n - i);
  return true;
}

}  // namespace

// ---- name and value splitters ----

void HxExpression::splitperiod(HxString const& text, HxString& first, HxString& rest) {
  char const* p = text.value();
  int n = text.length();
  int i = 0;
  while (i < n && p[i] != '.') ++i;
  first.append(p, i);
  if (i < n) rest.append(p + i + 1, n - i - 1);
}

bool HxExpression::splitequal(HxString const& text, HxString& name, HxString& value) {
  return split_name_value(text, name, value, false);
}

bool HxExpression::splitbecomes(HxString const& text, HxString& name, HxString& value) {
  return split_name_value(text, name, value, true);
}

// ---- list splitters ----

void HxExpression::splitslash(HxString const& text, HxStringList& list) { split_on(text, '/', list); }

void HxExpression::splitchar(HxString const& text, char c, HxStringList& list) { split_on(text, c, list); }

void HxExpression::splittab(HxString const& text, HxStringList& list) { split_on(text, '\t', list); }

void HxExpression::splitspace(HxString const& text, HxStringList& list) {
  char const* p = text.value();
  int n = text.length();
  int i = 0;
  while (i < n) {
    while (i < n && is_blank(p[i])) ++i;
    int start = i;
    while (i < n && !is_blank(p[i])) ++i;
    if (i > start) add(list, p + start, i - start);
  }
}

void HxExpression::splitcomma(HxString const& text, HxStringList& list) {
  char const* p = text.value();
  int n = text.length();
  HxString item("");
  int i = 0;
  while (i < n) {
    char c = p[i];
    if (c == '[') {
      // A group runs to the first "]" (groups do not nest) or the end.
      int start = i;
      while (i < n && p[i] != ']') ++i;
      if (i < n) ++i;
      item.append(p + start, i - start);
      continue;
    }
    if (c == ',') {
      add(list, item);
      item.copy("", 0);
    } else if (!is_blank(c)) {
      item.append(c);
    }
    ++i;
  }
  if (item.length() > 0) add(list, item);
}

void HxExpression::split(HxString const& text, HxStringList& list) {
  char const* p = text.value();
  int n = text.length();
  if (n == 0) return;
  HxString item;
  int i = 0;
  for (;;) {
    item.copy("", 0);
    while (i < n && p[i] != ',') {
      char c = p[i];
      if (c == '{') {
        int depth = 0;
        while (i < n) {
          char d = p[i++];
          item.append(d);
          if (d == '{') {
            ++depth;
          } else if (d == '}' && --depth == 0) {
            break;
          }
        }
        if (depth > 0) item.append('}');
      } else if (c == '"' || c == '\'') {
        item.append(p[i++]);
        bool closed = false;
        while (i < n) {
          char d = p[i++];
          item.append(d);
          if (d == '\\') {
            if (i < n) item.append(p[i++]);
          } else if (d == c) {
            closed = true;
            break;
          }
        }
        if (!closed) item.append(c);
      } else {
        int start = i;
        while (i < n && p[i] != '"' && p[i] != '\'' && p[i] != ',' && p[i] != '{') ++i;
        item.append(p + start, i - start);
      }
    }
    // Trim blanks at both ends of the item.
    char const* q = item.value();
    int a = 0, b = item.length();
    while (a < b && is_blank(q[a])) ++a;
    while (b > a && is_blank(q[b - 1])) --b;
    add(list, q + a, b - a);
    if (i >= n) break;
    ++i;  // past the ","
    if (i >= n) break;
  }
}

void HxExpression::split(HxString const& text, HxStringHash& hash) {
  HxStringList items;
  split(text, items);
  for (int i = 0; i < items.length(); ++i) {
    HxString const* item = items.get(i);
    hash.set(new HxString(*item), *item);
  }
}

HxStringList HxExpression::split(HxString const& text) {
  HxStringList list;
  split(text, list);
  return list;
}

// ---- tokenizers ----

void HxExpression::rangetokenize(HxString const& text, HxStringList& list) {
  char const* p = text.value();
  int n = text.length();
  int i = 0;
  while (i < n) {
    if (is_blank(p[i])) {
      ++i;
    } else if (p[i] == '[' || p[i] == ']') {
      add(list, p + i, 1);
      ++i;
    } else {
      int start = i;
      while (i < n && !is_blank(p[i]) && p[i] != '[' && p[i] != ']') ++i;
      add(list, p + start, i - start);
    }
  }
}

void HxExpression::commandtokenize(HxString const& text, HxStringList& list) {
  char const* p = text.value();
  int n = text.length();
  auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  int i = 0;
  while (i < n) {
    char c = p[i];
    int start = i;
    if (c == '(' || c == ')') {
      ++i;
    } else if (c == '"' || c == '\'') {
      // Up to and including the next same quote not preceded by a backslash.
      ++i;
      while (i < n && !(p[i] == c && p[i - 1] != '\\')) ++i;
      if (i < n) ++i;
    } else if (c == '_' || upper(c)) {
      while (i < n && (p[i] == '_' || upper(p[i]))) ++i;
    } else {
      while (i < n && p[i] != '(' && p[i] != ')' && !upper(p[i])) ++i;
    }
    add(list, p + start, i - start);
  }
}

void HxExpression::tokenize(HxString const& text, HxStringList& tokens) {
  char const* p = text.value();
  int n = text.length();
  auto relational = [](char c) { return c == '<' || c == '=' || c == '>'; };
  auto ends_word = [](char c) {
    switch (c) {
      case '\t': case '\n': case '\r': case ' ':
      case '!': case '"': case '&': case '\'': case '(': case ')': case '*':
      case '+': case '-': case '/': case ':': case '<': case '=': case '>':
      case '?': case '|':
        return true;
      default:
        return false;
    }
  };
  int i = 0;
  while (i < n) {
    char c = p[i];
    if (is_blank(c)) {
      ++i;
      continue;
    }
    int start = i;
    switch (c) {
      case '!':
        i += (i + 1 < n && p[i + 1] == '=') ? 2 : 1;
        break;
      case '&':
      case '|':
        i += (i + 1 < n && p[i + 1] == c) ? 2 : 1;
        break;
      case '<': case '=': case '>':
        i += (i + 1 < n && relational(p[i + 1])) ? 2 : 1;
        break;
      case '(': case ')': case '*': case '+': case '-': case '/': case ':': case '?':
        ++i;
        break;
      case '"':
      case '\'': {
        i = add_quoted(tokens, p, n, i);
        continue;
      }
      default:
        while (i < n && !ends_word(p[i])) ++i;
        break;
    }
    add(tokens, p + start, i - start);
  }
}

void HxExpression::callbacktokenize(HxString const& text, HxStringList& tokens) {
  char const* p = text.value();
  int n = text.length();
  int i = 0;
  while (i < n) {
    char c = p[i];
    if (is_blank(c)) {
      ++i;
    } else if (c == '(' || c == ')') {
      add(tokens, p + i, 1);
      ++i;
    } else if (c == '"' || c == '\'') {
      i = add_quoted(tokens, p, n, i);
    } else {
      int start = i;
      i = word_end(p, n, i);
      add(tokens, p + start, i - start);
    }
  }
}

void HxExpression::valuetokenize(HxString const& text, HxStringList& tokens) {
  char const* p = text.value();
  int n = text.length();
  int i = 0;
  while (i < n) {
    char c = p[i];
    if (is_blank(c)) {
      ++i;
    } else if (c == '"' || c == '\'') {
      i = add_quoted(tokens, p, n, i);
    } else if (c == ',' || c == '(' || c == ')') {
      // A parenthesis outside quotes and braces stands alone, so that reading
      // always moves past it.
      add(tokens, p + i, 1);
      ++i;
    } else if (c == '{') {
      int start = ++i;
      int depth = 1;
      while (i < n) {
        if (p[i] == '{') {
          ++depth;
        } else if (p[i] == '}' && --depth == 0) {
          break;
        }
        ++i;
      }
      add(tokens, p + start, i - start);
      if (i < n) ++i;  // past the matching "}"
    } else {
      int start = i;
      i = word_end(p, n, i);
      add(tokens, p + start, i - start);
    }
  }
}

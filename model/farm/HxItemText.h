#pragma once

#include <climits>
#include <cstdlib>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "expr/HxExpression.h"
#include "expr/HxValue.h"

// The containers of resources and of properties share their text form: items
// separated by top-level commas, each item an element's fullname() (or
// simplename()), keyed in a hash by the element's resname(). T provides
// fullname(HxString const&), fullname(), simplename(), resname() and name().

// A count read from a text as atoi reads it (leading blanks, a sign, digits;
// 0 without digits), but a number beyond the int range reads as the nearest
// bound instead of wrapping.
inline int hx_clamped_int(long long v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v); }
inline int hx_count_of(HxString const& text) {
  return text.length() == 0 ? 0 : hx_clamped_int(std::strtoll(text.value(), nullptr, 10));
}

// The value object an item's value text names, or null. Every kind word is
// a lower-case word, so a value that opens otherwise (a count, a quote) is
// passed over without building the word.
inline HxValue* hx_item_value_object(HxString const& value) {
  char c = value.get(0);
  return c >= 'a' && c <= 'z' ? parsevalue(value) : nullptr;
}

// Whether a text holds a character that would split an item (comma, brace)
// or cut a value token short (quote, backslash, parenthesis) when written bare.
bool hx_item_special(HxString const& text);
// The text in single quotes, "'" and "\" escaped by a backslash: one value
// token that the item splitter keeps whole.
HxString hx_item_quoted(HxString const& text);
// Appends a value object's form: its kind word and its composed text, in
// braces when the text spans lines, quoted when it holds white space or a
// special character, else bare.
void hx_append_value_object(HxString& out, HxValue const& object);

// Hash of items keyed by resname().
template <class T>
class HxItemHash : public HxHash<T> {
 public:
  // Replaces the contents with one element per item of the text; a later item
  // of the same key replaces the earlier one, and items that do not parse are
  // kept as default elements.
  void revert(HxString const& text) {
    this->release_all_();
    HxStringList items;
    HxExpression::split(text, items);
    for (int i = 0; i < items.length(); ++i) {
      T* e = new T();
      e->fullname(*items.get(i));
      this->set(e, e->resname());
    }
  }

  HxString convert() const { return join_(false); }
  HxString simpleconvert() const { return join_(true); }

  // Empties the list (deleting its elements) and lends it this hash's own
  // elements in slot order: the caller must forget() the list, never clear it.
  void values(HxBaseList<T>& list) const {
    list.clear();
    for (int s = 0; s < this->size(); ++s)
      if (this->_key(s) != nullptr && this->_value(s) != nullptr) list.append(this->_value(s));
  }

 private:
  HxString join_(bool simple) const {
    HxString out("");
    bool first = true;
    for (int s = 0; s < this->size(); ++s) {
      T const* e = this->_key(s) != nullptr ? this->_value(s) : nullptr;
      if (e == nullptr) continue;
      if (!first) out += ',';
      out += simple ? e->simplename() : e->fullname();
      first = false;
    }
    return out;
  }
};

// List of items in the order of the text.
template <class T>
class HxItemList : public HxList<T> {
 public:
  // The first element whose bare name (without class) equals name, or null.
  T* find(HxString const& name) const {
    for (int i = 0; i < this->length(); ++i)
      if (this->get(i)->name() == name) return this->get(i);
    return nullptr;
  }

  void revert(HxString const& text) {
    this->clear();
    HxStringList items;
    HxExpression::split(text, items);
    for (int i = 0; i < items.length(); ++i) {
      T* e = new T();
      e->fullname(*items.get(i));
      this->append(e);
    }
  }

  HxString convert() const { return join_(false); }
  HxString simpleconvert() const { return join_(true); }

 private:
  HxString join_(bool simple) const {
    HxString out("");
    for (int i = 0; i < this->length(); ++i) {
      if (i > 0) out += ',';
      out += simple ? this->get(i)->simplename() : this->get(i)->fullname();
    }
    return out;
  }
};

#include "core/HxList.h"

// One comparison of the two texts, not one for "greater" and one for "less".
int hx_string_sort_func(HxString const* a, HxString const* b) {
  int c = a->cmp(*b);
  return c > 0 ? 1 : c < 0 ? -1 : 0;
}

HxString HxStringList::join(HxString const& separator) const {
  HxString out;
  for (int i = 0; i < length(); ++i) {
    if (i > 0) out += separator;
    out += *get(i);
  }
  return out;
}

int HxStringList::find(HxString const& s) const {
  for (int i = 0; i < length(); ++i)
    if (*get(i) == s) return i;
  return -1;
}

void HxStringList::sort() { sort(hx_string_sort_func); }

void HxStringList::sort(int (*cmp)(HxString const*, HxString const*)) {
  if (length() < 2) return;
  _sort(first_, last_, cmp);
}

#include "model/farm/HxItemText.h"

bool hx_item_special(HxString const& text) {
  char const* p = text.value();
  for (int i = 0; i < text.length(); ++i) {
    switch (p[i]) {
      case ',': case '\'': case '"': case '\\': case '(': case ')': case '{': case '}':
        return true;
      default:
        break;
    }
  }
  return false;
}

HxString hx_item_quoted(HxString const& text) {
  HxString out("'");
  char const* p = text.value();
  for (int i = 0; i < text.length(); ++i) {
    if (p[i] == '\'' || p[i] == '\\') out += '\\';
    out += p[i];
  }
  out += '\'';
  return out;
}

void hx_append_value_object(HxString& out, HxValue const& object) {
  out += object.cls();
  HxString composed = object.compose();
  if (composed.multiline()) {
    out += " {";
    out += composed;
    out += '}';
  } else {
    out += ' ';
    out += composed.hasspace() || hx_item_special(composed) ? hx_item_quoted(composed) : composed;
  }
}

#include "model/job/HxQuery.h"

#include <cstring>

void HxField::value(HxString const& text) {
  char const first = text.get(0);
  if (first != 0 && std::strchr("~=><%*", first) != nullptr) {
    value_ = HxString(text.value() + 1, text.length() - 1);
    sign_ = HxString(text.value(), 1);
  } else {
    value_ = text;
  }
}

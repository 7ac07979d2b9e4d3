#include "model/job/HxWorkId.h"

#include <ostream>

#include "core/HxDebug.h"
#include "model/job/HxIdText.h"

HxString HxWorkId::value() const {
  HxString out(id_);
  if (name_.length() > 0) {
    out += ':';
    out += name_;
  }
  return out;
}

void HxWorkId::value(HxString const& text) {
  id_ = hx_id_text::int_from(text, 0);
  int colon = hx_id_text::find(text, ':');
  if (colon >= 0 && colon + 1 < text.length())
    name_.append(text.value() + colon + 1, text.length() - colon - 1);
}

std::ostream& operator<<(std::ostream& out, HxWorkId const& id) { return out << id.value(); }

HxDebug& operator<<(HxDebug& out, HxWorkId const& id) { return out << id.value(); }

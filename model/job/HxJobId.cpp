#include "model/job/HxJobId.h"

#include <cstdio>
#include <ostream>

#include "core/HxDebug.h"
#include "model/job/HxIdText.h"

HxString HxJobId::value() const {
  char buf[32];
  int n;
  if (subid_ == -2)
    n = std::snprintf(buf, sizeof buf, "%d.*", id_);
  else if (subid_ >= 0)
    n = std::snprintf(buf, sizeof buf, "%d.%d", id_, subid_);
  else
    n = std::snprintf(buf, sizeof buf, "%d", id_);
  return HxString(buf, n);
}

void HxJobId::value(HxString const& text) {
  id_ = hx_id_text::int_from(text, 0);
  subid_ = -1;
  int dot = hx_id_text::find(text, '.');
  if (dot < 0 || dot + 1 >= text.length()) return;
  subid_ = hx_id_text::is_char(text, dot + 1, '*') ? -2 : hx_id_text::int_from(text, dot + 1);
}

std::ostream& operator<<(std::ostream& out, HxJobId const& id) { return out << id.value(); }

HxDebug& operator<<(HxDebug& out, HxJobId const& id) { return out << id.value(); }

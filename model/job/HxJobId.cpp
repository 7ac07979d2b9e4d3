#include "model/job/HxJobId.h"

#include <ostream>

#include "core/HxDebug.h"
#include "model/job/HxIdText.h"

HxString HxJobId::value() const {
  char buf[32];
  char* end = hx_id_text::put_int(buf, id_);
  if (subid_ == -2) {
    *end++ = '.';
    *end++ = '*';
  } else if (subid_ >= 0) {
    *end++ = '.';
    end = hx_id_text::put_int(end, subid_);
  }
  return HxString(buf, static_cast<int>(end - buf));
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

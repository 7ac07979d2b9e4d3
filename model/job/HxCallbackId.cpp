#include "model/job/HxCallbackId.h"

#include <ostream>

#include "core/HxDebug.h"
#include "model/job/HxIdText.h"

HxString HxCallbackId::value() const {
  char buf[32];
  char* end = hx_id_text::put_int(buf, id_);
  if (callid_ == -2) {
    *end++ = '^';
    *end++ = '*';
  } else if (callid_ >= 0) {
    *end++ = '^';
    end = hx_id_text::put_int(end, callid_);
  }
  return HxString(buf, static_cast<int>(end - buf));
}

void HxCallbackId::value(HxString const& text) {
  id_ = hx_id_text::int_from(text, 0);
  callid_ = -1;
  int caret = hx_id_text::find(text, '^');
  if (caret < 0 || caret + 1 >= text.length()) return;
  callid_ = hx_id_text::is_char(text, caret + 1, '*') ? -2 : hx_id_text::int_from(text, caret + 1);
}

std::ostream& operator<<(std::ostream& out, HxCallbackId const& id) { return out << id.value(); }

HxDebug& operator<<(HxDebug& out, HxCallbackId const& id) { return out << id.value(); }

#include "model/job/HxCallbackId.h"

#include <cstdio>
#include <ostream>

#include "core/HxDebug.h"
#include "model/job/HxIdText.h"

HxString HxCallbackId::value() const {
  char buf[32];
  int n;
  if (callid_ == -2)
    n = std::snprintf(buf, sizeof buf, "%d^*", id_);
  else if (callid_ >= 0)
    n = std::snprintf(buf, sizeof buf, "%d^%d", id_, callid_);
  else
    n = std::snprintf(buf, sizeof buf, "%d", id_);
  return HxString(buf, n);
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

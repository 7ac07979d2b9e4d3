#include "api/HxApiPing.h"

#include "api/HxRequestTypes.h"
#include "core/HxError.h"
#include "net/HxIntro.h"

int _hx_ping_text(HxMessage const& reply, HxPingForm form, HxString& out) {
  if (reply.tag() != kHxReplyConfirmed) return 0;
  HxString text = reply.address().stringvalue();
  HxPack const* content = reply.content();
  if (content == nullptr) {
    text += form == HxPingForm::kSupervisor ? " <3.0-8" : " <3.0-22";
  } else if (auto const* old = dynamic_cast<HxOldError const*>(content)) {
    text += " ";
    text += old->value();
  } else if (auto const* intro = dynamic_cast<HxIntro const*>(content)) {
    text += " ";
    if (form != HxPingForm::kHost) {
      text += reply.macaddress().value();
      text += " ";
    }
    text += intro->value();
  } else {
    return 1;
  }
  out = text;
  return 1;
}

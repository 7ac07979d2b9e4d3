#include "api/HxApiReply.h"

#include <cstdio>
#include <string>

#include "api/HxApiState.h"
#include "core/HxError.h"

void _hx_api_line(HxString const& text) {
  std::string line(text.value(), static_cast<size_t>(text.length()));
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void _hx_invalid_line(HxReplyObject what, int content_type) {
  char const* word = "list";
  switch (what) {
    case HxReplyObject::kList:
      break;
    case HxReplyObject::kConfig:
      word = "config";
      break;
    case HxReplyObject::kReport:
      word = "report";
      break;
    case HxReplyObject::kResult:
      word = "result";
      break;
  }
  _hx_api_line(HxString("ERROR: ") + word + " object returned invalid. - " + HxString(content_type));
}

void _hx_capture_error(HxMessage const& reply) {
  HxPack const* content = reply.content();
  if (auto const* old = dynamic_cast<HxOldError const*>(content)) {
    HxError e(kHxErrOldError);
    e.set("ERROR", old->value());
    _hx_set_error(e);
  } else if (auto const* err = dynamic_cast<HxError const*>(content)) {
    _hx_set_error(*err);
  } else {
    _hx_set_error(kHxErrUnspecified);
  }
}

int _hx_reply_A3(HxMessage const& reply) {
  if (reply.tag() != kHxReplyRefused) return 1;
  _hx_set_error(kHxErrAccessDenied);
  return 0;
}

int _hx_reply_A4(HxMessage const& reply, bool capture) {
  if (reply.tag() != kHxReplyError) return 1;
  if (capture) _hx_capture_error(reply);
  return 0;
}

int _hx_reply_A1(HxMessage const& reply) { return reply.tag() == kHxReplyConfirmed ? 1 : 0; }

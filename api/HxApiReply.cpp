#include "api/HxApiReply.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "api/HxApiState.h"
#include "core/HxError.h"

void _hx_api_line(HxString const& text) {
  std::string line(text.value(), static_cast<size_t>(text.length()));
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void _hx_set_cause(HxString const& line) {
  static constexpr char kHead[] = "ERROR: ";
  constexpr int kHeadLength = sizeof kHead - 1;
  HxString text = line;
  if (line.length() >= kHeadLength && std::memcmp(line.value(), kHead, kHeadLength) == 0)
    text = HxString(line.value() + kHeadLength, line.length() - kHeadLength);
  HxError e(kHxErrOldError);
  e.set("ERROR", text);
  _hx_set_error(e);
}

void _hx_api_fail(HxString const& line) {
  _hx_set_cause(line);
  _hx_api_line(line);
}

namespace {
thread_local bool t_no_memory = false;
}  // namespace

bool _hx_take_no_memory() {
  bool const was = t_no_memory;
  t_no_memory = false;
  return was;
}

bool _hx_exchange_no_memory(bool on) {
  bool const was = t_no_memory;
  t_no_memory = on;
  return was;
}

void _hx_set_no_memory() {
  t_no_memory = true;
  try {
    _hx_set_cause(kHxNoMemoryCause);
  } catch (std::bad_alloc const&) {
    // Not even the text fits: an error of the fixed table (a copy of one
    // without values allocates nothing) still tells that this call failed.
    _hx_set_error(HxError(kHxErrUnspecified));
  }
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
  _hx_api_fail(HxString("ERROR: ") + word + " object returned invalid. - " + HxString(content_type));
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

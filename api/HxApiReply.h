#pragma once

#include <new>
#include <vector>

#include "api/HxRequestTypes.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "net/HxMessage.h"

// The tests a request function runs on the reply of a conversation that
// succeeded, in families that each request function picks one of:
//   L   an error reply sets the API error; else the content must be the
//       expected list, whose elements move into the caller's list;
//   N   the same without the error test (an error reply then fails as blank
//       or as the wrong list);
//   R   as L for a single record, copied into the caller's;
//   A3  a refusal (tag 3) sets API error 2054;
//   A4  an error reply (tag 4) fails, setting the API error where asked;
//   A1  only a confirmation (tag 1) succeeds.
// Each gives 1 or 0. Failures other than the API error are one line on
// standard error, whose text (without its "ERROR: " head) also becomes the
// API error, so that hxerror() names the cause of the last failure. A
// successful reply never clears the API error, and the caller's container
// only grows.

// The object word of the invalid-content line.
enum class HxReplyObject { kList, kConfig, kReport, kResult };

// Writes text and a newline to standard error in one write, then flushes,
// so that lines of calls on other threads never interleave with it.
void _hx_api_line(HxString const& text);

// The line of a reply that carries no content where some is expected.
inline constexpr char kHxBlankLine[] = "ERROR: data returned blank";

// Sets the API error to the text of a failure's line without its leading
// "ERROR: " (old-style error 100000, the text as macro ERROR): hxerror()
// then gives that text. For a failure that writes no line, the line it
// would have.
void _hx_set_cause(HxString const& line);

// A failure's line: written as _hx_api_line writes it, and made the API
// error as _hx_set_cause makes it.
void _hx_api_fail(HxString const& line);

// The API error of a call that ran out of memory: "out of memory". Nothing
// is written; when even that text cannot be made, an error of the fixed
// table ("unspecifed error") takes its place.
inline constexpr char kHxNoMemoryCause[] = "out of memory";
void _hx_set_no_memory();
// Whether a call on this thread ran out of memory since the last time this
// was asked; asking clears it. A caller that turns failures into values of
// its own (the module) asks before and after each call, so that memory that
// ran out deep inside a call that then failed normally is still reported as
// such.
bool _hx_take_no_memory();
// Sets this thread's flag to `on` and gives what it was. A caller that
// makes one call inside another on the same thread (the module, when a
// signal handler or other Python code run during a call calls it again)
// sets the outer call's flag aside for the inner call and puts it back
// after, so that neither call clears or sets the other's.
bool _hx_exchange_no_memory(bool on);

// Runs body and gives its result; a std::bad_alloc under it fails the call
// instead of escaping: the API error says so and `failed` is given.
template <class R, class Body>
R _hx_api_guard(R failed, Body&& body) {
  try {
    return body();
  } catch (std::bad_alloc const&) {
    _hx_set_no_memory();
    return failed;
  }
}

// "ERROR: <list|config|report|result> object returned invalid. - <type>",
// written and made the API error as _hx_api_fail does.
void _hx_invalid_line(HxReplyObject what, int content_type);

// Sets the API error from an error reply: an old-style error gives number
// 100000 with its text as macro ERROR, an HxError is copied whole, and
// anything else (no content, or a record of another class, whatever type the
// reply declares) gives 2051.
void _hx_capture_error(HxMessage const& reply);

// Moves the elements from the front of `from` to the end of `to`, which owns
// them from then on; a null element ends the move and stays in `from` with
// all that follows it. Each element has one owner whatever happens: when
// `to` cannot grow (std::bad_alloc), the elements moved so far stay with
// `to`, the rest with `from`, and the exception goes on.
template <class T>
void _hx_move_elements(HxBaseList<T>& from, HxBaseList<T>& to) {
  int const n = from.length();
  if (n == 0) return;
  // Taken before anything moves: `from` is then rebuilt from it, within the
  // room it already has, without allocating.
  std::vector<T*> all;
  all.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) all.push_back(from.get(i));
  int moved = 0;
  auto keep_rest = [&] {
    from.forget();
    for (int i = moved; i < n; ++i) from.append(all[static_cast<size_t>(i)]);
  };
  try {
    for (; moved < n && all[static_cast<size_t>(moved)] != nullptr; ++moved)
      to.append(all[static_cast<size_t>(moved)]);
  } catch (...) {
    keep_rest();
    throw;
  }
  if (moved > 0) keep_rest();
}

// The reply's content as the class C, null unless its class is C and its
// type number is both C's and the one the reply declares.
template <class C>
C* _hx_reply_content(HxMessage const& reply, int expected_type) {
  HxPack* content = reply.content();
  if (content == nullptr) return nullptr;
  if (content->type() != expected_type || reply.contenttype() != expected_type) return nullptr;
  return dynamic_cast<C*>(content);
}

namespace hx_reply_detail {

// The steps after the error test: content present, of the expected list
// class, then moved.
template <class List>
int take_list(HxMessage& reply, List& out) {
  if (reply.content() == nullptr) {
    _hx_api_fail(kHxBlankLine);
    return 0;
  }
  List* list = _hx_reply_content<List>(reply, out.type());
  if (list == nullptr) {
    _hx_invalid_line(HxReplyObject::kList, reply.contenttype());
    return 0;
  }
  _hx_move_elements(*list, out);
  return 1;
}

}  // namespace hx_reply_detail

// Family L.
template <class List>
int _hx_reply_L(HxMessage& reply, List& out) {
  if (reply.tag() == kHxReplyError) {
    _hx_capture_error(reply);
    return 0;
  }
  return hx_reply_detail::take_list(reply, out);
}

// Family N.
template <class List>
int _hx_reply_N(HxMessage& reply, List& out) {
  return hx_reply_detail::take_list(reply, out);
}

// Family R: the record of the expected class is copied into out.
template <class Record>
int _hx_reply_R(HxMessage const& reply, Record& out, HxReplyObject what) {
  if (reply.tag() == kHxReplyError) {
    _hx_capture_error(reply);
    return 0;
  }
  if (reply.content() == nullptr) {
    _hx_api_fail(kHxBlankLine);
    return 0;
  }
  Record* record = _hx_reply_content<Record>(reply, out.type());
  if (record == nullptr) {
    _hx_invalid_line(what, reply.contenttype());
    return 0;
  }
  out.copy(*record);
  return 1;
}

// Family A3.
int _hx_reply_A3(HxMessage const& reply);
// Family A4; capture: whether an error reply sets the API error.
int _hx_reply_A4(HxMessage const& reply, bool capture);
// Family A1.
int _hx_reply_A1(HxMessage const& reply);

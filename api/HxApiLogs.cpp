#include "api/HxApiLogs.h"

#include <climits>
#include <map>
#include <utility>
#include <vector>

#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxApiState.h"
#include "config/HxClientConfig.h"
#include "core/HxFile.h"
#include "core/HxLimits.h"
#include "model/job/HxQuery.h"

namespace {

// One conversation of the remote road; the command is lent for it.
bool ask(HxCommand& cmd, int request_type, HxMessage& reply) {
  HxMessage request(request_type);
  HxLentContent lend(request, cmd);
  return _hx_api_supervisor(request, reply, nullptr);
}

HxField* first_field(HxFilter& filter) { return filter.fields().length() > 0 ? filter.fields().get(0) : nullptr; }

}  // namespace

// Logs read from the log tree, or pages merged, can be large: running out
// of memory fails the call (API error "out of memory") instead of escaping.
int hxstdout(HxCommand& cmd, HxLogList& logs) {
  return _hx_api_guard(0, [&] { return _hx_get_log(cmd, logs, HxLog::kOut); });
}

int hxstderr(HxCommand& cmd, HxLogList& logs) {
  return _hx_api_guard(0, [&] { return _hx_get_log(cmd, logs, HxLog::kErr); });
}

HxLogList* _hx_log_reply(HxMessage& reply) {
  if (reply.content() == nullptr) {
    _hx_api_fail(kHxBlankLine);
    return nullptr;
  }
  HxLogList* list = _hx_reply_content<HxLogList>(reply, HxLogList().type());
  if (list == nullptr) _hx_invalid_line(HxReplyObject::kList, reply.contenttype());
  return list;
}

int _hx_log_merge(HxLogList& page, HxLogList& logs, long long max_bytes, long long& advance) {
  // Where each log of the page goes (an index into logs; one past its end
  // for each new copy) and how long each target grows are settled before
  // anything moves, so that a page that would pass the bound changes nothing.
  std::map<std::pair<int, int>, int> first;
  std::vector<long long> size(static_cast<size_t>(logs.length()), 0);
  for (int i = logs.length() - 1; i >= 0; --i) {
    HxLog const* log = logs.get(i);
    if (log == nullptr) continue;
    first[{log->jobid(), log->subid()}] = i;
    size[static_cast<size_t>(i)] = log->data().length();
  }
  std::vector<int> target(static_cast<size_t>(page.length()), -1);
  bool text = false;
  long long longest = 0;
  for (int i = 0; i < page.length(); ++i) {
    HxLog const* log = page.get(i);
    if (log == nullptr) continue;
    auto const placed = first.emplace(std::make_pair(log->jobid(), log->subid()), static_cast<int>(size.size()));
    int const at = placed.first->second;
    if (placed.second) size.push_back(0);
    target[static_cast<size_t>(i)] = at;
    long long const n = log->data().length();
    size[static_cast<size_t>(at)] += n;
    if (size[static_cast<size_t>(at)] > max_bytes) return -1;
    if (n > 0) text = true;
    if (n > longest) longest = n;
  }
  for (int i = 0; i < page.length(); ++i) {
    HxLog const* log = page.get(i);
    if (log == nullptr) continue;
    int const at = target[static_cast<size_t>(i)];
    if (at < logs.length()) {
      logs.get(at)->append(log->data());
    } else {
      logs.append(new HxLog(*log));
    }
  }
  advance = longest;
  return text ? 1 : 0;
}

int _hx_log_pages(HxCommand& cmd, HxLogList& logs, int request_type, long long max_bytes) {
  HxField* pos = nullptr;
  HxFilterList& filters = cmd.filters();
  for (int i = 0; i < filters.length(); ++i) {
    HxFilter* f = filters.get(i);
    if (f != nullptr && f->name() == HxString("pos")) pos = first_field(*f);
  }
  long long position = 0;
  if (pos == nullptr) {
    auto* f = new HxFilter(HxString("pos"), HxString("0"));
    filters.append(f);
    pos = first_field(*f);
  } else {
    // Read in 64 bits: strtoll saturates where an int would overflow.
    position = pos->value().longlongvalue();
    if (position < 0) {
      pos->value(HxString("0"));
      position = 0;
    }
  }
  filters.append(new HxFilter(HxString("len"), HxString(kHxLogPageBytes)));

  for (;;) {
    HxMessage reply;
    if (!ask(cmd, request_type, reply)) return 0;
    HxLogList* page = _hx_log_reply(reply);
    if (page == nullptr) return 0;
    if (page->length() == 0) return 1;
    long long advance = 0;
    int const merged = _hx_log_merge(*page, logs, max_bytes, advance);
    if (merged < 0) return 0;
    if (merged == 0) return 1;
    if (position > LLONG_MAX - advance) return 0;
    position += advance;
    pos->value(HxString(position));
  }
}

int _hx_get_log(HxCommand& cmd, HxLogList& logs, int logtype) {
  int request_type;
  if (logtype == HxLog::kOut) {
    request_type = kHxReqStdout;
  } else if (logtype == HxLog::kErr) {
    request_type = kHxReqStderr;
  } else {
    _hx_api_fail(HxString("ERROR: unknown logtype: ") + HxString(logtype));
    return 0;
  }

  HxString base = hxgetclientlogpath();
  if (!(base == HxString(kHxUseSupervisor)) && HxLog::islocal(base, cmd)) {
    logs.load(base, cmd, logtype);
    return 1;
  }

  bool has_len = false;
  for (int i = 0; i < cmd.filters().length(); ++i) {
    HxFilter const* f = cmd.filters().get(i);
    if (f != nullptr && f->name() == HxString("len")) has_len = true;
  }
  if (!has_len) return _hx_log_pages(cmd, logs, request_type, kHxMaxFileBytes);

  HxMessage reply;
  if (!ask(cmd, request_type, reply)) return 0;
  HxLogList* list = _hx_log_reply(reply);
  if (list == nullptr) return 0;
  _hx_move_elements(*list, logs);
  return 1;
}

int hxstdoutstream(int jobid, int subid, int offset, HxString& text) {
  return _hx_api_guard(-1, [&] { return _hx_logstream(jobid, subid, offset, text, HxLog::kOut); });
}

int hxstderrstream(int jobid, int subid, int offset, HxString& text) {
  return _hx_api_guard(-1, [&] { return _hx_logstream(jobid, subid, offset, text, HxLog::kErr); });
}

int _hx_logstream(int jobid, int subid, int offset, HxString& text, int logtype) {
  text = HxString("");
  if (offset < 0) return -1;
  HxClientConfig config;
  HxString const path = HxLog::joblogfile(config.worker_logpath(), jobid, subid, logtype);
  // The positioned reader opens regular files only (a pipe gives -1 instead
  // of blocking) and stops at the bound of one text; the count keeps the
  // returned offset within an int.
  HxString got("");
  long long const room = static_cast<long long>(INT_MAX) - offset;
  long long const end = HxFile::loadpos(path, offset, room, got);
  if (end < 0) return -1;
  if (end <= offset) return offset;
  // Zero bytes are skipped, counted in the offset but not taken, so that one
  // cannot hold every later call at the same place.
  char const* p = got.value();
  int const n = got.length();
  int from = 0;
  for (int i = 0; i <= n; ++i) {
    if (i == n || p[i] == '\0') {
      if (i > from) text += HxString(p + from, i - from);
      from = i + 1;
    }
  }
  return static_cast<int>(end);
}

#pragma once

#include "core/HxString.h"
#include "model/job/HxCommand.h"
#include "model/job/HxLog.h"
#include "net/HxMessage.h"

// Job logs: the standard output (type 1) and standard error (type 2) logs of
// the jobs a command names, read from the log tree when it is reachable here
// and else asked of the supervisor page by page; and one subjob's log read
// from the local worker's log directory from an offset on, for following a
// growing log.

// The most bytes of every log one page asks for.
constexpr int kHxLogPageBytes = 1024000;

int hxstdout(HxCommand& cmd, HxLogList& logs);
int hxstderr(HxCommand& cmd, HxLogList& logs);

// Appends the logs of the command's jobs and work items to logs. A caller's
// "len" filter asks once; otherwise pages from its "pos" (added when
// missing) until a page brings no text, merging each log's pieces; "pos"
// then names the position after the last page. 1, or 0 after a failed page
// (what came before stays) or when a log would grow past the bound of one
// text. No API error is set.
int _hx_get_log(HxCommand& cmd, HxLogList& logs, int logtype);

// The text of the subjob's log from offset on (zero bytes left out) and the
// offset after the last byte read; -1 with empty text when the file cannot
// be read or the offset is negative.
int hxstdoutstream(int jobid, int subid, int offset, HxString& text);
int hxstderrstream(int jobid, int subid, int offset, HxString& text);
int _hx_logstream(int jobid, int subid, int offset, HxString& text, int logtype);

// ---- the parts the tests and fuzz targets reach ----

// The reply check of both roads: the reply's log list, or null after the
// blank or invalid-list line.
HxLogList* _hx_log_reply(HxMessage& reply);

// Merges one page into logs: each log's text goes to the first log of the
// same job and subjob, or a copy is appended. Gives 1 with advance set to the
// longest text of the page, 0 when the page brought no text, and -1 (nothing
// merged) when a log would pass max_bytes.
int _hx_log_merge(HxLogList& page, HxLogList& logs, long long max_bytes, long long& advance);

// The paging of the remote road, with the bound on one log's gathered text.
int _hx_log_pages(HxCommand& cmd, HxLogList& logs, int request, long long max_bytes);

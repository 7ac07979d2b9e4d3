#pragma once

#include "model/job/HxCallbackId.h"
#include "model/job/HxJobId.h"
#include "model/job/HxWorkId.h"

class HxCommand;
class HxModifyCommand;
class HxMessage;
class HxResult;

// Job, work and callback commands: one request to the supervisor whose tag is
// the command's action, answered with what it acted on. None of these writes
// a line when no supervisor answers, and none sets the API error.

// Whether _hx_api_command sends this action: the job actions 201, 207-211,
// 215-217, 219-221, 223-227, 231, the moves 290 (top) and 291 (bottom), the
// work actions 604-615 and 802 (remove a callback).
bool _hx_command_accepted(int action);

// Reads a command's reply into result. A peer of the current protocol
// answers with a result, which result takes over (its lists replaced). An
// older peer answers with bare job or work ids, appended to result's lists;
// other content gives 1 with nothing moved, but its refusal or error reply
// (tag 3 or 4) gives 0. Failures other than these are lines on standard
// error.
int _hx_reply_V(HxMessage& reply, HxResult& result);

// The reply of a move or a modification: as _hx_reply_V, but only job ids
// count, appended to ids (an older peer's other content gives 1).
int _hx_reply_V_jobids(HxMessage& reply, HxJobIdList& ids);

// Checks cmd's action (a refused one writes "ERROR: unknown command: <n>" to
// the debug log and sends nothing), sends the command (290 and 291 as a move
// to the top or bottom, 223) and reads the reply as _hx_reply_V. 1 / 0.
int _hx_api_command(HxCommand& cmd, HxResult& result);
int hxcommand(HxCommand& cmd, HxResult& result);
int hxcommandwork(HxCommand& cmd, HxResult& result);

// Set cmd's action, run _hx_api_command into a result of their own and move
// its job, work or callback ids to the end of ids (also after a failure:
// whatever the result holds).
int _hx_api_command(int action, HxCommand& cmd, HxJobIdList& ids);
int _hx_api_work_command(int action, HxCommand& cmd, HxWorkIdList& ids);
int _hx_api_callback_command(int action, HxCommand& cmd, HxCallbackIdList& ids);
int hxcommand(int action, HxCommand& cmd, HxJobIdList& ids);
int hxcommandwork(int action, HxCommand& cmd, HxWorkIdList& ids);

// Move the jobs cmd selects to the top or the bottom of the queue (223, the
// caller's action left as it is, no action check), appending the moved job
// ids to ids.
int hxtop(HxCommand& cmd, HxJobIdList& ids);
int hxbottom(HxCommand& cmd, HxJobIdList& ids);
// Changes the jobs cmd selects (211); the changed job ids are appended.
int hxmodify(HxModifyCommand& cmd, HxJobIdList& ids);

// One action each; the command's action is overwritten.
int hxremove(HxCommand& cmd, HxJobIdList& ids);
int hxkill(HxCommand& cmd, HxJobIdList& ids);
int hxinterrupt(HxCommand& cmd, HxJobIdList& ids);
int hxpreempt(HxCommand& cmd, HxJobIdList& ids);
int hxblock(HxCommand& cmd, HxJobIdList& ids);
int hxunblock(HxCommand& cmd, HxJobIdList& ids);
int hxsuspend(HxCommand& cmd, HxJobIdList& ids);
int hxresume(HxCommand& cmd, HxJobIdList& ids);
int hxrequeue(HxCommand& cmd, HxJobIdList& ids);
int hxretry(HxCommand& cmd, HxJobIdList& ids);
int hxmigrate(HxCommand& cmd, HxJobIdList& ids);
int hxshove(HxCommand& cmd, HxJobIdList& ids);
int hxretire(HxCommand& cmd, HxJobIdList& ids);
int hxreset(HxCommand& cmd, HxJobIdList& ids);
int hxretrywork(HxCommand& cmd, HxWorkIdList& ids);
int hxkillwork(HxCommand& cmd, HxWorkIdList& ids);
int hxblockwork(HxCommand& cmd, HxWorkIdList& ids);
int hxunblockwork(HxCommand& cmd, HxWorkIdList& ids);
int hxrequeuework(HxCommand& cmd, HxWorkIdList& ids);
int hxcompletework(HxCommand& cmd, HxWorkIdList& ids);
int hxretirework(HxCommand& cmd, HxWorkIdList& ids);
int hxremovecallback(HxCommand& cmd, HxCallbackIdList& ids);

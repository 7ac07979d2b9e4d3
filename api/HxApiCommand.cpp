#include "api/HxApiCommand.h"

#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxRequestTypes.h"
#include "core/HxDebug.h"
#include "model/job/HxCommand.h"
#include "model/job/HxResult.h"

namespace {

constexpr int kJobIdListType = 18;
constexpr int kWorkIdListType = 60;
constexpr int kResultType = 188;

// An older peer's refusal or error carries no ids: it is a failure, not an
// answer without content.
bool old_failure(HxMessage const& reply) {
  return reply.tag() == kHxReplyRefused || reply.tag() == kHxReplyError;
}

// A current peer's result, or null after its line.
HxResult* result_of(HxMessage& reply) {
  if (reply.content() == nullptr) {
    _hx_api_fail(kHxBlankLine);
    return nullptr;
  }
  auto* result = _hx_reply_content<HxResult>(reply, kResultType);
  if (result == nullptr) _hx_invalid_line(HxReplyObject::kReport, reply.contenttype());
  return result;
}

// An older peer's id list of the declared type: a declared type whose
// content is not that list counts as none.
template <class List>
List* old_ids(HxMessage& reply, int type) {
  auto* list = _hx_reply_content<List>(reply, type);
  if (list == nullptr) _hx_api_fail(kHxBlankLine);
  return list;
}

}  // namespace

int _hx_reply_V_jobids(HxMessage& reply, HxJobIdList& ids) {
  if (reply.version() < kHxVersionResults) {
    if (old_failure(reply)) return 0;
    if (reply.contenttype() != kJobIdListType) return 1;
    auto* list = old_ids<HxJobIdList>(reply, kJobIdListType);
    if (list == nullptr) return 0;
    _hx_move_elements(*list, ids);
    return 1;
  }
  HxResult* result = result_of(reply);
  if (result == nullptr) return 0;
  _hx_move_elements(result->jobids(), ids);
  return 1;
}

namespace {

// Sends a copy of cmd as a move in direction (1 top, 2 bottom); the copy
// lives for the call only.
bool send_bump(HxCommand const& cmd, int direction, HxMessage& reply) {
  HxBumpCommand bump;
  bump.copy(cmd);
  bump.direction(direction);
  HxMessage request(kHxReqBump);
  HxLentContent lend(request, bump);
  return _hx_api_supervisor(request, reply, nullptr);
}

int bump(HxCommand& cmd, int direction, HxJobIdList& ids) {
  HxMessage reply;
  if (!send_bump(cmd, direction, reply)) return 0;
  return _hx_reply_V_jobids(reply, ids);
}

}  // namespace

bool _hx_command_accepted(int action) {
  switch (action) {
    case 201:
    case 207:
    case 208:
    case 209:
    case 210:
    case 211:
    case 215:
    case 216:
    case 217:
    case 219:
    case 220:
    case 221:
    case 223:
    case 224:
    case 225:
    case 226:
    case 227:
    case 231:
    case kHxActionTop:
    case kHxActionBottom:
    case kHxReqRemoveCallback:
      return true;
    default:
      return action >= kHxReqRetryWork && action <= kHxReqRetireWork;
  }
}

int _hx_reply_V(HxMessage& reply, HxResult& result) {
  if (reply.version() >= kHxVersionResults) {
    HxResult* theirs = result_of(reply);
    if (theirs == nullptr) return 0;
    result.steal(*theirs);
    return 1;
  }
  if (old_failure(reply)) return 0;
  if (reply.contenttype() == kJobIdListType) {
    auto* list = old_ids<HxJobIdList>(reply, kJobIdListType);
    if (list == nullptr) return 0;
    _hx_move_elements(*list, result.jobids());
  } else if (reply.contenttype() == kWorkIdListType) {
    auto* list = old_ids<HxWorkIdList>(reply, kWorkIdListType);
    if (list == nullptr) return 0;
    _hx_move_elements(*list, result.workids());
  }
  return 1;
}

int _hx_api_command(HxCommand& cmd, HxResult& result) {
  int const action = cmd.action();
  if (!_hx_command_accepted(action)) {
    HxDebug& log = *hx_debug_obj();
    log.lock();
    log.mark() << "ERROR: unknown command: " << action << '\n';
    log.unlock();
    return 0;
  }
  HxMessage reply;
  if (action == kHxActionTop || action == kHxActionBottom) {
    if (!send_bump(cmd, action == kHxActionTop ? 1 : 2, reply)) return 0;
  } else {
    HxMessage request(action);
    HxLentContent lend(request, cmd);
    if (!_hx_api_supervisor(request, reply, nullptr)) return 0;
  }
  return _hx_reply_V(reply, result);
}

int hxcommand(HxCommand& cmd, HxResult& result) { return _hx_api_command(cmd, result); }
int hxcommandwork(HxCommand& cmd, HxResult& result) { return _hx_api_command(cmd, result); }

int _hx_api_command(int action, HxCommand& cmd, HxJobIdList& ids) {
  cmd.action(action);
  HxResult result;
  int const ok = _hx_api_command(cmd, result);
  _hx_move_elements(result.jobids(), ids);
  return ok;
}

int _hx_api_work_command(int action, HxCommand& cmd, HxWorkIdList& ids) {
  cmd.action(action);
  HxResult result;
  int const ok = _hx_api_command(cmd, result);
  _hx_move_elements(result.workids(), ids);
  return ok;
}

int _hx_api_callback_command(int action, HxCommand& cmd, HxCallbackIdList& ids) {
  cmd.action(action);
  HxResult result;
  int const ok = _hx_api_command(cmd, result);
  _hx_move_elements(result.callbackids(), ids);
  return ok;
}

int hxcommand(int action, HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(action, cmd, ids); }
int hxcommandwork(int action, HxCommand& cmd, HxWorkIdList& ids) { return _hx_api_work_command(action, cmd, ids); }

int hxtop(HxCommand& cmd, HxJobIdList& ids) { return bump(cmd, 1, ids); }
int hxbottom(HxCommand& cmd, HxJobIdList& ids) { return bump(cmd, 2, ids); }

int hxmodify(HxModifyCommand& cmd, HxJobIdList& ids) {
  HxMessage reply;
  {
    HxMessage request(kHxReqModify);
    HxLentContent lend(request, cmd);
    if (!_hx_api_supervisor(request, reply, nullptr)) return 0;
  }
  return _hx_reply_V_jobids(reply, ids);
}

int hxremove(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqRemove, cmd, ids); }
int hxkill(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqKill, cmd, ids); }
int hxinterrupt(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqInterrupt, cmd, ids); }
int hxpreempt(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqPreempt, cmd, ids); }
int hxblock(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqBlock, cmd, ids); }
int hxunblock(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqUnblock, cmd, ids); }
int hxsuspend(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqSuspend, cmd, ids); }
int hxresume(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqResume, cmd, ids); }
int hxrequeue(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqRequeue, cmd, ids); }
int hxretry(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqRetry, cmd, ids); }
int hxmigrate(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqMigrate, cmd, ids); }
int hxshove(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqShove, cmd, ids); }
int hxretire(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqRetire, cmd, ids); }
int hxreset(HxCommand& cmd, HxJobIdList& ids) { return _hx_api_command(kHxReqReset, cmd, ids); }
int hxretrywork(HxCommand& cmd, HxWorkIdList& ids) { return _hx_api_work_command(kHxReqRetryWork, cmd, ids); }
int hxkillwork(HxCommand& cmd, HxWorkIdList& ids) { return _hx_api_work_command(kHxReqKillWork, cmd, ids); }
int hxblockwork(HxCommand& cmd, HxWorkIdList& ids) { return _hx_api_work_command(kHxReqBlockWork, cmd, ids); }
int hxunblockwork(HxCommand& cmd, HxWorkIdList& ids) { return _hx_api_work_command(kHxReqUnblockWork, cmd, ids); }
int hxrequeuework(HxCommand& cmd, HxWorkIdList& ids) { return _hx_api_work_command(kHxReqRequeueWork, cmd, ids); }
int hxcompletework(HxCommand& cmd, HxWorkIdList& ids) {
  return _hx_api_work_command(kHxReqCompleteWork, cmd, ids);
}
int hxretirework(HxCommand& cmd, HxWorkIdList& ids) { return _hx_api_work_command(kHxReqRetireWork, cmd, ids); }
int hxremovecallback(HxCommand& cmd, HxCallbackIdList& ids) {
  return _hx_api_callback_command(kHxReqRemoveCallback, cmd, ids);
}

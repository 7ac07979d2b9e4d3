#include "api/HxApiStats.h"

#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "model/farm/HxPreference.h"
#include "model/job/HxCommand.h"
#include "model/job/HxHistory.h"
#include "model/job/HxLog.h"
#include "net/HxClient.h"
#include "net/HxConnection.h"

namespace {

// The statistics log's type in the job log tree.
constexpr int kStatsLogType = 3;

template <class List>
int ask(int tag, HxPack* lent, List& out) {
  HxMessage request(tag), reply;
  bool delivered;
  if (lent != nullptr) {
    HxLentContent lend(request, *lent);
    delivered = _hx_api_supervisor(request, reply, nullptr);
  } else {
    delivered = _hx_api_supervisor(request, reply, nullptr);
  }
  return delivered ? _hx_reply_N(reply, out) : 0;
}

}  // namespace

int hxstats(HxCommand& cmd, HxLogList& logs) {
  // Statistics read from the log tree can be large: running out of memory
  // fails the call (API error "out of memory") instead of escaping.
  return _hx_api_guard(0, [&] {
    // No log path at all names no tree (not the current or root directory).
    HxString const base = hxgetclientlogpath();
    if (base.length() > 0 && base != kHxUseSupervisor && HxLog::islocal(base, cmd)) {
      logs.load(base, cmd, kStatsLogType);
      return 1;
    }
    return ask(kHxReqStats, &cmd, logs);
  });
}

int hxhist(HxCommand& cmd, HxHistoryList& entries) { return ask(kHxReqHistory, &cmd, entries); }

int hxfarminfo(HxString const& name, HxStringList& items) {
  HxStringList sent;
  sent.append(new HxString(name));
  return ask(kHxReqFarmInfo, &sent, items);
}

int hxqueuetally(HxDataTableList& tables) { return ask(kHxReqQueueTally, nullptr, tables); }

int hxqueuesummary(HxStringList& names, HxDataTableList& tables) { return ask(kHxReqQueueSummary, &names, tables); }

HxString hxcurrentuser() {
  HxConnection::init();
  return HxClient::currentuser();
}

HxString hxcurrentdomain() {
  HxConnection::init();
  return HxClient::currentdomain();
}

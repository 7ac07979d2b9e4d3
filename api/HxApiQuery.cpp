#include "api/HxApiQuery.h"

#include <cstdio>

#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "config/HxConfig.h"
#include "config/HxJobConfig.h"
#include "core/HxHash.h"
#include "core/HxTime.h"
#include "model/farm/HxAccess.h"
#include "model/farm/HxDuty.h"
#include "model/farm/HxHost.h"
#include "model/farm/HxResource.h"
#include "model/farm/HxSupe.h"
#include "model/job/HxAssignment.h"
#include "model/job/HxJob.h"
#include "model/job/HxQuery.h"
#include "net/HxConnection.h"

namespace {

constexpr char kNoWorkerStdout[] = "Could not talk to worker\n";

// One supervisor request carrying `lent` (when not null) for the call.
bool to_supervisor(int tag, HxPack* lent, HxMessage& reply, char const* unreachable) {
  HxMessage request(tag);
  if (lent == nullptr) return _hx_api_supervisor(request, reply, unreachable);
  HxLentContent lend(request, *lent);
  return _hx_api_supervisor(request, reply, unreachable);
}

enum class Family { kL, kN };

template <class List>
int supervisor_list(int tag, HxPack* lent, List& out, Family family, char const* unreachable) {
  HxMessage reply;
  if (!to_supervisor(tag, lent, reply, unreachable)) return 0;
  return family == Family::kL ? _hx_reply_L(reply, out) : _hx_reply_N(reply, out);
}

int supervisor_ack(int tag, HxPack& lent) {
  HxMessage reply;
  if (!to_supervisor(tag, &lent, reply, kHxNoSupervisorLine)) return 0;
  return _hx_reply_A3(reply);
}

}  // namespace

int hxjobinfo(HxQuery& query, HxJobList& jobs) {
  return supervisor_list(kHxReqJobInfo, &query, jobs, Family::kL, kHxNoSupervisorLine);
}

int hxjoborder(HxQuery& query, HxJobList& jobs) {
  return supervisor_list(kHxReqJobOrder, &query, jobs, Family::kL, nullptr);
}

int hxhostorder(HxQuery& query, HxHostList& hosts) {
  return supervisor_list(kHxReqHostOrder, &query, hosts, Family::kL, nullptr);
}

int hxhostinfo(HxQuery& query, HxHostList& hosts) {
  return supervisor_list(kHxReqHostInfo, &query, hosts, Family::kN, nullptr);
}

int hxdutyinfo(HxDutyList& duties) {
  return supervisor_list(kHxReqDutyInfo, nullptr, duties, Family::kL, kHxNoSupervisorLine);
}

int hxresource(HxResourceList& resources) {
  return supervisor_list(kHxReqResource, nullptr, resources, Family::kL, kHxNoSupervisorLine);
}

int hxsupervisorinfo(HxSupeList& supes) {
  return supervisor_list(kHxReqSupervisorInfo, nullptr, supes, Family::kN, nullptr);
}

int hxusers(HxAccessList& users) {
  return supervisor_list(kHxReqUsers, nullptr, users, Family::kN, kHxNoSupervisorLine);
}

int hxbannedworkers(HxHostList& hosts) {
  HxMessage reply;
  if (!to_supervisor(kHxReqBannedWorkers, nullptr, reply, kHxNoSupervisorLine)) return 0;
  if (_hx_reply_A3(reply) == 0) return 0;
  return _hx_reply_N(reply, hosts);
}

int hxupdateresource(HxResourceList& resources) { return supervisor_ack(kHxReqUpdateResource, resources); }

int hxworkerdelete(HxStringList& hosts) { return supervisor_ack(kHxReqWorkerDelete, hosts); }

int hxworkerundelete(HxStringList& hosts) { return supervisor_ack(kHxReqWorkerUndelete, hosts); }

int hxremovehost(HxStringList& hosts) { return hxworkerdelete(hosts); }

int hxsupervisorconfig(HxConfig& config) {
  HxMessage reply;
  if (!to_supervisor(kHxReqConfig, nullptr, reply, kHxNoSupervisorLine)) return 0;
  return _hx_reply_R(reply, config, HxReplyObject::kConfig);
}

int hxworkerconfig(HxString const& host, HxConfig& config) {
  HxMessage request(kHxReqConfig), reply;
  if (!_hx_api_worker(host, request, reply, kHxNoWorkerLine)) return 0;
  return _hx_reply_R(reply, config, HxReplyObject::kConfig);
}

int hxassignmentinfo(HxString const& host, HxAssignmentList& assignments) {
  HxMessage request(kHxReqAssignmentInfo), reply;
  if (!_hx_api_worker(host, request, reply, nullptr)) {
    std::fputs(kNoWorkerStdout, stdout);
    std::fflush(stdout);
    return 0;
  }
  return _hx_reply_N(reply, assignments);
}

// A worker's reply is used only when it carries the class asked for:
// anything else gives 0 and leaves the caller's object alone.
int _hx_reply_assignments(HxMessage& reply, HxAssignmentList& assignments) {
  auto* list = _hx_reply_content<HxAssignmentList>(reply, assignments.type());
  if (list == nullptr) return 0;
  _hx_move_elements(*list, assignments);
  return 1;
}

int _hx_reply_host(HxMessage const& reply, HxHost& info) {
  auto* record = _hx_reply_content<HxHost>(reply, info.type());
  if (record == nullptr) return 0;
  info.copy(*record);
  return 1;
}

int hxworkerassign(HxString const& host, HxAssignmentList& assignments) {
  HxMessage request(kHxReqAssignmentInfo), reply;
  if (!_hx_api_worker(host, request, reply, nullptr, true)) return 0;
  return _hx_reply_assignments(reply, assignments);
}

int hxworkerinfo(HxString const& host, HxHost& info) {
  HxMessage request(kHxReqHostInfo), reply;
  if (!_hx_api_worker(host, request, reply, nullptr, true)) return 0;
  return _hx_reply_host(reply, info);
}

int hxworkerupdatevars(HxStringHash& vars, HxString const& host) {
  HxMessage request(kHxReqWorkerUpdateVars), reply;
  HxLentContent lend(request, vars);
  return _hx_api_worker(host, request, reply, nullptr, true) ? 1 : 0;
}

HxString hxjobconfig(HxString const& jobtype, HxString const& key, unsigned char flag) {
  return HxJobConfig(jobtype).option(key, flag);
}

unsigned char hxjobtypeavailable(HxString path, HxStringList& types) {
  HxJobConfig::available(path, types);
  return static_cast<unsigned char>(types.length() & 0xff);
}

int hxcurrenttime() {
  HxConnection::init();
  HxString const supervisor = hxgetsupervisor();
  if (supervisor.length() > 0) {
    HxTime::syncToServer(supervisor);
  } else {
    HxTime::syncToServer();
  }
  HxTime now;
  now.setToNow();
  return now.value();
}

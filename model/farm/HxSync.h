#pragma once

#include <tuple>

#include "config/HxConfigFile.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"
#include "model/farm/HxAccess.h"
#include "model/farm/HxHost.h"
#include "model/job/HxJob.h"
#include "model/job/HxJobId.h"

// The supervisors' synchronisation record: jobs, job ids, hosts, host
// configurations, access records, group access and passwords, with the time
// of the last update, a server id, the highest job id and two codes that
// supervisors set and read. Copies are deep.
class HxSync : public HxRecord<HxSync> {
 public:
  HxSync() = default;
  HxSync(HxSync const& other) : HxRecord<HxSync>() { copy(other); }
  HxSync& operator=(HxSync const& other) {
    copy(other);
    return *this;
  }
  void copy(HxSync const& other);

  int type() const override { return 171; }
  HxString typeXML() const override { return "sync"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "jobs", &HxSync::jobs_), hx_field(2, "hosts", &HxSync::hosts_),
                           hx_field(10, "last_update", &HxSync::lastupdate_), hx_field(11, "jobids", &HxSync::jobids_),
                           hx_field(12, "server_id", &HxSync::serverid_),
                           hx_field(14, "max_jobid", &HxSync::maxjobid_), hx_field(15, "content", &HxSync::content_),
                           hx_field(16, "hostconfigs", &HxSync::hostconfigs_),
                           hx_field(17, "access", &HxSync::access_),
                           hx_field(18, "group_access", &HxSync::groupaccess_),
                           hx_field(20, "passwords", &HxSync::passwords_), hx_field(21, "mode", &HxSync::mode_));
  }

  HxJobList& jobs() { return jobs_; }
  HxJobIdHash& jobids() { return jobids_; }
  HxHostList& hosts() { return hosts_; }
  HxConfigList& hostconfigs() { return hostconfigs_; }
  HxAccessList& access() { return access_; }
  HxGroupAccessList& groupaccess() { return groupaccess_; }
  HxPasswordList& passwords() { return passwords_; }
  HxTime const& lastupdate() const { return lastupdate_; }
  void lastupdate(HxTime const& t) { lastupdate_ = t; }
  int serverid() const { return serverid_; }
  void serverid(int v) { serverid_ = v; }
  int maxjobid() const { return maxjobid_; }
  void maxjobid(int v) { maxjobid_ = v; }
  int content() const { return content_; }
  void content(int v) { content_ = v; }
  int mode() const { return mode_; }
  void mode(int v) { mode_ = v; }

 private:
  HxJobList jobs_;
  HxHostList hosts_;
  HxTime lastupdate_;
  HxJobIdHash jobids_;
  int serverid_ = -1;
  int maxjobid_ = -1;
  int content_ = 0;
  HxConfigList hostconfigs_;
  HxAccessList access_;
  HxGroupAccessList groupaccess_;
  HxPasswordList passwords_;
  int mode_ = 0;
};

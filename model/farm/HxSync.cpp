#include "model/farm/HxSync.h"

void HxSync::copy(HxSync const& o) {
  if (&o == this) return;
  jobs_.copy(o.jobs_);
  hosts_.copy(o.hosts_);
  lastupdate_.copy(o.lastupdate_);
  jobids_.copy(o.jobids_);
  serverid_ = o.serverid_;
  maxjobid_ = o.maxjobid_;
  content_ = o.content_;
  hostconfigs_.copy(o.hostconfigs_);
  access_.copy(o.access_);
  groupaccess_.copy(o.groupaccess_);
  passwords_.copy(o.passwords_);
  mode_ = o.mode_;
}

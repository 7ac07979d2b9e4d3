#include "model/job/HxJob.h"

#include "config/HxFlags.h"

void HxJob::copy(HxJob const& other) {
  if (&other == this) return;
  // The other job may live inside one of this job's lists (a child copied
  // onto its parent): releasing those lists would destroy it. So its lists
  // are copied first, then its values, and only then are this job's lists
  // replaced.
  HxSubjobList subjobs;
  subjobs.copy(other.subjobs_);
  HxVariableList variables;
  variables.copy(other.variables_);
  HxJobList children;
  children.copy(other.children_);
  HxWorkList agenda;
  agenda.copy(other.agenda_);
  HxWorkList p_agenda;
  p_agenda.copy(other.p_agenda_);
  HxCallbackList callbacks;
  callbacks.copy(other.callbacks_);
  static_cast<HxJobValues&>(*this) = other;
  subjobs_.steal(subjobs);
  variables_.steal(variables);
  children_.steal(children);
  agenda_.steal(agenda);
  p_agenda_.steal(p_agenda);
  callbacks_.steal(callbacks);
}

void HxJob::base(HxJob const& o) {
  if (&o == this) return;
  id_ = o.id_;
  pid_ = o.pid_;
  pgrp_ = o.pgrp_;
  priority_ = o.priority_;
  globalorder_ = o.globalorder_;
  localorder_ = o.localorder_;
  cpus_ = o.cpus_;
  immediatecpus_ = o.immediatecpus_;
  max_cpus_ = o.max_cpus_;
  todo_ = o.todo_;
  flags_ = o.flags_;
  serverid_ = o.serverid_;
  timeout_ = o.timeout_;
  agenda_timeout_ = o.agenda_timeout_;
  auto_migrate_count_ = o.auto_migrate_count_;
  retrysubjob_ = o.retrysubjob_;
  retrywork_ = o.retrywork_;
  retrywork_delay_ = o.retrywork_delay_;

  status_ = o.status_;
  cpustally_ = o.cpustally_;
  todotally_ = o.todotally_;

  user_ = o.user_;
  domain_ = o.domain_;
  password_ = o.password_;
  name_ = o.name_;
  cluster_ = o.cluster_;
  data_ = o.data_;
  prototype_ = o.prototype_;
  kind_ = o.kind_;
  path_ = o.path_;
  logpath_ = o.logpath_;
  account_ = o.account_;
  notes_ = o.notes_;
  label_ = o.label_;
  queue_ = o.queue_;
  groups_ = o.groups_;
  hosts_ = o.hosts_;
  hostorder_ = o.hostorder_;
  requirements_ = o.requirements_;
  reservations_ = o.reservations_;
  restrictions_ = o.restrictions_;
  omithosts_ = o.omithosts_;
  omitgroups_ = o.omitgroups_;
  dependency_ = o.dependency_;
  mailaddress_ = o.mailaddress_;
  range_ = o.range_;
  prod_show_ = o.prod_show_;
  prod_shot_ = o.prod_shot_;
  prod_seq_ = o.prod_seq_;
  prod_client_ = o.prod_client_;
  prod_dept_ = o.prod_dept_;
  prod_custom1_ = o.prod_custom1_;
  prod_custom2_ = o.prod_custom2_;
  prod_custom3_ = o.prod_custom3_;
  prod_custom4_ = o.prod_custom4_;
  prod_custom5_ = o.prod_custom5_;
  preflights_ = o.preflights_;
  postflights_ = o.postflights_;
  agenda_preflights_ = o.agenda_preflights_;
  agenda_postflights_ = o.agenda_postflights_;

  timesubmit_ = o.timesubmit_;
  timestart_ = o.timestart_;
  timecomplete_ = o.timecomplete_;
  lastupdate_ = o.lastupdate_;
  deadline_ = o.deadline_;
  eta_ = o.eta_;

  env_ = o.env_;
  pathmap_ = o.pathmap_;
}

HxString HxJob::stub() const {
  HxString key;
  key += cluster_;
  key += priority_;
  key += reservations_;
  key += restrictions_;
  key += requirements_;
  key += groups_;
  key += hosts_;
  key += flags_;
  key += localorder_;
  key += globalorder_;
  key += watch_;
  key += omithosts_;
  key += omitgroups_;
  key += deadline_.value();
  return key;
}

HxPackage HxJob::package() const {
  HxPackage p;
  p.expand(data_);
  return p;
}

HxString HxJob::flagsstring() const { return hx_job_flag_string(flags_); }

void HxJob::flagsstring(HxString const& text) { flags_ = hx_job_flag_int(text); }

bool HxJob::multiprocessor() const { return hx_host_processors(reservations_) >= 2; }

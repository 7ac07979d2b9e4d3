#pragma once

#include <tuple>

#include "config/HxEnv.h"
#include "config/HxPathMap.h"
#include "core/HxAddress.h"
#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxPackage.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxCallback.h"
#include "model/job/HxFieldAccessors.h"
#include "model/job/HxStatus.h"
#include "model/job/HxSubjob.h"
#include "model/job/HxVariable.h"
#include "model/job/HxWork.h"

class HxJob;

HX_NAMED_LIST(HxJobList, HxJob, 5, "job_list");

// The fields of a job that a copy takes as values: all but its six lists and
// the in-memory count and watch.
class HxJobValues {
 protected:
  int id_ = 1;
  int pid_ = -1;
  int pgrp_ = -1;
  int priority_ = -1;
  int p_agenda_priority_ = -1;
  int p_agenda_cpus_ = -1;
  int globalorder_ = 0;
  int localorder_ = 0;
  int flags_ = 0;
  HxStatus status_;
  HxStatus maskstatus_;
  HxStatus agendastatus_;
  HxStatus subjobstatus_;
  HxString user_;
  HxString domain_;
  HxString password_;
  HxString name_;
  HxString label_;
  HxString cluster_;
  HxTime timesubmit_;
  HxTime timestart_;
  HxTime timecomplete_;
  HxTime eta_;
  HxString data_;
  HxString queue_;
  HxEnv env_;
  int cpus_ = 1;
  int immediatecpus_ = 0;
  int todo_ = 0;
  HxString prototype_;
  HxString kind_;
  HxString path_;
  HxString reason_;
  HxString account_;
  HxString notes_;
  HxString groups_;
  HxString hosts_;
  HxString omithosts_;
  HxString omitgroups_;
  HxString hostorder_;
  HxString logpath_;
  HxString restrictions_;
  HxString requirements_;
  HxString reservations_;
  HxString dependency_;
  HxString mailaddress_;
  HxString prototypepath_;
  HxString range_;
  HxAddress sourcehost_;
  HxStatusTally cpustally_;
  HxStatusTally todotally_;
  HxPathMap pathmap_;
  HxString prod_show_;
  HxString prod_shot_;
  HxString prod_seq_;
  HxString prod_client_;
  HxString prod_dept_;
  HxString prod_custom1_;
  HxString prod_custom2_;
  HxString prod_custom3_;
  HxString prod_custom4_;
  HxString prod_custom5_;
  HxString preflights_;
  HxString postflights_;
  HxString agenda_preflights_;
  HxString agenda_postflights_;
  HxTime lastupdate_;
  HxTime deadline_;
  int timeout_ = -1;
  int agenda_timeout_ = -1;
  int auto_migrate_count_ = 0;
  int serverid_ = 0;
  int subjobswaiting_ = 0;
  int retrysubjob_ = -1;
  int retrywork_ = -1;
  int retrywork_delay_ = 0;
  int max_cpus_ = -1;
};

// The job: what a user submits, queries return and job control acts on. It
// owns its subjobs, agenda, second agenda, child jobs, callbacks and
// variables.
class HxJob : public HxRecord<HxJob>, public HxJobValues {
 public:
  HxJob() = default;
  // A copy starts with count and watch 0, which copy() leaves alone.
  HxJob(HxJob const& other) : HxRecord<HxJob>(), HxJobValues() { copy(other); }
  HxJob& operator=(HxJob const& other) {
    copy(other);
    return *this;
  }
  ~HxJob() override = default;

  int type() const override { return 1; }
  HxString typeXML() const override { return "job"; }

  // Wire order; tags 25, 45 and 46 belong to no field.
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(1, "id", &HxJob::id_), hx_field(2, "pid", &HxJob::pid_), hx_field(4, "priority", &HxJob::priority_),
        hx_field(31, "local_order", &HxJob::localorder_), hx_field(32, "global_order", &HxJob::globalorder_),
        hx_field(3, "pgrp", &HxJob::pgrp_), hx_field(5, "user", &HxJob::user_),
        hx_field(38, "domain", &HxJob::domain_), hx_field(35, "password", &HxJob::password_),
        hx_field(6, "status", &HxJob::status_), hx_field(7, "subjobs", &HxJob::subjobs_),
        hx_field(8, "name", &HxJob::name_), hx_field(12, "cpus", &HxJob::cpus_),
        hx_field(85, "max_cpus", &HxJob::max_cpus_), hx_field(20, "todo", &HxJob::todo_),
        hx_field(9, "cluster", &HxJob::cluster_), hx_field(10, "children", &HxJob::children_),
        hx_field(11, "agenda", &HxJob::agenda_), hx_field(13, "callbacks", &HxJob::callbacks_),
        hx_field(14, "requirements", &HxJob::requirements_), hx_field(30, "reservations", &HxJob::reservations_),
        hx_field(34, "restrictions", &HxJob::restrictions_), hx_field(36, "groups", &HxJob::groups_),
        hx_field(37, "hosts", &HxJob::hosts_), hx_field(41, "host_order", &HxJob::hostorder_),
        hx_field(15, "data", &HxJob::data_), hx_field(33, "queue", &HxJob::queue_),
        hx_field(16, "prototype", &HxJob::prototype_), hx_field(17, "path", &HxJob::path_),
        hx_field(18, "reason", &HxJob::reason_), hx_field(19, "logpath", &HxJob::logpath_),
        hx_field(21, "cpus_tally", &HxJob::cpustally_), hx_field(22, "todo_tally", &HxJob::todotally_),
        hx_field(23, "time_submit", &HxJob::timesubmit_), hx_field(39, "time_start", &HxJob::timestart_),
        hx_field(24, "time_complete", &HxJob::timecomplete_), hx_field(26, "flags", &HxJob::flags_),
        hx_field(27, "label", &HxJob::label_), hx_field(28, "account", &HxJob::account_),
        hx_field(29, "env", &HxJob::env_), hx_field(40, "kind", &HxJob::kind_),
        hx_field(42, "server_id", &HxJob::serverid_), hx_field(43, "last_update", &HxJob::lastupdate_),
        hx_field(44, "timeout", &HxJob::timeout_), hx_field(47, "variables", &HxJob::variables_),
        hx_field(48, "agenda_status", &HxJob::agendastatus_), hx_field(49, "subjob_status", &HxJob::subjobstatus_),
        hx_field(50, "path_map", &HxJob::pathmap_), hx_field(51, "retry_subjob", &HxJob::retrysubjob_),
        hx_field(52, "retry_work", &HxJob::retrywork_), hx_field(53, "omit_hosts", &HxJob::omithosts_),
        hx_field(60, "omit_groups", &HxJob::omitgroups_), hx_field(54, "dependency", &HxJob::dependency_),
        hx_field(55, "deadline", &HxJob::deadline_), hx_field(56, "mail_address", &HxJob::mailaddress_),
        hx_field(57, "notes", &HxJob::notes_), hx_field(58, "prototype_path", &HxJob::prototypepath_),
        hx_field(59, "source_host", &HxJob::sourcehost_), hx_field(61, "immediate_cpus", &HxJob::immediatecpus_),
        hx_field(62, "mask_status", &HxJob::maskstatus_), hx_field(63, "eta", &HxJob::eta_),
        hx_field(64, "range", &HxJob::range_), hx_field(65, "agenda_timeout", &HxJob::agenda_timeout_),
        hx_field(66, "auto_migrate_count", &HxJob::auto_migrate_count_),
        hx_field(67, "retrywork_delay", &HxJob::retrywork_delay_), hx_field(68, "p_agenda", &HxJob::p_agenda_),
        hx_field(69, "p_agenda_priority", &HxJob::p_agenda_priority_),
        hx_field(70, "p_agenda_cpus", &HxJob::p_agenda_cpus_), hx_field(71, "prod_show", &HxJob::prod_show_),
        hx_field(72, "prod_shot", &HxJob::prod_shot_), hx_field(73, "prod_seq", &HxJob::prod_seq_),
        hx_field(74, "prod_client", &HxJob::prod_client_), hx_field(75, "prod_dept", &HxJob::prod_dept_),
        hx_field(76, "prod_custom1", &HxJob::prod_custom1_), hx_field(77, "prod_custom2", &HxJob::prod_custom2_),
        hx_field(78, "prod_custom3", &HxJob::prod_custom3_), hx_field(79, "prod_custom4", &HxJob::prod_custom4_),
        hx_field(80, "prod_custom5", &HxJob::prod_custom5_), hx_field(81, "preflights", &HxJob::preflights_),
        hx_field(82, "postflights", &HxJob::postflights_),
        hx_field(83, "agenda_preflights", &HxJob::agenda_preflights_),
        hx_field(84, "agenda_postflights", &HxJob::agenda_postflights_));
  }

  // Takes every field of the other job but count and watch. The whole copy
  // is built before anything of this job is released, so a job may be copied
  // from one of its own descendants; a job copied onto itself stays as it is.
  void copy(HxJob const& other);
  // Takes the other job's settings, status and tallies, without its lists,
  // part statuses, reason, type location, source host or in-memory counters.
  void base(HxJob const& other);

  // ---- numbers ----
  HX_INT_ACCESSORS(id)
  HX_INT_ACCESSORS(pid)
  HX_INT_ACCESSORS(pgrp)
  HX_INT_ACCESSORS(priority)
  HX_INT_ACCESSORS(p_agenda_priority)
  HX_INT_ACCESSORS(p_agenda_cpus)
  HX_INT_ACCESSORS(globalorder)
  HX_INT_ACCESSORS(localorder)
  HX_INT_ACCESSORS(flags)
  HX_INT_ACCESSORS(immediatecpus)
  HX_INT_ACCESSORS(todo)
  HX_INT_ACCESSORS(timeout)
  HX_INT_ACCESSORS(agenda_timeout)
  HX_INT_ACCESSORS(auto_migrate_count)
  HX_INT_ACCESSORS(serverid)
  HX_INT_ACCESSORS(subjobswaiting)
  HX_INT_ACCESSORS(count)
  HX_INT_ACCESSORS(watch)
  HX_INT_ACCESSORS(retrysubjob)
  HX_INT_ACCESSORS(retrywork)
  HX_INT_ACCESSORS(retrywork_delay)
  HX_INT_ACCESSORS(max_cpus)
  int cpus() const { return cpus_; }
  // Stores 1 for any value below 2; the decoders take the value as it comes.
  void cpus(int n) { cpus_ = n < 2 ? 1 : n; }

  // ---- texts ----
  HX_TEXT_ACCESSORS(user)
  HX_TEXT_ACCESSORS(domain)
  HX_TEXT_ACCESSORS(password)
  HX_TEXT_ACCESSORS(name)
  HX_TEXT_ACCESSORS(label)
  HX_TEXT_ACCESSORS(cluster)
  HX_TEXT_ACCESSORS(data)
  HX_TEXT_ACCESSORS(queue)
  HX_TEXT_ACCESSORS(prototype)
  HX_TEXT_ACCESSORS(kind)
  HX_TEXT_ACCESSORS(path)
  HX_TEXT_ACCESSORS(reason)
  HX_TEXT_ACCESSORS(account)
  HX_TEXT_ACCESSORS(notes)
  HX_TEXT_ACCESSORS(groups)
  HX_TEXT_ACCESSORS(hosts)
  HX_TEXT_ACCESSORS(omithosts)
  HX_TEXT_ACCESSORS(omitgroups)
  HX_TEXT_ACCESSORS(hostorder)
  HX_TEXT_ACCESSORS(logpath)
  HX_TEXT_ACCESSORS(restrictions)
  HX_TEXT_ACCESSORS(requirements)
  HX_TEXT_ACCESSORS(reservations)
  HX_TEXT_ACCESSORS(dependency)
  HX_TEXT_ACCESSORS(mailaddress)
  HX_TEXT_ACCESSORS(prototypepath)
  HX_TEXT_ACCESSORS(range)
  HX_TEXT_ACCESSORS(prod_show)
  HX_TEXT_ACCESSORS(prod_shot)
  HX_TEXT_ACCESSORS(prod_seq)
  HX_TEXT_ACCESSORS(prod_client)
  HX_TEXT_ACCESSORS(prod_dept)
  HX_TEXT_ACCESSORS(prod_custom1)
  HX_TEXT_ACCESSORS(prod_custom2)
  HX_TEXT_ACCESSORS(prod_custom3)
  HX_TEXT_ACCESSORS(prod_custom4)
  HX_TEXT_ACCESSORS(prod_custom5)
  HX_TEXT_ACCESSORS(preflights)
  HX_TEXT_ACCESSORS(postflights)
  HX_TEXT_ACCESSORS(agenda_preflights)
  HX_TEXT_ACCESSORS(agenda_postflights)

  // ---- statuses, times, address, environment ----
  HX_RECORD_ACCESSORS(HxStatus, status)
  HX_RECORD_ACCESSORS(HxStatus, maskstatus)
  HX_RECORD_ACCESSORS(HxStatus, agendastatus)
  HX_RECORD_ACCESSORS(HxStatus, subjobstatus)
  HX_RECORD_ACCESSORS(HxTime, timesubmit)
  HX_RECORD_ACCESSORS(HxTime, timestart)
  HX_RECORD_ACCESSORS(HxTime, timecomplete)
  HX_RECORD_ACCESSORS(HxTime, eta)
  HX_RECORD_ACCESSORS(HxTime, lastupdate)
  HX_RECORD_ACCESSORS(HxTime, deadline)
  HX_RECORD_COPY_ACCESSORS(HxAddress, sourcehost)
  HxEnv& env() { return env_; }
  HxEnv env() const { return env_; }
  void env(HxEnv const& e) { env_ = e; }
  // Sets the environment from its text form.
  void env(HxString const& text) { env_.revert(text); }

  // ---- lists, tallies and path map ----
  HX_MEMBER_ACCESSORS(HxSubjobList, subjobs)
  HX_MEMBER_ACCESSORS(HxVariableList, variables)
  HX_MEMBER_ACCESSORS(HxJobList, children)
  HX_MEMBER_ACCESSORS(HxWorkList, agenda)
  HX_MEMBER_ACCESSORS(HxWorkList, p_agenda)
  HX_MEMBER_ACCESSORS(HxCallbackList, callbacks)
  HX_MEMBER_ACCESSORS(HxStatusTally, cpustally)
  HX_MEMBER_ACCESSORS(HxStatusTally, todotally)
  HX_MEMBER_ACCESSORS(HxPathMap, pathmap)

  // ---- questions ----
  bool pending() const { return status_.pending(); }
  bool waiting() const { return status_.waiting(); }
  bool assigned() const { return status_.assigned(); }
  bool none() const { return status_.none(); }
  // The "grid" flag with two or more instances.
  bool grid() const { return (flags_ & kGridFlag) != 0 && cpus_ >= 2; }
  bool elite() const { return (flags_ & kEliteFlag) != 0; }
  // Whether the reservations ask for two or more host processors.
  bool multiprocessor() const;
  // The id modulo n, signed like the id (0 for n of 0 or -1).
  int sid(int n) const { return hx_sid(id_, n); }
  // The scheduling key: jobs with equal settings have equal keys.
  HxString stub() const;

  // The data package, expanded from and compacted into the data text.
  HxPackage package() const;
  void package(HxPackage const& p) { data_ = p.compact(); }
  // The flags as names of the job flag table; setting them replaces every bit.
  HxString flagsstring() const;
  void flagsstring(HxString const& text);

  static constexpr int kGridFlag = 0x4;
  static constexpr int kEliteFlag = 0x200;

 private:
  // The job's kind text, not the codec's record kind.
  using HxJobValues::kind_;

  HxSubjobList subjobs_;
  HxVariableList variables_;
  HxJobList children_;
  HxWorkList agenda_;
  HxWorkList p_agenda_;
  HxCallbackList callbacks_;
  int count_ = 0;
  int watch_ = 0;
};

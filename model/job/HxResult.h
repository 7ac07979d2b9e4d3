#pragma once

#include <tuple>

#include "core/HxAddress.h"
#include "core/HxError.h"
#include "core/HxList.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxCallbackId.h"
#include "model/job/HxJobId.h"
#include "model/job/HxWorkId.h"

// One fault of a request: an error and the jobs, work items and hosts it
// concerns. Work ids and host names share field 3 on the wire; the record
// mechanism tells them apart by the type number each list opens with (60 and
// 64).
class HxFault : public HxRecord<HxFault> {
 public:
  int type() const override { return 187; }
  HxString typeXML() const override { return "fault"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "error", &HxFault::error_), hx_field(2, "job_id_list", &HxFault::jobids_),
                           hx_field(3, "work_id_list", &HxFault::workids_),
                           hx_field(3, "hostname_list", &HxFault::hostnames_));
  }

  HxError& error() { return error_; }
  HxError const& error() const { return error_; }
  HxJobIdList& jobids() { return jobids_; }
  HxJobIdList const& jobids() const { return jobids_; }
  HxWorkIdList& workids() { return workids_; }
  HxWorkIdList const& workids() const { return workids_; }
  HxHostnameList& hostnames() { return hostnames_; }
  HxHostnameList const& hostnames() const { return hostnames_; }

 private:
  HxError error_;
  HxJobIdList jobids_;
  HxWorkIdList workids_;
  HxHostnameList hostnames_;
};

HX_NAMED_LIST(HxFaultList, HxFault, 186, "fault_list");

// The answer to a command: the jobs, work items, callbacks and hosts the
// request reached, an overall error and the faults. Faults travel first.
class HxResult : public HxRecord<HxResult> {
 public:
  int type() const override { return 188; }
  HxString typeXML() const override { return "result"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(3, "fault_list", &HxResult::faults_), hx_field(1, "job_id_list", &HxResult::jobids_),
                           hx_field(2, "work_id_list", &HxResult::workids_), hx_field(4, "error", &HxResult::error_),
                           hx_field(5, "hostname_list", &HxResult::hostnames_),
                           hx_field(6, "callback_id_list", &HxResult::callbackids_));
  }

  // Takes the other result's elements over (its lists are left empty, this
  // result's former elements destroyed) and copies its error, which the
  // other keeps. Stealing from itself keeps the result.
  void steal(HxResult& other) {
    if (&other == this) return;
    faults_.steal(other.faults_);
    jobids_.steal(other.jobids_);
    workids_.steal(other.workids_);
    callbackids_.steal(other.callbackids_);
    hostnames_.steal(other.hostnames_);
    error_.copy(other.error_);
  }

  HxFaultList& faults() { return faults_; }
  HxFaultList const& faults() const { return faults_; }
  HxJobIdList& jobids() { return jobids_; }
  HxJobIdList const& jobids() const { return jobids_; }
  HxWorkIdList& workids() { return workids_; }
  HxWorkIdList const& workids() const { return workids_; }
  HxCallbackIdList& callbackids() { return callbackids_; }
  HxCallbackIdList const& callbackids() const { return callbackids_; }
  HxHostnameList& hostnames() { return hostnames_; }
  HxHostnameList const& hostnames() const { return hostnames_; }
  HxError& error() { return error_; }
  HxError const& error() const { return error_; }

 private:
  HxHostnameList hostnames_;
  HxFaultList faults_;
  HxJobIdList jobids_;
  HxWorkIdList workids_;
  HxCallbackIdList callbackids_;
  HxError error_;
};

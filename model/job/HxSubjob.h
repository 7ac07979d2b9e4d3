#pragma once

#include <tuple>

#include "core/HxAddress.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxFieldAccessors.h"
#include "model/job/HxStatus.h"

// The count of the "host.processors" item of a reservation text; 0 when the
// text holds none.
int hx_host_processors(HxString const& reservations);

// One instance of a job: one copy of the job's process on a worker, with the
// worker's names and addresses, its status, counters and times, and the
// resources allocated to it.
class HxSubjob : public HxRecord<HxSubjob> {
 public:
  int type() const override { return 4; }
  HxString typeXML() const override { return "subjob"; }

  // The time of the last change travels eleventh, after the count.
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(1, "id", &HxSubjob::id_), hx_field(2, "pid", &HxSubjob::pid_), hx_field(3, "host", &HxSubjob::host_),
        hx_field(4, "status", &HxSubjob::status_), hx_field(5, "address", &HxSubjob::address_),
        hx_field(7, "data", &HxSubjob::data_), hx_field(8, "result", &HxSubjob::result_),
        hx_field(9, "mac_address", &HxSubjob::macaddress_), hx_field(10, "retry", &HxSubjob::retry_),
        hx_field(11, "count", &HxSubjob::count_), hx_field(6, "last_update", &HxSubjob::lastupdate_),
        hx_field(12, "seq", &HxSubjob::seq_), hx_field(13, "time_start", &HxSubjob::timestart_),
        hx_field(14, "time_complete", &HxSubjob::timecomplete_),
        hx_field(15, "allocations", &HxSubjob::allocations_),
        hx_field(16, "time_cumulative", &HxSubjob::timecumulative_));
  }

  HX_INT_ACCESSORS(id)
  HX_INT_ACCESSORS(pid)
  HX_TEXT_ACCESSORS(host)
  HX_RECORD_ACCESSORS(HxStatus, status)
  HX_RECORD_COPY_ACCESSORS(HxAddress, address)
  HX_RECORD_ACCESSORS(HxMacAddress, macaddress)
  HX_TEXT_ACCESSORS(data)
  HX_TEXT_ACCESSORS(result)
  HX_INT_ACCESSORS(retry)
  HX_INT_ACCESSORS(count)
  HX_INT_ACCESSORS(seq)
  HX_RECORD_ACCESSORS(HxTime, lastupdate)
  HX_RECORD_ACCESSORS(HxTime, timestart)
  HX_RECORD_ACCESSORS(HxTime, timecomplete)
  HX_INT_ACCESSORS(timecumulative)
  HX_TEXT_ACCESSORS(allocations)

  bool active() const { return status_.active(); }
  bool done() const { return status_.done(); }
  bool assigned() const { return status_.assigned(); }
  bool none() const { return status_.none(); }
  bool pending() const { return status_.pending(); }
  bool suspended() const { return status_.suspended(); }
  bool badlogin() const { return status_.badlogin(); }
  bool waiting() const { return status_.waiting(); }
  bool running() const { return status_.running(); }
  bool complete() const { return status_.complete(); }
  bool warning() const { return status_.warning(); }
  bool blocked() const { return status_.blocked(); }
  bool failed() const { return status_.failed(); }
  bool killed() const { return status_.killed(); }

  // The owning job's id modulo n (0 for n of 0 or -1).
  int sid(int n) const { return hx_sid(pid_, n); }
  // The host processors allocated to the subjob; 0 when none are.
  int jobSlots() const { return hx_host_processors(allocations_); }

 private:
  int id_ = 0;
  int pid_ = -1;
  HxAddress address_;
  HxMacAddress macaddress_;
  HxTime lastupdate_;
  HxString host_;
  HxStatus status_;
  HxString data_;
  HxString result_;
  int retry_ = 0;
  int count_ = 0;
  int seq_ = 0;
  HxTime timestart_;
  HxTime timecomplete_;
  int timecumulative_ = 0;
  HxString allocations_;
};

// The subjobs of a job or a host. Beside its items it keeps a status and a
// tally of its own, which travel in neither form and which a copy leaves as
// they are.
class HxSubjobList : public HxList<HxSubjob> {
 public:
  HxSubjobList() = default;
  HxSubjobList(HxSubjobList const& other) : HxList<HxSubjob>(other) {}
  HxSubjobList& operator=(HxSubjobList const& other) {
    copy(other);
    return *this;
  }
  int type() const override { return 6; }
  HxString typeXML() const override { return "subjob_list"; }
  void copy(HxSubjobList const& other) { HxBaseList<HxSubjob>::copy(other); }

  HxStatus& status() { return status_; }
  HxStatus const& status() const { return status_; }
  HxStatusTally& tally() { return tally_; }
  HxStatusTally const& tally() const { return tally_; }

 private:
  HxStatus status_;
  HxStatusTally tally_;
};

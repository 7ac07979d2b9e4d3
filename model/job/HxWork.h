#pragma once

#include <tuple>

#include "core/HxAddress.h"
#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxFieldAccessors.h"
#include "model/job/HxStatus.h"

// One agenda item of a job: a named piece of work (a frame or a range of
// frames) handed to one of the job's subjobs, with its status, progress,
// retries and times.
class HxWork : public HxRecord<HxWork> {
 public:
  int type() const override { return 14; }
  HxString typeXML() const override { return "work"; }

  // The retry delay (19) travels between the retry (10) and the count (11).
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(1, "name", &HxWork::name_), hx_field(2, "sub_id", &HxWork::subid_), hx_field(3, "host", &HxWork::host_),
        hx_field(4, "status", &HxWork::status_), hx_field(5, "address", &HxWork::address_),
        hx_field(6, "pid", &HxWork::pid_), hx_field(7, "data", &HxWork::data_), hx_field(8, "id", &HxWork::id_),
        hx_field(9, "result", &HxWork::result_), hx_field(10, "retry", &HxWork::retry_),
        hx_field(19, "retrydelay", &HxWork::retrydelay_), hx_field(11, "count", &HxWork::count_),
        hx_field(12, "dependency", &HxWork::dependency_), hx_field(13, "percent", &HxWork::percent_),
        hx_field(14, "last_update", &HxWork::lastupdate_), hx_field(15, "seq", &HxWork::seq_),
        hx_field(16, "time_start", &HxWork::timestart_), hx_field(17, "time_complete", &HxWork::timecomplete_),
        hx_field(18, "mac_address", &HxWork::macaddress_),
        hx_field(20, "time_cumulative", &HxWork::timecumulative_));
  }

  HX_TEXT_ACCESSORS(name)
  HX_INT_ACCESSORS(subid)
  HX_TEXT_ACCESSORS(host)
  HX_RECORD_ACCESSORS(HxStatus, status)
  HX_RECORD_COPY_ACCESSORS(HxAddress, address)
  HX_INT_ACCESSORS(pid)
  HX_TEXT_ACCESSORS(data)
  HX_INT_ACCESSORS(id)
  HX_TEXT_ACCESSORS(result)
  HX_INT_ACCESSORS(retry)
  HX_INT_ACCESSORS(retrydelay)
  HX_INT_ACCESSORS(count)
  HX_TEXT_ACCESSORS(dependency)
  HX_INT_ACCESSORS(percent)
  HX_RECORD_ACCESSORS(HxTime, lastupdate)
  HX_INT_ACCESSORS(seq)
  HX_RECORD_ACCESSORS(HxTime, timestart)
  HX_RECORD_ACCESSORS(HxTime, timecomplete)
  HX_RECORD_COPY_ACCESSORS(HxMacAddress, macaddress)
  HX_INT_ACCESSORS(timecumulative)

  bool active() const { return status_.active(); }
  bool assigned() const { return status_.assigned(); }
  bool killed() const { return status_.killed(); }
  bool running() const { return status_.running(); }
  bool failed() const { return status_.failed(); }
  bool suspended() const { return status_.suspended(); }
  bool complete() const { return status_.complete(); }
  bool warning() const { return status_.warning(); }
  bool done() const { return status_.done(); }
  bool pending() const { return status_.pending(); }
  bool blocked() const { return status_.blocked(); }
  bool waiting() const { return status_.waiting(); }
  bool none() const { return status_.none(); }

  // The owning job's id modulo n (0 for n of 0 or -1).
  int sid(int n) const { return hx_sid(pid_, n); }

  // "<job id>:<name>", with the ":" even for an empty name ("-1:" for a new
  // item); the API keys its sequence numbers by this text.
  HxString workid() const {
    HxString text(pid_);
    text += ':';
    text += name_;
    return text;
  }

 private:
  HxString name_;
  HxStatus status_;
  int subid_ = -1;
  HxString host_;
  HxString data_;
  HxString result_;
  HxString dependency_;
  HxAddress address_;
  HxMacAddress macaddress_;
  int pid_ = -1;
  int id_ = -1;
  int retry_ = 0;
  int retrydelay_ = 0;
  int seq_ = 0;
  int count_ = 0;
  int percent_ = 0;
  HxTime lastupdate_;
  HxTime timestart_;
  HxTime timecomplete_;
  int timecumulative_ = 0;
};

// A job's agenda. Beside its items it keeps a status and a tally of its own,
// which travel in neither form and which a copy leaves as they are.
class HxWorkList : public HxList<HxWork> {
 public:
  HxWorkList() = default;
  HxWorkList(HxWorkList const& other) : HxList<HxWork>(other) {}
  HxWorkList& operator=(HxWorkList const& other) {
    copy(other);
    return *this;
  }
  int type() const override { return 15; }
  HxString typeXML() const override { return "work_list"; }
  void copy(HxWorkList const& other) { HxBaseList<HxWork>::copy(other); }

  HxStatus& status() { return status_; }
  HxStatus const& status() const { return status_; }
  HxStatusTally& tally() { return tally_; }
  HxStatusTally const& tally() const { return tally_; }

 private:
  HxStatus status_;
  HxStatusTally tally_;
};

// The work items an assignment carries, under the keys the sender chose.
HX_NAMED_HASH(HxWorkHash, HxWork, 70, "work_hash");

#pragma once

#include <tuple>

#include "core/HxList.h"
#include "core/pack/HxRecord.h"
#include "model/farm/HxHost.h"
#include "model/job/HxJob.h"
#include "model/job/HxSubjob.h"

// The kind of instance a duty runs; nothing in the library sets it beyond
// its accessors.
enum HxInstanceType : int { kHxInstanceNone = 0 };

// A job, one of its subjobs and a host tied together. Only the three records
// travel, subjob first; the preemption flag and the instance type stay in the
// process, and copies carry the flag only.
class HxDuty : public HxRecord<HxDuty> {
 public:
  HxDuty() = default;
  HxDuty(HxDuty const& other) : HxRecord<HxDuty>() { copy(other); }
  HxDuty& operator=(HxDuty const& other) {
    copy(other);
    return *this;
  }
  void copy(HxDuty const& other) {
    if (&other == this) return;
    subjob_.copy(other.subjob_);
    job_.copy(other.job_);
    host_.copy(other.host_);
    preempt_ = other.preempt_;
  }

  int type() const override { return 44; }
  HxString typeXML() const override { return "duty"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(2, "subjob", &HxDuty::subjob_), hx_field(1, "job", &HxDuty::job_),
                           hx_field(3, "host", &HxDuty::host_));
  }

  HxJob& job() { return job_; }
  HxJob const& job() const { return job_; }
  void job(HxJob const& v) { job_ = v; }
  HxSubjob& subjob() { return subjob_; }
  HxSubjob const& subjob() const { return subjob_; }
  void subjob(HxSubjob const& v) { subjob_ = v; }
  HxHost& host() { return host_; }
  HxHost const& host() const { return host_; }
  void host(HxHost const& v) { host_ = v; }
  unsigned char preempt() const { return preempt_; }
  void preempt(unsigned char v) { preempt_ = v; }
  HxInstanceType instance_type() const { return instance_type_; }
  void instance_type(HxInstanceType v) { instance_type_ = v; }

 private:
  HxSubjob subjob_;
  HxJob job_;
  HxHost host_;
  unsigned char preempt_ = 0;
  HxInstanceType instance_type_ = kHxInstanceNone;
};

HX_NAMED_LIST(HxDutyList, HxDuty, 45, "duty_list");

#pragma once

#include <tuple>

#include "config/HxPathMap.h"
#include "core/HxAddress.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxFieldAccessors.h"
#include "model/job/HxJob.h"
#include "model/job/HxLog.h"
#include "model/job/HxReservation.h"
#include "model/job/HxSubjob.h"
#include "model/job/HxVariable.h"
#include "model/job/HxWork.h"

// Resource statistics of one subjob: peak threads, memory and swap, when it
// started and ended, and where it ran.
class HxJobStats : public HxRecord<HxJobStats> {
 public:
  int type() const override { return 42; }
  HxString typeXML() const override { return "job_stats"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "job_id", &HxJobStats::jobid_), hx_field(2, "sub_id", &HxJobStats::subid_),
                           hx_field(3, "threads", &HxJobStats::maxthreads_), hx_field(4, "start", &HxJobStats::start_),
                           hx_field(5, "end", &HxJobStats::end_), hx_field(6, "max_memory", &HxJobStats::maxmemory_),
                           hx_field(7, "max_swap", &HxJobStats::maxswap_), hx_field(8, "host", &HxJobStats::host_));
  }

  HX_INT_ACCESSORS(jobid)
  HX_INT_ACCESSORS(subid)
  HX_INT_ACCESSORS(maxthreads)
  HX_INT_ACCESSORS(maxmemory)
  HX_INT_ACCESSORS(maxswap)
  HX_TEXT_ACCESSORS(host)
  HX_RECORD_ACCESSORS(HxTime, start)
  HX_RECORD_ACCESSORS(HxTime, end)

  // One line, fields at TABs, ended by LF:
  //   job.sub  start: [time] value  end: [time] value  time: [duration] seconds
  //   host: h  thread: n  mem: n  swap: n
  // The duration is taken in 64 bits: times far apart do not overflow it.
  HxString data() const;
  // Takes the larger of each peak (threads, memory, swap) of the two.
  void tally(HxJobStats const& other);

 private:
  int jobid_ = -1;
  int subid_ = -1;
  int maxthreads_ = 0;
  HxTime start_;
  HxTime end_;
  int maxmemory_ = 0;
  int maxswap_ = 0;
  HxString host_;
};

// One subjob assignment as a worker hands it to the job's process: the job,
// the subjob, its statistics and log positions, the work items and variables
// that go with it, the server's address and the path map to use. Beside the
// fields that travel it keeps the worker's own bookkeeping.
class HxAssignment : public HxRecord<HxAssignment> {
 public:
  HxAssignment() = default;
  HxAssignment(HxAssignment const& other) : HxRecord<HxAssignment>() { copy(other); }
  HxAssignment& operator=(HxAssignment const& other) {
    copy(other);
    return *this;
  }
  // Leaves out the work items, variables, start time and every field that
  // does not travel: the copy keeps its own.
  void copy(HxAssignment const& other);

  int type() const override { return 25; }
  HxString typeXML() const override { return "assignment"; }
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(1, "job", &HxAssignment::job_), hx_field(2, "subjob", &HxAssignment::subjob_),
        hx_field(3, "proc_id", &HxAssignment::procid_), hx_field(4, "thread_id", &HxAssignment::threadid_),
        hx_field(5, "stats", &HxAssignment::jobstats_), hx_field(6, "outpos", &HxAssignment::outpos_),
        hx_field(7, "errpos", &HxAssignment::errpos_), hx_field(8, "work", &HxAssignment::work_),
        hx_field(9, "develop", &HxAssignment::develop_), hx_field(10, "time_start", &HxAssignment::timestart_),
        hx_field(11, "variable", &HxAssignment::variable_),
        hx_field(12, "server_address", &HxAssignment::serveraddress_),
        hx_field(13, "outstartpos", &HxAssignment::outstartpos_),
        hx_field(14, "errstartpos", &HxAssignment::errstartpos_), hx_field(15, "pathmap", &HxAssignment::pathmap_),
        hx_field(16, "automounted", &HxAssignment::automounted_), hx_field(17, "order", &HxAssignment::order_));
  }

  HX_MEMBER_ACCESSORS(HxJob, job)
  void job(HxJob const& j) { job_ = j; }
  HX_MEMBER_ACCESSORS(HxSubjob, subjob)
  void subjob(HxSubjob const& s) { subjob_ = s; }
  HX_MEMBER_ACCESSORS(HxJobStats, jobstats)
  void jobstats(HxJobStats const& s) { jobstats_ = s; }
  HX_MEMBER_ACCESSORS(HxWorkHash, work)
  HX_MEMBER_ACCESSORS(HxVariableHash, variable)
  HX_MEMBER_ACCESSORS(HxPathMap, pathmap)
  HX_MEMBER_ACCESSORS(HxTime, timestart)
  HX_MEMBER_ACCESSORS(HxTime, lastpost)
  HX_RECORD_COPY_ACCESSORS(HxAddress, serveraddress)
  HxString automounted() const { return automounted_; }
  void automounted(HxString const& v) { automounted_ = v; }
  HX_INT_ACCESSORS(procid)
  HX_INT_ACCESSORS(threadid)
  HX_INT_ACCESSORS(order)
  HX_INT_ACCESSORS(outpos)
  HX_INT_ACCESSORS(errpos)
  HX_INT_ACCESSORS(outstartpos)
  HX_INT_ACCESSORS(errstartpos)
  HX_INT_ACCESSORS(port)
  bool develop() const { return develop_; }
  void develop(bool v) { develop_ = v; }
  bool verified() const { return verified_; }
  void verified(bool v) { verified_ = v; }
  bool started() const { return started_; }
  void started(bool v) { started_ = v; }
  bool missing() const { return missing_; }
  void missing(bool v) { missing_ = v; }
  HX_TEXT_ACCESSORS(host)
  HX_TEXT_ACCESSORS(sid)

 private:
  HxJob job_;
  HxSubjob subjob_;
  int procid_ = 0;
  int threadid_ = 0;
  HxJobStats jobstats_;
  int outpos_ = 0;
  int errpos_ = 0;
  HxWorkHash work_;
  bool develop_ = false;
  HxTime timestart_;
  HxVariableHash variable_;
  HxAddress serveraddress_;
  int outstartpos_ = 0;
  int errstartpos_ = 0;
  HxPathMap pathmap_;
  HxString automounted_;
  int order_ = 0;
  // Not sent.
  bool verified_ = false;
  bool missing_ = true;
  bool started_ = false;
  HxString host_;
  int port_ = 0;
  HxTime lastpost_;
  HxString sid_;
};

// A subjob's report: its statistics and extracts of its standard output and
// standard error logs.
class HxReport : public HxRecord<HxReport> {
 public:
  int type() const override { return 43; }
  HxString typeXML() const override { return "report"; }
  // The subjob (2) travels before the statistics (1).
  static auto wire_fields() {
    return std::make_tuple(hx_field(2, "subjob", &HxReport::subjob_), hx_field(1, "job_stats", &HxReport::jobstats_),
                           hx_field(3, "out_log", &HxReport::outlog_), hx_field(4, "err_log", &HxReport::errlog_));
  }

  HX_MEMBER_ACCESSORS(HxSubjob, subjob)
  void subjob(HxSubjob const& s) { subjob_ = s; }
  HX_MEMBER_ACCESSORS(HxJobStats, jobstats)
  void jobstats(HxJobStats const& s) { jobstats_ = s; }
  HX_MEMBER_ACCESSORS(HxLog, outlog)
  HX_MEMBER_ACCESSORS(HxLog, errlog)

 private:
  HxSubjob subjob_;
  HxJobStats jobstats_;
  HxLog outlog_;
  HxLog errlog_;
};

// A request for a reservation on behalf of a subjob; whether it was met is
// kept here only and never sent.
class HxRequest : public HxRecord<HxRequest> {
 public:
  int type() const override { return 93; }
  HxString typeXML() const override { return "request"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "reservation", &HxRequest::reservation_),
                           hx_field(2, "subjob", &HxRequest::subjob_));
  }

  HX_MEMBER_ACCESSORS(HxReservation, reservation)
  void reservation(HxReservation const& r) { reservation_ = r; }
  HX_MEMBER_ACCESSORS(HxSubjob, subjob)
  void subjob(HxSubjob const& s) { subjob_ = s; }
  bool satisfied() const { return satisfied_; }
  void satisfied(bool v) { satisfied_ = v; }

 private:
  HxReservation reservation_;
  HxSubjob subjob_;
  bool satisfied_ = false;
};

HX_NAMED_LIST(HxAssignmentList, HxAssignment, 26, "assignment_list");
HX_NAMED_LIST(HxRequestList, HxRequest, 94, "request_list");

#pragma once

#include <tuple>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// One event: a category, its own name, a label, the job and subjob it
// concerns, one text id (work item, variable or host, by category), time
// values and bookkeeping numbers. Its full name, such as "done-job-render",
// is the vocabulary of trigger texts.
class HxEvent : public HxRecord<HxEvent> {
 public:
  enum Category {
    kJob = 0,
    kSubjob = 1,
    kWork = 2,
    kUnknown = 4,
    kVariable = 5,
    kClient = 6,
    kTime = 8,
    kRepeat = 16,
    kHost = 32,  // written by the full name, but has no word and no bit
    kGlobal = 128,
    kGlobalTime = 136,
    kGlobalRepeat = 152,
  };

  HxEvent() = default;
  // A job event.
  HxEvent(int jobid, HxString const& name) : category_(kJob), jobid_(jobid), name_(name) {}
  // A subjob event.
  HxEvent(int jobid, int subid, HxString const& name)
      : category_(kSubjob), jobid_(jobid), subid_(subid), name_(name) {}
  // A work event: the text id is the work item's name.
  HxEvent(int jobid, HxString const& workid, HxString const& name)
      : category_(kWork), jobid_(jobid), textid_(workid), name_(name) {}
  // The defaults, then the full name parsed.
  explicit HxEvent(HxString const& fullname) { this->fullname(fullname); }

  int type() const override { return 16; }
  HxString typeXML() const override { return "event"; }
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(1, "category", &HxEvent::category_), hx_field(11, "label", &HxEvent::label_),
        hx_field(2, "job_id", &HxEvent::jobid_), hx_field(3, "sub_id", &HxEvent::subid_),
        hx_field(4, "text_id", &HxEvent::textid_), hx_field(8, "name", &HxEvent::name_),
        hx_field(7, "extra", &HxEvent::extra_), hx_field(5, "start", &HxEvent::start_),
        hx_field(6, "interval", &HxEvent::interval_), hx_field(9, "flag", &HxEvent::flag_),
        hx_field(10, "callback", &HxEvent::callback_), hx_field(12, "pid", &HxEvent::pid_),
        hx_field(13, "id", &HxEvent::id_));
  }

  int category() const { return category_; }
  void category(int category) { category_ = category; }
  int jobid() const { return jobid_; }
  void jobid(int jobid) { jobid_ = jobid; }
  int subid() const { return subid_; }
  void subid(int subid) { subid_ = subid; }
  int start() const { return start_; }
  void start(int start) { start_ = start; }
  int interval() const { return interval_; }
  void interval(int interval) { interval_ = interval; }
  int flag() const { return flag_; }
  void flag(int flag) { flag_ = flag; }
  int callback() const { return callback_; }
  void callback(int callback) { callback_ = callback; }
  int pgrp() const { return pgrp_.value; }
  void pgrp(int pgrp) { pgrp_.value = pgrp; }
  int pid() const { return pid_; }
  void pid(int pid) { pid_ = pid; }
  int id() const { return id_; }
  void id(int id) { id_ = id; }
  HxString const& label() const { return label_; }
  void label(HxString const& label) { label_ = label; }
  HxString const& name() const { return name_; }
  void name(HxString const& name) { name_ = name; }
  HxString const& extra() const { return extra_; }
  void extra(HxString const& extra) { extra_ = extra; }
  // Three names for the one text id.
  HxString const& workid() const { return textid_; }
  void workid(HxString const& id) { textid_ = id; }
  HxString const& varid() const { return textid_; }
  void varid(HxString const& id) { textid_ = id; }
  HxString const& hostid() const { return textid_; }
  void hostid(HxString const& id) { textid_ = id; }

  // The name, "-" and what the category adds: "done-job-render".
  HxString fullname() const;
  // Reads a full name: the name, the category from the second field and the
  // fields that category carries. Never fails: an unknown category word
  // gives category 4 and nothing beyond the name is read.
  void fullname(HxString const& text);
  // The full name with the job id in place of the label.
  HxString effectivename() const;

  HxString categorystring() const;
  void categorystring(HxString const& word);
  int categorybit() const;
  bool isglobal() const { return category_ > 127; }
  // "*" stands for all subjobs (-2).
  HxString subidstring() const;
  void subidstring(HxString const& text);

  // Whether the text is the full name of an event of a known category.
  static bool isvalid(HxString const& text);
  // The owning job's id modulo n; -1 without an owner, 0 for n = 0.
  int sid(int n) const;

 private:
  // The process group stays with the event it was set on: copies leave it.
  struct Pgrp {
    int value = -1;
    Pgrp() = default;
    Pgrp(Pgrp const&) {}
    Pgrp& operator=(Pgrp const&) { return *this; }
  };

  int category_ = kUnknown;
  HxString label_;
  int jobid_ = -1;
  int subid_ = -1;
  HxString textid_;
  HxString name_;
  HxString extra_;
  int start_ = 0;
  int interval_ = -1;
  int flag_ = 0;
  int callback_ = -1;
  int pid_ = -1;
  int id_ = 0;
  Pgrp pgrp_;
};

HX_NAMED_LIST(HxEventList, HxEvent, 17, "event_list");

// The owning job's id modulo n (a signed remainder), -1 when there is no
// owner; n = 0 gives 0 rather than dividing by zero.
inline int hx_owner_sid(int pid, int n) {
  if (pid < 0) return -1;
  return n == 0 ? 0 : pid % n;
}

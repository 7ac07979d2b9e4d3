#pragma once

#include <tuple>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxCallbackId.h"
#include "model/job/HxJob.h"
#include "model/job/HxJobId.h"
#include "model/job/HxQuery.h"
#include "model/job/HxWorkId.h"

// A command on jobs, work items or callbacks: its targets by explicit ids, by
// filters or both, two flags, a limit and the action code. The client sends
// it in a request whose type is the action.
class HxCommand : public HxRecord<HxCommand> {
 public:
  HxCommand() = default;
  explicit HxCommand(int action) : action_(action) {}

  int type() const override { return 30; }
  HxString typeXML() const override { return "command"; }

  // The callback ids travel last, after the action.
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "filter_list", &HxCommand::filters_),
                           hx_field(2, "job_id_list", &HxCommand::jobids_),
                           hx_field(3, "work_id_list", &HxCommand::workids_),
                           hx_field(4, "group_list", &HxCommand::groups_),
                           hx_field(5, "restrictions", &HxCommand::restrictions_),
                           hx_field(6, "limit", &HxCommand::limit_),
                           hx_field(7, "background", &HxCommand::background_),
                           hx_field(8, "action", &HxCommand::action_),
                           hx_field(9, "callback_id_list", &HxCommand::callbackids_));
  }

  HX_MEMBER_ACCESSORS(HxFilterList, filters)
  HX_MEMBER_ACCESSORS(HxJobIdList, jobids)
  HX_MEMBER_ACCESSORS(HxWorkIdList, workids)
  HX_MEMBER_ACCESSORS(HxCallbackIdList, callbackids)
  HX_MEMBER_ACCESSORS(HxStringList, groups)
  HX_INT_ACCESSORS(action)
  HX_INT_ACCESSORS(limit)
  unsigned char restrictions() const { return restrictions_; }
  void restrictions(unsigned char v) { restrictions_ = v; }
  unsigned char background() const { return background_; }
  void background(unsigned char v) { background_ = v; }

 private:
  HxFilterList filters_;
  HxJobIdList jobids_;
  HxWorkIdList workids_;
  HxCallbackIdList callbackids_;
  HxStringList groups_;
  unsigned char restrictions_ = 1;
  unsigned char background_ = 1;
  int limit_ = 0;
  int action_ = 0;
};

// Moves jobs to the top (direction 1) or the bottom (2) of the queue.
class HxBumpCommand : public HxRecord<HxBumpCommand, HxCommand> {
 public:
  HxBumpCommand() = default;

  int type() const override { return 69; }
  HxString typeXML() const override { return "bump_command"; }

  static auto wire_fields() {
    return std::tuple_cat(HxCommand::wire_fields(),
                          std::make_tuple(hx_field(10, "diff", &HxBumpCommand::diff_),
                                          hx_field(11, "direction", &HxBumpCommand::direction_)));
  }

  // Copies the command part only.
  using HxCommand::copy;

  HX_INT_ACCESSORS(diff)
  HX_INT_ACCESSORS(direction)
  // "top" for 1, "bottom" for 2, else empty.
  HxString directionstring() const {
    return direction_ == 1 ? HxString("top") : direction_ == 2 ? HxString("bottom") : HxString("");
  }

 private:
  int diff_ = 0;
  int direction_ = 0;
};

// Changes fields of jobs: the template job holds the new values, the field
// list names the job fields to change.
class HxModifyCommand : public HxRecord<HxModifyCommand, HxCommand> {
 public:
  HxModifyCommand() = default;
  HxModifyCommand(HxModifyCommand const& other) : HxRecord<HxModifyCommand, HxCommand>(other) { copy_own_(other); }
  HxModifyCommand& operator=(HxModifyCommand const& other) {
    copy(other);
    return *this;
  }

  int type() const override { return 48; }
  HxString typeXML() const override { return "modify_command"; }

  static auto wire_fields() {
    return std::tuple_cat(HxCommand::wire_fields(),
                          std::make_tuple(hx_field(10, "job", &HxModifyCommand::job_),
                                          hx_field(11, "fields", &HxModifyCommand::fields_)));
  }

  // The command part, then the template (by the job's own copy, so a job
  // from inside the template is safe to give), then the field list.
  void copy(HxModifyCommand const& other) {
    if (&other == this) return;
    HxCommand::copy(other);
    copy_own_(other);
  }
  using HxCommand::copy;

  HxJob const& job() const { return job_; }
  HxJob& job() { return job_; }
  void job(HxJob const& j) { job_ = j; }
  HX_MEMBER_ACCESSORS(HxFieldList, fields)

 private:
  void copy_own_(HxModifyCommand const& other) {
    job_.copy(other.job_);
    fields_.copy(other.fields_);
  }

  HxFieldList fields_;
  HxJob job_;
};

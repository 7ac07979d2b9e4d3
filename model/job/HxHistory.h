#pragma once

#include <tuple>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxFieldAccessors.h"

class HxHistoryList;

// One entry of a job's or a host's history. A history file of the job log
// tree holds one line per entry, six fields at TABs ended by LF:
//   [time as text] TAB time value TAB kind TAB job TAB id TAB text (comment)
// where the kind is "job", "subjob" or "work" and the id -1, the subjob or
// the work id text.
class HxHistory : public HxRecord<HxHistory> {
 public:
  int type() const override { return 34; }
  HxString typeXML() const override { return "history"; }
  // The stamp (4) travels before the comment (3).
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "job_id", &HxHistory::jobid_), hx_field(2, "sub_id", &HxHistory::subid_),
                           hx_field(4, "stamp", &HxHistory::stamp_), hx_field(3, "comment", &HxHistory::comment_),
                           hx_field(5, "work_id", &HxHistory::workid_));
  }

  HX_INT_ACCESSORS(jobid)
  HX_INT_ACCESSORS(subid)
  HX_TEXT_ACCESSORS(workid)
  HX_TEXT_ACCESSORS(comment)
  HX_RECORD_ACCESSORS(HxTime, stamp)

  // One whole history line stamped with the current time, for the job, one
  // of its subjobs or one of its work items. A line feed in the text, the
  // comment or the work id, and a TAB in the work id, are written as blanks:
  // they would end the line or shift its fields.
  static HxString data(int job, HxString const& text, HxString const& comment);
  static HxString data(int job, int sub, HxString const& text, HxString const& comment);
  static HxString data(int job, HxString const& workid, HxString const& text, HxString const& comment);

  // Append the entries of the job's history file: all of them, those of
  // one subjob, or those of one work item; and all of a host's. Nothing when
  // the file cannot be read (or the host name leads out of the tree).
  static void query(HxString const& base, int job, HxHistoryList& list);
  static void query(HxString const& base, int job, int sub, HxHistoryList& list);
  static void query(HxString const& base, int job, HxString const& workid, HxHistoryList& list);
  static void queryHost(HxString const& base, HxString const& host, HxHistoryList& list);

  // The reading of a history file's text that the readers share: what = 0
  // takes every line, 1 the lines of subjob sub, 2 those of work item workid.
  // At most kHxMaxHistoryEntries entries are appended.
  static void _read(HxString const& text, int what, int sub, HxString const& workid, HxHistoryList& list);

 private:
  int jobid_ = -1;
  int subid_ = -1;
  HxTime stamp_;
  HxString comment_;
  HxString workid_;
};

HX_NAMED_LIST(HxHistoryList, HxHistory, 35, "history_list");

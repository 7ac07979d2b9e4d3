#pragma once

#include <tuple>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxFieldAccessors.h"

class HxCommand;

// A piece of one log file of the job log tree, with the job, subjob and work
// item it belongs to, where in the file it starts and how big the file was.
// The static operations name every directory and file of the tree under a
// log base directory, create the directories, write and read the map file
// (which subjob ran which work item) and cut one work item's section out of
// a subjob log.
//
// Tree under base B, T(id) being id rounded toward zero to a thousand:
//   B/job/T(id)/id/id_sub.ext    per-subjob logs (types without bit 8)
//   B/job/T(id)/id/id.ext        per-job files (types 8 to 15)
//   B/pgrp/T(id)/id, B/host/name/name.hst, B/user/name/name.hst
class HxLog : public HxRecord<HxLog> {
 public:
  // Log types with a role of their own.
  enum : int {
    kOut = 1,
    kErr = 2,
    kStats = 3,
    kHistory = 8,
    kMap = 15,
    kJobScopeBit = 8,
    kUserHistory = 108,
    kHostHistory = 208,
  };

  HxLog() = default;
  // The whole file at path.
  explicit HxLog(HxString const& path);
  // count bytes from pos of subjob sub's log of this type (count < 0: to the
  // end; pos < 0: counted from the end). A negative sub reads subjob 0.
  HxLog(HxString const& base, int job, int sub, int type, int pos, long long count);
  // The section of work item workname in the log of the subjob that the
  // job's map file names for it; at most maxlines lines (< 1: no limit).
  HxLog(HxString const& base, int job, HxString const& workname, int type, int pos, long long maxlines);
  // Copies the nine fields that travel; id and logtype stay.
  HxLog(HxLog const& other) : HxRecord<HxLog>() { copy(other); }
  HxLog& operator=(HxLog const& other) {
    copy(other);
    return *this;
  }
  void copy(HxLog const& other);

  int type() const override { return 36; }
  HxString typeXML() const override { return "log"; }
  // The host (5) travels before the log type (4).
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "job_id", &HxLog::jobid_), hx_field(2, "sub_id", &HxLog::subid_),
                           hx_field(3, "data", &HxLog::data_), hx_field(5, "host", &HxLog::host_),
                           hx_field(4, "cls", &HxLog::cls_), hx_field(6, "work_id", &HxLog::workid_),
                           hx_field(7, "work_name", &HxLog::workname_), hx_field(8, "pos", &HxLog::pos_),
                           hx_field(9, "fullsize", &HxLog::fullsize_));
  }

  // Sets pos and the full size and replaces the text with count bytes from
  // pos; the position after the last byte read, -1 when the file cannot be
  // read.
  long long loaddata(HxString const& path, int pos, long long count);
  // Appends the lines of work item workname's sections in the file (the
  // whole file is read whatever pos says; pos is recorded); the length of
  // the text afterwards.
  int loaddata(HxString const& path, HxString const& workname, int pos, long long maxlines);

  // "workid:jobid:subid:workname".
  HxString uniquename() const;

  void append(HxString const& text) { data_ += text; }
  HX_TEXT_ACCESSORS(data)
  long long fullsize() const { return fullsize_; }
  void fullsize(long long v) { fullsize_ = v; }
  HX_INT_ACCESSORS(jobid)
  HX_INT_ACCESSORS(subid)
  HX_INT_ACCESSORS(workid)
  HX_TEXT_ACCESSORS(workname)
  HX_TEXT_ACCESSORS(host)
  HX_INT_ACCESSORS(pos)
  HX_INT_ACCESSORS(cls)
  HX_INT_ACCESSORS(id)
  HX_INT_ACCESSORS(logtype)

  // ---- the tree ----
  // A host or user name that would lead out of its directory ("..", or one
  // holding "/" or a NUL byte) names nothing: its paths are empty texts.
  static bool safename(HxString const& name);
  static HxString logext(int type);
  static HxString joblogdir(HxString const& base);
  static HxString joblogbasedir(HxString const& base, int id);
  static HxString joblogdir(HxString const& base, int id);
  static HxString pgrplogdir(HxString const& base);
  static HxString pgrplogbasedir(HxString const& base, int id);
  static HxString pgrplogdir(HxString const& base, int id);
  static HxString hostlogdir(HxString const& base);
  static HxString hostlogdir(HxString const& base, HxString const& host);
  static HxString userlogdir(HxString const& base);
  static HxString userlogdir(HxString const& base, HxString const& user);
  static HxString joblogfile(HxString const& base, int job, int sub, int type);
  static HxString joblogfile(HxString const& base, int job, int type) { return joblogfile(base, job, 0, type); }
  static HxString joblogfile(HxString const& base, int job, int sub, HxString const& ext);
  static HxString hostlogfile(HxString const& base, HxString const& host, int type);
  static HxString userlogfile(HxString const& base, HxString const& user, int type);

  // Create the levels of the tree below base (which must exist), each tried
  // even when an earlier one failed; nothing is reported.
  static void jobbuilddir(HxString const& base, int id);
  static void pgrpbuilddir(HxString const& base, int id);
  static void hostbuilddir(HxString const& base, HxString const& host);
  static void userbuilddir(HxString const& base, HxString const& user);

  // The job's directory exists; for a command, that of any of its job ids.
  static bool islocal(HxString const& base, int id);
  static bool islocal(HxString const& base, HxCommand& cmd);

  // Appends "job TAB sub TAB number TAB workname LF" to the job's map file.
  static void writemap(HxString const& base, int job, int sub, int number, HxString const& workname);
  // The subjob of the first map line whose fourth field is workname; -1.
  static int readmap(HxString const& base, int job, HxString const& workname);
  // The same over the text of a map file.
  static int _readmap(HxString const& text, HxString const& workname);

  // "tarv<pid>u<n>.tmp", n counting on from every earlier temporary name of
  // the process (HxFile's included).
  static HxString uniquefile();
  // The banner written into a log when a subjob is retried or requeued.
  static HxString separate(int job, int sub);

  // Whether a subjob log line opens a work item's section, and if so the
  // item's name: the line holds "got work:", optional white space, digits,
  // ":", the name, white space and "-" (the name runs to the last such
  // blank-and-dash). Linear in the line's length.
  static bool _workline(char const* line, int n, char const** name, int* length);
  // Appends to out the lines of work item workname's sections in a subjob
  // log's text: from each line that opens one of its sections up to the next
  // line that opens another item's, at most maxlines lines (< 1: no limit).
  static void _section(HxString const& text, HxString const& workname, long long maxlines, HxString& out);

 private:
  int jobid_ = -1;
  int subid_ = -1;
  HxString data_;
  HxString host_;
  int cls_ = 0;
  int workid_ = -1;
  HxString workname_;
  int pos_ = 0;
  long long fullsize_ = 0;
  int id_ = -1;
  int logtype_ = -1;
};

// Logs read from the tree for a job or for the ids of a command.
class HxLogList : public HxList<HxLog> {
 public:
  int type() const override { return 37; }
  HxString typeXML() const override { return "log_list"; }
  void copy(HxLogList const& other) { HxBaseList<HxLog>::copy(other); }

  // Every subjob log of this type in the job's directory, whole.
  void load(HxString const& base, int job, int type);
  void load(HxString const& base, HxCommand& cmd, int type) { load(base, cmd, HxString(""), -1, type); }
  // One log per work id, then one per job id of the command, read from the
  // position and for the length of its "pos" and "len" filters; with a limit
  // of 1 or more at most limit + 1 bytes (lines for a work id), and a text
  // longer than limit gets LF, the note and LF appended.
  void load(HxString const& base, HxCommand& cmd, HxString note, int limit, int type);

  // Reads a directory entry name as job digits, one character, subjob
  // digits, one character and the extension; true when the job is `job`,
  // both numbers fit an int and the extension is not empty.
  static bool _matchname(HxString const& name, int job, int* sub, HxString* ext);
};

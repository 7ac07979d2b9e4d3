#pragma once

#include <memory>

#include "core/HxFile.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "model/farm/HxAdmin.h"
#include "model/job/HxJob.h"
#include "model/job/HxQuery.h"

// Requests that steer the supervisor (modes, maintenance words, orders,
// permissions, its files) and the local helpers of administration tools.
// Each gives 1 on success and 0 on failure; an unreachable supervisor is
// "ERROR: unable to contact supervisor." on standard error where noted.

// Request 1022 with "set" (or "unset") and the mode bits as decimal text.
// The mode is a bit number or a list of mode words; one that names no bit
// sends nothing and gives 0. A refusal sets API error 2054. Unreachable:
// the line.
int hxsupervisorsetmode(HxString const& mode);
int hxsupervisorunsetmode(HxString const& mode);

// Request 1025 with one maintenance word: an error reply sets the API error
// from its record, a refusal 2054. Unreachable: the line.
int hxadmincommand(HxString const& word);
int hxcapturehosts();   // "refresh_workers"
int hxconfigworkers();  // "config_workers"
int hxresync();         // "resync_supervisor"
int hxreset();          // "reset_supervisor"
int hxbackup();         // "backup_supervisor"

// Request 1040 with the order (lent, given back unchanged). On success the
// reply's result and its user list replace those of `result`. Error reply,
// refusal, blank or foreign content give 0 (API error or a line as in the
// request road). Unreachable: the line.
int hxadmincommand(HxAdminOrder& order, HxAdminResult& result);

// Request 1000: an order of action 4 (a group's permissions) or 3 (users'
// permissions) with the method, value, group and a copy of every user name.
// An empty user list sends nothing. Only a confirmation succeeds; nothing is
// printed and the API error is never touched.
int hxadmingroupperm(HxString const& method, int value, HxString const& group, HxStringList& users);
int hxadminuserperm(HxString const& method, int value, HxStringList& users);
int hxgrouppermissions(HxString const& method, int value, HxString const& group, HxStringList& users);
int hxuserpermissions(HxString const& method, int value, HxStringList& users);

// Request 1403: the names of the files the supervisor keeps, appended.
int hxlistfiles(HxStringList& names);
// Request 1401: the named files (the list is lent), appended to files.
int hxgetfiles(HxStringList& names, HxFileList& files);

// Kept for old callers: nothing is sent, always 1.
int hxsupervisorlock();
int hxsupervisorunlock();

// A filter on the field `name` with one value per item of `values`: tab,
// newline and comma separate items, every other byte (blanks too) belongs to
// one, and empty items add nothing. Null when `values` is empty.
std::unique_ptr<HxFilter> hxfilterparam(HxString const& name, HxString const& values);

// Writes the job to a file, as XML for format 2 and as binary records for
// any other format: the bytes written, 0 when the file cannot be written.
int hxarchivejob(HxString const& path, HxJob& job, int format);

// Reads a job from a file: format 2 as XML, another non-zero format as
// binary records; format 0 tries binary records, then the first job of an
// XML job list, then an XML job. The bytes (or text length) read, 0 when
// nothing could be read.
int hxrecoverjob(HxString const& path, HxJob& job, int format);

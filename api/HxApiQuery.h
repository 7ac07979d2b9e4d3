#pragma once

#include "core/HxList.h"
#include "core/HxString.h"

class HxAccessList;
class HxAssignmentList;
class HxConfig;
class HxDutyList;
class HxHost;
class HxHostList;
class HxJobList;
class HxMessage;
class HxQuery;
class HxResourceList;
class HxStringHash;
class HxSupeList;

// Queries and information requests: each one conversation on the common
// road (api/HxApiRoad.h) with one of the reply families of
// api/HxApiReply.h. All give 1 on success and 0 on failure; received
// elements are appended to the caller's list. Requests to the supervisor
// write "ERROR: unable to contact supervisor." when none answers, except
// where marked silent.

// Jobs (100) matching the query; an error reply sets the API error.
int hxjobinfo(HxQuery& query, HxJobList& jobs);
// The jobs (1002) and hosts (1003) in the supervisor's order. Silent.
int hxjoborder(HxQuery& query, HxJobList& jobs);
int hxhostorder(HxQuery& query, HxHostList& hosts);
// Hosts (101); an error reply fails as a wrong list and leaves the API
// error alone. Silent.
int hxhostinfo(HxQuery& query, HxHostList& hosts);
// Duties (112) and resources (1020); an error reply sets the API error.
int hxdutyinfo(HxDutyList& duties);
int hxresource(HxResourceList& resources);
// Supervisors (1035). Silent; error replies fail as a wrong list.
int hxsupervisorinfo(HxSupeList& supes);
// Users and their rights (1008); error replies fail as a wrong list.
int hxusers(HxAccessList& users);
// Banned workers (118): a refusal sets API error 2054.
int hxbannedworkers(HxHostList& hosts);
// Acknowledged changes (1014, 1001, 1038): only a refusal (API error 2054)
// fails; the reply's content is not read.
int hxupdateresource(HxResourceList& resources);
int hxworkerdelete(HxStringList& hosts);
int hxworkerundelete(HxStringList& hosts);
// The same as hxworkerdelete.
int hxremovehost(HxStringList& hosts);
// The supervisor's configuration (111), copied into config; an error reply
// sets the API error and leaves config as it was.
int hxsupervisorconfig(HxConfig& config);

// Requests to the worker on host, at the configured worker port.
// Its configuration (111): as hxsupervisorconfig, with the line "ERROR:
// unable to contact worker." when the worker does not answer.
int hxworkerconfig(HxString const& host, HxConfig& config);
// Its assignments (108); an unreachable worker gives the line "Could not
// talk to worker" on standard output.
int hxassignmentinfo(HxString const& host, HxAssignmentList& assignments);
// The next three keep the client's own 30000 ms time-out, whatever the API's
// time-out says, are silent and do not test the reply's tag.
// Its assignments (108): 1 when the reply carries an assignment list, whose
// elements are moved; a reply without one gives 0 with nothing moved.
int hxworkerassign(HxString const& host, HxAssignmentList& assignments);
// Its own host record (101), copied into info; a reply without a host
// record gives 0 with info unchanged.
int hxworkerinfo(HxString const& host, HxHost& info);
// The reading of those two replies: the class asked for, or 0 with the
// caller's object untouched.
int _hx_reply_assignments(HxMessage& reply, HxAssignmentList& assignments);
int _hx_reply_host(HxMessage const& reply, HxHost& info);
// Sends the variables (1010) to the worker; 1 once it answered at all.
int hxworkerupdatevars(HxStringHash& vars, HxString const& host);

// Local answers.
// Option key of the job type's configuration, resolved against the type's
// directory when flag is not 0.
HxString hxjobconfig(HxString const& jobtype, HxString const& key, unsigned char flag);
// Appends the installed job types (searching path besides the standard
// directories) and returns how many entries types then holds, modulo 256.
unsigned char hxjobtypeavailable(HxString path, HxStringList& types);
// The supervisor's time as seconds since the system's epoch: the local clock
// corrected by an offset measured against the API's supervisor.
int hxcurrenttime();

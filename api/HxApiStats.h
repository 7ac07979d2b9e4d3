#pragma once

#include "core/HxList.h"
#include "core/HxString.h"

class HxCommand;
class HxDataTableList;
class HxHistoryList;
class HxLogList;

// Statistics, history, farm and queue information: read-only requests to the
// supervisor that append what it answers to the caller's list (the list
// family without an error test: an error reply fails as a wrong list). They
// are silent when no supervisor answers and never touch the API error. 1 / 0.

// The statistics logs of the command's jobs: read from the log tree when it
// holds them here (unless the client log path is "USE_SUPERVISOR"), else
// asked of the supervisor (110).
int hxstats(HxCommand& cmd, HxLogList& logs);
// The history of the command's jobs (103).
int hxhist(HxCommand& cmd, HxHistoryList& entries);
// The texts the supervisor holds under name (109).
int hxfarminfo(HxString const& name, HxStringList& items);
// The queue's tallies (115) and the summaries of the named queues (106).
int hxqueuetally(HxDataTableList& tables);
int hxqueuesummary(HxStringList& names, HxDataTableList& tables);

// The user and domain every request carries in its envelope.
HxString hxcurrentuser();
HxString hxcurrentdomain();

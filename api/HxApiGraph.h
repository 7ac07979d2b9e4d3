#pragma once

#include "config/HxConfigFile.h"
#include "model/job/HxCallback.h"
#include "model/job/HxJobGraph.h"
#include "net/HxMessage.h"

// Requests beside plain job submission: a graph of jobs with the links
// between them, callbacks for the supervisor to run on events, and a worker
// configuration for the supervisor to keep.

// Completes every node's job as submission does (no preview, no dry run)
// and sends the graph (request 1100); the supervisor's graph is copied into
// submitted. 1, or 0: silent when unreachable, the API error after an error
// reply, a line for a blank or invalid reply.
int hxsubmitgraph(HxJobGraph& graph, HxJobGraph& submitted);

// Sends callbacks (request 801); the accepted ones are appended to
// submitted. 1, or 0: silent when unreachable, else as list requests fail.
int hxsubmitcallback(HxCallbackList& callbacks, HxCallbackList& submitted);

// Sends a worker configuration (request 1004). 0 when unreachable or
// refused (tag 3), else 1; nothing is written and the API error stays.
int hxsendworkerconfig(HxConfigHash& config);

// The reply tests of a graph submission after a conversation that succeeded.
int _hx_graph_reply(HxMessage& reply, HxJobGraph& submitted);

#pragma once

#include "core/pack/HxPack.h"
#include "net/HxClient.h"
#include "net/HxMessage.h"

// Sets up a client for one request from the API state: the supervisor name
// and, unless keep_timeout, the conversation time-out (the stored one when
// 1 or more, else the configuration's client_timeout).
void _hx_api_client(HxClient& client, bool keep_timeout = false);

// The line of a supervisor request that found no supervisor.
inline constexpr char kHxNoSupervisorLine[] = "ERROR: unable to contact supervisor.";

// The common road of a supervisor request: a fresh client set up from the
// API state carries the request to the supervisor (located as the client
// locates it) and fills the reply. A failed conversation writes
// `unreachable` as one line on standard error (nothing when null) and gives
// false; the API error is left as it was.
bool _hx_api_supervisor(HxMessage& request, HxMessage& reply, char const* unreachable = kHxNoSupervisorLine);

// The same to the supervisor's sub port, with up to `retries` further
// attempts when retries is above 0.
bool _hx_api_subsupervisor(HxMessage& request, HxMessage& reply, int retries = 0,
                           char const* unreachable = kHxNoSupervisorLine);

// The same to the worker on `host` (its worker port). keep_timeout keeps the
// client's own 30000 ms time-out instead of the API's.
bool _hx_api_worker(HxString const& host, HxMessage& request, HxMessage& reply, char const* unreachable,
                    bool keep_timeout = false);

// Lends the caller's object to a request for the life of the guard: the
// request holds it as content, and gives it back (without destroying it)
// when the guard goes, on every path.
class HxLentContent {
 public:
  HxLentContent(HxMessage& request, HxPack& object) : request_(request) { request_.content(&object); }
  HxLentContent(HxLentContent const&) = delete;
  HxLentContent& operator=(HxLentContent const&) = delete;
  ~HxLentContent() { request_.release(); }

 private:
  HxMessage& request_;
};

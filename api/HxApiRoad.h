#pragma once

#include <new>

#include "api/HxApiReply.h"
#include "core/pack/HxPack.h"
#include "net/HxClient.h"
#include "net/HxMessage.h"

// Sets up a client for one request from the API state: the supervisor name
// and, unless keep_timeout, the conversation time-out (the stored one when
// 1 or more, else the configuration's client_timeout).
void _hx_api_client(HxClient& client, bool keep_timeout = false);

// The line of a supervisor request that found no supervisor.
inline constexpr char kHxNoSupervisorLine[] = "ERROR: unable to contact supervisor.";
// The line of a worker request that found no worker.
inline constexpr char kHxNoWorkerLine[] = "ERROR: unable to contact worker.";
// The line a request to an explicit host and port would have.
inline constexpr char kHxNoHostLine[] = "ERROR: unable to contact host.";

// Runs one conversation (converse() gives whether the request was
// delivered). A failed one writes `line` on standard error (nothing when
// null) and sets the API error to that line, or to `cause` when there is
// none, without its "ERROR: " head, so that hxerror() names it. A
// std::bad_alloc under the conversation (packing the request, decoding the
// reply) fails it with the API error "out of memory" and no line. The road
// below runs on it, and so do the functions that set up a client of their
// own.
template <class Converse>
bool _hx_api_deliver(Converse&& converse, char const* line, char const* cause);

// The common road of a supervisor request: a fresh client set up from the
// API state carries the request to the supervisor (located as the client
// locates it) and fills the reply. A failed conversation writes
// `unreachable` as one line on standard error (nothing when null), sets the
// API error to "unable to contact supervisor." and gives false.
// keep_timeout keeps the client's own time-out instead of the API's.
bool _hx_api_supervisor(HxMessage& request, HxMessage& reply, char const* unreachable = kHxNoSupervisorLine,
                        bool keep_timeout = false);

// The same to the supervisor's sub port, with up to `retries` further
// attempts when retries is above 0.
bool _hx_api_subsupervisor(HxMessage& request, HxMessage& reply, int retries = 0,
                           char const* unreachable = kHxNoSupervisorLine);

// The same to the worker on `host` (its worker port), whose API error on
// failure is "unable to contact worker.". keep_timeout keeps the client's
// own 30000 ms time-out instead of the API's.
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

// What _hx_api_deliver does once the conversation has ended.
bool _hx_api_settle(bool delivered, char const* line, char const* cause);

template <class Converse>
bool _hx_api_deliver(Converse&& converse, char const* line, char const* cause) {
  bool delivered = false;
  try {
    delivered = converse();
  } catch (std::bad_alloc const&) {
    _hx_set_no_memory();
    return false;
  }
  return _hx_api_settle(delivered, line, cause);
}

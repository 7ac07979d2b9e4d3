#include "api/HxApiEvents.h"

#include <algorithm>

#include <memory>

#include "api/HxApiAssign.h"
#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "core/HxInterrupt.h"
#include "core/HxList.h"
#include "core/HxWorld.h"
#include "model/job/HxAssignment.h"
#include "model/job/HxPost.h"
#include "model/job/HxVariable.h"
#include "model/job/HxVariableId.h"
#include "net/HxClient.h"
#include "net/HxMediator.h"

namespace {

// Connections one pass of the wait serves before it looks at the clock.
constexpr int kWaitPassConnections = 300;

enum class Route { kSupervisor, kWorker, kNone };

Route route_of(int cls) {
  switch (cls) {
    case HxVariableId::kJob:
    case HxVariableId::kGlobal:
      return Route::kSupervisor;
    case HxVariableId::kHost:
    case HxVariableId::kScoped:
      return Route::kWorker;
    default:
      return Route::kNone;
  }
}

// Carries a request with the caller's record lent to it, silently.
bool carry(Route route, int tag, HxPack& record, HxMessage& reply) {
  HxMessage request(tag);
  HxLentContent lend(request, record);
  if (route == Route::kWorker) return _hx_api_worker(_hx_local_worker(), request, reply, nullptr);
  return _hx_api_supervisor(request, reply, nullptr);
}

template <class Record>
void own_job(Record& r) {
  if (r.pid() < 0) r.pid(hxjobid());
}

}  // namespace

unsigned char hxsetvariable(HxVariable& var) {
  own_job(var);
  Route const route = route_of(var.cls());
  if (route == Route::kNone) {
    _hx_out_line("unidentified type!!!");
    return 0;
  }
  HxMessage reply;
  return carry(route, kHxReqSetVariable, var, reply) ? 1 : 0;
}

unsigned char hxgetvariable(HxVariableId& id, HxVariable& out) {
  own_job(id);
  Route const route = route_of(id.cls());
  if (route == Route::kNone) return 0;
  HxMessage reply;
  if (!carry(route, kHxReqGetVariable, id, reply)) return 0;
  // Only a variable is copied; an error record, or nothing, is no answer.
  HxVariable* v = _hx_reply_content<HxVariable>(reply, HxVariable().type());
  if (v == nullptr) return 0;
  out.copy(*v);
  return 1;
}

unsigned char hxdeletevariable(HxVariableId& id) {
  own_job(id);
  if (route_of(id.cls()) == Route::kNone) return 0;
  HxMessage reply;
  return carry(Route::kSupervisor, kHxReqDeleteVariable, id, reply) ? 1 : 0;
}

unsigned char hxsubmitpost(HxPostList& posts) {
  HxMessage reply;
  return carry(Route::kSupervisor, kHxReqSubmitGraph, posts, reply) ? 1 : 0;
}

unsigned char hxwaitfor(HxString& triggers, int timeout) {
  HxMediator mediator;
  // Port 0: the system picks the number, which the post tells the supervisor.
  if (mediator.openport(0, 0, 2) != 1) return 0;
  HxPostList posts;
  auto* post = new HxPost;
  if (std::shared_ptr<HxAssignment const> a = _hx_assignment()) post->pid(a->job().id());
  post->port(mediator.port(0));
  post->triggers(triggers);
  posts.append(post);
  HxMessage reply;
  if (!carry(Route::kSupervisor, kHxReqSubmitGraph, posts, reply)) return 0;

  int64_t const start = hx_world().now();
  int const pass_ms = mediator.timeout();
  bool broken = false;
  while (mediator.post().triggers().length() == 0) {
    // A signal that came between the waits (or during a pass that did not
    // end for it) is seen here, before the next pass.
    if (hx_check_interrupt()) break;
    if (timeout >= 1) {
      // A pass waits no longer than the caller's time-out has left (the
      // loop ends once more than `timeout` whole seconds went by), so that
      // waitfor(name, 1) returns after a second or two, not after the
      // mediator's own wait.
      int64_t const left = int64_t{timeout} + 1 - (hx_world().now() - start);
      mediator.timeout(static_cast<int>(std::min<int64_t>(pass_ms, std::max<int64_t>(left, 1) * 1000)));
    }
    if (mediator.eventloop(kWaitPassConnections) == -1) {
      // The port can no longer be waited on: waiting on would spin.
      broken = true;
      break;
    }
    if (timeout < 1) continue;
    if (hx_world().now() - start > timeout) break;
  }
  HxPost last(mediator.post());
  HxMessage done;
  // The unregistration goes out also after a signal ended the wait; the
  // mark is put back for the caller afterwards (another signal may still end
  // the unregistration itself).
  bool const interrupted = hx_interrupted();
  hx_interrupted(false);
  bool const delivered = carry(Route::kSupervisor, kHxReqUnsubscribe, last, done);
  if (interrupted) hx_interrupted(true);
  return delivered && !broken && !interrupted ? 1 : 0;
}

unsigned char hxtrigger(HxString const& name) {
  // The event name is the caller's text, copied into the request: running
  // out of memory anywhere here fails the call.
  return _hx_api_guard<unsigned char>(0, [&]() -> unsigned char {
    HxStringList names;
    names.append(new HxString(name));
    HxMessage request(kHxReqTrigger), reply;
    HxLentContent lend(request, names);
    // The client's own time-out: a trigger does not take the API's.
    if (!_hx_api_supervisor(request, reply, nullptr, true)) return 0;
    if (reply.tag() == kHxReplyConfirmed) return 1;
    _hx_api_fail("ERROR: couldn't execute event(s).");
    return 0;
  });
}

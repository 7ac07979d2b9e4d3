// Clock synchronisation: HxTime's measurement of the supervisor clock. It
// needs the client, so it lives here rather than with HxTime in core/.

#include <climits>
#include <cstdint>

#include "core/HxDebug.h"
#include "core/HxTime.h"
#include "core/HxWorld.h"
#include "net/HxCacheFile.h"
#include "net/HxClient.h"

namespace {

constexpr int kTimeRequest = 107;

int64_t local_seconds() { return hx_world().now() - HX_TIME_EPOCH_OFFSET; }

// host: ask this host first; null: only where the client finds a supervisor.
void sync_to_server(HxString const* host) {
  HxTime::_setDiff(0);
  if (HxTime::_isReference()) return;
  int64_t const t0 = local_seconds();
  HxMessage request(kTimeRequest), reply;
  HxClient client;
  bool const ok = host != nullptr ? client.converseSupervisor(*host, request, reply)
                                  : client.converseSupervisor(request, reply);
  if (!ok) {
    HxDebug& log = *hx_debug_obj();
    log.lock();
    log << "ERROR: couldn't obtain time from supervisor.\n";
    log.unlock();
    return;
  }
  int64_t const t1 = local_seconds();
  HxPack* content = reply.content();
  if (content == nullptr || content->type() != reply.contenttype()) return;
  auto* server = dynamic_cast<HxTime*>(content);
  if (server == nullptr) return;
  // The supervisor's time belongs to the middle of the exchange. Taken in
  // 64 bits: a time value far from ours must not wrap into a plausible one.
  int64_t const offset = static_cast<int64_t>(server->value()) - t0 - (t1 - t0) / 2;
  if (offset < INT_MIN || offset > INT_MAX) return;
  HxTime::_setDiff(static_cast<int>(offset));
  hx_cache_save(HxTime::offsetPath(), HxString(static_cast<int>(offset)));
}

}  // namespace

void HxTime::syncToServer() { sync_to_server(nullptr); }

void HxTime::syncToServer(HxString const& host) { sync_to_server(&host); }

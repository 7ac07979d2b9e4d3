#include "api/HxApiRoad.h"

#include "api/HxApiReply.h"
#include "api/HxApiState.h"

void _hx_api_client(HxClient& client, bool keep_timeout) {
  client.setSupervisor(hxgetsupervisor());
  if (keep_timeout) return;
  int ms = _hx_timeout();
  client.conversetimeout(ms >= 1 ? ms : client.config().client_timeout());
}

namespace {

bool settled(bool delivered, char const* unreachable) {
  if (!delivered && unreachable != nullptr) _hx_api_line(unreachable);
  return delivered;
}

}  // namespace

bool _hx_api_supervisor(HxMessage& request, HxMessage& reply, char const* unreachable) {
  HxClient client;
  _hx_api_client(client);
  return settled(client.converseSupervisor(request, reply), unreachable);
}

bool _hx_api_subsupervisor(HxMessage& request, HxMessage& reply, int retries, char const* unreachable) {
  HxClient client;
  _hx_api_client(client);
  bool const delivered = retries > 0 ? client.converseSubSupervisorWithRetries(request, reply, retries)
                                     : client.converseSubSupervisor(request, reply);
  return settled(delivered, unreachable);
}

bool _hx_api_worker(HxString const& host, HxMessage& request, HxMessage& reply, char const* unreachable,
                    bool keep_timeout) {
  HxClient client;
  _hx_api_client(client, keep_timeout);
  return settled(client.converseWorker(host, request, reply), unreachable);
}

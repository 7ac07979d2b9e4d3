#include "api/HxApiRoad.h"

#include "api/HxApiState.h"

void _hx_api_client(HxClient& client, bool keep_timeout) {
  client.setSupervisor(hxgetsupervisor());
  if (keep_timeout) return;
  int ms = _hx_timeout();
  client.conversetimeout(ms >= 1 ? ms : client.config().client_timeout());
}

bool _hx_api_settle(bool delivered, char const* line, char const* cause) {
  if (delivered) return true;
  if (line == nullptr) {
    _hx_set_cause(cause);
  } else {
    _hx_api_fail(line);
  }
  return false;
}

bool _hx_api_supervisor(HxMessage& request, HxMessage& reply, char const* unreachable, bool keep_timeout) {
  return _hx_api_deliver(
      [&] {
        HxClient client;
        _hx_api_client(client, keep_timeout);
        return client.converseSupervisor(request, reply);
      },
      unreachable, kHxNoSupervisorLine);
}

bool _hx_api_subsupervisor(HxMessage& request, HxMessage& reply, int retries, char const* unreachable) {
  return _hx_api_deliver(
      [&] {
        HxClient client;
        _hx_api_client(client);
        return retries > 0 ? client.converseSubSupervisorWithRetries(request, reply, retries)
                           : client.converseSubSupervisor(request, reply);
      },
      unreachable, kHxNoSupervisorLine);
}

bool _hx_api_worker(HxString const& host, HxMessage& request, HxMessage& reply, char const* unreachable,
                    bool keep_timeout) {
  return _hx_api_deliver(
      [&] {
        HxClient client;
        _hx_api_client(client, keep_timeout);
        return client.converseWorker(host, request, reply);
      },
      unreachable, kHxNoWorkerLine);
}

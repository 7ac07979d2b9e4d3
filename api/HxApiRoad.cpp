#include "api/HxApiRoad.h"

#include "api/HxApiState.h"

void _hx_api_client(HxClient& client, bool keep_timeout) {
  client.setSupervisor(hxgetsupervisor());
  if (keep_timeout) return;
  int ms = _hx_timeout();
  client.conversetimeout(ms >= 1 ? ms : client.config().client_timeout());
}

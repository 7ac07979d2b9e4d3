#include "api/HxApiPing.h"

#include "api/HxApiRoad.h"
#include "api/HxRequestTypes.h"
#include "core/HxError.h"
#include "net/HxIntro.h"

int _hx_ping_text(HxMessage const& reply, HxPingForm form, HxString& out) {
  if (reply.tag() != kHxReplyConfirmed) return 0;
  HxString text = reply.address().stringvalue();
  HxPack const* content = reply.content();
  if (content == nullptr) {
    text += form == HxPingForm::kSupervisor ? " <3.0-8" : " <3.0-22";
  } else if (auto const* old = dynamic_cast<HxOldError const*>(content)) {
    text += " ";
    text += old->value();
  } else if (auto const* intro = dynamic_cast<HxIntro const*>(content)) {
    text += " ";
    if (form != HxPingForm::kHost) {
      text += reply.macaddress().value();
      text += " ";
    }
    text += intro->value();
  } else {
    return 1;
  }
  out = text;
  return 1;
}

unsigned char hxping(HxString& out, HxString const* host) {
  HxMessage request(kHxReqPing), reply;
  bool const delivered = _hx_api_deliver(
      [&] {
        HxClient client;
        _hx_api_client(client);
        if (host != nullptr) client.setSupervisor(*host);
        return client.converseSupervisor(request, reply);
      },
      nullptr, kHxNoSupervisorLine);
  if (!delivered) return 0;
  return static_cast<unsigned char>(_hx_ping_text(reply, HxPingForm::kSupervisor, out));
}

unsigned char hxworkerping(HxString const& host, HxString& out) {
  HxMessage request(kHxReqPing), reply;
  if (!_hx_api_worker(host, request, reply, nullptr)) return 0;
  return static_cast<unsigned char>(_hx_ping_text(reply, HxPingForm::kWorker, out));
}

unsigned char hxhostping(HxString const& host, int port, HxString& out) {
  HxMessage request(kHxReqPing), reply;
  bool const delivered = _hx_api_deliver(
      [&] {
        HxClient client;
        _hx_api_client(client);
        return client.converse(host, port, request, reply);
      },
      nullptr, kHxNoHostLine);
  if (!delivered) return 0;
  return static_cast<unsigned char>(_hx_ping_text(reply, HxPingForm::kHost, out));
}

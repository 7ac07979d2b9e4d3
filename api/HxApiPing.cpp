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
  HxClient client;
  _hx_api_client(client);
  if (host != nullptr) client.setSupervisor(*host);
  HxMessage request(kHxReqPing), reply;
  if (!client.converseSupervisor(request, reply)) return 0;
  return static_cast<unsigned char>(_hx_ping_text(reply, HxPingForm::kSupervisor, out));
}

unsigned char hxworkerping(HxString const& host, HxString& out) {
  HxClient client;
  _hx_api_client(client);
  HxMessage request(kHxReqPing), reply;
  if (!client.converseWorker(host, request, reply)) return 0;
  return static_cast<unsigned char>(_hx_ping_text(reply, HxPingForm::kWorker, out));
}

unsigned char hxhostping(HxString const& host, int port, HxString& out) {
  HxClient client;
  _hx_api_client(client);
  HxMessage request(kHxReqPing), reply;
  if (!client.converse(host, port, request, reply)) return 0;
  return static_cast<unsigned char>(_hx_ping_text(reply, HxPingForm::kHost, out));
}

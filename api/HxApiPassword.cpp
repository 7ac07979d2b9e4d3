#include "api/HxApiPassword.h"

#include "api/HxApiRoad.h"
#include "api/HxRequestTypes.h"
#include "crypto/HxRsa.h"
#include "model/farm/HxAdmin.h"
#include "net/HxClient.h"

HxString hxencryptpassword(HxString const& text) {
  // The supervisor holds the private half; the public key is fixed.
  HxRsaPublicKey key;
  key.n.hex("7c41e09a5b3d28f61e0c97a4d3b52816f07e9c2a4b6d81f35e2c0a97b4d61e38");
  key.e.hex("00011f07");
  return key.encrypt(text);
}

namespace {

// A password request stands only when the supervisor neither refused it nor
// answered with an error: an error reply must not pass for a valid password.
int password_reply(HxMessage const& reply) {
  return reply.tag() == kHxReplyRefused || reply.tag() == kHxReplyError ? 0 : 1;
}

}  // namespace

int hxupdatepassword(HxString const& user, HxString const& domain, HxString const& password) {
  HxAdminOrder order;
  order.password(hxencryptpassword(password));
  // The sending user and domain, as the client stamps them on the envelope
  // (after the connection layer's one-time set-up).
  order.username(user.length() > 0 ? user : HxClient::currentuser());
  order.userdomain(domain.length() > 0 ? domain : HxClient::currentdomain());
  HxMessage request(kHxReqUpdatePassword), reply;
  HxLentContent lend(request, order);
  if (!_hx_api_supervisor(request, reply, nullptr)) return 0;
  return password_reply(reply);
}

int hxcheckpassword() {
  HxMessage request(kHxReqCheckPassword), reply;
  if (!_hx_api_supervisor(request, reply, nullptr)) return 0;
  return password_reply(reply);
}

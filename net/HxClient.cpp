#include "net/HxClient.h"

#include "core/HxUser.h"
#include "net/HxConnection.h"

// The transport's one-time set-up comes first, as for every entry point of
// the client side; the lookup itself only asks the user database.
HxString HxClient::currentuser() {
  HxConnection::init();
  return hx_current_user();
}

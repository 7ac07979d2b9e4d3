#include "net/HxClient.h"

#include "core/HxUser.h"

HxString HxClient::currentuser() { return hx_current_user(); }

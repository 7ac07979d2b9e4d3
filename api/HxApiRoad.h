#pragma once

#include "core/pack/HxPack.h"
#include "net/HxClient.h"
#include "net/HxMessage.h"

// Sets up a client for one request from the API state: the supervisor name
// and, unless keep_timeout, the conversation time-out (the stored one when
// 1 or more, else the configuration's client_timeout).
void _hx_api_client(HxClient& client, bool keep_timeout = false);

// Lends the caller's object to a request for the life of the guard: the
// request holds it as content, and gives it back (without destroying it)
// when the guard goes, on every path.
class HxLentContent {
 public:
  HxLentContent(HxMessage& request, HxPack& object) : request_(request) { request_.content(&object); }
  HxLentContent(HxLentContent const&) = delete;
  HxLentContent& operator=(HxLentContent const&) = delete;
  ~HxLentContent() { request_.release(); }

 private:
  HxMessage& request_;
};

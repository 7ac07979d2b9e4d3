#pragma once

#include "core/HxString.h"
#include "net/HxMessage.h"

// Pings: message 400 without content to a supervisor, a worker or any host
// and port, turned into one line about who answered: its address, its MAC
// address where the form reports it, and its self-description.

// How each form words its answer.
enum class HxPingForm {
  kSupervisor,  // hxping: MAC address shown; an old peer is marked " <3.0-8"
  kWorker,      // hxworkerping: MAC address shown; " <3.0-22"
  kHost,        // hxhostping: no MAC address; " <3.0-22"
};

// Reads the reply of a conversation that succeeded. Only tag 1 counts:
// another gives 0 with out unchanged. Otherwise out is assigned (never
// appended to) the peer's address and: the old-peer mark when there is no
// content; the text of an old-style error; the MAC address and the text of
// a self-description. Content of any other class leaves out unchanged; all
// of these give 1.
int _hx_ping_text(HxMessage const& reply, HxPingForm form, HxString& out);

// The supervisor named by host, or, when host is null, the one any request
// would use (the explicit supervisor setting, else located as usual).
unsigned char hxping(HxString& out, HxString const* host);
// The worker on host, at the configured worker port.
unsigned char hxworkerping(HxString const& host, HxString& out);
// Any daemon at host and port.
unsigned char hxhostping(HxString const& host, int port, HxString& out);

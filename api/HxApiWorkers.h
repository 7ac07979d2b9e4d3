#pragma once

#include "core/HxAddress.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "model/job/HxQuery.h"
#include "net/HxMessage.h"

// Orders to the workers that the supervisor selects (shut down, reboot,
// lock, queue), a worker's own resources and properties, and whether a user
// is an administrator. Each gives 1 or 0 as a truth value.

// Orders 1031, 1030, 1026 and 1019 with the caller's order (lent, given back
// unchanged): the hosts the order reached are appended to `hosts`, in order.
// An unreachable supervisor gives 0 silently; lock and queue also fail on an
// error reply; a reply that is not the expected record is a line on standard
// error. They keep the client's own conversation time-out.
unsigned char hxworkershutdown(HxOrder& order, HxHostnameList& hosts);
unsigned char hxworkerreboot(HxOrder& order, HxHostnameList& hosts);
unsigned char hxworkerlock(HxOrder& order, HxHostnameList& hosts);
unsigned char hxworkerqueue(HxOrder& order, HxHostnameList& hosts);

// Locks one worker, named by its MAC address, its dotted IPv4 address or its
// host name, with the lock text.
unsigned char hxworkerlock(HxString const& lock, HxString const& host);

// Replace resources (1034) or properties (1033) of the worker on `host` with
// those of the text. The sending user must be an administrator (asked of
// the supervisor first); else "ERROR: user[<user>] is not a tarv admin" on
// standard error and nothing reaches the worker. 1 when the worker answered
// with anything but an error.
unsigned char hxworkerupdateresources(HxString const& resources, HxString const& host);
unsigned char hxworkerupdateproperties(HxString const& properties, HxString const& host);
unsigned char hxupdateworkerresources(HxString const& host, HxString const& resources);
unsigned char hxupdateworkerproperties(HxString const& host, HxString const& properties);

// Remove the named resources (1052) or properties (1051) from the worker on
// `host` (the list is lent); no administrator test.
unsigned char hxdeleteworkerresources(HxString const& host, HxStringList& names);
unsigned char hxdeleteworkerproperties(HxString const& host, HxStringList& names);

// Request 117: 1 when the supervisor answers the value "1" exactly.
// Unreachable, blank or foreign content: a line on standard error, 0.
unsigned char hxisadmin(HxString const& user);

// ---- the reply tests, for the functions above and their fuzz target ----

enum class HxOrderForm {
  kResult,     // an HxResult whatever the reply's version (queue)
  kVersioned,  // an HxResult from peers of version 530 on, else a host name list
};
// The hosts of an order's reply appended to `hosts`; error: whether an
// error reply fails.
int _hx_order_reply(HxMessage& reply, HxOrderForm form, bool error, HxHostnameList& hosts);
// The answer to request 117.
int _hx_isadmin_reply(HxMessage const& reply);
// The filter that selects one worker by the form of `host`.
void _hx_worker_filter(HxString const& host, HxFilter& filter);

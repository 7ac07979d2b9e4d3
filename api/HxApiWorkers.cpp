#include "api/HxApiWorkers.h"

#include <cstdint>

#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxRequestTypes.h"
#include "expr/HxValue.h"
#include "model/farm/HxProperty.h"
#include "model/farm/HxResource.h"
#include "model/job/HxResult.h"
#include "net/HxClient.h"
#include "net/HxConnection.h"

int _hx_order_reply(HxMessage& reply, HxOrderForm form, bool error, HxHostnameList& hosts) {
  if (error && reply.tag() == kHxReplyError) return 0;
  if (reply.content() == nullptr) return 0;
  // The record must be of the class expected, not merely declare its type:
  // an error record answering an order is no list of hosts.
  if (form == HxOrderForm::kResult || reply.version() >= kHxVersionResults) {
    auto* result = _hx_reply_content<HxResult>(reply, kHxTypeResult);
    if (result == nullptr) {
      _hx_invalid_line(HxReplyObject::kResult, reply.contenttype());
      return 0;
    }
    _hx_move_elements(result->hostnames(), hosts);
    return 1;
  }
  auto* list = _hx_reply_content<HxHostnameList>(reply, kHxTypeHostnameList);
  if (list == nullptr) {
    _hx_invalid_line(HxReplyObject::kList, reply.contenttype());
    return 0;
  }
  _hx_move_elements(*list, hosts);
  return 1;
}

int _hx_isadmin_reply(HxMessage const& reply) {
  if (reply.content() == nullptr) {
    _hx_api_fail(kHxBlankLine);
    return 0;
  }
  auto const* value = _hx_reply_content<HxValue>(reply, kHxTypeValue);
  if (value == nullptr) {
    _hx_invalid_line(HxReplyObject::kList, reply.contenttype());
    return 0;
  }
  return value->value() == HxString("1") ? 1 : 0;
}

void _hx_worker_filter(HxString const& host, HxFilter& filter) {
  HxString name, value;
  if (HxMacAddress::isaddress(host)) {
    name = "macaddress";
    value = HxMacAddress(host).value();
  } else if (HxAddress::isaddress(host)) {
    // The address's 32 bits read as a signed number: from 128.0.0.0 up the
    // value is negative.
    int64_t bits = HxAddress(host).value();
    if (bits >= (int64_t{1} << 31)) bits -= int64_t{1} << 32;
    name = "address";
    value = HxString(static_cast<long long>(bits));
  } else {
    name = "name";
    value = host;
  }
  filter.name(name);
  filter.fields().clear();
  filter.fields().append(new HxField(value));
}

namespace {

unsigned char order(int tag, HxOrderForm form, bool error, HxOrder& order, HxHostnameList& hosts) {
  HxMessage request(tag), reply;
  {
    HxLentContent lend(request, order);
    if (!_hx_api_supervisor(request, reply, nullptr, true)) return 0;
  }
  return static_cast<unsigned char>(_hx_order_reply(reply, form, error, hosts));
}

// A request to the worker on host that succeeds unless the conversation
// fails or the worker answers with an error.
unsigned char worker_request(HxString const& host, int tag, HxPack& content) {
  HxMessage request(tag), reply;
  {
    HxLentContent lend(request, content);
    if (!_hx_api_worker(host, request, reply, nullptr, true)) return 0;
  }
  return reply.tag() != kHxReplyError ? 1 : 0;
}

bool admin_or_refused() {
  HxConnection::init();
  HxString const user = HxClient::currentuser();
  if (hxisadmin(user)) return true;
  _hx_api_fail(HxString("ERROR: user[") + user + "] is not a tarv admin");
  return false;
}

}  // namespace

unsigned char hxworkershutdown(HxOrder& o, HxHostnameList& hosts) {
  return order(kHxReqWorkerShutdown, HxOrderForm::kVersioned, false, o, hosts);
}

unsigned char hxworkerreboot(HxOrder& o, HxHostnameList& hosts) {
  return order(kHxReqWorkerReboot, HxOrderForm::kVersioned, false, o, hosts);
}

unsigned char hxworkerlock(HxOrder& o, HxHostnameList& hosts) {
  return order(kHxReqWorkerLock, HxOrderForm::kVersioned, true, o, hosts);
}

unsigned char hxworkerqueue(HxOrder& o, HxHostnameList& hosts) {
  return order(kHxReqWorkerQueue, HxOrderForm::kResult, true, o, hosts);
}

unsigned char hxworkerlock(HxString const& lock, HxString const& host) {
  HxOrder o;
  o.lock(lock);
  auto* filter = new HxFilter;
  o.filters().append(filter);
  _hx_worker_filter(host, *filter);
  HxHostnameList hosts;
  return hxworkerlock(o, hosts);
}

unsigned char hxworkerupdateresources(HxString const& resources, HxString const& host) {
  if (!admin_or_refused()) return 0;
  HxResourceList list;
  list.revert(resources);
  return worker_request(host, kHxReqWorkerUpdateResources, list);
}

unsigned char hxworkerupdateproperties(HxString const& properties, HxString const& host) {
  if (!admin_or_refused()) return 0;
  HxPropertyList list;
  list.revert(properties);
  return worker_request(host, kHxReqWorkerUpdateProperties, list);
}

unsigned char hxupdateworkerresources(HxString const& host, HxString const& resources) {
  return hxworkerupdateresources(resources, host);
}

unsigned char hxupdateworkerproperties(HxString const& host, HxString const& properties) {
  return hxworkerupdateproperties(properties, host);
}

unsigned char hxdeleteworkerresources(HxString const& host, HxStringList& names) {
  return worker_request(host, kHxReqDeleteWorkerResources, names);
}

unsigned char hxdeleteworkerproperties(HxString const& host, HxStringList& names) {
  return worker_request(host, kHxReqDeleteWorkerProperties, names);
}

unsigned char hxisadmin(HxString const& user) {
  HxStringList users;
  users.append(new HxString(user));
  HxMessage request(kHxReqIsAdmin), reply;
  {
    HxLentContent lend(request, users);
    if (!_hx_api_supervisor(request, reply)) return 0;
  }
  return static_cast<unsigned char>(_hx_isadmin_reply(reply));
}

#pragma once

#include <tuple>

#include "core/HxAddress.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxCallback.h"

// A listener for events: the job it is made for, the address and port on
// which it waits, and a trigger text over event full names.
class HxPost : public HxRecord<HxPost> {
 public:
  int type() const override { return 133; }
  HxString typeXML() const override { return "post"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(2, "pid", &HxPost::pid_), hx_field(1, "id", &HxPost::id_),
                           hx_field(4, "port", &HxPost::port_), hx_field(5, "triggers", &HxPost::triggers_),
                           hx_field(3, "address", &HxPost::address_));
  }

  int pid() const { return pid_; }
  void pid(int pid) { pid_ = pid; }
  int id() const { return id_; }
  void id(int id) { id_ = id; }
  int port() const { return port_; }
  void port(int port) { port_ = port; }
  HxString const& triggers() const { return triggers_; }
  void triggers(HxString const& triggers) { triggers_ = triggers; }
  // The first n bytes of a buffer (none for n below 1).
  void triggers(char const* bytes, int n) { triggers_.copy(bytes, n); }
  HxAddress const& address() const { return address_; }
  void address(HxAddress const& address) { address_ = address; }

  // A new callback (the caller owns it) of language "post" whose code is
  // "address:port", with the post's job id and trigger text.
  HxCallback* callback() const;

 private:
  int pid_ = -1;
  int id_ = -1;
  int port_ = -1;
  HxString triggers_;
  HxAddress address_;
};

// The address and port of a subscriber.
class HxSubscription : public HxRecord<HxSubscription> {
 public:
  int type() const override { return 152; }
  HxString typeXML() const override { return "subscription"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(2, "address", &HxSubscription::address_),
                           hx_field(1, "port", &HxSubscription::port_));
  }

  int port() const { return port_; }
  void port(int port) { port_ = port; }
  HxAddress const& address() const { return address_; }
  void address(HxAddress const& address) { address_ = address; }

 private:
  HxAddress address_;
  int port_ = -1;
};

HX_NAMED_LIST(HxPostList, HxPost, 134, "post_list");
HX_NAMED_LIST(HxSubscriptionList, HxSubscription, 153, "subscription_list");

#pragma once

#include <tuple>

#include "config/HxConfigFile.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxQuery.h"
#include "model/job/HxResult.h"

// An administration request to the supervisor (permissions, passwords and
// the general administration request): an order with the user, group, method,
// value, configuration and workers it concerns. Fields 2 and 3 each carry two
// records, told apart by their kind: the order's lock text (a string) and the
// value (an int) under 2, the order's action (an int) and the user name (a
// string) under 3.
class HxAdminOrder : public HxRecord<HxAdminOrder, HxOrder> {
 public:
  // The password is a secure string: every buffer it gives up is wiped.
  HxAdminOrder() { password_.secure(1); }

  int type() const override { return 189; }
  HxString typeXML() const override { return HxString("admin_order"); }
  static auto wire_fields() {
    return std::tuple_cat(
        HxOrder::wire_fields(),
        std::make_tuple(hx_field(2, "value", &HxAdminOrder::value_), hx_field(3, "user_name", &HxAdminOrder::username_),
                        hx_field(4, "user_domain", &HxAdminOrder::userdomain_),
                        hx_field(5, "user_list", &HxAdminOrder::userlist_),
                        hx_field(6, "method", &HxAdminOrder::method_), hx_field(7, "group", &HxAdminOrder::group_),
                        hx_field(8, "config", &HxAdminOrder::config_),
                        hx_field(9, "password", &HxAdminOrder::password_),
                        hx_field(10, "workers", &HxAdminOrder::workers_)));
  }

  int value() const { return value_; }
  void value(int v) { value_ = v; }
  HxString const& username() const { return username_; }
  void username(HxString const& v) { username_ = v; }
  HxString const& userdomain() const { return userdomain_; }
  void userdomain(HxString const& v) { userdomain_ = v; }
  HxString const& group() const { return group_; }
  void group(HxString const& v) { group_ = v; }
  HxString const& method() const { return method_; }
  void method(HxString const& v) { method_ = v; }
  HxString const& password() const { return password_; }
  void password(HxString const& v) {
    password_ = v;
    password_.secure(1);
  }
  HxStringList& userlist() { return userlist_; }
  HxStringList const& userlist() const { return userlist_; }
  HxStringList& workers() { return workers_; }
  HxStringList const& workers() const { return workers_; }
  // Replaces the workers with a copy of the list.
  HxStringList& workers(HxStringList const& list) {
    workers_.copy(list);
    return workers_;
  }
  HxConfigHash& config() { return config_; }
  HxConfigHash const& config() const { return config_; }

 private:
  int value_ = 0;
  HxString username_;
  HxString userdomain_;
  HxStringList userlist_;
  HxString method_;
  HxString group_;
  HxConfigHash config_;
  HxString password_;
  HxStringList workers_;
};

// The supervisor's answer to the general administration request: a result
// and the user names it returns. Field 5 carries two lists, the result's
// host names (type 64) and the user names (type 55), each read into the list
// of its type number.
class HxAdminResult : public HxRecord<HxAdminResult, HxResult> {
 public:
  HxAdminResult() = default;

  int type() const override { return 190; }
  HxString typeXML() const override { return HxString("admin_result"); }
  static auto wire_fields() {
    return std::tuple_cat(HxResult::wire_fields(),
                          std::make_tuple(hx_field(5, "user_list", &HxAdminResult::userlist_)));
  }

  HxStringList& userlist() { return userlist_; }
  HxStringList const& userlist() const { return userlist_; }

 private:
  HxStringList userlist_;
};

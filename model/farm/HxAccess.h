#pragma once

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"

// One group permission entry: the group's permission bits for a user.
// Text form access:name (5:lighting).
class HxGroupAccess : public HxRecord<HxGroupAccess> {
 public:
  HxGroupAccess() = default;
  HxGroupAccess(HxGroupAccess const&) = default;
  HxGroupAccess& operator=(HxGroupAccess const&) = default;
  void copy(HxGroupAccess const& other) { *this = other; }

  int type() const override { return 101; }
  HxString typeXML() const override { return "group_access"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(5, "user", &HxGroupAccess::user_), hx_field(1, "name", &HxGroupAccess::name_),
                           hx_field(2, "access", &HxGroupAccess::access_),
                           hx_field(3, "valid", &HxGroupAccess::valid_),
                           hx_field(4, "lastupdate", &HxGroupAccess::lastupdate_));
  }

  HxString const& user() const { return user_; }
  void user(HxString const& user) { user_ = user; }
  HxString const& name() const { return name_; }
  void name(HxString const& name) { name_ = name; }
  int access() const { return access_; }
  void access(int access) { access_ = access; }
  int valid() const { return valid_; }
  void valid(int valid) { valid_ = valid; }
  HxTime const& lastupdate() const { return lastupdate_; }
  void lastupdate(HxTime const& t) { lastupdate_ = t; }

  HxString fullname() const;
  // The integer value of what precedes the first ":" sets the access, all
  // that follows it (later colons included) the name.
  void fullname(HxString const& text);

 private:
  HxString user_;
  HxString name_;
  int access_ = 0;
  int valid_ = 1;
  HxTime lastupdate_;
};

HX_NAMED_LIST(HxGroupAccessList, HxGroupAccess, 102, "group_access_list");

// One user's access record. The password held with it never travels and is
// never copied; it is a secure string.
class HxAccess : public HxRecord<HxAccess> {
 public:
  HxAccess() { password_.secure(1); }
  // A new record: the password stays empty.
  HxAccess(HxAccess const& other) : HxAccess() { copy(other); }
  // Takes every field but the password, which stays as it was.
  HxAccess& operator=(HxAccess const& other);
  void copy(HxAccess const& other) { *this = other; }

  int type() const override { return 95; }
  HxString typeXML() const override { return "access"; }
  // Tag 8 carries two records, told apart by their kind: the sudo job
  // filter as a string and the validity as an int.
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(5, "groups", &HxAccess::groups_), hx_field(8, "sudo_job_filter", &HxAccess::sudojobfilter_),
        hx_field(6, "sudo_user_filter", &HxAccess::sudouserfilter_), hx_field(1, "name", &HxAccess::name_),
        hx_field(2, "access", &HxAccess::access_), hx_field(7, "group_access", &HxAccess::groupaccess_),
        hx_field(9, "lastupdate", &HxAccess::lastupdate_), hx_field(8, "valid", &HxAccess::valid_));
  }

  HxString const& groups() const { return groups_; }
  void groups(HxString const& v) { groups_ = v; }
  HxString const& sudojobfilter() const { return sudojobfilter_; }
  void sudojobfilter(HxString const& v) { sudojobfilter_ = v; }
  HxString const& sudouserfilter() const { return sudouserfilter_; }
  void sudouserfilter(HxString const& v) { sudouserfilter_ = v; }
  HxString const& name() const { return name_; }
  void name(HxString const& v) { name_ = v; }
  int access() const { return access_; }
  void access(int v) { access_ = v; }
  HxGroupAccessList& groupaccess() { return groupaccess_; }
  HxGroupAccessList const& groupaccess() const { return groupaccess_; }
  HxTime const& lastupdate() const { return lastupdate_; }
  void lastupdate(HxTime const& t) { lastupdate_ = t; }
  int valid() const { return valid_; }
  void valid(int v) { valid_ = v; }
  HxString const& password() const { return password_; }
  void password(HxString const& v) {
    password_ = v;
    password_.secure(1);
  }

 private:
  HxString groups_;
  HxString sudojobfilter_;
  HxString sudouserfilter_;
  HxString name_;
  int access_ = 0;
  HxGroupAccessList groupaccess_;
  HxTime lastupdate_;
  int valid_ = 0;
  HxString password_;
};

HX_NAMED_LIST(HxAccessList, HxAccess, 96, "access_list");

// A password a user registered with the supervisor, carried as it keeps it;
// the text is a secure string.
class HxPassword : public HxRecord<HxPassword> {
 public:
  HxPassword() { password_.secure(1); }
  HxPassword(HxPassword const& other) : HxPassword() { *this = other; }
  HxPassword& operator=(HxPassword const& other);
  void copy(HxPassword const& other) { *this = other; }

  int type() const override { return 182; }
  HxString typeXML() const override { return "password"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "user", &HxPassword::user_), hx_field(2, "domain", &HxPassword::domain_),
                           hx_field(3, "password", &HxPassword::password_),
                           hx_field(4, "verified", &HxPassword::verified_), hx_field(5, "valid", &HxPassword::valid_),
                           hx_field(6, "lastupdate", &HxPassword::lastupdate_));
  }
  // The XML reader assigns the text from a plain string: the flag is set again.
  bool decodeXML() override {
    bool ok = HxRecord<HxPassword>::decodeXML();
    password_.secure(1);
    return ok;
  }

  HxString const& user() const { return user_; }
  void user(HxString const& v) { user_ = v; }
  HxString const& domain() const { return domain_; }
  void domain(HxString const& v) { domain_ = v; }
  HxString const& password() const { return password_; }
  void password(HxString const& v) {
    password_ = v;
    password_.secure(1);
  }
  int verified() const { return verified_; }
  void verified(int v) { verified_ = v; }
  int valid() const { return valid_; }
  void valid(int v) { valid_ = v; }
  HxTime const& lastupdate() const { return lastupdate_; }
  void lastupdate(HxTime const& t) { lastupdate_ = t; }

 private:
  HxString user_;
  HxString domain_;
  HxString password_;
  int verified_ = 0;
  int valid_ = 0;
  HxTime lastupdate_;
};

HX_NAMED_LIST(HxPasswordList, HxPassword, 183, "password_list");

#pragma once

#include <tuple>

#include "core/HxAddress.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"
#include "model/farm/HxState.h"
#include "model/job/HxJob.h"
#include "model/job/HxSubjob.h"

// A worker machine of the farm: its names and addresses, state, resource and
// property texts, flags and the job instances running on it. The version of
// the worker software is derived from the property "host.tarv_version"
// whenever the properties are set, copied or decoded; it never travels.
class HxHost : public HxRecord<HxHost> {
 public:
  HxHost() = default;
  HxHost(HxHost const& other);
  HxHost& operator=(HxHost const& other);
  // Every field that travels, recontact and requeue, then the version
  // derived from the copied properties.
  void copy(HxHost const& other);
  // Nothing to clear: a host is rebuilt, not emptied.
  void clear() {}

  HxString const& name() const { return name_; }
  void name(HxString const& v) { name_ = v; }
  HxString const& cluster() const { return cluster_; }
  void cluster(HxString const& v) { cluster_ = v; }
  HxString const& description() const { return description_; }
  void description(HxString const& v) { description_ = v; }
  HxString const& reason() const { return reason_; }
  void reason(HxString const& v) { reason_ = v; }
  HxString const& locks() const { return locks_; }
  void locks(HxString const& v) { locks_ = v; }
  HxString const& stats() const { return stats_; }
  void stats(HxString const& v) { stats_ = v; }
  HxString const& restrictions() const { return restrictions_; }
  void restrictions(HxString const& v) { restrictions_ = v; }
  HxString const& groups() const { return groups_; }
  void groups(HxString const& v) { groups_ = v; }
  HxString const& resources() const { return resources_; }
  void resources(HxString const& v) { resources_ = v; }
  HxString const& jobtypes() const { return jobtypes_; }
  void jobtypes(HxString const& v) { jobtypes_ = v; }
  HxState const& state() const { return state_; }
  void state(HxState const& v) { state_ = v; }
  HxAddress const& address() const { return address_; }
  void address(HxAddress const& v) { address_ = v; }
  HxMacAddress const& macaddress() const { return macaddress_; }
  void macaddress(HxMacAddress const& v) { macaddress_ = v; }
  HxTime const& lastupdate() const { return lastupdate_; }
  void lastupdate(HxTime const& v) { lastupdate_ = v; }
  int flags() const { return flags_; }
  void flags(int v) { flags_ = v; }
  int recontact() const { return recontact_; }
  void recontact(int v) { recontact_ = v; }
  int requeue() const { return requeue_; }
  void requeue(int v) { requeue_ = v; }
  HxSubjobList& subjobs() { return subjobs_; }
  HxSubjobList const& subjobs() const { return subjobs_; }

  HxString const& properties() const { return properties_; }
  // Sets the property text and derives the version from it.
  void properties(HxString const& text);

  // The flag bits as words of the worker flag table, and back.
  HxString flagsstring() const;
  int flagsstring(HxString const& words);

  // The version text as last derived, and its numbers; pointver is never
  // derived and patchver is always empty.
  HxString version() const { return version_; }
  int majorver() const { return majorver_; }
  int minorver() const { return minorver_; }
  int pointver() const { return pointver_; }
  HxString patchver() const { return patchver_; }

  // Books the job's reservations against the resources; reservations of
  // resources the host lacks are skipped. Nothing is checked beforehand.
  void accept(HxJob const& job);
  // Gives back the host-bound reservations of the job as the instance holds
  // them: a greedy "host.processors" reservation returns the instance's slots.
  void release(HxJob const& job, HxSubjob const& instance);

  int type() const override { return 9; }
  HxString typeXML() const override { return HxString("host"); }
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(2, "name", &HxHost::name_), hx_field(3, "address", &HxHost::address_),
        hx_field(5, "cluster", &HxHost::cluster_), hx_field(6, "state", &HxHost::state_),
        hx_field(7, "resources", &HxHost::resources_), hx_field(12, "flags", &HxHost::flags_),
        hx_field(13, "properties", &HxHost::properties_), hx_field(14, "stats", &HxHost::stats_),
        hx_field(15, "restrictions", &HxHost::restrictions_), hx_field(16, "groups", &HxHost::groups_),
        hx_field(17, "subjobs", &HxHost::subjobs_), hx_field(18, "locks", &HxHost::locks_),
        hx_field(19, "reason", &HxHost::reason_), hx_field(20, "description", &HxHost::description_),
        hx_field(21, "mac_address", &HxHost::macaddress_), hx_field(22, "job_types", &HxHost::jobtypes_),
        hx_field(23, "last_update", &HxHost::lastupdate_));
  }
  // The version is derived once the properties have been read: in the binary
  // form when their record is taken (nothing else bears on it), in XML after
  // the whole object.
  void decode() override;
  bool decodeXML() override;

  void _setVerFromProps();
  void _parseVersionString();

 private:
  HxString name_;
  HxString cluster_;
  HxString description_;
  HxState state_;
  HxString resources_;
  HxString restrictions_;
  HxString stats_;
  HxString reason_;
  HxString properties_;
  HxString groups_;
  HxString locks_;
  HxAddress address_;
  HxMacAddress macaddress_;
  int recontact_ = 0;
  int requeue_ = 0;
  int flags_ = 0;
  HxSubjobList subjobs_;
  HxString jobtypes_;
  HxTime lastupdate_;
  HxString version_;
  int majorver_ = 0;
  int minorver_ = 0;
  int pointver_ = 0;
  HxString patchver_;
};

HX_NAMED_LIST(HxHostList, HxHost, 12, "host_list");

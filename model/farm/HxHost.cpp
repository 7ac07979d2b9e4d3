#include "model/farm/HxHost.h"

#include "config/HxFlags.h"
#include "core/HxAtLoad.h"
#include "expr/HxExpression.h"
#include "model/farm/HxProperty.h"
#include "model/farm/HxResource.h"
#include "model/job/HxReservation.h"

namespace {

constexpr char kVersionKey[] = "host.tarv_version";
constexpr char kProcessorsKey[] = "host.processors";

}  // namespace

HxHost::HxHost(HxHost const& other) : HxRecord<HxHost>() { copy(other); }

HxHost& HxHost::operator=(HxHost const& other) {
  copy(other);
  return *this;
}

void HxHost::copy(HxHost const& other) {
  if (&other == this) return;
  name_ = other.name_;
  address_ = other.address_;
  cluster_ = other.cluster_;
  description_ = other.description_;
  state_ = other.state_;
  resources_ = other.resources_;
  restrictions_ = other.restrictions_;
  properties_ = other.properties_;
  locks_ = other.locks_;
  reason_ = other.reason_;
  stats_ = other.stats_;
  recontact_ = other.recontact_;
  requeue_ = other.requeue_;
  flags_ = other.flags_;
  groups_ = other.groups_;
  macaddress_ = other.macaddress_;
  jobtypes_ = other.jobtypes_;
  lastupdate_ = other.lastupdate_;
  subjobs_.copy(other.subjobs_);
  _setVerFromProps();
}

void HxHost::properties(HxString const& text) {
  properties_ = text;
  _setVerFromProps();
}

HxString HxHost::flagsstring() const { return hx_worker_flag_string(flags_); }

int HxHost::flagsstring(HxString const& words) {
  flags_ = hx_worker_flag_int(words);
  return flags_;
}

void HxHost::decode() {
  HxRecord<HxHost>::decode();
  if (_field() == 13 && _consumed()) _setVerFromProps();
}

bool HxHost::decodeXML() {
  bool ok = HxRecord<HxHost>::decodeXML();
  _setVerFromProps();
  return ok;
}

void HxHost::_setVerFromProps() {
  // As reverting the text into a property hash and looking up the key, but
  // only the items named by that key are parsed whole: an item's key is its
  // text before "=" with blanks dropped, and the last such item wins.
  HxString const& key = HxKeptText<kVersionKey>::get();
  HxStringList items;
  HxExpression::split(properties_, items);
  HxString const* found = nullptr;
  for (int i = 0; i < items.length(); ++i) {
    HxString before, after;
    if (HxExpression::splitequal(*items.get(i), before, after) && before == key) found = items.get(i);
  }
  if (found == nullptr) return;
  HxProperty p;
  p.fullname(*found);
  version_ = p.value();
  _parseVersionString();
}

void HxHost::_parseVersionString() {
  HxStringList parts, pieces;
  HxExpression::splitchar(version_, '-', parts);
  if (parts.length() > 0) HxExpression::splitchar(*parts.get(0), '.', pieces);
  majorver_ = pieces.length() > 0 ? hx_count_of(*pieces.get(0)) : 0;
  minorver_ = pieces.length() > 1 ? hx_count_of(*pieces.get(1)) : 0;
}

void HxHost::accept(HxJob const& job) {
  HxResourceHash hash;
  hash.revert(resources_);
  hash.accept(job.reservations());
  resources_ = hash.convert();
}

void HxHost::release(HxJob const& job, HxSubjob const& instance) {
  HxString const& processors = HxKeptText<kProcessorsKey>::get();
  HxResourceHash hash;
  hash.revert(resources_);
  HxReservationList list;
  list.revert(job.reservations());
  // Each host-bound reservation goes straight to its resource; the
  // reservations of other classes leave the host alone.
  for (int i = 0; i < list.length(); ++i) {
    HxReservation* r = list.get(i);
    if (!r->ishost()) continue;
    HxString key = r->resname();
    if (key == processors && r->greediness() != 0) r->count(instance.jobSlots());
    if (HxResource* res = hash.get(key)) res->release(*r);
  }
  resources_ = hash.convert();
}

#pragma once

#include <tuple>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxEvent.h"

// Code that the supervisor runs for a job when the events of its trigger
// text fire, e.g. "done-job-render and done-job-comp".
class HxCallback : public HxRecord<HxCallback> {
 public:
  enum Language {
    kPerl = 1,
    kPython = 2,
    kTcl = 3,
    kTarv = 4,
    kUnknown = 5,
    kPost = 6,
    kMail = 7,
    kDependency = 8,
    kAutoWrangling = 9,
  };

  int type() const override { return 46; }
  HxString typeXML() const override { return "callback"; }
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(1, "id", &HxCallback::id_), hx_field(10, "pid", &HxCallback::pid_),
        hx_field(3, "code", &HxCallback::code_), hx_field(6, "triggers", &HxCallback::triggers_),
        hx_field(2, "language", &HxCallback::language_), hx_field(5, "max", &HxCallback::maximum_),
        hx_field(4, "count", &HxCallback::count_), hx_field(9, "user", &HxCallback::user_),
        hx_field(8, "ready", &HxCallback::ready_), hx_field(11, "lastupdate", &HxCallback::lastupdate_));
  }

  int id() const { return id_; }
  void id(int id) { id_ = id; }
  int pid() const { return pid_; }
  void pid(int pid) { pid_ = pid; }
  int language() const { return language_; }
  void language(int language) { language_ = language; }
  int count() const { return count_; }
  void count(int count) { count_ = count; }
  int maximum() const { return maximum_; }
  void maximum(int maximum) { maximum_ = maximum; }
  HxString const& code() const { return code_; }
  void code(HxString const& code) { code_ = code; }
  HxString const& triggers() const { return triggers_; }
  void triggers(HxString const& triggers) { triggers_ = triggers; }
  HxString const& user() const { return user_; }
  void user(HxString const& user) { user_ = user; }
  HxString const& ready() const { return ready_; }
  void ready(HxString const& ready) { ready_ = ready; }
  HxTime const& lastupdate() const { return lastupdate_; }
  void lastupdate(HxTime const& time) { lastupdate_ = time; }

  // The language word; "unknown" for a code outside the table.
  HxString languagestring() const;
  // Sets the language from its word (exact match); any other word gives 5.
  void languagestring(HxString const& word);

  // The owning job's id modulo n; -1 without an owner, 0 for n = 0.
  int sid(int n) const { return hx_owner_sid(pid_, n); }

  // Appends one event for each distinct event name of the trigger text, in
  // the order of a hash's slots; the list is not cleared first.
  void triggers(HxEventList& events) const;
  // Puts the pairs of the ready text ("j1 1 j2 0": a word, a blank, a
  // one-character value, a separator) into the table. A last word without a
  // blank and value after it adds nothing.
  void ready(HxStringHash& table) const;

 private:
  int id_ = -1;
  int pid_ = -1;
  HxString code_;
  HxString triggers_;
  int language_ = kUnknown;
  int maximum_ = -1;
  int count_ = 0;
  HxString user_;
  HxString ready_ = "0";
  HxTime lastupdate_;
};

class HxCallbackList : public HxList<HxCallback> {
 public:
  int type() const override { return 47; }
  HxString typeXML() const override { return HxString("callback_list"); }
  void copy(HxCallbackList const& other) { HxBaseList<HxCallback>::copy(other); }

  // Appends the callbacks of a callback library: a sectioned configuration
  // file whose section names are trigger texts, with the options "language",
  // "code" and optionally "max". Sections without language or code are
  // skipped; an unreadable file adds nothing.
  void load(HxString const& path);
};

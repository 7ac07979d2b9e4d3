#pragma once

#include <tuple>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// A process environment held as data: the variables as two parallel lists of
// names and values, the file-creation mask, the working directory and a table
// of network drive mounts (drive -> "user:password@share"). It is filled from
// the running process, from another user's login shell, or from its own text
// form, and travels inside a job record.
//
// Names are not unique: set() replaces the first occurrence, while capture and
// parsing append without looking; lookups use the first occurrence.
class HxEnv : public HxRecord<HxEnv> {
 public:
  HxEnv() = default;
  HxEnv(HxEnv const& other) = default;
  HxEnv& operator=(HxEnv const& other) = default;
  ~HxEnv() override = default;

  int type() const override { return 49; }
  HxString typeXML() const override { return HxString("env"); }

  // Replaces only the variables with copies of the other's.
  void modify(HxEnv const& other);

  // ---- variables ----
  void set(HxString const& name, HxString const& value);
  HxString value(HxString const& name) const;
  bool exists(HxString const& name) const;
  HxStringList& keys() { return keys_; }
  HxStringList& values() { return values_; }
  // Deletes the variables; mask, working directory and mounts stay.
  void clear();
  void set_cwd(HxString const& cwd) { cwd_ = cwd; }
  HxString const& cwd() const { return cwd_; }
  void set_mask(int mask) { umask_ = mask; }
  int mask() const { return umask_; }

  // ---- mounts ----
  void mount(HxString const& drive, HxString const& spec);
  HxString mount(HxString const& drive) const;
  bool mount(HxString const& drive, HxString& user, HxString& password, HxString& share) const;
  static void _mountsplit(HxString const& spec, HxString& user, HxString& password, HxString& share);
  // Adds mounts from lines of drive "|" spec.
  void mountmap(HxString const& text);
  void mountmap(char const* text, int length);
  // Appends every drive name, in table order.
  void mounts(HxStringList& list) const;
  int mountcount() const { return mounts_.count(); }
  void mountclear();

  // ---- capture and text form ----
  // Fills the variables, mask and working directory from this process.
  void setToEnv();
  // Adds the login environment of another user, as su reports it.
  void setToEnv(HxString const& user, HxString const& shell);
  HxString convert() const;
  void revert(HxString const& text);
  void revert(char const* text, int length);

  // The argument vector that runs su for setToEnv(user, shell). False (and
  // nothing appended) for a user name that su would take for an option.
  static bool _suArguments(HxString const& user, HxString const& shell, HxStringList& argv);
  // Parses the output of that su run: everything after the "__HXSTART__" line.
  void _suOutput(char const* text, int length);

  // ---- the live process environment ----
  static void setEnv(HxString const& name, HxString const& value);
  static HxString valueEnv(HxString const& name);
  // The value of the first entry of the name (length bytes) in the live
  // environment, in place: "" for an entry without '=', null for no entry.
  // The caller holds hx_environ_lock(), shared at least, while it reads it.
  static char const* findEnv(char const* name, size_t length);

  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "keys", &HxEnv::keys_), hx_field(2, "values", &HxEnv::values_),
                           hx_field(3, "umask", &HxEnv::umask_), hx_field(4, "cwd", &HxEnv::cwd_),
                           hx_field(5, "mounts", &HxEnv::mounts_));
  }

 private:
  // Position of the first listed name equal to name, or -1.
  int index_(HxString const& name) const;
  void append_(HxString const& name, HxString const& value);
  // Reads the process's file-creation mask without changing it where the
  // system lets it be read.
  static int readMask_();

  HxStringList keys_;
  HxStringList values_;
  int umask_ = 0;
  HxString cwd_;
  HxStringHash mounts_;
};

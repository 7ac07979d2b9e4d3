#pragma once

#include "config/HxConfig.h"
#include "core/HxBase.h"
#include "core/HxList.h"
#include "core/HxString.h"

// The configuration of one job type: a directory named after the type, found
// along a search path of job-type directories, holding the settings file
// "job.conf". Offers the bindings and libraries that submit, execute and
// display jobs of the type (the "_osx" variants take precedence), descriptive
// texts and the defaults a new job of the type takes. Library paths are made
// absolute against the type's directory.
//
// Nothing is cached: each construction reads the environment, the client
// configuration and the directories again.
class HxJobConfig : public HxBase {
 public:
  // Searches "HXPATH", the configured template path and the built-in
  // job-type directories, in that order.
  explicit HxJobConfig(HxString const& type);
  // Searches the given path (directories separated by ":").
  HxJobConfig(HxString const& type, HxString const& path);
  HxJobConfig(HxJobConfig const&) = delete;
  HxJobConfig& operator=(HxJobConfig const&) = delete;
  ~HxJobConfig() override = default;

  int type() const override { return 76; }

  bool valid() const { return valid_ != 0; }
  // The value of any key of "job.conf" (empty when absent), made absolute
  // against the type directory when resolve is not 0.
  HxString option(HxString const& key, unsigned char resolve) const;

  // The type name given, or the type directory once its "job.conf" was read.
  // Not an overload of type(): that is the record's type number, and a
  // const/non-const pair would hand const callers the number, which converts
  // silently to the text "76".
  HxString const& jobtype() const { return type_; }
  HxString const& path() const { return path_; }
  // The current installation directory (process-wide, not a field).
  HxString hx_dir() const;

  HxString const& version() const { return version_; }
  HxString const& minimum_tarv_version() const { return minimum_tarv_version_; }
  HxString const& required_tarv_version() const { return required_tarv_version_; }
  HxString const& detail() const { return detail_; }
  HxString const& short_detail() const { return short_detail_; }
  HxString const& gui_icon() const { return gui_icon_; }
  HxString const& callback_library() const { return callback_library_; }
  HxString const& gui_submit_binding() const { return gui_submit_binding_; }
  HxString const& gui_submit_library() const { return gui_submit_library_; }
  HxString const& gui_job_display_binding() const { return gui_job_display_binding_; }
  HxString const& gui_job_display_library() const { return gui_job_display_library_; }
  HxString const& gui_subjob_display_binding() const { return gui_subjob_display_binding_; }
  HxString const& gui_subjob_display_library() const { return gui_subjob_display_library_; }
  HxString const& execute_binding() const { return execute_binding_; }
  HxString const& execute_library() const { return execute_library_; }
  HxString const& job_priority() const { return job_priority_; }
  HxString const& job_cluster() const { return job_cluster_; }
  HxString const& job_requirements() const { return job_requirements_; }
  HxString const& job_restrictions() const { return job_restrictions_; }
  HxString const& job_reservations() const { return job_reservations_; }
  HxString const& job_kind() const { return job_kind_; }
  HxString const& job_label() const { return job_label_; }
  HxString const& job_account() const { return job_account_; }
  HxString const& job_hosts() const { return job_hosts_; }
  HxString const& job_groups() const { return job_groups_; }
  HxString const& job_flags() const { return job_flags_; }
  HxString const& job_cpus() const { return job_cpus_; }
  HxString const& job_name() const { return job_name_; }
  HxString const& job_status() const { return job_status_; }

  // Appends the names of the installed types whose configuration is valid,
  // searching extra (when not empty) after "HXPATH".
  static void available(HxString const& extra, HxStringList& list);

 private:
  // The template path of the client configuration and the built-in
  // job-type directories, each entry preceded by ":".
  static HxString defaultTail_();
  void find_();
  void load_(HxString const& dir);
  // The binding of the "_osx" key when set, with its library; else both of
  // the plain keys.
  void pick_(char const* group, HxString& binding, HxString& library) const;

  unsigned char valid_ = 0;
  HxString type_;
  HxConfig settings_;
  HxString gui_icon_;
  HxString gui_submit_binding_;
  HxString gui_submit_library_;
  HxString callback_library_;
  HxString gui_job_display_binding_;
  HxString gui_job_display_library_;
  HxString gui_subjob_display_binding_;
  HxString gui_subjob_display_library_;
  HxString submit_binding_;
  HxString submit_library_;
  HxString execute_binding_;
  HxString execute_library_;
  HxString display_binding_;
  HxString display_library_;
  HxString parent_type_;
  HxString detail_;
  HxString version_;
  HxString minimum_tarv_version_;
  HxString required_tarv_version_;
  HxString short_detail_;
  HxString path_;
  HxString typedir_;
  HxString job_priority_;
  HxString job_cluster_;
  HxString job_requirements_;
  HxString job_restrictions_;
  HxString job_reservations_;
  HxString job_kind_;
  HxString job_label_;
  HxString job_account_;
  HxString job_hosts_;
  HxString job_groups_;
  HxString job_flags_;
  HxString job_cpus_;
  HxString job_name_;
  HxString job_status_;
};

// value made absolute against dir: a full path comes back unchanged, any
// other non-empty value becomes dir "/" value; an empty value stays empty.
HxString hx_job_config_resolve_path(HxString const& dir, HxString const& value);

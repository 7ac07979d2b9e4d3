#pragma once

#include "core/HxAddress.h"
#include "core/HxBase.h"
#include "core/HxString.h"

// The client's view of the system's configuration: the keys of the client
// configuration file, the environment variables "HX_DIR", "HX_SUPERVISOR"
// and "HX_DOMAIN" that override or redirect some of them, and the built-in
// defaults for what neither gives.
//
// Nothing is cached: every construction reads the environment and the file
// again, so a change shows in the next object built. After construction only
// the supervisor host list changes.
class HxClientConfig : public HxBase {
 public:
  HxClientConfig();
  HxClientConfig(HxClientConfig const&) = delete;
  HxClientConfig& operator=(HxClientConfig const&) = delete;
  ~HxClientConfig() override = default;

  int type() const override { return 75; }

  // Sets the supervisor text and appends one host per word of text (words
  // end at commas and spaces); no duplicate test. A word "host:port" gives
  // that host and port; a word whose port is not a number from 0 to 65535
  // stays whole as the host.
  void supervisor_hosts(HxString const& text);
  // Appends host unless a listed host has the same text; takes ownership
  // either way (a duplicate is deleted). Null does nothing.
  void add_supervisor_host(HxHostname* host);
  HxHostnameList& supervisor_hosts() { return hosts_; }
  HxHostnameList const& supervisor_hosts() const { return hosts_; }

  // Writes the configuration to the debug log, one line per field.
  void display();

  // The current installation directory (process-wide, not a field).
  HxString hx_directory() const;
  HxString const& hx_supervisor() const { return supervisor_; }
  HxString const& hx_domain() const { return domain_; }
  HxString const& hx_region() const { return region_; }
  HxString const& supervisor_logpath() const { return supervisor_logpath_; }
  // client_logpath when set, else supervisor_logpath.
  HxString const& client_logpath() const {
    return client_logpath_.length() > 0 ? client_logpath_ : supervisor_logpath_;
  }
  HxString const& worker_path_map() const { return worker_path_map_; }
  HxString const& worker_address() const { return worker_address_; }
  HxString const& worker_logmode() const { return worker_logmode_; }
  HxString const& worker_logpath() const { return worker_logpath_; }
  HxString const& worker_template_path() const { return worker_template_path_; }
  HxString const& client_priority() const { return client_priority_; }
  HxString const& client_p_agenda_priority() const { return client_p_agenda_priority_; }
  HxString const& client_cluster() const { return client_cluster_; }
  HxString const& client_drive_map() const { return client_drive_map_; }
  HxString const& client_path_map() const { return client_path_map_; }
  HxString const& client_restrictions() const { return client_restrictions_; }
  HxString const& client_mail_address() const { return client_mail_address_; }
  HxString const& client_host_domain() const { return client_host_domain_; }
  HxString const& client_account() const { return client_account_; }
  int client_flags() const { return client_flags_; }
  int client_job_flags() const { return client_job_flags_; }
  int client_timeout() const { return client_timeout_; }
  int worker_port() const { return worker_port_; }
  int supervisor_port() const { return supervisor_port_; }
  int supervisor_sub_port() const { return supervisor_sub_port_; }
  int supervisor_http_port() const { return supervisor_http_port_; }

 private:
  HxHostnameList hosts_;
  HxString domain_;
  HxString region_;
  HxString supervisor_;
  HxString supervisor_logpath_;
  HxString worker_path_map_;
  HxString worker_logpath_;
  HxString client_logpath_;
  HxString worker_address_;
  HxString worker_template_path_;
  HxString worker_logmode_;
  HxString client_path_map_;
  HxString client_cluster_;
  HxString client_host_domain_;
  HxString client_account_;
  HxString client_restrictions_;
  HxString client_drive_map_;
  HxString client_priority_;
  HxString client_p_agenda_priority_;
  HxString client_mail_address_;
  int worker_port_ = 0;
  int supervisor_port_ = 0;
  int supervisor_sub_port_ = 0;
  int supervisor_http_port_ = 0;
  int client_flags_ = 0;
  int client_job_flags_ = 0;
  int client_timeout_ = 0;
};

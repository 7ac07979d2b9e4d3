#pragma once

#include <memory>

#include "core/HxAddress.h"
#include "core/HxBase.h"
#include "core/HxString.h"

// The client's view of the system's configuration: the keys of the client
// configuration file, the environment variables "HX_DIR", "HX_SUPERVISOR"
// and "HX_DOMAIN" that override or redirect some of them, and the built-in
// defaults for what neither gives.
//
// Every construction sees the file and the environment as they are: what
// was read from them is kept for the process as a snapshot, shared by the
// objects built from it, and used again only while the file's identity
// (device, inode, size, modification and change times in nanoseconds), the
// three variables, the world in force and the installation directory the
// defaults were built on are all unchanged; anything else reads the file
// again. After construction only the supervisor host list (and its text)
// changes, and only in the object's own copy.
class HxClientConfig : public HxBase {
 public:
  HxClientConfig();
  HxClientConfig(HxClientConfig const&) = delete;
  HxClientConfig& operator=(HxClientConfig const&) = delete;
  ~HxClientConfig() override;

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
  HxString const& hx_domain() const { return v_->domain; }
  HxString const& hx_region() const { return v_->region; }
  HxString const& supervisor_logpath() const { return v_->supervisor_logpath; }
  // client_logpath when set, else supervisor_logpath.
  HxString const& client_logpath() const {
    return v_->client_logpath.length() > 0 ? v_->client_logpath : v_->supervisor_logpath;
  }
  HxString const& worker_path_map() const { return v_->worker_path_map; }
  HxString const& worker_address() const { return v_->worker_address; }
  HxString const& worker_logmode() const { return v_->worker_logmode; }
  HxString const& worker_logpath() const { return v_->worker_logpath; }
  HxString const& worker_template_path() const { return v_->worker_template_path; }
  HxString const& client_priority() const { return v_->client_priority; }
  HxString const& client_p_agenda_priority() const { return v_->client_p_agenda_priority; }
  HxString const& client_cluster() const { return v_->client_cluster; }
  HxString const& client_drive_map() const { return v_->client_drive_map; }
  HxString const& client_path_map() const { return v_->client_path_map; }
  HxString const& client_restrictions() const { return v_->client_restrictions; }
  HxString const& client_mail_address() const { return v_->client_mail_address; }
  HxString const& client_host_domain() const { return v_->client_host_domain; }
  HxString const& client_account() const { return v_->client_account; }
  int client_flags() const { return v_->client_flags; }
  int client_job_flags() const { return v_->client_job_flags; }
  int client_timeout() const { return v_->client_timeout; }
  int worker_port() const { return v_->worker_port; }
  int supervisor_port() const { return v_->supervisor_port; }
  int supervisor_sub_port() const { return v_->supervisor_sub_port; }
  int supervisor_http_port() const { return v_->supervisor_http_port; }

  // The fields read from the file, the environment and the defaults, shared
  // read-only by every object built from one snapshot. The host list and
  // its text start from the snapshot's and are each object's own.
  struct Values {
    HxHostnameList hosts;
    HxString supervisor;
    HxString domain;
    HxString region;
    HxString supervisor_logpath;
    HxString worker_path_map;
    HxString worker_logpath;
    HxString client_logpath;
    HxString worker_address;
    HxString worker_template_path;
    HxString worker_logmode;
    HxString client_path_map;
    HxString client_cluster;
    HxString client_host_domain;
    HxString client_account;
    HxString client_restrictions;
    HxString client_drive_map;
    HxString client_priority;
    HxString client_p_agenda_priority;
    HxString client_mail_address;
    int worker_port = 0;
    int supervisor_port = 0;
    int supervisor_sub_port = 0;
    int supervisor_http_port = 0;
    int client_flags = 0;
    int client_job_flags = 0;
    int client_timeout = 0;
  };

 private:
  std::shared_ptr<Values const> v_;
  HxHostnameList hosts_;
  HxString supervisor_;
};

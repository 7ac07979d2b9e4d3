#include "config/HxClientConfig.h"

#include "config/HxConfig.h"
#include "config/HxConfigLimits.h"
#include "config/HxDefaults.h"
#include "config/HxEnv.h"
#include "config/HxFlags.h"
#include "core/HxDebug.h"
#include "core/HxWorld.h"

namespace {

HxString text_or_default(HxConfig const& conf, char const* key, int number) {
  HxString const& v = conf.option(HxString(key));
  return v.length() > 0 ? v : hx_default_string(number);
}

// The integer value of a key; 0 (absent, empty, not a number) takes the default.
int int_or_default(HxConfig const& conf, char const* key, int number) {
  int v = conf.option(HxString(key)).integervalue();
  return v != 0 ? v : hx_default_int(number);
}

}  // namespace

HxClientConfig::HxClientConfig() {
  // The three variables are read from the live environment, as a fresh
  // capture would give them (the first entry of a name counts).
  HxString env_dir = HxEnv::valueEnv("HX_DIR");
  HxString env_supervisor = HxEnv::valueEnv("HX_SUPERVISOR");
  HxString env_domain = HxEnv::valueEnv("HX_DOMAIN");

  hx_default_set_hxdir(env_dir, kHxDirLevelEnvironment);

  // A missing or unreadable file gives no options: every key takes its default.
  HxConfig conf(hx_world().clientConfigPath());
  auto opt = [&conf](char const* key) -> HxString const& { return conf.option(HxString(key)); };

  hx_default_set_hxdir(opt("hx_directory"), kHxDirLevelConfigFile);

  if (env_supervisor.length() > 0) {
    supervisor_hosts(env_supervisor);
  } else {
    supervisor_hosts(opt("supervisor_host"));
    if (opt("hx_supervisor").length() > 0) supervisor_hosts(opt("hx_supervisor"));
  }

  if (env_domain.length() > 0) {
    domain_ = env_domain;
  } else {
    domain_ = opt("supervisor_domain");
    if (opt("hx_domain").length() > 0) domain_ = opt("hx_domain");
  }
  region_ = opt("hx_region");

  supervisor_logpath_ = text_or_default(conf, "supervisor_logpath", kHxDefaultSupervisorLogPath);
  worker_address_ = opt("worker_address");
  worker_template_path_ = text_or_default(conf, "worker_template_path", kHxDefaultWorkerTemplatePath);
  worker_path_map_ = opt("worker_path_map");
  worker_logpath_ = text_or_default(conf, "worker_logpath", kHxDefaultWorkerLogPath);
  client_logpath_ = opt("client_logpath");
  worker_logmode_ = text_or_default(conf, "worker_logmode", kHxDefaultWorkerLogMode);
  client_timeout_ = int_or_default(conf, "client_timeout", kHxDefaultClientTimeout);
  worker_port_ = int_or_default(conf, "worker_port", kHxDefaultWorkerPort);
  supervisor_port_ = int_or_default(conf, "supervisor_port", kHxDefaultSupervisorPort);
  supervisor_sub_port_ = int_or_default(conf, "supervisor_sub_port", kHxDefaultSupervisorSubPort);
  supervisor_http_port_ = int_or_default(conf, "supervisor_http_port", kHxDefaultSupervisorHttpPort);
  client_mail_address_ = opt("client_mail_address");
  client_account_ = opt("client_account");
  client_host_domain_ = opt("client_host_domain");
  client_priority_ = opt("client_priority");
  client_p_agenda_priority_ = opt("client_p_agenda_priority");
  client_cluster_ = opt("client_cluster");
  client_restrictions_ = opt("client_restrictions");
  client_drive_map_ = opt("client_drive_map");
  client_path_map_ = opt("client_path_map");
  // A key that is present counts whatever it holds; only an absent one
  // takes the default.
  client_job_flags_ = conf.exists(HxString("client_job_flags")) ? hx_job_flag_int(opt("client_job_flags"))
                                                                 : hx_default_int(kHxDefaultClientJobFlags);
  client_flags_ = hx_client_flag_int(opt("client_flags"));
}

namespace {

// One host entry of the supervisor text: "host" or "host:port". A port is
// taken out only when it is 1 to 5 decimal digits of at most the highest TCP
// port and a host stands before the colon; any other entry stays whole as
// the host name, so that the connection to it fails and the log names the
// entry as written, instead of a port the user never meant being used.
HxHostname* host_entry(char const* p, int n) {
  int colon = 0;
  while (colon < n && p[colon] != ':') ++colon;
  int const digits = n - colon - 1;
  if (colon > 0 && colon < n && digits >= 1 && digits <= 5) {
    int port = 0;
    bool number = true;
    for (int i = colon + 1; i < n && number; ++i) {
      number = p[i] >= '0' && p[i] <= '9';
      port = port * 10 + (p[i] - '0');
    }
    if (number && port <= kHxMaxPort) return new HxHostname(HxString(p, colon), port);
  }
  return new HxHostname(HxString(p, n));
}

}  // namespace

void HxClientConfig::supervisor_hosts(HxString const& text) {
  supervisor_ = text;
  char const* p = text.value();
  int const n = text.length();
  int start = 0;
  for (int i = 0; i <= n; ++i) {
    if (i == n || p[i] == ',' || p[i] == ' ') {
      if (i > start) hosts_.append(host_entry(p + start, i - start));
      start = i + 1;
    }
  }
}

void HxClientConfig::add_supervisor_host(HxHostname* host) {
  if (host == nullptr) return;
  HxString text = host->value();
  for (int i = 0; i < hosts_.length(); ++i) {
    if (hosts_.get(i)->value() == text) {
      delete host;
      return;
    }
  }
  hosts_.append(host);
}

HxString HxClientConfig::hx_directory() const { return hx_default_get_hxdir(); }

void HxClientConfig::display() {
  HxDebug& log = *hx_debug_obj();
  // Each line is built whole and written as one piece under the log's lock.
  auto line = [&log](char const* label, HxString const& value) {
    HxString text(label);
    text += value;
    text += "\n";
    log.lock();
    log << text;
    log.unlock();
  };
  auto number = [&line](char const* label, int value) { line(label, HxString(value)); };
  number("hx_supervisor(s) total: ", hosts_.length());
  for (int i = 0; i < hosts_.length(); ++i) line("hx_supervisor: ", hosts_.get(i)->value());
  line("hx_domain: ", domain_);
  line("hx_region: ", region_);
  number("supervisor_port: ", supervisor_port_);
  number("supervisor_sub_port: ", supervisor_sub_port_);
  line("supervisor_logpath: ", supervisor_logpath_);
  line("worker_address: ", worker_address_);
  line("worker_logmode: ", worker_logmode_);
  line("worker_logpath: ", worker_logpath_);
  line("worker_template_path: ", worker_template_path_);
  line("worker_path_map: ", worker_path_map_);
  number("worker_port: ", worker_port_);
  line("client_logpath: ", client_logpath_);
  line("client_path_map: ", client_path_map_);
  line("client_cluster: ", client_cluster_);
  line("client_host_domain: ", client_host_domain_);
  line("client_account: ", client_account_);
  line("client_restrictions: ", client_restrictions_);
  line("client_drive_map: ", client_drive_map_);
  line("client_mail_address: ", client_mail_address_);
  line("client_priority: ", client_priority_);
  line("client_p_agenda_priority: ", client_p_agenda_priority_);
  number("client_flags: ", client_flags_);
  number("client_job_flags: ", client_job_flags_);
  number("client_timeout: ", client_timeout_);
}

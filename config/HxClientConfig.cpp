#include "config/HxClientConfig.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <shared_mutex>

#include "config/HxConfig.h"
#include "config/HxConfigLimits.h"
#include "config/HxDefaults.h"
#include "config/HxEnv.h"
#include "config/HxFlags.h"
#include "core/HxAtLoad.h"
#include "core/HxDebug.h"
#include "core/HxProcessEnv.h"
#include "core/HxProcessLocks.h"
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

// Appends one host per word of text (words end at commas and spaces).
void split_hosts(HxString const& text, HxHostnameList& hosts) {
  char const* p = text.value();
  int const n = text.length();
  int start = 0;
  for (int i = 0; i <= n; ++i) {
    if (i == n || p[i] == ',' || p[i] == ' ') {
      if (i > start) hosts.append(host_entry(p + start, i - start));
      start = i + 1;
    }
  }
}

// What stat says of the configuration file: there, with its identity; not
// there (no such file or directory); or a stat that failed otherwise.
struct FileState {
  enum Kind { kPresent, kAbsent, kFailed } kind = kFailed;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtime_ns = 0;
  int64_t ctime_ns = 0;

  bool operator==(FileState const& o) const {
    if (kind != o.kind) return false;
    if (kind != kPresent) return true;
    return dev == o.dev && ino == o.ino && size == o.size && mtime_ns == o.mtime_ns && ctime_ns == o.ctime_ns;
  }
  bool operator!=(FileState const& o) const { return !(*this == o); }
};

int64_t ns_of(timespec const& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

FileState file_state(HxString const& path) {
  FileState st;
  struct stat sb;
  if (::stat(path.value(), &sb) != 0) {
    st.kind = errno == ENOENT || errno == ENOTDIR ? FileState::kAbsent : FileState::kFailed;
    return st;
  }
  st.kind = FileState::kPresent;
  st.dev = sb.st_dev;
  st.ino = sb.st_ino;
  st.size = sb.st_size;
  st.mtime_ns = ns_of(sb.st_mtim);
  st.ctime_ns = ns_of(sb.st_ctim);
  return st;
}

// The three variables the configuration depends on, in one order.
char const* const kVariables[] = {"HX_DIR", "HX_SUPERVISOR", "HX_DOMAIN"};
constexpr int kVariableCount = 3;

// What one construction read, and the conditions under which it holds: the
// world it was read under, the file's path and state, the variables, the
// file's "hx_directory" and the installation directory the defaults were
// built on.
struct Snapshot {
  uint64_t generation = 0;
  HxString path;
  FileState file;
  HxString variables[kVariableCount];
  HxString file_directory;
  HxString directory;
  std::shared_ptr<HxClientConfig::Values const> values;
};

// The snapshot kept for the process, under the process lock kClientConfig.
// Never destroyed: a thread may still send at exit.
struct Kept {
  std::shared_ptr<Snapshot const> snapshot;
};

Kept& kept() {
  static Kept* k = new Kept();
  return *k;
}

HxAtLoad const g_kept_at_load(kept);

// Whether the live environment holds exactly the snapshot's variables, as
// a fresh capture would read them (the first entry of a name counts; a
// missing name reads as empty). Compared in place: nothing is copied.
bool same_variables(Snapshot const& snap) {
  std::shared_lock<HxEnvLock> hold(hx_environ_lock());
  for (int v = 0; v < kVariableCount; ++v) {
    char const* value = HxEnv::findEnv(kVariables[v], std::strlen(kVariables[v]));
    if (value == nullptr) value = "";
    HxString const& want = snap.variables[v];
    if (std::strlen(value) != static_cast<size_t>(want.length()) || std::memcmp(value, want.value(), want.length()) != 0)
      return false;
  }
  return true;
}

// The real time as file systems stamp files (their clock ticks coarsely).
int64_t coarse_now_ns() {
  timespec t;
  clock_gettime(CLOCK_REALTIME_COARSE, &t);
  return ns_of(t);
}

// Reads the environment and the file and builds the fields, as every
// construction did before snapshots were kept; keeps the result as the
// process's snapshot when it may be used again.
std::shared_ptr<HxClientConfig::Values const> read_afresh(uint64_t generation, HxString const& path) {
  // A file changed after this moment is stamped with this time or a later
  // one; a file stamped before it cannot change without its stamp moving.
  int64_t const started = coarse_now_ns();
  auto snap = std::make_shared<Snapshot>();
  snap->generation = generation;
  snap->path = path;
  snap->file = file_state(path);

  // The three variables are read from the live environment, as a fresh
  // capture would give them (the first entry of a name counts).
  for (int v = 0; v < kVariableCount; ++v) snap->variables[v] = HxEnv::valueEnv(kVariables[v]);
  HxString const& env_dir = snap->variables[0];
  HxString const& env_supervisor = snap->variables[1];
  HxString const& env_domain = snap->variables[2];

  hx_default_set_hxdir(env_dir, kHxDirLevelEnvironment);

  // A missing or unreadable file gives no options: every key takes its default.
  HxConfig conf(path);
  auto opt = [&conf](char const* key) -> HxString const& { return conf.option(HxString(key)); };

  snap->file_directory = opt("hx_directory");
  hx_default_set_hxdir(snap->file_directory, kHxDirLevelConfigFile);
  snap->directory = hx_default_get_hxdir();

  auto values = std::make_shared<HxClientConfig::Values>();
  HxClientConfig::Values& v = *values;
  if (env_supervisor.length() > 0) {
    v.supervisor = env_supervisor;
    split_hosts(env_supervisor, v.hosts);
  } else {
    v.supervisor = opt("supervisor_host");
    split_hosts(v.supervisor, v.hosts);
    if (opt("hx_supervisor").length() > 0) {
      v.supervisor = opt("hx_supervisor");
      split_hosts(v.supervisor, v.hosts);
    }
  }

  if (env_domain.length() > 0) {
    v.domain = env_domain;
  } else {
    v.domain = opt("supervisor_domain");
    if (opt("hx_domain").length() > 0) v.domain = opt("hx_domain");
  }
  v.region = opt("hx_region");

  v.supervisor_logpath = text_or_default(conf, "supervisor_logpath", kHxDefaultSupervisorLogPath);
  v.worker_address = opt("worker_address");
  v.worker_template_path = text_or_default(conf, "worker_template_path", kHxDefaultWorkerTemplatePath);
  v.worker_path_map = opt("worker_path_map");
  v.worker_logpath = text_or_default(conf, "worker_logpath", kHxDefaultWorkerLogPath);
  v.client_logpath = opt("client_logpath");
  v.worker_logmode = text_or_default(conf, "worker_logmode", kHxDefaultWorkerLogMode);
  v.client_timeout = int_or_default(conf, "client_timeout", kHxDefaultClientTimeout);
  v.worker_port = int_or_default(conf, "worker_port", kHxDefaultWorkerPort);
  v.supervisor_port = int_or_default(conf, "supervisor_port", kHxDefaultSupervisorPort);
  v.supervisor_sub_port = int_or_default(conf, "supervisor_sub_port", kHxDefaultSupervisorSubPort);
  v.supervisor_http_port = int_or_default(conf, "supervisor_http_port", kHxDefaultSupervisorHttpPort);
  v.client_mail_address = opt("client_mail_address");
  v.client_account = opt("client_account");
  v.client_host_domain = opt("client_host_domain");
  v.client_priority = opt("client_priority");
  v.client_p_agenda_priority = opt("client_p_agenda_priority");
  v.client_cluster = opt("client_cluster");
  v.client_restrictions = opt("client_restrictions");
  v.client_drive_map = opt("client_drive_map");
  v.client_path_map = opt("client_path_map");
  // A key that is present counts whatever it holds; only an absent one
  // takes the default.
  v.client_job_flags = conf.exists(HxString("client_job_flags")) ? hx_job_flag_int(opt("client_job_flags"))
                                                                  : hx_default_int(kHxDefaultClientJobFlags);
  v.client_flags = hx_client_flag_int(opt("client_flags"));
  snap->values = values;

  // Kept only when what was read is what the file's state and the
  // directory say: the file unchanged while it was read and stamped before
  // the read began (a change within the same tick of the file system's
  // clock would not move its stamp), or absent before and after; an
  // unreadable file or a failed stat is a failure and is not kept; and no
  // other source moved the installation directory meanwhile.
  FileState const after = file_state(path);
  bool keep = after == snap->file && hx_default_get_hxdir() == snap->directory;
  if (snap->file.kind == FileState::kFailed) keep = false;
  if (snap->file.kind == FileState::kPresent &&
      (!conf.valid() || snap->file.mtime_ns >= started || snap->file.ctime_ns >= started))
    keep = false;
  if (keep) {
    Kept& k = kept();
    HxProcessLockHold hold(HxProcessLock::kClientConfig);
    k.snapshot = std::move(snap);
  }
  return values;
}

// The snapshot's fields when it still holds for this construction, else null.
std::shared_ptr<HxClientConfig::Values const> from_snapshot(uint64_t generation, HxString const& path) {
  std::shared_ptr<Snapshot const> snap;
  {
    Kept& k = kept();
    HxProcessLockHold hold(HxProcessLock::kClientConfig);
    snap = k.snapshot;
  }
  if (snap == nullptr || snap->generation != generation || snap->path != path) return nullptr;
  if (file_state(path) != snap->file || !same_variables(*snap)) return nullptr;
  // The same offers as a fresh read makes, so the installation directory
  // moves exactly as it would; the defaults hold only if it ends where it
  // was when they were built.
  hx_default_set_hxdir(snap->variables[0], kHxDirLevelEnvironment);
  hx_default_set_hxdir(snap->file_directory, kHxDirLevelConfigFile);
  if (hx_default_get_hxdir() != snap->directory) return nullptr;
  return snap->values;
}

}  // namespace

HxClientConfig::HxClientConfig() {
  uint64_t const generation = hx_world_generation();
  HxString const path = hx_world().clientConfigPath();
  v_ = from_snapshot(generation, path);
  if (v_ == nullptr) v_ = read_afresh(generation, path);
  hosts_.copy(v_->hosts);
  supervisor_ = v_->supervisor;
}

HxClientConfig::~HxClientConfig() = default;

void HxClientConfig::supervisor_hosts(HxString const& text) {
  supervisor_ = text;
  split_hosts(text, hosts_);
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
  line("hx_domain: ", v_->domain);
  line("hx_region: ", v_->region);
  number("supervisor_port: ", v_->supervisor_port);
  number("supervisor_sub_port: ", v_->supervisor_sub_port);
  line("supervisor_logpath: ", v_->supervisor_logpath);
  line("worker_address: ", v_->worker_address);
  line("worker_logmode: ", v_->worker_logmode);
  line("worker_logpath: ", v_->worker_logpath);
  line("worker_template_path: ", v_->worker_template_path);
  line("worker_path_map: ", v_->worker_path_map);
  number("worker_port: ", v_->worker_port);
  line("client_logpath: ", v_->client_logpath);
  line("client_path_map: ", v_->client_path_map);
  line("client_cluster: ", v_->client_cluster);
  line("client_host_domain: ", v_->client_host_domain);
  line("client_account: ", v_->client_account);
  line("client_restrictions: ", v_->client_restrictions);
  line("client_drive_map: ", v_->client_drive_map);
  line("client_mail_address: ", v_->client_mail_address);
  line("client_priority: ", v_->client_priority);
  line("client_p_agenda_priority: ", v_->client_p_agenda_priority);
  number("client_flags: ", v_->client_flags);
  number("client_job_flags: ", v_->client_job_flags);
  number("client_timeout: ", v_->client_timeout);
}

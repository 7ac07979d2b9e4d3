#include "api/HxApiState.h"

#include <map>
#include <string>
#include <utility>

#include "config/HxClientConfig.h"
#include "config/HxDefaults.h"
#include "core/HxAtLoad.h"
#include "core/HxPath.h"
#include "core/HxProcessLocks.h"
#include "core/HxWorld.h"
#include "model/job/HxAssignment.h"

namespace {

// Under the process lock kApiState.
struct ApiState {
  HxError error;
  HxString debug_file;
  HxString supervisor;
  std::map<std::string, int> seq;
  HxString client_logpath;
  int timeout = 0;
  std::shared_ptr<HxAssignment const> assignment;
  int dev_env = 0;
  int work_pos = 0;
};

// Built on first use, so that a static initialiser elsewhere may already
// call the API; never destroyed: a daemon thread may still be inside a call
// while the program exits.
ApiState& state() {
  static ApiState* s = new ApiState();
  return *s;
}

HxAtLoad const g_state_at_load(state);

struct Hold : HxProcessLockHold {
  explicit Hold(ApiState const&) : HxProcessLockHold(HxProcessLock::kApiState) {}
};

}  // namespace

HxString hxversion() { return "8.1-0"; }

HxError hxerror() {
  ApiState& s = state();
  Hold hold(s);
  return s.error;
}

unsigned int hxsleep(int seconds) {
  if (seconds > 0) hx_world().sleepMillis(static_cast<int64_t>(seconds) * 1000);
  return 0;
}

void hxsettimeout(int ms) {
  ApiState& s = state();
  Hold hold(s);
  s.timeout = ms;
}

int _hx_timeout() {
  ApiState& s = state();
  Hold hold(s);
  return s.timeout;
}

int hxgettimeout() {
  int ms = _hx_timeout();
  if (ms >= 1) return ms;
  return HxClientConfig().client_timeout();
}

void hxsetsupervisor(HxString const& host) {
  ApiState& s = state();
  Hold hold(s);
  s.supervisor = host;
}

HxString hxgetsupervisor() {
  ApiState& s = state();
  Hold hold(s);
  return s.supervisor;
}

void hxsetclientlogpath(HxString const& path) {
  ApiState& s = state();
  Hold hold(s);
  s.client_logpath = path;
}

HxString hxgetclientlogpath() {
  {
    ApiState& s = state();
    Hold hold(s);
    if (s.client_logpath.length() >= 1) return s.client_logpath;
  }
  // The configuration is read outside the lock: it reads a file.
  return HxClientConfig().client_logpath();
}

void _hx_init_api(HxString const& path, int depth) {
  hx_default_set_hxdir(HxPath::chomp(path, depth), kHxDirLevelApi);
}

HxString hx_debug(HxString const& file) {
  ApiState& s = state();
  Hold hold(s);
  s.debug_file = file;
  return s.debug_file;
}

HxString _hx_debug_file() {
  ApiState& s = state();
  Hold hold(s);
  return s.debug_file;
}

void _hx_set_error(HxError const& error) {
  ApiState& s = state();
  Hold hold(s);
  s.error = error;
}

void _hx_set_error(int number) { _hx_set_error(HxError(number)); }

std::shared_ptr<HxAssignment const> _hx_assignment() {
  ApiState& s = state();
  Hold hold(s);
  return s.assignment;
}

void _hx_assignment(std::shared_ptr<HxAssignment const> assignment) {
  ApiState& s = state();
  {
    Hold hold(s);
    std::swap(s.assignment, assignment);
  }
  // The one replaced is destroyed here, outside the lock.
}

int _hx_dev_env() {
  ApiState& s = state();
  Hold hold(s);
  return s.dev_env;
}

void _hx_dev_env(int flag) {
  ApiState& s = state();
  Hold hold(s);
  s.dev_env = flag;
}

int _hx_work_pos() {
  ApiState& s = state();
  Hold hold(s);
  return s.work_pos;
}

void _hx_work_pos(int pos) {
  ApiState& s = state();
  Hold hold(s);
  s.work_pos = pos;
}

int _hx_seq(HxString const& key) {
  std::string k(key.value(), static_cast<size_t>(key.length()));
  ApiState& s = state();
  Hold hold(s);
  auto it = s.seq.find(k);
  return it == s.seq.end() ? 0 : it->second;
}

int _hx_seq_advance(HxString const& key, int step) {
  std::string k(key.value(), static_cast<size_t>(key.length()));
  ApiState& s = state();
  Hold hold(s);
  int& v = s.seq[k];
  v = static_cast<int>(static_cast<unsigned>(v) + static_cast<unsigned>(step));
  return v;
}

void _hx_seq(HxString const& key, int value) {
  std::string k(key.value(), static_cast<size_t>(key.length()));
  ApiState& s = state();
  Hold hold(s);
  s.seq[k] = value;
}

int _hx_work_pos_take(int limit) {
  ApiState& s = state();
  Hold hold(s);
  if (s.work_pos < 0 || s.work_pos >= limit) return -1;
  return s.work_pos++;
}

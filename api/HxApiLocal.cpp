#include "api/HxApiLocal.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/HxApiLimits.h"
#include "api/HxApiQuery.h"
#include "api/HxApiState.h"
#include "config/HxConfig.h"
#include "config/HxPathMap.h"
#include "core/HxFile.h"
#include "core/HxPath.h"
#include "core/HxWorld.h"
#include "model/job/HxAssignment.h"

namespace {

struct Constant {
  char const* name;
  int value;
};

// Looked up in this order; the first equal name wins.
constexpr Constant kConstants[] = {
    {"HX_COMMAND_REMOVE_JOB", 201},
    {"HX_COMMAND_KILL_JOB", 207},
    {"HX_COMMAND_PREEMPT_JOB", 209},
    {"HX_COMMAND_BLOCK_JOB", 210},
    {"HX_COMMAND_MODIFY_JOB", 211},
    {"HX_COMMAND_UNBLOCK_JOB", 215},
    {"HX_COMMAND_SUSPEND_JOB", 216},
    {"HX_COMMAND_RESUME_JOB", 217},
    {"HX_COMMAND_REQUEUE_JOB", 219},
    {"HX_COMMAND_RETRY_JOB", 220},
    {"HX_COMMAND_RESUBMIT_JOB", 221},
    {"HX_COMMAND_BUMP_JOB", 223},
    {"HX_COMMAND_MIGRATE_JOB", 224},
    {"HX_COMMAND_SHOVE_JOB", 225},
    {"HX_COMMAND_FAIL_JOB", 226},
    {"HX_COMMAND_RETIRE_JOB", 227},
    {"HX_COMMAND_RESET_JOB", 231},
    {"HX_COMMAND_RETRY_WORK", 604},
    {"HX_COMMAND_KILL_WORK", 605},
    {"HX_COMMAND_INTERRUPT_WORK", 606},
    {"HX_COMMAND_PREEMPT_WORK", 607},
    {"HX_COMMAND_BLOCK_WORK", 608},
    {"HX_COMMAND_MODIFY_WORK", 609},
    {"HX_COMMAND_UNBLOCK_WORK", 610},
    {"HX_COMMAND_SUSPEND_WORK", 611},
    {"HX_COMMAND_RESUME_WORK", 612},
    {"HX_COMMAND_REQUEUE_WORK", 613},
    {"HX_COMMAND_COMPLETE_WORK", 614},
    {"HX_COMMAND_RETIRE_WORK", 615},
    {"HX_ADMIN_ORDER_ACTION_SET", 1},
    {"HX_ADMIN_ORDER_ACTION_UNSET", 2},
    {"HX_ADMIN_ORDER_ACTION_MANAGE_USER", 3},
    {"HX_ADMIN_ORDER_ACTION_MANAGE_GROUP", 4},
    {"HX_ADMIN_ORDER_ACTION_RESYNC", 5},
    {"HX_ADMIN_ORDER_ACTION_BACKUP", 6},
    {"HX_ADMIN_ORDER_ACTION_RESET", 8},
    {"HX_ADMIN_ORDER_ACTION_REFRESH_WORKERS", 9},
    {"HX_ADMIN_ORDER_ACTION_UPDATE_WORKERS", 10},
    {"HX_ADMIN_ORDER_ACTION_REVERIFY_WORKERS", 12},
    {"HX_REVERSE", 1},
};

}  // namespace

int hxCONST(HxString const& name) {
  // A name with a NUL inside matches nothing: compare the whole counted text.
  for (Constant const& c : kConstants) {
    if (static_cast<size_t>(name.length()) == std::strlen(c.name) &&
        std::memcmp(name.value(), c.name, name.length()) == 0)
      return c.value;
  }
  return 0;
}

namespace {

// The file a path names: the path itself, or for a symbolic link the file at
// the end of the chain (which need not exist yet). Empty when the chain does
// not end.
std::string resolve_links(std::string path) {
  for (int hops = 0; hops < kHxMaxLinkHops; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::vector<char> buffer(static_cast<size_t>(PATH_MAX) + 1);
    ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
    if (n < 0) return std::string();
    std::string target(buffer.data(), static_cast<size_t>(n));
    if (!target.empty() && target[0] != '/') {
      size_t slash = path.rfind('/');
      target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
    }
    path = target;
  }
  return std::string();
}

bool write_whole(int fd, HxString const& text) {
  char const* p = text.value();
  size_t left = static_cast<size_t>(text.length());
  while (left > 0) {
    ssize_t w = ::write(fd, p, left);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    left -= static_cast<size_t>(w);
  }
  return true;
}

// Writes text to a new file in the directory of target and renames it over
// target. False, with the new file removed and target unchanged, on any
// failure; `created` tells whether the new file could be made at all.
bool replace_file(std::string const& target, HxString const& text, bool& created) {
  created = false;
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : target.substr(0, slash));
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = (dir == "/" ? std::string() : dir) + "/." + base + ".XXXXXX";
  int fd = ::mkstemp(temp.data());  // exclusive, mode 0600
  if (fd < 0) return false;
  created = true;
  struct stat old;
  bool ok;
  if (::stat(target.c_str(), &old) == 0) {
    // The old file's mode and, where allowed, its owner.
    ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) (void)!::fchown(fd, old.st_uid, old.st_gid);
  } else {
    // A new file gets what creating it in place would have given it.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ok = ::fchmod(fd, 0666 & ~mask) == 0;
  }
  ok = ok && write_whole(fd, text) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk with the directory.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace

HxString hxconvertpath(HxString const& path) {
  std::shared_ptr<HxAssignment const> assignment = _hx_assignment();
  if (!assignment) return path;
  HxPathMap map(assignment->pathmap());
  return hxconvertpath(path, map);
}

HxString hxconvertpath(HxString const& path, HxPathMap& map) {
  if (map.is_empty()) return path;
  return HxPath(path).translate(map);
}

int hxlocalconfig(HxConfig& config) {
  config.load(hx_world().clientConfigPath());
  return 1;
}

int hxlocalupdateconfig(HxConfig& config) {
  HxString path = hx_world().clientConfigPath();
  HxString text = config.loadtemplate(path);
  std::string target = resolve_links(std::string(path.value()));
  if (target.empty()) return 0;
  bool created = false;
  if (replace_file(target, text, created)) return 1;
  if (created) return 0;
  // The directory takes no new file: an existing file we may write is
  // rewritten in place, as the only way left.
  struct stat st;
  if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0) return 0;
  return HxFile::save(HxString(target.c_str()), text) ? 1 : 0;
}

HxPathMap hxworkerpathmap() {
  if (std::shared_ptr<HxAssignment const> assignment = _hx_assignment()) return HxPathMap(assignment->pathmap());
  HxConfig worker;
  hxworkerconfig(HxString("localhost"), worker);
  HxPathMap map;
  HxString const& text = worker.option(HxString("worker_path_map"));
  if (text.length() > 0) map.parse(text);
  return map;
}

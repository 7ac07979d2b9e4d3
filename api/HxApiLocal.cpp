#include "api/HxApiLocal.h"

#include <cstring>
#include <memory>

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
  HxFileReplacement file(path, HxFileReplacement::kAsWrittenInPlace);
  if (!file.ok()) return 0;
  file.write(text.value(), text.length());
  return file.commit() ? 1 : 0;
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

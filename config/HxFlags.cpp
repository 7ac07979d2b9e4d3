#include "config/HxFlags.h"

#include <climits>
#include <cstdlib>

#include "core/HxList.h"
#include "expr/HxExpression.h"

namespace {

struct FlagName {
  char const* name;
  int bit;
};

// A table in print order.
struct FlagTable {
  FlagName const* entries;
  int count;
};

template <int N>
constexpr FlagTable table_of(FlagName const (&entries)[N]) {
  return FlagTable{entries, N};
}

FlagName const kSupelog[] = {
    {"startup", 0x1},     {"work", 0x2},        {"subjob", 0x4},     {"job", 0x8},
    {"host", 0x10},       {"log", 0x20},        {"admin", 0x40},     {"command", 0x80},
    {"query", 0x100},     {"sync", 0x200},      {"queue", 0x400},    {"callback", 0x800},
    {"debug", 0x1000},    {"error", 0x2000},    {"warning", 0x4000}, {"security", 0x8000},
    {"auth", 0x10000},    {"preempt", 0x20000}, {"memory", 0x40000}, {"web", 0x80000},
    {"info", 0x100000},   {"file", 0x400000},
};

FlagName const kSupervisorMode[] = {
    {"reject_submit", 0x1},
    {"stop_activity", 0x2},
    {"enforce_password", 0x4},
};

FlagName const kWorker[] = {
    {"dynamic", 0x2},        {"dedicated", 0x1},     {"auto_mount", 0x4},
    {"remove_logs", 0x8},    {"load_profile", 0x10}, {"rotate_logs", 0x40},
    {"ssl", 0x20},           {"enable_winbind", 0x80}, {"disable_quickboot", 0x100},
    {"auto_remove", 0x200},
};

FlagName const kSupervisor[] = {
    {"enforce_password", 0x1},
    {"host_recontact", 0x2},
    {"heartbeat_monitor", 0x4},
    {"running_monitor", 0x800},
    {"clone_logs", 0x8},
    {"remove_logs", 0x10},
    {"master", 0x20},
    {"ssl", 0x40},
    {"multicast", 0x80},
    {"schedule", 0x100},
    {"stub_optimize", 0x400},
    {"rotate_logs", 0x200},
    {"retry_busy", 0x1000},
    {"ignore_duplicate_peer", 0x2000},
    {"enable_max_connections", 0x4000},
    {"enable_prediction", 0x8000},
    {"disable_submit_check", 0x10000},
    {"archive_jobs", 0x20000},
    {"disable_central_prefs", 0x40000},
};

FlagName const kSupervisorLanguage[] = {
    {"tarv", 0x1}, {"perl", 0x2}, {"python", 0x4}, {"post", 0x8}, {"mail", 0x10}, {"dependency", 0x20}, {"auto_wrangling", 0x40},
};

FlagName const kSupervisorLog[] = {
    {"job", 0x1}, {"subjob", 0x2}, {"work", 0x4}, {"callback", 0x8}, {"user", 0x10}, {"admin", 0x20}, {"mail", 0x40},
};

FlagName const kSupervisorManifest[] = {
    {"job", 0x1},
    {"subjob", 0x2},
    {"work", 0x4},
};

FlagName const kClient[] = {
    {"ssl", 0x40},
    {"restrict_domain", 0x80},
};

FlagName const kDatabase[] = {
    {"lazy", 0x1},
    {"log_times", 0x2},
};

// Bit 0x80 has no name.
FlagName const kJob[] = {
    {"uninterruptible", 0x1},
    {"memory_hard_limit", 0x2},
    {"grid", 0x4},
    {"thrifty", 0x40},
    {"expand", 0x20},
    {"auto_mount", 0x8},
    {"export_environment", 0x10},
    {"host_list", 0x100},
    {"elite", 0x200},
    {"mail", 0x400},
    {"disable_windows_job_object", 0x800},
    {"disable_cpu_limit", 0x1000},
    {"disable_auto_complete", 0x2000},
    {"auto_wrangling", 0x4000},
    {"p_agenda", 0x8000},
    {"migrate_on_frame_retry", 0x10000},
    {"convert_path", 0x20000},
    {"enable_windows_job_object", 0x40000},
    {"no_defaults", 0x80000},
};

// Words read as job flags besides the table's own.
FlagName const kJobAliases[] = {
    {"uninterruptable", 0x1},
};

FlagName const kPermission[] = {
    {"submit_job", 0x1},
    {"submit_callback", 0x2},
    {"submit_global_callback", 0x4},
    {"bump", 0x8},
    {"kill", 0x10},
    {"remove", 0x20},
    {"modify", 0x40},
    {"preempt", 0x80},
    {"block", 0x100},
    {"interrupt", 0x200},
    {"complete", 0x400},
    {"unblock", 0x800},
    {"suspend", 0x1000},
    {"resume", 0x2000},
    {"retry", 0x4000},
    {"reset", 0x100000},
    {"requeue", 0x8000},
    {"migrate", 0x10000},
    {"shove", 0x20000},
    {"fail", 0x40000},
    {"retire", 0x80000},
    {"lock_host", 0x8000000},
    {"sudo_admin", 0x10000000},
    {"impersonate", 0x20000000},
    {"admin", 0x40000000},
};

HxString flag_string(FlagTable table, int value) {
  HxStringList names;
  for (int i = 0; i < table.count; ++i)
    if ((value & table.entries[i].bit) != 0) names.append(new HxString(table.entries[i].name));
  if (names.length() == 0) return HxString("0");
  return names.join(HxString(","));
}

int bit_of(FlagTable table, HxString const& word) {
  for (int i = 0; i < table.count; ++i)
    if (word == HxString(table.entries[i].name)) return table.entries[i].bit;
  return 0;
}

// An integer text's value; one beyond 32 bits reads as the nearest bound
// instead of wrapping.
int integer_of(HxString const& text) {
  long long v = std::strtoll(text.value(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// The bits are OR-ed: a word given twice names its bit once.
int flag_int(FlagTable table, HxString const& text, FlagTable aliases = FlagTable{nullptr, 0}) {
  if (text.isinteger()) return integer_of(text);
  HxStringList items;
  HxExpression::split(text, items);
  int bits = 0;
  for (int i = 0; i < items.length(); ++i) {
    HxString const& item = *items.get(i);
    int bit = bit_of(table, item);
    if (bit == 0) bit = bit_of(aliases, item);
    bits |= bit;
  }
  return bits;
}

struct EnumName {
  int value;
  char const* name;
};

HxString enum_string(EnumName const* names, int count, int value, char const* fallback) {
  for (int i = 0; i < count; ++i)
    if (names[i].value == value) return HxString(names[i].name);
  return HxString(fallback);
}

int enum_int(EnumName const* names, int count, HxString const& text, int fallback) {
  for (int i = 0; i < count; ++i)
    if (text == HxString(names[i].name)) return names[i].value;
  return fallback;
}

EnumName const kPreemptPolicy[] = {
    {kHxPreemptDefault, "default"}, {kHxPreemptDisabled, "disabled"}, {kHxPreemptPassive, "passive"},
    {kHxPreemptAggressive, "aggressive"}, {kHxPreemptMixed, "mixed"},
};

EnumName const kSmartShareMode[] = {
    {kHxSmartShareNone, "none"},
    {kHxSmartShareJobs, "jobs"},
};

EnumName const kWorkerExecMode[] = {
    {kHxWorkerExecService, "service"},
    {kHxWorkerExecDesktop, "desktop"},
};

template <int N>
constexpr int count_of(EnumName const (&)[N]) {
  return N;
}

}  // namespace

HxString hx_supelog_flag_string(int value) { return flag_string(table_of(kSupelog), value); }
int hx_supelog_flag_int(HxString const& text) { return flag_int(table_of(kSupelog), text); }
HxString hx_supervisor_verbosity_string(int value) { return flag_string(table_of(kSupelog), value); }
int hx_supervisor_verbosity_int(HxString const& text) { return flag_int(table_of(kSupelog), text); }

HxString hx_supervisor_mode_flag_string(int value) { return flag_string(table_of(kSupervisorMode), value); }
int hx_supervisor_mode_flag_int(HxString const& text) { return flag_int(table_of(kSupervisorMode), text); }

HxString hx_worker_flag_string(int value) { return flag_string(table_of(kWorker), value); }
int hx_worker_flag_int(HxString const& text) { return flag_int(table_of(kWorker), text); }

HxString hx_supervisor_flag_string(int value) { return flag_string(table_of(kSupervisor), value); }
int hx_supervisor_flag_int(HxString const& text) { return flag_int(table_of(kSupervisor), text); }

HxString hx_supervisor_language_flag_string(int value) { return flag_string(table_of(kSupervisorLanguage), value); }
int hx_supervisor_language_flag_int(HxString const& text) { return flag_int(table_of(kSupervisorLanguage), text); }

HxString hx_supervisor_log_flag_string(int value) { return flag_string(table_of(kSupervisorLog), value); }
int hx_supervisor_log_flag_int(HxString const& text) { return flag_int(table_of(kSupervisorLog), text); }

HxString hx_supervisor_manifest_flag_string(int value) { return flag_string(table_of(kSupervisorManifest), value); }
int hx_supervisor_manifest_flag_int(HxString const& text) { return flag_int(table_of(kSupervisorManifest), text); }

HxString hx_client_flag_string(int value) { return flag_string(table_of(kClient), value); }
int hx_client_flag_int(HxString const& text) { return flag_int(table_of(kClient), text); }

HxString hx_database_flag_string(int value) { return flag_string(table_of(kDatabase), value); }
int hx_database_flag_int(HxString const& text) { return flag_int(table_of(kDatabase), text); }

HxString hx_job_flag_string(int value) { return flag_string(table_of(kJob), value); }
int hx_job_flag_int(HxString const& text) { return flag_int(table_of(kJob), text, table_of(kJobAliases)); }

bool hx_job_flag_valid(HxString const& text) {
  if (text.isinteger()) return true;
  HxStringList items;
  HxExpression::split(text, items);
  for (int i = 0; i < items.length(); ++i)
    if (hx_job_flag_int(*items.get(i)) == 0) return false;
  return true;
}

HxString hx_permission_flag_string(int value) { return flag_string(table_of(kPermission), value); }
int hx_permission_flag_int(HxString const& text) { return flag_int(table_of(kPermission), text); }

HxString hx_preempt_policy_string(HxPreemptPolicy value) {
  return enum_string(kPreemptPolicy, count_of(kPreemptPolicy), value, "");
}
int hx_preempt_policy_int(HxString const& text) { return enum_int(kPreemptPolicy, count_of(kPreemptPolicy), text, 0); }

HxString hx_smart_share_mode_string(HxSmartShareMode value) {
  return enum_string(kSmartShareMode, count_of(kSmartShareMode), value, "");
}
int hx_smart_share_mode_int(HxString const& text) { return enum_int(kSmartShareMode, count_of(kSmartShareMode), text, 0); }

HxString hx_worker_exec_mode_string(HxWorkerExecMode value) {
  return enum_string(kWorkerExecMode, count_of(kWorkerExecMode), value, "unknown");
}
int hx_worker_exec_mode_int(HxString const& text) { return enum_int(kWorkerExecMode, count_of(kWorkerExecMode), text, -1); }

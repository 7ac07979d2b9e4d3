#include "config/HxParams.h"

#include <cstring>
#include <iostream>

#include "config/HxConfig.h"
#include "config/HxFlags.h"
#include "core/HxList.h"

namespace {

struct FlagParam {
  char const* name;
  HxString (*to_string)(int);
  int (*to_int)(HxString const&);
};

// Each flag parameter and the table that converts its value.
FlagParam const kFlagParams[] = {
    {"supervisor_flags", hx_supervisor_flag_string, hx_supervisor_flag_int},
    {"supervisor_language_flags", hx_supervisor_language_flag_string, hx_supervisor_language_flag_int},
    {"supervisor_log_flags", hx_supervisor_log_flag_string, hx_supervisor_log_flag_int},
    {"supelog_flags", hx_supelog_flag_string, hx_supelog_flag_int},
    {"supervisor_verbosity", hx_supelog_flag_string, hx_supelog_flag_int},
    {"supervisor_manifest_flags", hx_supervisor_manifest_flag_string, hx_supervisor_manifest_flag_int},
    {"supervisor_job_flags", hx_job_flag_string, hx_job_flag_int},
    {"client_job_flags", hx_job_flag_string, hx_job_flag_int},
    {"job_flags", hx_job_flag_string, hx_job_flag_int},
    {"supervisor_mode_flags", hx_supervisor_mode_flag_string, hx_supervisor_mode_flag_int},
    {"worker_flags", hx_worker_flag_string, hx_worker_flag_int},
    {"client_flags", hx_client_flag_string, hx_client_flag_int},
    {"database_flags", hx_database_flag_string, hx_database_flag_int},
    {"permission_flags", hx_permission_flag_string, hx_permission_flag_int},
    {"supervisor_default_security", hx_permission_flag_string, hx_permission_flag_int},
    {"supervisor_default_group_security", hx_permission_flag_string, hx_permission_flag_int},
};

FlagParam const* flag_param(HxString const& name) {
  for (FlagParam const& p : kFlagParams)
    if (std::strcmp(name.value(), p.name) == 0 && name.length() == static_cast<int>(std::strlen(p.name))) return &p;
  return nullptr;
}

bool is(HxString const& name, char const* text) {
  return name.length() == static_cast<int>(std::strlen(text)) && std::strcmp(name.value(), text) == 0;
}

bool is_preempt_policy(HxString const& name) {
  return is(name, "supervisor_preempt_policy") || is(name, "supervisor_smart_share_preempt_policy");
}

}  // namespace

HxString hx_flags_to_string_or_integer(HxString const& name, HxString const& value) {
  HxString result("");
  FlagParam const* p = flag_param(name);
  if (p == nullptr) return result;
  if (value.isinteger()) return p->to_string(value.integervalue());
  result += p->to_int(value);
  return result;
}

HxString hx_conf_param_to_string_or_integer(HxString const& name, HxString const& value) {
  if (name.find(HxString("_flags")) || is(name, "supervisor_default_security") ||
      is(name, "supervisor_default_group_security") || is(name, "supervisor_verbosity"))
    return hx_flags_to_string_or_integer(name, value);
  HxString result(value);
  if (value.isinteger()) {
    int n = value.integervalue();
    // Numbers outside an enumeration have no word; they are never cast to it.
    if (is_preempt_policy(name)) {
      result = (n >= kHxPreemptDefault && n <= kHxPreemptMixed) ? hx_preempt_policy_string(static_cast<HxPreemptPolicy>(n))
                                                                 : HxString("");
    } else if (is(name, "supervisor_smart_share_mode")) {
      result = (n >= kHxSmartShareNone && n <= kHxSmartShareJobs)
                   ? hx_smart_share_mode_string(static_cast<HxSmartShareMode>(n))
                   : HxString("");
    }
  } else if (is_preempt_policy(name)) {
    result = HxString("");
    result += hx_preempt_policy_int(value);
  } else if (is(name, "supervisor_smart_share_mode")) {
    result = HxString("");
    result += hx_smart_share_mode_int(value);
  }
  return result;
}

int hx_cmp_strings(HxString const* a, HxString const* b) {
  if (*a > *b) return 1;
  if (*a < *b) return -1;
  return 0;
}

void hxdisplayconfig(HxConfig const& config) {
  HxStringList names;
  config.labels(names);
  names.sort(hx_cmp_strings);
  std::cout << "items: " << names.length() << std::endl;
  for (int i = 0; i < names.length(); ++i) {
    HxString const& name = *names.get(i);
    HxString const& value = config.option(name);
    HxString line;
    line += i;
    line += ": ";
    line += name;
    line += "=";
    line += value;
    HxString other = hx_conf_param_to_string_or_integer(name, value);
    if (other != value) {
      line += " (";
      line += other;
      line += ")";
    }
    std::cout.write(line.value(), line.length());
    std::cout << std::endl;
  }
}

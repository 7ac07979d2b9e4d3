#include "config/HxJobConfig.h"

#include "config/HxClientConfig.h"
#include "config/HxDefaults.h"
#include "config/HxEnv.h"
#include "core/HxFile.h"
#include "core/HxPath.h"

namespace {

// The library's own version, which "job.conf" version rules are held
// against. Both sides are compared as single-precision numbers, so the text
// "8.1" equals it.
constexpr float kLibraryVersion = 8.1f;

// Calls visit(dir) for each non-empty entry of a ":"-separated path; stops
// when visit returns true.
template <class Visit>
void each_dir(HxString const& path, Visit visit) {
  char const* p = path.value();
  int n = path.length();
  int start = 0;
  for (int i = 0; i <= n; ++i) {
    if (i < n && p[i] != ':') continue;
    if (i > start && visit(HxString(p + start, i - start))) return;
    start = i + 1;
  }
}

HxString join(HxString const& dir, HxString const& name) {
  HxString out(dir);
  if (dir.length() == 0 || dir.get(dir.length() - 1) != '/') out += "/";
  out += name;
  return out;
}

// "." and ".." are listed in every directory but are never job types.
bool is_dot_entry(HxString const& name) {
  return name == HxString(".") || name == HxString("..");
}

// A version rule applies only to text that reads as a number.
bool is_number(HxString const& text) { return text.length() > 0 && text.isfloat(); }

}  // namespace

HxString hx_job_config_resolve_path(HxString const& dir, HxString const& value) {
  // An absent library stays absent: callers load a library only when one is
  // named.
  if (value.length() == 0) return HxString("");
  HxPath path(value);
  path.root(dir);
  return path.value();
}

HxString HxJobConfig::defaultTail_() {
  // The client configuration comes first: it may move the installation
  // directory that the built-in directories are made of.
  HxClientConfig client;
  HxString tail(":");
  tail += client.worker_template_path();
  tail += ":";
  tail += hx_default_string(kHxDefaultJobTypePath);
  tail += ":";
  tail += hx_default_string(kHxDefaultWorkerTemplatePath);
  return tail;
}

HxJobConfig::HxJobConfig(HxString const& type) : type_(type) {
  path_ = HxEnv::valueEnv("HXPATH");
  path_ += defaultTail_();
  find_();
}

HxJobConfig::HxJobConfig(HxString const& type, HxString const& path) : type_(type), path_(path) { find_(); }

HxString HxJobConfig::hx_dir() const { return hx_default_get_hxdir(); }

void HxJobConfig::find_() {
  // The first directory of the path that holds a sub-directory of the type's
  // name wins, whether or not that one has a "job.conf".
  HxString const name(type_);
  each_dir(path_, [this, &name](HxString const& dir) {
    HxDir listing(dir);
    for (int i = 0; i < listing.length(); ++i) {
      HxString const& entry = *listing.get(i);
      if (!(entry == name) || is_dot_entry(entry)) continue;
      HxString candidate = join(dir, entry);
      if (!HxDir::isdir(candidate)) continue;
      load_(candidate);
      return true;
    }
    return false;
  });
}

void HxJobConfig::pick_(char const* group, HxString& binding, HxString& library) const {
  HxString g(group);
  binding = settings_.option(g + "_binding_osx");
  if (binding.length() > 0) {
    library = option(g + "_library_osx", 1);
  } else {
    binding = settings_.option(g + "_binding");
    library = option(g + "_library", 1);
  }
}

void HxJobConfig::load_(HxString const& dir) {
  typedir_ = dir;
  HxString file = dir + "/job.conf";
  if (!HxFile::exists(file)) {
    valid_ = 0;
    return;
  }
  HxConfig conf(file);
  settings_ = conf;
  valid_ = conf.valid() ? 1 : 0;

  auto opt = [this](char const* key) { return settings_.option(HxString(key)); };
  auto resolved = [this](char const* key) { return option(HxString(key), 1); };

  HxString minimum = opt("minimum_tarv_version");
  if (is_number(minimum) && minimum.floatvalue() > kLibraryVersion) valid_ = 0;
  HxString required = opt("required_tarv_version");
  if (is_number(required) && required.floatvalue() != kLibraryVersion) valid_ = 0;

  type_ = dir;

  gui_icon_ = resolved("gui_icon");
  pick_("gui_submit", gui_submit_binding_, gui_submit_library_);
  callback_library_ = resolved("callback_library");
  pick_("gui_job_display", gui_job_display_binding_, gui_job_display_library_);
  pick_("gui_subjob_display", gui_subjob_display_binding_, gui_subjob_display_library_);
  submit_binding_ = opt("submit_binding");
  submit_library_ = resolved("submit_library");
  pick_("execute", execute_binding_, execute_library_);
  display_binding_ = opt("display_binding");
  display_library_ = resolved("display_library");
  parent_type_ = opt("parent_type");
  detail_ = opt("detail");
  version_ = opt("version");
  minimum_tarv_version_ = minimum;
  required_tarv_version_ = required;
  short_detail_ = opt("short_detail");
  job_priority_ = opt("job_priority");
  job_cluster_ = opt("job_cluster");
  job_requirements_ = opt("job_requirements");
  job_restrictions_ = opt("job_restrictions");
  job_reservations_ = opt("job_reservations");
  job_kind_ = opt("job_kind");
  job_label_ = opt("job_label");
  job_account_ = opt("job_account");
  job_hosts_ = opt("job_hosts");
  job_groups_ = opt("job_groups");
  job_flags_ = opt("job_flags");
  job_cpus_ = opt("job_cpus");
  job_name_ = opt("job_name");
  job_status_ = opt("job_status");
}

HxString HxJobConfig::option(HxString const& key, unsigned char resolve) const {
  HxString value = settings_.option(key);
  return resolve ? hx_job_config_resolve_path(typedir_, value) : value;
}

void HxJobConfig::available(HxString const& extra, HxStringList& list) {
  HxString path = HxEnv::valueEnv("HXPATH");
  if (extra.length() > 0) {
    path += ":";
    path += extra;
  }
  path += defaultTail_();
  path += ":";

  // Each name counts once, wherever it occurs first.
  HxStringHash seen;
  each_dir(path, [&seen](HxString const& dir) {
    HxDir listing(dir);
    for (int i = 0; i < listing.length(); ++i) {
      HxString const& name = *listing.get(i);
      if (name.length() == 0 || name.get(0) == '.' || seen.get(name) != nullptr) continue;
      if (HxDir::isdir(join(dir, name))) seen.set(new HxString(name), name);
    }
    return false;
  });
  for (int s = 0; s < seen.size(); ++s) {
    HxString* name = seen._key(s);
    if (name == nullptr) continue;
    HxJobConfig config(*name, path);
    if (config.valid()) list.append(new HxString(*name));
  }
}

// Job-type look-up from outside text: a search path, a type name and the
// type's "job.conf" with its version rules and library paths. The search
// stays within the path's directories and ends; a type found is valid only
// when its version rules allow this library.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "config/HxJobConfig.h"

namespace {

// A job-type tree made once per process: <root>/a/t/ and <root>/b/t/.
std::string const& Root() {
  static std::string const root = [] {
    char tmpl[] = "/tmp/hxfuzz_jobconfig.XXXXXX";
    std::string r = mkdtemp(tmpl) != nullptr ? tmpl : "/tmp";
    for (char const* d : {"/a", "/a/t", "/b", "/b/t", "/b/u"}) mkdir((r + d).c_str(), 0700);
    return r;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1 << 16)) return 0;
  // The input is the type name, a line feed, the search path, a line feed
  // and the settings file.
  std::string const in(reinterpret_cast<char const*>(data), size);
  size_t const first = in.find('\n');
  size_t const second = first == std::string::npos ? std::string::npos : in.find('\n', first + 1);
  std::string type = in.substr(0, first);
  std::string path = first == std::string::npos ? "" : in.substr(first + 1, second - first - 1);
  std::string conf = second == std::string::npos ? "" : in.substr(second + 1);
  if (type.empty()) type = "t";

  std::string const& root = Root();
  if (std::FILE* f = std::fopen((root + "/a/t/job.conf").c_str(), "w")) {
    std::fwrite(conf.data(), 1, conf.size(), f);
    std::fclose(f);
  }
  // The fuzzed path sits between two directories of the tree; "@" in it
  // stands for the tree's root, so that it can name places inside.
  std::string expanded;
  for (char c : path) {
    if (c == '@')
      expanded += root;
    else
      expanded += c;
  }
  HxString const search = HxString((root + "/a:" + expanded + ":" + root + "/b").c_str());
  HxJobConfig config(HxString(type.c_str()), search);
  if (config.valid()) {
    // A valid type's version rules admit this library (version 8.1).
    HxString const minimum = config.minimum_tarv_version();
    HxString const required = config.required_tarv_version();
    if (minimum.length() > 0 && minimum.isfloat() && minimum.floatvalue() > 8.1f) __builtin_trap();
    if (required.length() > 0 && required.isfloat() && required.floatvalue() != 8.1f) __builtin_trap();
  }
  for (char const* key : {"execute_library", "gui_icon", "callback_library", "version"})
    config.option(HxString(key), 1);
  hx_job_config_resolve_path(HxString(expanded.c_str()), HxString(conf.substr(0, 256).c_str()));
  HxStringList types;
  HxJobConfig::available(HxString(expanded.c_str()), types);
  return 0;
}

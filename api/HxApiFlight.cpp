#include "api/HxApiFlight.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "api/HxApiQuery.h"
#include "api/HxApiSystem.h"
#include "config/HxConfig.h"
#include "core/HxFile.h"
#include "core/HxRegEx.h"
#include "expr/HxExpression.h"
#include "model/job/HxJob.h"

namespace {

char const* sub_directory(HxFlightCheckType type) {
  switch (type) {
    case HX_INSTANCE_PREFLIGHT: return "/instance/pre";
    case HX_INSTANCE_POSTFLIGHT: return "/instance/post";
    case HX_AGENDA_PREFLIGHT: return "/agenda/pre";
    case HX_AGENDA_POSTFLIGHT: return "/agenda/post";
  }
  return "";
}

HxString job_commands(HxJob const& job, HxFlightCheckType type) {
  switch (type) {
    case HX_INSTANCE_PREFLIGHT: return job.preflights();
    case HX_INSTANCE_POSTFLIGHT: return job.postflights();
    case HX_AGENDA_PREFLIGHT: return job.agenda_preflights();
    case HX_AGENDA_POSTFLIGHT: return job.agenda_postflights();
  }
  return HxString("");
}

// Runs one check; the printed lines name it as given, the shell gets `run`.
bool run_one(int index, HxString const& shown, HxString const& run, int& code) {
  std::string line = "INFO: running flightcheck [" + std::to_string(index) + ":" +
                     std::string(shown.value(), static_cast<size_t>(shown.length())) + "]\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  code = hxsystem(run);
  if (code == 0) return true;
  std::string error = "ERROR: flight-check command[" + std::string(shown.value(), static_cast<size_t>(shown.length())) +
                      "] returned non-zero exit code[" + std::to_string(code) +
                      "]. Stopping processing of any additional flight-checks and returning.\n";
  std::fwrite(error.data(), 1, error.size(), stderr);
  std::fflush(stderr);
  return false;
}

}  // namespace

HxString _hx_shell_quote(HxString const& text) {
  HxString out("'");
  for (int i = 0; i < text.length(); ++i) {
    char c = text.get(i);
    if (c == '\'')
      out += "'\\''";
    else
      out.append(c);
  }
  out += "'";
  return out;
}

HxStringList _hx_worker_flight_checks(HxConfig const& worker, HxFlightCheckType type) {
  HxStringList out;
  HxStringList dirs;
  HxString const& paths = worker.option(HxString("worker_flight_check_path"));
  if (paths.length() > 0) HxExpression::split(paths, dirs);
  HxRegEx skip(HxString("^(\\.|\\.\\.|\\.txt)$"));
  skip.caseless(1);
  for (int d = 0; d < dirs.length(); ++d) {
    HxDir listing(*dirs.get(d) + sub_directory(type));
    for (int i = 0; i < listing.length(); ++i) {
      HxString const& name = *listing.get(i);
      if (skip.match(name)) continue;
      out.append(new HxString(listing.dir() + "/" + name));
    }
  }
  return out;
}

int _hx_run_flight_checks(HxJob const& job, HxFlightCheckType type, HxStringList const& worker_checks) {
  HxStringList commands;
  HxString text = job_commands(job, type);
  if (text.length() > 0) HxExpression::split(text, commands);
  int index = 0;
  int code = 0;
  for (int i = 0; i < commands.length(); ++i, ++index)
    if (!run_one(index, *commands.get(i), *commands.get(i), code)) return code;
  for (int i = 0; i < worker_checks.length(); ++i, ++index) {
    HxString const& path = *worker_checks.get(i);
    if (!run_one(index, path, _hx_shell_quote(path), code)) return code;
  }
  return 0;
}

HxStringList _hx_get_worker_flight_checks(HxFlightCheckType type) {
  HxConfig worker;
  hxworkerconfig(HxString("localhost"), worker);
  return _hx_worker_flight_checks(worker, type);
}

int _hx_run_flight_checks(HxJob const& job, HxFlightCheckType type) {
  return _hx_run_flight_checks(job, type, _hx_get_worker_flight_checks(type));
}

#include "core/HxUser.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <shared_mutex>
#include <vector>

#include "core/HxAtLoad.h"
#include "core/HxDebug.h"
#include "core/HxLimits.h"
#include "core/HxProcessLocks.h"
#include "core/HxProcessEnv.h"

namespace {

// The names found so far, by uid: the real user can change (setuid), and a
// name is only ever given for the uid it was found for. Failed lookups are
// not kept. Under the process lock kUserNames; never destroyed: a thread may
// still send at exit.
struct UserNames {
  std::map<uid_t, HxString> names;
};

UserNames& user_names() {
  static UserNames* kept = new UserNames();
  return *kept;
}

HxAtLoad const g_user_names_at_load(user_names);

}  // namespace

HxString hx_current_user() {
  uid_t uid = getuid();
  UserNames& kept = user_names();
  {
    HxProcessLockHold hold(HxProcessLock::kUserNames);
    auto it = kept.names.find(uid);
    if (it != kept.names.end()) return it->second;
  }
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  size_t size = hint > 0 ? static_cast<size_t>(hint) : 1024;
  std::vector<char> buf;
  passwd entry;
  passwd* found = nullptr;
  int rc;
  for (;;) {
    buf.resize(size);
    {
      // The name service modules read the environment while they look the
      // user up; a thread setting a variable at that moment may move the
      // array they read.
      std::shared_lock<HxEnvLock> hold(hx_environ_lock());
      rc = getpwuid_r(uid, &entry, buf.data(), buf.size(), &found);
    }
    if (rc != ERANGE || size >= kHxMaxPasswdBuffer) break;
    size *= 2;
  }
  if (rc == 0 && found != nullptr) {
    HxString name(found->pw_name);
    HxProcessLockHold hold(HxProcessLock::kUserNames);
    kept.names[uid] = name;
    return name;
  }
  HxDebug& log = *hx_debug_obj();
  if (rc == 0) {
    log.lock();
    log.mark() << "WARNING: pw database entry not found for uid[" << static_cast<unsigned int>(uid) << "]" << '\n';
    log.unlock();
  } else {
    errno = rc;
    std::perror("ERROR: HxClient::currentuser(), on calling getpwuid()");
  }
  log.lock();
  log.mark() << "ERROR: couldn't validate user's login." << '\n';
  log.unlock();
  return HxString("");
}

#include "net/HxClient.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

#include "core/HxDebug.h"

namespace {

// The transport's one-time set-up: a peer that goes away must not kill the
// process with SIGPIPE while we write to it.
void transport_init() {
  static std::once_flag once;
  std::call_once(once, [] { signal(SIGPIPE, SIG_IGN); });
}

// The user database entries are short; a buffer beyond this is not needed.
constexpr size_t kMaxPasswdBuffer = 1 << 20;

}  // namespace

HxString HxClient::currentuser() {
  transport_init();
  uid_t uid = getuid();
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  size_t size = hint > 0 ? static_cast<size_t>(hint) : 1024;
  std::vector<char> buf;
  passwd entry;
  passwd* found = nullptr;
  int rc;
  for (;;) {
    buf.resize(size);
    rc = getpwuid_r(uid, &entry, buf.data(), buf.size(), &found);
    if (rc != ERANGE || size >= kMaxPasswdBuffer) break;
    size *= 2;
  }
  if (rc == 0 && found != nullptr) return HxString(found->pw_name);
  // These lines are written whatever the verbosity: without a user name
  // nothing that needs one can work.
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

#include "config/HxEnv.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "config/HxConfigLimits.h"
#include "core/HxProcessEnv.h"

extern char** environ;

namespace {

// The shell command that su runs: a marker line before the listing lets the
// output be told apart from whatever the login scripts print.
char const* const kSuCommand = "\\echo __WIPE__ && \\echo __HXSTART__ && \\env && \\echo -n umask= && umask";

bool starts_with(HxString const& s, char const* prefix) {
  int n = static_cast<int>(std::strlen(prefix));
  return s.length() >= n && std::memcmp(s.value(), prefix, static_cast<size_t>(n)) == 0;
}

// Index of the first byte c at or after from in text[0..length), or length.
int find_byte(char const* text, int length, int from, char c) {
  if (from >= length) return length;
  void const* p = std::memchr(text + from, c, static_cast<size_t>(length - from));
  return p == nullptr ? length : static_cast<int>(static_cast<char const*>(p) - text);
}

// Splits "drive|source|..." into the drive and the mount source up to the next "|".
void split_drive(char const* text, int length, HxString& drive, HxString& spec) {
  int bar = find_byte(text, length, 0, '|');
  drive.copy(text, bar);
  if (bar < length) {
    int end = find_byte(text, length, bar + 1, '|');
    spec.copy(text + bar + 1, end - bar - 1);
  } else {
    spec.copy("");
  }
}

}  // namespace

void HxEnv::modify(HxEnv const& other) {
  if (&other == this) return;
  keys_.copy(other.keys_);
  values_.copy(other.values_);
}

// ---- variables -------------------------------------------------------------

int HxEnv::index_(HxString const& name) const {
  for (int i = 0; i < keys_.length(); ++i)
    if (*keys_.get(i) == name) return i;
  return -1;
}

void HxEnv::append_(HxString const& name, HxString const& value) {
  // A decoded record may carry lists of different lengths; pad the values so
  // that the new pair stays together.
  while (values_.length() < keys_.length()) values_.append(new HxString(""));
  keys_.append(new HxString(name));
  values_.append(new HxString(value));
}

void HxEnv::set(HxString const& name, HxString const& value) {
  int i = index_(name);
  if (i < 0) return append_(name, value);
  while (values_.length() <= i) values_.append(new HxString(""));
  *values_.get(i) = value;
}

HxString HxEnv::value(HxString const& name) const {
  int i = index_(name);
  HxString const* v = i < 0 ? nullptr : values_.get(i);
  return v == nullptr ? HxString("") : *v;
}

bool HxEnv::exists(HxString const& name) const { return index_(name) >= 0; }

void HxEnv::clear() {
  keys_.clear();
  values_.clear();
}

// ---- mounts ----------------------------------------------------------------

void HxEnv::mount(HxString const& drive, HxString const& spec) { mounts_.set(new HxString(spec), drive); }

HxString HxEnv::mount(HxString const& drive) const {
  HxString const* spec = mounts_.get(drive);
  return spec == nullptr ? HxString("") : *spec;
}

bool HxEnv::mount(HxString const& drive, HxString& user, HxString& password, HxString& share) const {
  HxString const* spec = mounts_.get(drive);
  if (spec == nullptr) return false;
  _mountsplit(*spec, user, password, share);
  return true;
}

void HxEnv::_mountsplit(HxString const& spec, HxString& user, HxString& password, HxString& share) {
  char const* p = spec.value();
  int n = spec.length();
  if (n == 0 || !spec.haschar('@')) {
    share = spec;
    return;
  }
  int i = 0;
  while (i < n && p[i] != ':' && p[i] != '@') user.append(p[i++]);
  if (i < n && p[i] == ':') {
    ++i;
    while (i < n && p[i] != '@') password.append(p[i++]);
  }
  if (i < n) share.append(p + i + 1, n - i - 1);
}

void HxEnv::mountmap(HxString const& text) { mountmap(text.value(), text.length()); }

void HxEnv::mountmap(char const* text, int length) {
  if (text == nullptr || length < 1) return;
  int pos = 0;
  while (pos < length) {
    int nl = find_byte(text, length, pos, '\n');
    HxString drive, spec;
    split_drive(text + pos, nl - pos, drive, spec);
    mount(drive, spec);
    pos = nl + 1;
  }
}

void HxEnv::mounts(HxStringList& list) const {
  for (int s = 0; s < mounts_.size(); ++s)
    if (HxString* drive = mounts_._key(s)) list.append(new HxString(*drive));
}

void HxEnv::mountclear() {
  HxStringList drives;
  mounts(drives);
  for (int i = 0; i < drives.length(); ++i) delete mounts_.remove(*drives.get(i));
}

// ---- text form -------------------------------------------------------------

HxString HxEnv::convert() const {
  char mask[32];
  std::snprintf(mask, sizeof mask, "%o", static_cast<unsigned>(umask_));
  HxString out("umask=");
  out += mask;
  out += "\ncwd=";
  out += cwd_;
  for (int s = 0; s < mounts_.size(); ++s) {
    HxString* drive = mounts_._key(s);
    if (drive == nullptr) continue;
    out += "\ndrivemap=";
    out += *drive;
    out += "|";
    if (HxString* spec = mounts_._value(s)) out += *spec;
  }
  for (int i = 0; i < keys_.length(); ++i) {
    out += "\n";
    out += *keys_.get(i);
    out += "=";
    if (HxString* v = values_.get(i)) out += *v;
  }
  return out;
}

void HxEnv::revert(HxString const& text) { revert(text.value(), text.length()); }

void HxEnv::revert(char const* text, int length) {
  if (text == nullptr || length < 1) return;
  bool mask_seen = false, cwd_seen = false;
  int pos = 0;
  while (pos < length) {
    // The name runs to the next "=", across line feeds.
    int eq = find_byte(text, length, pos, '=');
    if (eq == pos) return;
    HxString name(text + pos, eq - pos);
    HxString value("");
    int next = length;
    if (eq < length) {
      int nl = find_byte(text, length, eq + 1, '\n');
      value.copy(text + eq + 1, nl - eq - 1);
      next = nl < length ? nl + 1 : length;
      bool special = (name == HxString("umask") && !mask_seen) || (name == HxString("cwd") && !cwd_seen) ||
                     name == HxString("drivemap");
      // An exported shell function spans lines up to a line starting with
      // "}": those lines belong to its value.
      if (!special && nl < length && starts_with(value, "() {")) {
        next = length;
        for (int k = nl; k < length; ++k) {
          value.append(text[k]);
          if (text[k] == '}' && text[k - 1] == '\n') {
            next = k + 2;
            break;
          }
        }
      }
    }
    if (name == HxString("umask") && !mask_seen) {
      umask_ = static_cast<int>(std::strtol(value.value(), nullptr, 8));
      mask_seen = true;
    } else if (name == HxString("cwd") && !cwd_seen) {
      cwd_ = value;
      cwd_seen = true;
    } else if (name == HxString("drivemap")) {
      HxString drive, spec;
      split_drive(value.value(), value.length(), drive, spec);
      mount(drive, spec);
    } else {
      append_(name, value);
    }
    pos = next;
  }
}

// ---- capture ---------------------------------------------------------------

int HxEnv::readMask_() {
  // The kernel reports the mask in the process status; setting the mask to
  // read it back would, for a moment, let other threads create files that
  // anyone may write.
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    int mask = -1;
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::strncmp(line, "Umask:", 6) == 0) {
        char* end = nullptr;
        long v = std::strtol(line + 6, &end, 8);
        if (end != line + 6) mask = static_cast<int>(v & 0xFFFF);
        break;
      }
    }
    std::fclose(f);
    if (mask >= 0) return mask;
  }
  mode_t old = ::umask(0);
  ::umask(old);
  return static_cast<int>(old & 0xFFFF);
}

void HxEnv::setToEnv() {
  clear();
  {
    std::shared_lock<HxEnvLock> hold(hx_environ_lock());
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
      char const* entry = *e;
      char const* eq = std::strchr(entry, '=');
      if (eq == nullptr) {
        append_(HxString(entry), HxString(""));
      } else {
        append_(HxString(entry, static_cast<int>(eq - entry)), HxString(eq + 1));
      }
    }
  }
  umask_ = readMask_();
  std::vector<char> buf(kHxEnvCwdBytes);
  if (::getcwd(buf.data(), buf.size()) != nullptr) cwd_ = buf.data();
}

bool HxEnv::_suArguments(HxString const& user, HxString const& shell, HxStringList& argv) {
  // No login name begins with "-"; su would read such a name as an option.
  if (user.length() > 0 && user.get(0) == '-') return false;
  argv.append(new HxString("su"));
  if (shell.length() > 0) {
    argv.append(new HxString("-s"));
    argv.append(new HxString(shell));
  }
  argv.append(new HxString("-"));
  // An empty name leaves su its default user, as an empty word on a command
  // line would.
  if (user.length() > 0) argv.append(new HxString(user));
  argv.append(new HxString("-c"));
  argv.append(new HxString(kSuCommand));
  return true;
}

void HxEnv::_suOutput(char const* text, int length) {
  if (text == nullptr || length < 1) return;
  static char const kMarker[] = "__HXSTART__";
  int const marker_len = static_cast<int>(sizeof kMarker - 1);
  int pos = 0;
  while (pos < length) {
    int nl = find_byte(text, length, pos, '\n');
    if (nl - pos == marker_len && std::memcmp(text + pos, kMarker, marker_len) == 0) {
      int start = nl < length ? nl + 1 : length;
      revert(text + start, length - start);
      return;
    }
    pos = nl + 1;
  }
}

void HxEnv::setToEnv(HxString const& user, HxString const& shell) {
  HxStringList args;
  if (!_suArguments(user, shell, args)) return;
  std::vector<char*> argv;
  for (int i = 0; i < args.length(); ++i) argv.push_back(const_cast<char*>(args.get(i)->value()));
  argv.push_back(nullptr);

  // su runs from an argument vector: no shell ever parses the names.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return setToEnv();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  pid_t pid = -1;
  int rc;
  {
    std::shared_lock<HxEnvLock> hold(hx_environ_lock());
    rc = posix_spawnp(&pid, "su", &actions, nullptr, argv.data(), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    // A su that cannot be found or run reports nothing, as a failing su
    // does; only a system that cannot start a process at all falls back to
    // this process's own environment.
    if (rc != ENOENT && rc != EACCES && rc != ENOEXEC && rc != ENOTDIR) setToEnv();
    return;
  }

  HxString output;
  char chunk[1024];
  for (;;) {
    ssize_t got = ::read(fds[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    // The output is taken as text: a NUL byte cuts its chunk short.
    int n = static_cast<int>(strnlen(chunk, static_cast<size_t>(got)));
    output.append(chunk, n);
    // A login shell that never stops talking is cut off; closing the pipe
    // ends it.
    if (output.length() > kHxEnvMaxCaptureBytes) break;
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  _suOutput(output.value(), output.length());
}

// ---- the live process environment -----------------------------------------

void HxEnv::setEnv(HxString const& name, HxString const& value) {
  // setenv keeps one copy per distinct value, so that setting a variable
  // again and again (an exit code after every command) does not leave a
  // buffer behind each time. A name that setenv refuses (empty, or with
  // '=') goes through putenv, which keeps the buffer itself for the
  // process's life.
  if (name.length() > 0 && std::memchr(name.value(), '=', static_cast<size_t>(name.length())) == nullptr &&
      std::memchr(name.value(), 0, static_cast<size_t>(name.length())) == nullptr) {
    std::string v(value.value(), static_cast<size_t>(value.length()));
    std::unique_lock<HxEnvLock> hold(hx_environ_lock());
    ::setenv(name.value(), v.c_str(), 1);
    return;
  }
  int n = name.length() + 1 + value.length();
  char* entry = new char[static_cast<size_t>(n) + 1];
  std::memcpy(entry, name.value(), static_cast<size_t>(name.length()));
  entry[name.length()] = '=';
  std::memcpy(entry + name.length() + 1, value.value(), static_cast<size_t>(value.length()));
  entry[n] = 0;
  std::unique_lock<HxEnvLock> hold(hx_environ_lock());
  ::putenv(entry);
}

char const* HxEnv::findEnv(char const* name, size_t length) {
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    char const* entry = *e;
    size_t const n = std::strcspn(entry, "=");
    if (n == length && std::memcmp(entry, name, n) == 0) return entry[n] == '=' ? entry + n + 1 : "";
  }
  return nullptr;
}

HxString HxEnv::valueEnv(HxString const& name) {
  std::shared_lock<HxEnvLock> hold(hx_environ_lock());
  char const* value = findEnv(name.value(), static_cast<size_t>(name.length()));
  return HxString(value != nullptr ? value : "");
}

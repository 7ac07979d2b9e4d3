#pragma once

// Helpers shared by the tests: the bytes of a string as a std::string, and
// temporary files and directories that leave nothing behind.

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <cstdio>
#include <fstream>
#include <exception>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/HxString.h"

namespace hxtest {

// The bytes of a string, NUL bytes included, for comparison with literals.
inline std::string S(HxString const& s) { return std::string(s.value(), static_cast<size_t>(s.length())); }

// A string holding exactly these bytes.
inline HxString H(std::string const& s) { return HxString(s.data(), static_cast<int>(s.size())); }

namespace detail {

// What this process made under /tmp and has not removed yet. A death test's
// child that ends with exit() never reaches its fixture's TearDown, so the
// list is also swept when the process exits. Each entry remembers the
// process that made it: a forked child must not remove its parent's files.
class Made {
 public:
  static Made& get() {
    static Made made;
    return made;
  }
  void add(std::string const& path) {
    std::lock_guard<std::mutex> hold(lock_);
    paths_.emplace_back(getpid(), path);
  }
  void remove(std::string const& path) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = paths_.begin(); it != paths_.end(); ++it) {
      if (it->second == path) {
        if (it->first == getpid()) erase(path);
        paths_.erase(it);
        return;
      }
    }
  }
  ~Made() {
    for (auto const& [pid, path] : paths_)
      if (pid == getpid()) erase(path);
  }

 private:
  static void erase(std::string const& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::mutex lock_;
  std::vector<std::pair<pid_t, std::string>> paths_;
};

}  // namespace detail

// A new directory under /tmp, removed with everything in it when the object
// goes (or, failing that, when the process exits).
class TempDir {
 public:
  explicit TempDir(std::string const& prefix = "hxtest") {
    std::string tmpl = "/tmp/" + prefix + ".XXXXXX";
    if (::mkdtemp(tmpl.data()) != nullptr) {
      path_ = tmpl;
      detail::Made::get().add(path_);
    }
  }
  TempDir(TempDir const&) = delete;
  TempDir& operator=(TempDir const&) = delete;
  ~TempDir() {
    if (!path_.empty()) detail::Made::get().remove(path_);
  }

  // Empty when the directory could not be made.
  std::string const& path() const { return path_; }
  std::string file(std::string const& name) const { return path_ + "/" + name; }
  HxString hxfile(std::string const& name) const { return H(file(name)); }
  void write(std::string const& name, std::string const& bytes) const {
    std::ofstream(file(name), std::ios::binary) << bytes;
  }
  std::string read(std::string const& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

// A file under /tmp holding the given bytes; removed with the object.
class TempFile {
 public:
  explicit TempFile(std::string const& contents = "", std::string const& prefix = "hxtest") {
    std::string tmpl = "/tmp/" + prefix + ".XXXXXX";
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return;
    path_ = tmpl;
    detail::Made::get().add(path_);
    if (!contents.empty()) (void)!::write(fd, contents.data(), contents.size());
    ::close(fd);
  }
  TempFile(TempFile const&) = delete;
  TempFile& operator=(TempFile const&) = delete;
  ~TempFile() {
    if (!path_.empty()) detail::Made::get().remove(path_);
  }

  HxString path() const { return H(path_); }
  std::string const& name() const { return path_; }
  // Replaces the contents.
  void write(std::string const& contents) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << contents;
  }
  std::string read() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

// Whether the tests run under a sanitizer that maps shadow memory far
// beyond any limit on the address space: tests of memory faults, which run
// under such a limit, are skipped there.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HX_TEST_SHADOW_MEMORY 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HX_TEST_SHADOW_MEMORY 1
#endif
#if defined(HX_TEST_SHADOW_MEMORY)
inline constexpr bool kShadowMemory = true;
#else
inline constexpr bool kShadowMemory = false;
#endif

// Runs fn in a child process under a limit of one resource (setrlimit), so
// that what the limit stops ends or fails in the child, not the machine. The
// child's exit code is fn's result; a child ended by a signal gives 128 + its
// number (134: an abort, as an uncaught std::bad_alloc ends); one still
// running after a minute is ended. Under a file-size limit a write past it
// fails with EFBIG instead of ending the child with SIGXFSZ.
inline int run_with_limit(int resource, rlim_t value, std::function<int()> const& fn) {
  // Nothing buffered before the fork is written twice.
  std::fflush(nullptr);
  pid_t const child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    alarm(60);
    if (resource == RLIMIT_FSIZE) signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    limit.rlim_cur = limit.rlim_max = value;
    if (setrlimit(resource, &limit) != 0) _exit(125);
    // An exception must not reach the test framework's handler, which would
    // carry on with the other tests in the child: it ends the child as it
    // ends a program.
    int code = 0;
    try {
      code = fn();
    } catch (...) {
      std::terminate();
    }
    std::fflush(nullptr);
    _exit(code);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Runs fn in a child process whose address space may grow by `extra` bytes
// beyond what this process maps now (RLIMIT_AS), so that a fault of memory
// ends the child, not the machine.
inline int run_with_memory_limit(size_t extra, std::function<int()> const& fn) {
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  size_t const now = static_cast<size_t>(pages) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return run_with_limit(RLIMIT_AS, now + extra, fn);
}

}  // namespace hxtest

#include "net/HxCacheFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "net/HxNetLimits.h"

bool hx_cache_save(HxString const& path, HxString const& text) {
  std::string pattern = std::string(path.value()) + ".XXXXXX";
  char* name = pattern.data();
  // mkostemp creates the name exclusively, mode 0600; an existing name or
  // link under it is never opened.
  int fd = mkostemp(name, O_CLOEXEC);
  if (fd < 0) return false;
  char const* p = text.value();
  size_t left = static_cast<size_t>(text.length());
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  if (ok && std::rename(name, path.value()) != 0) ok = false;
  if (!ok) ::unlink(name);
  return ok;
}

bool hx_cache_load(HxString const& path, HxString& text, int64_t& mtime) {
  int fd = ::open(path.value(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    ::close(fd);
    return false;
  }
  char buf[kHxMaxCacheFileBytes];
  ssize_t n;
  do {
    n = ::read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n < 0) return false;
  text = HxString(buf, static_cast<int>(n));
  mtime = static_cast<int64_t>(st.st_mtime);
  return true;
}

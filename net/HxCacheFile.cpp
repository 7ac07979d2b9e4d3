#include "net/HxCacheFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/HxFile.h"
#include "net/HxNetLimits.h"

bool hx_cache_save(HxString const& path, HxString const& text) {
  HxFileReplacement file(path, HxFileReplacement::kPrivate);
  file.write(text.value(), text.length());
  return file.commit();
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

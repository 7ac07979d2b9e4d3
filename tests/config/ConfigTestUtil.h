#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/HxString.h"

namespace hxtest {

inline std::string S(HxString const& s) { return std::string(s.value(), static_cast<size_t>(s.length())); }

// A file under /tmp holding the given bytes; removed with the object.
class TempFile {
 public:
  explicit TempFile(std::string const& contents) {
    char name[] = "/tmp/hxconfig_testXXXXXX";
    int fd = mkstemp(name);
    path_ = name;
    if (fd >= 0) {
      if (!contents.empty()) (void)!write(fd, contents.data(), contents.size());
      close(fd);
    }
  }
  TempFile(TempFile const&) = delete;
  TempFile& operator=(TempFile const&) = delete;
  ~TempFile() { unlink(path_.c_str()); }
  HxString path() const { return HxString(path_.c_str()); }

 private:
  std::string path_;
};

}  // namespace hxtest

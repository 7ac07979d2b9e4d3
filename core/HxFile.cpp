#include "core/HxFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "core/HxLimits.h"

namespace {

// Counter of unique temporary names, process-wide.
std::atomic<int> g_file_unique{0};

constexpr int kChunk = 64 * 1024;

// Opens a regular file for reading. Opening does not block on a pipe that a
// path may name; the type is checked on the open descriptor. -1 on failure.
int open_regular(HxString const& path, struct stat* st) {
  int fd = ::open(path.value(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Reads up to want bytes from fd (want < 0: to the end), appending them to
// out, and at most `room` of them. Returns the bytes taken; *failed tells a
// read error apart from the end of the file.
long long read_into(int fd, long long want, long long room, HxString& out, bool* failed) {
  *failed = false;
  char chunk[kChunk];
  long long taken = 0;
  while (want < 0 || taken < want) {
    if (room - taken <= 0) break;
    long long ask = kChunk;
    if (want >= 0 && want - taken < ask) ask = want - taken;
    if (room - taken < ask) ask = room - taken;
    ssize_t got = ::read(fd, chunk, static_cast<size_t>(ask));
    if (got < 0) {
      if (errno == EINTR) continue;
      *failed = true;
      break;
    }
    if (got == 0) break;
    out.append(chunk, static_cast<int>(got));
    taken += got;
  }
  return taken;
}

// Reads a regular file whole; false when it cannot be read or holds more
// than max_bytes.
bool read_whole(HxString const& path, HxString& out, long long max_bytes = kHxMaxFileBytes - 1) {
  if (max_bytes > kHxMaxFileBytes - 1) max_bytes = kHxMaxFileBytes - 1;
  struct stat st;
  int fd = open_regular(path, &st);
  if (fd < 0) return false;
  if (st.st_size > max_bytes) {
    ::close(fd);
    return false;
  }
  HxString data("");
  bool failed = false;
  // One byte more than allowed tells a file that grew while being read.
  long long taken = read_into(fd, -1, max_bytes + 1, data, &failed);
  bool ok = !failed && taken <= max_bytes;
  ::close(fd);
  if (ok) out = data;
  return ok;
}

bool write_all(int fd, HxString const& text) { return HxFile::_write(fd, text.value(), text.length()); }

int open_for_writing(HxString const& path, int flags) { return HxFile::_openWrite(path, flags); }

// Calls f(full path, lstat of it) for each entry of a listing other than "."
// and "..": links are examined themselves, never followed. Entries that
// cannot be examined are passed over.
template <class F>
void each_entry(HxDir const& listing, F f) {
  for (int i = 0; i < listing.length(); ++i) {
    HxString const& name = *listing.get(i);
    if (name == HxString(".") || name == HxString("..")) continue;
    HxString full = listing.dir() + "/" + name;
    struct stat st;
    if (::lstat(full.value(), &st) == 0) f(full, st);
  }
}

HxString bytes(char const* p, int n) {
  HxString out("");
  out.append(p, n);
  return out;
}

}  // namespace

// ---- the record --------------------------------------------------------------

void HxFile::read(HxString const& path) {
  HxString contents;
  if (!read_whole(path, contents)) return;
  data_ = contents;
  name_ = filename(path);
  source_ = path;
}

// ---- static operations -------------------------------------------------------

long long HxFile::size(HxString const& path) {
  struct stat st;
  if (::stat(path.value(), &st) != 0) return 0;
  return static_cast<long long>(st.st_size);
}

int HxFile::modified(HxString const& path) {
  struct stat st;
  if (::stat(path.value(), &st) != 0) return 0;
  return static_cast<int>(st.st_mtime);
}

bool HxFile::remove(HxString const& path) { return ::unlink(path.value()) == 0; }

bool HxFile::exists(HxString const& path) {
  struct stat st;
  return ::stat(path.value(), &st) == 0 && S_ISREG(st.st_mode);
}

bool HxFile::touch(HxString const& path) {
  // Whatever exists (a regular file, a directory, a device, a pipe) only gets
  // its times set: nothing is opened, so a pipe without a reader cannot block
  // the call and a device sees no open. A missing file is created empty.
  struct stat st;
  if (::stat(path.value(), &st) != 0) {
    int fd = open_for_writing(path, 0);
    if (fd < 0) return false;  // e.g. a missing directory on the way
    ::close(fd);
  }
  return ::utimensat(AT_FDCWD, path.value(), nullptr, 0) == 0;
}

bool HxFile::writable(HxString const& path) {
  int fd = open_for_writing(path, O_APPEND);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void HxFile::append(HxString const& path, HxString const& text) {
  int fd = open_for_writing(path, O_APPEND);
  if (fd < 0) return;
  write_all(fd, text);
  ::close(fd);
}

bool HxFile::save(HxString const& path, HxString const& text) {
  int fd = open_for_writing(path, O_TRUNC);
  if (fd < 0) return false;
  bool ok = write_all(fd, text);
  // A failed write or close (a full disk) is reported, not taken as success.
  if (::close(fd) != 0) ok = false;
  return ok;
}

HxString HxFile::load(HxString const& path) {
  struct stat st;
  int fd = open_regular(path, &st);
  if (fd < 0 || st.st_size > kHxMaxFileBytes - 1) {
    if (fd >= 0) ::close(fd);
    return HxString("");
  }
  // The file is read straight into the string's one buffer, sized from the
  // file. A file that changes meanwhile is still read to its end: it may
  // grow (the rest is appended, within the bound) or shrink.
  long long const size = static_cast<long long>(st.st_size);
  HxString out;
  char* buffer = out._room(static_cast<int>(size));
  long long taken = 0;
  bool failed = false;
  while (taken < size) {
    ssize_t got = ::read(fd, buffer + taken, static_cast<size_t>(size - taken));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      failed = got < 0;
      break;
    }
    taken += got;
  }
  out._filled(static_cast<int>(taken));
  if (!failed && taken == size) {
    long long const room = static_cast<long long>(kHxMaxFileBytes) - 1 - taken;
    taken += read_into(fd, -1, room + 1, out, &failed);
    if (taken > kHxMaxFileBytes - 1) failed = true;
  }
  ::close(fd);
  if (failed) return HxString("");
  // Moving gives what a copy of the text would: the buffer is kept when it
  // has the capacity a copy would make, as it does unless the file changed.
  return HxString(std::move(out));
}

long long HxFile::loadpos(HxString const& path, long long pos, HxString& out) { return loadpos(path, pos, -1, out); }

long long HxFile::loadpos(HxString const& path, long long pos, long long count, HxString& out) {
  struct stat st;
  int fd = open_regular(path, &st);
  if (fd < 0) return -1;
  long long size = static_cast<long long>(st.st_size);
  long long start;
  if (pos >= 0) {
    start = pos < size ? pos : size;
  } else {
    start = pos < -size ? 0 : size + pos;
  }
  long long result = _loadpos(fd, start, count, out);
  ::close(fd);
  return result;
}

long long HxFile::_loadpos(int fd, long long start, long long count, HxString& out) {
  if (::lseek(fd, static_cast<off_t>(start), SEEK_SET) < 0) return -1;
  // The bytes are gathered apart: a read that fails part way leaves out as
  // it was, and the failure is not mistaken for the end of the file.
  HxString got("");
  bool failed = false;
  long long taken = read_into(fd, count, static_cast<long long>(kHxMaxFileBytes) - out.length(), got, &failed);
  if (failed) return -1;
  out += got;
  // The position after the last byte taken, also when the read met the end.
  return start + taken;
}

bool HxFile::_read(HxString const& path, HxString& out, long long max_bytes) { return read_whole(path, out, max_bytes); }

bool HxFile::_write(int fd, char const* bytes, long long n) {
  while (n > 0) {
    ssize_t put = ::write(fd, bytes, static_cast<size_t>(n));
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += put;
    n -= put;
  }
  return true;
}

int HxFile::_openWrite(HxString const& path, int flags) {
  // Opening a pipe for writing waits for a reader; without blocking, a pipe
  // that nobody reads fails at once instead. Once open, writes wait as usual
  // so that a reader gets every byte.
  int fd = ::open(path.value(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | flags, 0666);
  if (fd < 0) return -1;
  int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

std::FILE* HxFile::_fopenWrite(HxString const& path, bool append) {
  int fd = _openWrite(path, append ? O_APPEND : O_TRUNC);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, append ? "a" : "w");
  if (f == nullptr) ::close(fd);
  return f;
}

HxString HxFile::filename(HxString const& path) {
  char const* p = path.value();
  int n = path.length();
  int last = -1;
  for (int i = 0; i < n; ++i)
    if (p[i] == '/') last = i;
  if (last < 0) return path;
  return bytes(p + last + 1, n - last - 1);
}

HxString HxFile::dirbase(HxString const& path) {
  char const* p = path.value();
  int last = -1;
  for (int i = 0; i < path.length(); ++i)
    if (p[i] == '/') last = i;
  if (last <= 0) return HxString("");
  return bytes(p, last);
}

HxString HxFile::uniquefile() {
  int n = g_file_unique.fetch_add(1);
  HxString name("tarv");
  name += static_cast<int>(::getpid());
  name += "u";
  name += n;
  name += ".tmp";
  return name;
}

bool HxFile::chown(HxString const& path, unsigned int uid, unsigned int gid) {
  return ::chown(path.value(), static_cast<uid_t>(uid), static_cast<gid_t>(gid)) == 0;
}

bool HxFile::chmod(HxString const& path, unsigned short mode) {
  return ::chmod(path.value(), static_cast<mode_t>(mode)) == 0;
}

// ---- directories -------------------------------------------------------------

HxDir::HxDir(HxString const& path) : dir_(path) {
  DIR* d = ::opendir(path.value());
  if (d == nullptr) return;
  while (struct dirent* e = ::readdir(d)) entries_.append(new HxString(e->d_name));
  ::closedir(d);
}

bool HxDir::remove() {
  struct stat st;
  if (::lstat(dir_.value(), &st) != 0) return errno == ENOENT;
  // A link that stands for the directory is removed itself; what it points
  // to is left alone.
  if (S_ISLNK(st.st_mode)) return ::unlink(dir_.value()) == 0;
  if (!S_ISDIR(st.st_mode)) return false;
  each_entry(*this, [](HxString const& full, struct stat const& es) {
    if (S_ISDIR(es.st_mode)) {
      HxDir(full).remove();
    } else {
      ::unlink(full.value());
    }
  });
  if (::rmdir(dir_.value()) == 0) return true;
  return errno == ENOENT;
}

bool HxDir::make(int /*mode*/) {
  if (::mkdir(dir_.value(), 0777) != 0) return false;
  ::chmod(dir_.value(), 0777);
  return true;
}

bool HxDir::make(HxString const& path, int /*mode*/) {
  char const* p = path.value();
  int n = path.length();
  if (n == 0) return false;
  // Each prefix that ends a component, the first one included: "/a/b"
  // gives "/a" and "/a/b", "a/b" gives "a" and "a/b".
  for (int i = 1; i <= n; ++i) {
    if (i < n && p[i] != '/') continue;
    if (p[i - 1] == '/') continue;
    HxString prefix = bytes(p, i);
    if (isdir(prefix)) continue;
    if (::mkdir(prefix.value(), 0777) == 0) ::chmod(prefix.value(), 0777);
  }
  return isdir(path);
}

long long HxDir::size(HxString const& path) {
  long long total = 0;
  each_entry(HxDir(path), [&total](HxString const& full, struct stat const& st) {
    if (S_ISLNK(st.st_mode)) return;
    if (S_ISDIR(st.st_mode)) total += size(full);
    total += static_cast<long long>(st.st_size);
  });
  return total;
}

bool HxDir::isdir(HxString const& path) {
  struct stat st;
  return ::stat(path.value(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HxDir::isfile(HxString const& path) {
  struct stat st;
  return ::stat(path.value(), &st) == 0 && S_ISREG(st.st_mode);
}

bool HxDir::islink(HxString const& path) {
  struct stat st;
  return ::lstat(path.value(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool HxDir::fullaccess(HxString const& path) {
  struct stat st;
  return ::stat(path.value(), &st) == 0 && (st.st_mode & 0777) == 0777;
}

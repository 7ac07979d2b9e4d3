#include "core/HxFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "core/HxLimits.h"
#include "core/HxWorld.h"

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

// Writes n bytes to fd; false on any error.
bool write_all(int fd, char const* p, long long n) {
  long long left = n;
  while (left > 0) {
    ssize_t put = ::write(fd, p, static_cast<size_t>(left));
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += put;
    left -= put;
  }
  return true;
}

bool write_all(int fd, HxString const& text) { return write_all(fd, text.value(), text.length()); }

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

// ---- HxFileReplacement -------------------------------------------------------

namespace {

// Names drawn for a new file before giving up: each is taken only when
// nothing holds it yet.
constexpr int kReplacementNames = 100;

// The type of the process file system (/proc), whose links to open files
// are no names of them.
constexpr long kProcFileSystem = 0x9fa0;

// ".hx" and six letters or digits from one draw: short, so that it fits the
// name limit beside any name.
HxString replacement_name() {
  static char const kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  auto draw = static_cast<unsigned>(hx_world().random());
  char name[9] = {'.', 'h', 'x'};
  for (int i = 3; i < 9; ++i) {
    name[i] = kLetters[draw % 62];
    draw /= 62;
  }
  return HxString(name, 9);
}

// A new file could not be made, or not written, for want of room: of space
// or inodes on the disk, of quota, or past the process's file-size limit.
bool lack_of_room(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

bool in_process_file_system(int folder) {
  struct statfs fs;
  return ::fstatfs(folder, &fs) == 0 && static_cast<long>(fs.f_type) == kProcFileSystem;
}

// Opens the folder of path (O_PATH, relative to at) and gives the last
// component in *name; -1 when the folder cannot be opened or the path ends
// in no name a file could have ("", ".", "..").
int open_folder(int at, HxString const& path, HxString* name) {
  char const* p = path.value();
  int last = path.length() - 1;
  while (last >= 0 && p[last] != '/') --last;
  *name = HxString(p + last + 1, path.length() - last - 1);
  if (name->length() == 0 || *name == HxString(".") || *name == HxString("..")) return -1;
  HxString const folder = last < 0 ? HxString(".") : last == 0 ? HxString("/") : HxString(p, last);
  return ::openat(at, folder.value(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Follows the links at folder/name to the entry the chain ends at, which
// need not exist (*exists tells). False for a chain longer than the system
// follows (a loop), a link the system would not follow (in a sticky folder
// open to all, owned neither by the user nor by the folder's owner), a link
// of the process file system (/dev/stdout, /dev/fd/N and /proc/self/fd/N
// lead through one: its text names the file a descriptor holds, not a path
// to it) and an entry that cannot be examined: the caller then opens the
// path as it is.
bool follow_links(int& folder, HxString& name, struct stat* st, bool* exists) {
  for (int hops = 0;; ++hops) {
    if (::fstatat(folder, name.value(), st, AT_SYMLINK_NOFOLLOW) != 0) {
      *exists = false;
      return errno == ENOENT;
    }
    *exists = true;
    if (!S_ISLNK(st->st_mode)) return true;
    if (hops == kHxMaxLinkHops || in_process_file_system(folder)) return false;
    struct stat fs;
    if (::fstat(folder, &fs) != 0) return false;
    if ((fs.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH) && st->st_uid != ::geteuid() &&
        st->st_uid != fs.st_uid)
      return false;
    char text[PATH_MAX];
    ssize_t n = ::readlinkat(folder, name.value(), text, sizeof text);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof text)) return false;
    int next = open_folder(text[0] == '/' ? AT_FDCWD : folder, HxString(text, static_cast<int>(n)), &name);
    if (next < 0) return false;
    ::close(folder);
    folder = next;
  }
}

// The entry folder/name is where a file system, or a single file, is
// mounted (as containers mount files): a rename cannot replace it.
bool mount_point(int folder, HxString const& name) {
  // Where the system cannot tell (no statx, or no mount ids), the rename
  // does: it fails on a mount point.
  struct statx file, parent;
  if (::statx(folder, name.value(), AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &file) != 0) return false;
  if ((file.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 && (file.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0)
    return true;
  if ((file.stx_mask & STATX_MNT_ID) == 0) return false;
  return ::statx(folder, "", AT_EMPTY_PATH, STATX_MNT_ID, &parent) == 0 && (parent.stx_mask & STATX_MNT_ID) != 0 &&
         parent.stx_mnt_id != file.stx_mnt_id;
}

// The file is left as it is where a rename over it would change what a
// caller sees: anything but a regular file with one link, owned by the
// effective user, writable by them, without a set-uid or set-gid bit or a
// mount on it. (Its extended attributes are weighed once a new file has
// taken them.)
bool replaceable(int folder, HxString const& name, struct stat const& st) {
  return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid() &&
         (st.st_mode & (S_ISUID | S_ISGID)) == 0 && ::faccessat(folder, name.value(), W_OK, AT_EACCESS) == 0 &&
         !mount_point(folder, name);
}

// Extended attributes (access control lists among them), name and value,
// sorted.
using Attributes = std::vector<std::pair<std::string, std::string>>;

// Reads the attributes a file carries through list(buffer, size) and
// get(name, buffer, size), which call the system's *listxattr and
// *getxattr; false when they cannot be read. A file system without
// attributes gives none. A file without any costs one call.
template <class List, class Get>
bool read_attributes(List const& list, Get const& get, Attributes* out) {
  out->clear();
  std::string names;
  for (;;) {
    ssize_t n = list(nullptr, 0);
    if (n <= 0) return n == 0 || errno == ENOTSUP;
    names.resize(static_cast<size_t>(n));
    n = list(&names[0], names.size());
    if (n >= 0) {
      names.resize(static_cast<size_t>(n));
      break;
    }
    if (errno != ERANGE) return false;  // ERANGE: the list grew meanwhile
  }
  for (size_t at = 0; at < names.size();) {
    std::string name(names.c_str() + at);
    at += name.size() + 1;
    std::string value;
    for (;;) {
      ssize_t n = get(name.c_str(), nullptr, 0);
      if (n < 0) return false;
      value.resize(static_cast<size_t>(n));
      n = n == 0 ? 0 : get(name.c_str(), &value[0], value.size());
      if (n >= 0) {
        value.resize(static_cast<size_t>(n));
        break;
      }
      if (errno != ERANGE) return false;
    }
    out->emplace_back(std::move(name), std::move(value));
  }
  std::sort(out->begin(), out->end());
  return true;
}

bool has_name(Attributes const& list, std::string const& name) {
  auto it = std::lower_bound(list.begin(), list.end(), name, [](std::pair<std::string, std::string> const& a,
                                                                std::string const& n) { return a.first < n; });
  return it != list.end() && it->first == name;
}

// The new file (fd) takes the extended attributes of the old one at
// folder/name (a link not followed), as a copy that keeps them does: each
// it lacks or holds with another value is set, each the old one lacks (as
// the folder's default access control list gives) removed; what the user
// may not set or remove stays as it is. True when the new file then
// carries exactly the old one's (also where a value could not be set but
// was already the same, as a label the system gives both alike); false
// where they differ or cannot be read.
bool carry_attributes(int folder, HxString const& name, int fd) {
  Attributes old, made;
  char through[48];
  std::snprintf(through, sizeof through, "/proc/self/fd/%d/", folder);
  HxString const by_name = HxString(through) + name;
  bool read = read_attributes([&](char* b, size_t n) { return ::llistxattr(by_name.value(), b, n); },
                              [&](char const* a, void* b, size_t n) { return ::lgetxattr(by_name.value(), a, b, n); },
                              &old);
  if (!read) {
    // Without the process file system, through the file itself.
    int in = ::openat(folder, name.value(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    read = in >= 0 && read_attributes([in](char* b, size_t n) { return ::flistxattr(in, b, n); },
                                      [in](char const* a, void* b, size_t n) { return ::fgetxattr(in, a, b, n); },
                                      &old);
    if (in >= 0) ::close(in);
    if (!read) return false;
  }
  auto list = [fd](char* b, size_t n) { return ::flistxattr(fd, b, n); };
  auto get = [fd](char const* a, void* b, size_t n) { return ::fgetxattr(fd, a, b, n); };
  if (!read_attributes(list, get, &made)) return false;
  if (made == old) return true;
  for (auto const& a : made)
    if (!has_name(old, a.first)) ::fremovexattr(fd, a.first.c_str());
  for (auto const& a : old)
    if (!std::binary_search(made.begin(), made.end(), a))
      ::fsetxattr(fd, a.first.c_str(), a.second.data(), a.second.size(), 0);
  return read_attributes(list, get, &made) && made == old;
}

// A file written in place: its descriptor, its length (-1: a pipe or a
// device, which takes the bytes as a stream) and the offset the descriptor
// stands at (-1: not known).
struct InPlace {
  int fd;
  long long length;
  long long position;
};

// Writes n bytes at offset at of a regular file written in place. The
// descriptor is moved only when it stands elsewhere: a file of the process
// file system that cannot seek is written from its start as a stream.
bool write_at(InPlace& f, char const* p, long long n, long long at) {
  if (at != f.position && ::lseek(f.fd, static_cast<off_t>(at), SEEK_SET) != static_cast<off_t>(at)) return false;
  bool const ok = write_all(f.fd, p, n);
  f.position = ok ? at + n : -1;
  return ok;
}

// Where the bytes of a file's new contents are: in memory (bytes holds
// those from offset base on), or else in the file `in`, whole.
struct NewBytes {
  char const* bytes;
  long long base;
  int in;
};

// Puts the new bytes [from, to) into f: at the same offsets, or one after
// the other into a pipe or a device.
bool put_range(InPlace& f, NewBytes const& b, long long from, long long to) {
  if (b.bytes != nullptr) {
    char const* p = b.bytes + (from - b.base);
    return f.length < 0 ? write_all(f.fd, p, to - from) : write_at(f, p, to - from, from);
  }
  char chunk[kChunk];
  while (from < to) {
    ssize_t got = ::pread(b.in, chunk, static_cast<size_t>(to - from < kChunk ? to - from : kChunk), from);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    if (!(f.length < 0 ? write_all(f.fd, chunk, got) : write_at(f, chunk, got, from))) return false;
    from += got;
  }
  return true;
}

// Puts the new bytes [at, at + n) into the file written in place. A
// regular file is not cut first: room for the bytes is reserved, then those
// past its end are written before those over its old bytes, so that a disk
// without room for them fails the write before any old byte is
// overwritten; the file is then brought back to its length, its bytes as
// they were. (On a file system that reserves nothing, the bytes past the
// end meet the full disk.)
bool put_in_place(InPlace& f, long long at, long long n, NewBytes const& b) {
  if (f.length < 0) return put_range(f, b, at, at + n);
  if (n <= 0) return true;
  long long const end = at + n;
  long long const over = end < f.length ? end : f.length;
  bool room = ::fallocate(f.fd, FALLOC_FL_KEEP_SIZE, at, n) == 0 || !lack_of_room(errno);
  if (room && end > f.length) room = put_range(f, b, at > f.length ? at : f.length, end);
  if (!room) {
    // Its own length again frees what was reserved or written past it.
    (void)::ftruncate(f.fd, f.length);
    return false;
  }
  if (end > f.length) f.length = end;
  return at >= over || put_range(f, b, at, over);
}

// A regular file written in place is cut to the bytes written and synced;
// a pipe or a device is left as it is.
bool finish_in_place(InPlace const& f, long long written) {
  return f.length < 0 || ((written >= f.length || ::ftruncate(f.fd, written) == 0) && ::fsync(f.fd) == 0);
}

// Opens the file at folder/name (at: AT_FDCWD, name a path) for writing as
// a file written in place is opened: created when missing, never cut, not
// waiting for a pipe's reader; false when it cannot be opened.
bool open_in_place(int folder, HxString const& name, InPlace* f) {
  *f = InPlace{::openat(folder, name.value(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666), -1, 0};
  if (f->fd < 0) return false;
  int fl = ::fcntl(f->fd, F_GETFL);
  if (fl >= 0) ::fcntl(f->fd, F_SETFL, fl & ~O_NONBLOCK);
  struct stat st;
  if (::fstat(f->fd, &st) != 0) {
    ::close(f->fd);
    f->fd = -1;
    return false;
  }
  if (S_ISREG(st.st_mode)) f->length = static_cast<long long>(st.st_size);
  return true;
}

}  // namespace

HxFileReplacement::HxFileReplacement(HxString const& path, Kind kind) {
  folder_ = open_folder(AT_FDCWD, path, &name_);
  if (kind == kPrivate) {
    // Exactly 0600, whatever the creation mask.
    if (folder_ >= 0 && create_(0600, nullptr) == 0 && ::fchmod(fd_, 0600) != 0) failed_ = true;
    return;
  }
  struct stat st;
  bool exists = false;
  if (folder_ >= 0 && follow_links(folder_, name_, &st, &exists) && !in_process_file_system(folder_) &&
      (!exists || replaceable(folder_, name_, st))) {
    int const error = exists ? create_(0600, &st) : create_(0666, nullptr);
    // A file that can be replaced is never written in place, where a crash
    // part way would leave old and new bytes mixed: where no new file can
    // be made for want of room (of space, of inodes or of quota), the write
    // fails and the old file stays whole.
    if (error == 0 || lack_of_room(error)) return;
  }
  // Written in place, as a replacement would change what a caller sees.
  if (folder_ >= 0) ::close(folder_);
  folder_ = -1;
  InPlace f;
  if (!open_in_place(AT_FDCWD, path, &f)) return;
  fd_ = f.fd;
  length_ = f.length;
}

// Creates the new file with mode (less the creation mask); old: the file it
// replaces, whose group, permission bits and extended attributes it takes.
// 0 when made; else, with nothing left behind, the error that stopped it
// (EPERM where the new file would differ from the old one: a group the user
// cannot give, attributes it cannot carry as the old one does).
int HxFileReplacement::create_(mode_t mode, struct stat const* old) {
  int error = 0;
  for (int i = 0; i < kReplacementNames && fd_ < 0; ++i) {
    temporary_ = replacement_name();
    fd_ = ::openat(folder_, temporary_.value(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    error = fd_ < 0 ? errno : 0;
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    temporary_ = HxString();
    return error;
  }
  if (old == nullptr) return 0;
  // The group first: a change of group may clear permission bits. The
  // attributes last: an access control list sets permission bits.
  struct stat st;
  if (::fstat(fd_, &st) == 0 &&
      (st.st_gid == old->st_gid || ::fchown(fd_, static_cast<uid_t>(-1), old->st_gid) == 0) &&
      ::fchmod(fd_, old->st_mode & 07777) == 0 && carry_attributes(folder_, name_, fd_))
    return 0;
  ::close(fd_);
  fd_ = -1;
  ::unlinkat(folder_, temporary_.value(), 0);
  temporary_ = HxString();
  return EPERM;
}

HxFileReplacement::~HxFileReplacement() {
  if (fd_ >= 0) ::close(fd_);
  if (temporary_.length() > 0) ::unlinkat(folder_, temporary_.value(), 0);
  if (folder_ >= 0) ::close(folder_);
}

bool HxFileReplacement::write(char const* bytes, long long n) {
  if (fd_ < 0 || failed_) {
    failed_ = true;
    return false;
  }
  bool ok = true;
  if (temporary_.length() > 0) {
    ok = write_all(fd_, bytes, n);
  } else {
    InPlace f{fd_, length_, position_};
    ok = put_in_place(f, written_, n, NewBytes{bytes, written_, -1});
    length_ = f.length;
    position_ = f.position;
  }
  if (ok) written_ += n;
  failed_ = !ok;
  return ok;
}

// A mount on the file (one that mount_point could not tell) refuses the
// rename: the new file's bytes are copied into the file in place instead,
// as a write in place puts them. The new file is read back by name: one
// whose permission bits the user may not read through fails, leaving the
// old file as it was.
bool HxFileReplacement::copy_in_place_() {
  int in = ::openat(folder_, temporary_.value(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return false;
  InPlace out;
  bool const opened = open_in_place(folder_, name_, &out);
  bool ok = opened && put_in_place(out, 0, written_, NewBytes{nullptr, 0, in}) && finish_in_place(out, written_);
  ::close(in);
  if (opened && ::close(out.fd) != 0) ok = false;
  return ok;
}

bool HxFileReplacement::commit() {
  if (fd_ < 0) return false;
  bool ok = !failed_;
  // The bytes reach the disk before the name does: after a crash the path
  // holds the old file or the whole new one. A file written in place is
  // cut to its new bytes and synced when it is a regular file (a pipe or a
  // device is not).
  if (temporary_.length() > 0) {
    if (ok && ::fsync(fd_) != 0) ok = false;
  } else if (ok) {
    ok = finish_in_place(InPlace{fd_, length_, position_}, written_);
  }
  // A full disk may show only when the file is closed.
  if (::close(fd_) != 0) ok = false;
  fd_ = -1;
  if (temporary_.length() > 0) {
    bool renamed = ok && ::renameat(folder_, temporary_.value(), folder_, name_.value()) == 0;
    if (ok && !renamed) ok = (errno == EBUSY || errno == EXDEV) && copy_in_place_();
    if (!renamed) ::unlinkat(folder_, temporary_.value(), 0);
    temporary_ = HxString();
    // The rename reaches the disk with the folder. The file is in place
    // whether that sync works or not (a folder the user may not read).
    int synced = renamed ? ::openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (synced >= 0) {
      (void)::fsync(synced);
      ::close(synced);
    }
  }
  failed_ = !ok;
  return ok;
}

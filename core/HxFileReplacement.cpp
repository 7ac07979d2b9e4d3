#include "core/HxFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/HxLimits.h"
#include "core/HxWorld.h"

// HxFileReplacement (declared in core/HxFile.h).

namespace {

// The bytes a copy reads at a time.
constexpr int kChunk = 64 * 1024;

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
  bool const ok = HxFile::_write(f.fd, p, n);
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
    return f.length < 0 ? HxFile::_write(f.fd, p, to - from) : write_at(f, p, to - from, from);
  }
  char chunk[kChunk];
  while (from < to) {
    ssize_t got = ::pread(b.in, chunk, static_cast<size_t>(to - from < kChunk ? to - from : kChunk), from);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    if (!(f.length < 0 ? HxFile::_write(f.fd, chunk, got) : write_at(f, chunk, got, from))) return false;
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
    ok = HxFile::_write(fd_, bytes, n);
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

#include "core/HxFile.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "api/HxApiAdmin.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::H;

constexpr uid_t kNobody = 65534;

// Every entry below root (links not followed), for "nothing left behind".
std::set<std::string> entries_below(std::string const& root) {
  std::set<std::string> names;
  std::error_code ignored;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
    names.insert(it->path().string());
  return names;
}

// The access control list of a file (or a folder's default list) in the
// form the system keeps it: a version, then tag, permissions and id of each
// entry. Each entry: {tag, permissions, id}.
std::string access_list(std::vector<std::array<unsigned, 3>> const& entries) {
  std::string bytes;
  auto put32 = [&](unsigned v) { for (int i = 0; i < 4; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xff); };
  auto put16 = [&](unsigned v) { for (int i = 0; i < 2; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xff); };
  put32(2);
  for (auto const& e : entries) {
    put16(e[0]);
    put16(e[1]);
    put32(e[2]);
  }
  return bytes;
}
// Tags of the entries, in the order the system wants them.
enum : unsigned { kAclUserObj = 1, kAclUser = 2, kAclGroupObj = 4, kAclMask = 0x10, kAclOther = 0x20 };
constexpr unsigned kAclNoId = 0xffffffffu;

// The extended attributes of a file (a link not followed), sorted, as
// "name=value" lines.
std::string attributes(std::string const& file) {
  std::string names(1 << 16, '\0');
  ssize_t n = llistxattr(file.c_str(), &names[0], names.size());
  names.resize(n > 0 ? static_cast<size_t>(n) : 0);
  std::set<std::string> lines;
  for (size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
    std::string value(1 << 16, '\0');
    ssize_t v = lgetxattr(file.c_str(), names.c_str() + at, &value[0], value.size());
    value.resize(v > 0 ? static_cast<size_t>(v) : 0);
    lines.insert(names.c_str() + at + ("=" + value));
  }
  std::string all;
  for (std::string const& line : lines) all += line + "\n";
  return all;
}

// Makes statx unknown to this process, as to one on a kernel older than
// the call (and than mount ids): it fails as a missing call does.
bool without_statx() {
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_statx, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// A child that holds a mount namespace of its own for a row: it makes the
// mounts the row asks for there and waits, so that the writer can join the
// namespace and the test can look into it (through /proc/<pid>/root).
class MountHolder {
 public:
  // make: run in the new namespace as root; gives "" when done, else why
  // it could not be done.
  explicit MountHolder(std::function<std::string()> const& make) {
    int ready[2], hold[2];
    if (pipe(ready) != 0 || pipe(hold) != 0) {
      why_ = "no pipe";
      return;
    }
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(hold[1]);
      std::string why;
      if (unshare(CLONE_NEWNS) != 0) why = std::string("no mount namespace: ") + std::strerror(errno);
      else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        why = std::string("mounts cannot be made private: ") + std::strerror(errno);
      else why = make();
      why = why.empty() ? "+" : "-" + why;
      (void)!write(ready[1], why.data(), why.size());
      close(ready[1]);
      char c;
      while (read(hold[0], &c, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    hold_ = hold[1];
    char text[512];
    ssize_t n = pid_ < 0 ? -1 : read(ready[0], text, sizeof text);
    close(ready[0]);
    if (n <= 0 || text[0] != '+') why_ = n > 0 ? std::string(text + 1, static_cast<size_t>(n - 1)) : "no child";
  }
  ~MountHolder() {
    if (hold_ >= 0) close(hold_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  MountHolder(MountHolder const&) = delete;
  MountHolder& operator=(MountHolder const&) = delete;

  // Why the mounts could not be made; empty when they were.
  std::string const& why() const { return why_; }
  // Where this process sees the namespace's root.
  std::string root() const { return "/proc/" + std::to_string(pid_) + "/root"; }
  // Joins the namespace (in a child of the test that has one thread).
  bool join() const {
    int ns = open(("/proc/" + std::to_string(pid_) + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = ns >= 0 && setns(ns, CLONE_NEWNS) == 0;
    if (ns >= 0) close(ns);
    return ok;
  }

 private:
  pid_t pid_ = -1;
  int hold_ = -1;
  std::string why_;
};

// A file is replaced (a new file renamed over it, the old one kept whole
// when the write fails) only where that keeps what a caller sees: the same
// name limits as writing in place, links followed to the file they name,
// the other names of a file with several links, the owner, a folder the
// user cannot write, a file the user may not write, set-uid bits, extended
// attributes and access control lists, a mount on the file, a path through
// the process's own descriptors. The new file takes the old one's group and
// extended attributes. Elsewhere it is written in place as before, never
// cut for want of room. Without room for the new file, nothing is written;
// a replacement given up leaves nothing behind.
TEST(HxFileReplacement, ReplacesOnlyWhereNothingElseChanges) {
  mode_t const mask = umask(0);
  umask(mask);
  std::string const old_bytes = "old contents";
  std::string const new_bytes(64 << 10, 'n');
  rlim_t const kFull = 16 << 10;  // the disk is full after this many bytes
  gid_t const kShared = 12345;    // a group of another user, 12345, that the writer may be given
  // What a row prepares in the folder d: the path written, and the file
  // that should hold the bytes afterwards; why the row cannot run here.
  struct Case {
    Case(std::string p, std::string t, std::string why = "")
        : path(std::move(p)), target(std::move(t)), skip(std::move(why)) {}
    std::string path;
    std::string target;
    std::string skip;
  };
  auto put = [&](std::string const& file, mode_t mode, uid_t owner) {
    std::ofstream(file, std::ios::binary) << old_bytes;
    EXPECT_EQ(chown(file.c_str(), owner, owner), 0) << file;
    EXPECT_EQ(chmod(file.c_str(), mode), 0) << file;
  };
  auto folder = [](std::string const& dir, mode_t mode, uid_t owner) {
    EXPECT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
    EXPECT_EQ(chown(dir.c_str(), owner, owner), 0) << dir;
    EXPECT_EQ(chmod(dir.c_str(), mode), 0) << dir;
  };
  // A small file system mounted at dir whose inodes are all taken, one of
  // them by the file of the old bytes; "" or why it cannot be made.
  auto small_disk = [&](std::string const& dir, std::string const& file) {
    if (mount("hxsmall", dir.c_str(), "tmpfs", 0, "nr_inodes=8,size=1m,mode=0755") != 0)
      return std::string("cannot mount a small file system: ") + std::strerror(errno);
    put(dir + "/" + file, 0640, 0);
    for (int i = 0; i < 100; ++i) {
      int fd = open((dir + "/fill" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd < 0) return errno == ENOSPC ? std::string() : std::string("cannot fill the inodes");
      close(fd);
    }
    return std::string("the inodes do not run out");
  };
  // Mounts a file on another; "" or why it cannot be done.
  auto bind = [](std::string const& source, std::string const& target) {
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0) return std::string();
    return std::string("cannot bind-mount a file: ") + std::strerror(errno);
  };
  // Sets an attribute; "" when set, else why not.
  auto attribute = [](std::string const& file, char const* name, std::string const& value) {
    if (setxattr(file.c_str(), name, value.data(), value.size(), 0) == 0) return std::string();
    return std::string("cannot set ") + name + " on " + file + ": " + std::strerror(errno);
  };
  // The standard output of the writer goes to the file, appended, as a
  // shell's ">>" gives it.
  auto output_to = [](Case const& c) {
    int fd = open(c.target.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 || dup2(fd, 1) != 1) _exit(76);
    close(fd);
  };
  auto stdout_row = [&](std::string const& path) {
    return [&, path](std::string const& d) {
      put(d + "/out", 0640, 0);
      return Case{path, d + "/out"};
    };
  };
  char const* const kPrinted = " printed after";
  struct Row {
    char const* name;
    bool as_nobody;
    bool disk_full;
    std::function<Case(std::string const& d)> setup;
    bool result;
    char const* bytes;  // at the target afterwards: "old", "new", "none"
    char const* how;    // "replaced": another inode; "in place": the same one; "": a new file
    mode_t mode;        // of the target afterwards
    uid_t owner;
    // ---- for a few rows ----
    bool shared = false;  // the writer is also in group kShared
    bool commit = true;   // false: the writer meets a lack of memory before its commit
    std::function<void(Case const&)> in_child = nullptr;  // in the writer, before it writes
    char const* printed = nullptr;  // printed by the writer afterwards, expected after the new bytes
    // Mounts made in a namespace of the writer's own, after setup: "" or why
    // they could not be made.
    std::function<std::string(std::string const& d)> mount = nullptr;
    bool inside = false;  // the files are seen inside that namespace only
  } const rows[] = {
      {"absent file", false, false, [&](std::string const& d) { return Case{d + "/f", d + "/f"}; },
       true, "new", "", 0666 & ~mask, 0},
      {"name of 255 bytes", false, false,
       [&](std::string const& d) {
         put(d + "/" + std::string(255, 'a'), 0640, 0);
         return Case{d + "/" + std::string(255, 'a'), d + "/" + std::string(255, 'a')};
       },
       true, "new", "replaced", 0640, 0},
      {"absent name of 250 bytes", false, false,
       [&](std::string const& d) { return Case{d + "/" + std::string(250, 'b'), d + "/" + std::string(250, 'b')}; },
       true, "new", "", 0666 & ~mask, 0},
      {"path one byte below the path limit", false, false,
       [&](std::string const& d) {
         std::string dir = d;
         while (dir.size() + 1 + 200 + 1 + 10 < PATH_MAX - 1) {
           dir += "/" + std::string(200, 'c');
           folder(dir, 0755, 0);
         }
         std::string const file = dir + "/" + std::string(PATH_MAX - 2 - dir.size(), 'e');
         put(file, 0640, 0);
         EXPECT_EQ(file.size(), static_cast<size_t>(PATH_MAX - 1));
         return Case{file, file};
       },
       true, "new", "replaced", 0640, 0},
      {"dangling link", false, false,
       [&](std::string const& d) {
         folder(d + "/sub", 0755, 0);
         EXPECT_EQ(symlink("sub/target", (d + "/link").c_str()), 0);
         return Case{d + "/link", d + "/sub/target"};
       },
       true, "new", "", 0666 & ~mask, 0},
      {"link loop", false, false,
       [&](std::string const& d) {
         EXPECT_EQ(symlink("loop", (d + "/loop").c_str()), 0);
         return Case{d + "/loop", ""};
       },
       false, "none", "", 0, 0},
      {"link to a file", false, false,
       [&](std::string const& d) {
         folder(d + "/sub", 0755, 0);
         put(d + "/sub/file", 0640, 0);
         EXPECT_EQ(symlink("sub/file", (d + "/link").c_str()), 0);
         return Case{d + "/link", d + "/sub/file"};
       },
       true, "new", "replaced", 0640, 0},
      {"second hard link", false, false,
       [&](std::string const& d) {
         put(d + "/f", 0640, 0);
         EXPECT_EQ(link((d + "/f").c_str(), (d + "/g").c_str()), 0);
         return Case{d + "/f", d + "/g"};
       },
       true, "new", "in place", 0640, 0},
      {"read-only own file in the user's folder", true, false,
       [&](std::string const& d) {
         folder(d + "/own", 0755, kNobody);
         put(d + "/own/f", 0444, kNobody);
         return Case{d + "/own/f", d + "/own/f"};
       },
       false, "old", "in place", 0444, kNobody},
      {"writable file in a folder the user cannot write", true, false,
       [&](std::string const& d) {
         put(d + "/f", 0644, kNobody);
         return Case{d + "/f", d + "/f"};
       },
       true, "new", "in place", 0644, kNobody},
      {"own file in another's sticky folder", true, false,
       [&](std::string const& d) {
         folder(d + "/tmp", 01777, 0);
         put(d + "/tmp/f", 0640, kNobody);
         return Case{d + "/tmp/f", d + "/tmp/f"};
       },
       true, "new", "replaced", 0640, kNobody},
      {"another's writable file in a sticky folder", true, false,
       [&](std::string const& d) {
         folder(d + "/tmp", 01777, 0);
         put(d + "/tmp/f", 0666, 0);
         return Case{d + "/tmp/f", d + "/tmp/f"};
       },
       true, "new", "in place", 0666, 0},
      {"another's writable file in the user's sticky folder", true, false,
       [&](std::string const& d) {
         folder(d + "/tmp", 01755, kNobody);
         put(d + "/tmp/f", 0666, 0);
         return Case{d + "/tmp/f", d + "/tmp/f"};
       },
       true, "new", "in place", 0666, 0},
      // The writer may make files in the folder and give them the file's
      // group: only the owner tells that a new file would change hands.
      {"another's file in a folder shared through a group", true, false,
       [&](std::string const& d) {
         folder(d + "/shared", 0775, 12345);
         put(d + "/shared/f", 0664, 12345);
         return Case{d + "/shared/f", d + "/shared/f"};
       },
       true, "new", "in place", 0664, 12345, true},
      {"file of another group", false, false,
       [&](std::string const& d) {
         put(d + "/f", 0640, 0);
         EXPECT_EQ(chown((d + "/f").c_str(), 0, kShared), 0);
         return Case{d + "/f", d + "/f"};
       },
       true, "new", "replaced", 0640, 0},
      {"set-uid file", false, false,
       [&](std::string const& d) {
         put(d + "/f", 04755, 0);
         return Case{d + "/f", d + "/f"};
       },
       true, "new", "in place", 04755, 0},
      {"file with an extended attribute", false, false,
       [&](std::string const& d) {
         put(d + "/f", 0640, 0);
         return Case{d + "/f", d + "/f", attribute(d + "/f", "user.origin", "kept")};
       },
       true, "new", "replaced", 0640, 0},
      // A label as a security module keeps it; one the user may not give
      // the new file keeps the file in place.
      {"file whose only attribute is a security label", false, false,
       [&](std::string const& d) {
         put(d + "/f", 0640, 0);
         return Case{d + "/f", d + "/f", attribute(d + "/f", "security.selinux", "system_u:object_r:hx_t:s0")};
       },
       true, "new", "replaced", 0640, 0},
      {"own file with a label the user may not give", true, false,
       [&](std::string const& d) {
         folder(d + "/own", 0755, kNobody);
         put(d + "/own/f", 0640, kNobody);
         return Case{d + "/own/f", d + "/own/f", attribute(d + "/own/f", "security.hxlabel", "kept")};
       },
       true, "new", "in place", 0640, kNobody},
      // The list lets "nobody" write and the group only read; the group's
      // permission bits show the list's mask.
      {"file with an access control list", false, false,
       [&](std::string const& d) {
         put(d + "/f", 0640, 0);
         std::string const list = access_list({{kAclUserObj, 6, kAclNoId},
                                                {kAclUser, 6, kNobody},
                                                {kAclGroupObj, 4, kAclNoId},
                                                {kAclMask, 6, kAclNoId},
                                                {kAclOther, 0, kAclNoId}});
         return Case{d + "/f", d + "/f", attribute(d + "/f", "system.posix_acl_access", list)};
       },
       true, "new", "replaced", 0660, 0},
      // The folder's default list, set after the file was made, would give
      // a new file what the old one lacks.
      {"file in a folder that gives new files an access control list", false, false,
       [&](std::string const& d) {
         folder(d + "/acl", 0755, 0);
         put(d + "/acl/f", 0640, 0);
         std::string const list = access_list({{kAclUserObj, 7, kAclNoId},
                                                {kAclUser, 7, kNobody},
                                                {kAclGroupObj, 5, kAclNoId},
                                                {kAclMask, 7, kAclNoId},
                                                {kAclOther, 5, kAclNoId}});
         return Case{d + "/acl/f", d + "/acl/f", attribute(d + "/acl", "system.posix_acl_default", list)};
       },
       true, "new", "replaced", 0640, 0},
      // A file mounted on another name, as containers mount single files.
      {"bind-mounted file", false, false,
       [&](std::string const& d) {
         put(d + "/source", 0640, 0);
         put(d + "/mounted", 0600, 0);
         return Case{d + "/mounted", d + "/source"};
       },
       true, "new", "in place", 0640, 0, false, true, nullptr, nullptr,
       [&](std::string const& d) { return bind(d + "/source", d + "/mounted"); }},
      // The standard output, redirected to a file, stays that file: what is
      // printed afterwards follows the bytes written.
      {"/dev/stdout", false, false, stdout_row("/dev/stdout"), true, "new", "in place", 0640, 0, false, true,
       output_to, kPrinted},
      {"/dev/fd/1", false, false, stdout_row("/dev/fd/1"), true, "new", "in place", 0640, 0, false, true, output_to,
       kPrinted},
      {"/proc/self/fd/1", false, false, stdout_row("/proc/self/fd/1"), true, "new", "in place", 0640, 0, false, true,
       output_to, kPrinted},
      {"full disk, file replaced: the old one kept", false, true,
       [&](std::string const& d) {
         put(d + "/f", 0640, 0);
         return Case{d + "/f", d + "/f"};
       },
       false, "old", "in place", 0640, 0},
      {"full disk, written in place: the old file kept", false, true,
       [&](std::string const& d) {
         put(d + "/f", 0640, 0);
         EXPECT_EQ(link((d + "/f").c_str(), (d + "/g").c_str()), 0);
         return Case{d + "/f", d + "/g"};
       },
       false, "old", "in place", 0640, 0},
      // No new file can be made: the write fails, the old file whole.
      {"no free inode: the old file kept", false, false,
       [&](std::string const& d) {
         folder(d + "/small", 0755, 0);
         return Case{d + "/small/f", d + "/small/f"};
       },
       false, "old", "in place", 0640, 0, false, true, nullptr, nullptr,
       [&](std::string const& d) { return small_disk(d + "/small", "f"); }, true},
      // The mount keeps the file in place: no new file is needed.
      {"bind-mounted file in a folder without a free inode", false, false,
       [&](std::string const& d) {
         folder(d + "/small", 0755, 0);
         put(d + "/source", 0640, 0);
         return Case{d + "/small/mounted", d + "/source"};
       },
       true, "new", "in place", 0640, 0, false, true, nullptr, nullptr,
       [&](std::string const& d) {
         std::string const why = small_disk(d + "/small", "mounted");
         return why.empty() ? bind(d + "/source", d + "/small/mounted") : why;
       }},
      // Where the system tells no mount (a kernel without mount ids), the
      // rename fails on it and the bytes are copied into the file.
      {"bind-mounted file, no mount ids", false, false,
       [&](std::string const& d) {
         put(d + "/source", 0640, 0);
         put(d + "/mounted", 0600, 0);
         return Case{d + "/mounted", d + "/source"};
       },
       true, "new", "in place", 0640, 0, false, true,
       [](Case const&) {
         if (!without_statx()) _exit(79);
       },
       nullptr,
       [&](std::string const& d) { return bind(d + "/source", d + "/mounted"); }},
      {"replacement given up for want of memory", false, false,
       [&](std::string const& d) {
         put(d + "/f", 0640, 0);
         return Case{d + "/f", d + "/f"};
       },
       false, "old", "in place", 0640, 0, false, false},
  };
  std::set<std::string> skipped;
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::TempDir dir("hxreplace");
    ASSERT_FALSE(dir.path().empty());
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    Case c = row.setup(dir.path());
    if (!c.skip.empty()) {
      skipped.insert(std::string(row.name) + " (" + c.skip + ")");
      continue;
    }
    std::unique_ptr<MountHolder> holder;
    if (row.mount) {
      holder = std::make_unique<MountHolder>([&] { return row.mount(dir.path()); });
      if (!holder->why().empty()) {
        skipped.insert(std::string(row.name) + " (" + holder->why() + ")");
        continue;
      }
    }
    // Where this process sees the row's files.
    std::string const view = row.inside ? holder->root() : "";
    std::string const target = c.target.empty() ? "" : view + c.target;
    struct stat before {};
    bool const existed = !target.empty() && stat(target.c_str(), &before) == 0;
    bool const link_at_path = lstat((view + c.path).c_str(), &before) == 0 && S_ISLNK(before.st_mode);
    if (existed) stat(target.c_str(), &before);
    std::string const attributes_before = existed ? attributes(target) : "";
    std::set<std::string> const kept = entries_below(view + dir.path());

    // Writes as the archive functions do: open, write, commit, in a child
    // as "nobody" when asked, under a file-size limit (a full disk) when
    // given. 1: written, 0: refused or failed, 77: the child could not
    // become "nobody", 78: could not join the mounts, 79: could not filter
    // its system calls.
    int const code = hxtest::run_with_limit(RLIMIT_FSIZE, row.disk_full ? kFull : RLIM_INFINITY, [&] {
      if (holder && !holder->join()) return 78;
      if (row.in_child) row.in_child(c);
      gid_t const groups[] = {kShared};
      if (row.as_nobody && (setgroups(row.shared ? 1 : 0, groups) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        return 77;
      bool written = false;
      try {
        HxFileReplacement file(H(c.path), HxFileReplacement::kAsWrittenInPlace);
        if (!file.ok()) return 0;
        file.write(new_bytes.data(), static_cast<long long>(new_bytes.size()));
        // As the module meets a lack of memory: the exception leaves the
        // replacement, which becomes a MemoryError.
        if (!row.commit) throw std::bad_alloc();
        written = file.commit();
      } catch (std::bad_alloc const&) {
        return 0;
      }
      if (row.printed != nullptr) (void)!write(1, row.printed, std::strlen(row.printed));
      return written ? 1 : 0;
    });
    if (code >= 77 && code <= 79) {
      skipped.insert(std::string(row.name) + (code == 77   ? " (cannot become \"nobody\")"
                                              : code == 78 ? " (cannot join the mounts)"
                                                           : " (cannot filter system calls)"));
      continue;
    }
    EXPECT_EQ(code, row.result ? 1 : 0);
    std::set<std::string> after = entries_below(view + dir.path());
    after.erase(target);
    std::set<std::string> kept_but_target = kept;
    kept_but_target.erase(target);
    EXPECT_EQ(testing::PrintToString(after), testing::PrintToString(kept_but_target)) << "entries left or lost";

    if (link_at_path) {
      struct stat at_path {};
      EXPECT_TRUE(lstat((view + c.path).c_str(), &at_path) == 0 && S_ISLNK(at_path.st_mode))
          << "the link at the path is gone";
    }
    std::string const bytes = row.bytes;
    struct stat st {};
    if (bytes == "none") {
      if (!target.empty()) {
        EXPECT_NE(lstat(target.c_str(), &st), 0) << "a file was made";
      }
      continue;
    }
    if (stat(target.c_str(), &st) != 0) {
      ADD_FAILURE() << "no file at the target";
      continue;
    }
    std::ifstream in(target, std::ios::binary);
    std::string const got((std::istreambuf_iterator<char>(in)), {});
    std::string want = bytes == "old" ? old_bytes : new_bytes;
    if (row.printed != nullptr) want += row.printed;
    EXPECT_TRUE(got == want) << got.size() << " bytes at the target, not the " << want.size() << " " << bytes << " ones";
    EXPECT_EQ(st.st_mode & 07777, row.mode);
    EXPECT_EQ(st.st_uid, row.owner);
    if (existed) {
      EXPECT_EQ(st.st_gid, before.st_gid) << "the group changed";
      EXPECT_EQ(attributes(target), attributes_before) << "the extended attributes changed";
    }
    std::string const how = row.how;
    if (how == "in place") {
      EXPECT_EQ(st.st_ino, before.st_ino) << "the file was replaced";
      EXPECT_EQ(st.st_nlink, before.st_nlink) << "a link of the file was cut off";
    } else if (how == "replaced") {
      EXPECT_NE(st.st_ino, before.st_ino) << "the file was written in place";
    } else {
      EXPECT_FALSE(existed) << "the row expects no file before";
    }
  }
  if (!skipped.empty()) {
    std::string rows_skipped;
    for (std::string const& name : skipped) rows_skipped += "\n  " + name;
    GTEST_SKIP() << "rows that could not run here:" << rows_skipped;
  }
}

// A disk without room for the new bytes fails the write and leaves the old
// file byte for byte, on every path a write takes: replaced, and in place
// for each reason that keeps a file there (a sparse file too, whose holes
// take room when written over); through the class and through archivejob
// as the module calls it. The disk: 512 KiB with 100 KiB free, an old file
// of 60 KiB, new bytes of 308 KiB. With room, the same write succeeds on
// the same path.
TEST(HxFileReplacement, FullDiskKeepsTheOldFileOnEveryPath) {
  long long const kOld = 60 << 10, kNew = 308 << 10, kFree = 100 << 10, kHole = 340 << 10;
  using Put = std::function<void(std::string const& file, mode_t mode, uid_t owner)>;
  struct Row {
    char const* name;
    bool as_nobody;
    bool in_place;
    // Makes the old file (put) and what else the row needs in the disk, as
    // root; gives why it could not, or "".
    std::function<char const*(std::string const& disk, Put const& put)> setup;
    char const* path;     // written, in the disk; null: the standard output, sent to the target
    char const* target;   // the file that holds the bytes
    bool sparse = false;  // the old file: a hole of kHole bytes, then its bytes
  };
  auto linked = [](std::string const& d, Put const& put) {
    put(d + "/f", 0640, 0);
    return link((d + "/f").c_str(), (d + "/g").c_str()) == 0 ? "" : "no link";
  };
  Row const rows[] = {
      {"replaced", false, false, [](std::string const& d, Put const& put) { return put(d + "/f", 0640, 0), ""; },
       "f", "f"},
      {"second hard link", false, true, linked, "f", "f"},
      {"sparse file with a second hard link", false, true, linked, "f", "f", true},
      {"another's file", true, true,
       [](std::string const& d, Put const& put) {
         if (mkdir((d + "/tmp").c_str(), 01777) != 0 || chmod((d + "/tmp").c_str(), 01777) != 0) return "no folder";
         return put(d + "/tmp/f", 0666, 0), "";
       },
       "tmp/f", "tmp/f"},
      {"folder the user cannot write", true, true,
       [](std::string const& d, Put const& put) { return put(d + "/f", 0644, kNobody), ""; }, "f", "f"},
      {"set-uid file", false, true, [](std::string const& d, Put const& put) { return put(d + "/f", 04755, 0), ""; },
       "f", "f"},
      {"label the user may not give", true, true,
       [](std::string const& d, Put const& put) {
         if (mkdir((d + "/own").c_str(), 0755) != 0 || chown((d + "/own").c_str(), kNobody, kNobody) != 0)
           return "no folder";
         put(d + "/own/f", 0640, kNobody);
         return setxattr((d + "/own/f").c_str(), "security.hxlabel", "kept", 4, 0) == 0 ? "" : "cannot set a label";
       },
       "own/f", "own/f"},
      {"mount point", false, true,
       [](std::string const& d, Put const& put) {
         put(d + "/source", 0640, 0);
         put(d + "/mounted", 0600, 0);
         return mount((d + "/source").c_str(), (d + "/mounted").c_str(), nullptr, MS_BIND, nullptr) == 0
                    ? ""
                    : "cannot bind-mount a file";
       },
       "mounted", "source"},
      {"standard output", false, true, [](std::string const& d, Put const& put) { return put(d + "/f", 0640, 0), ""; },
       nullptr, "f"},
  };
  struct Writer {
    char const* name;
    std::function<bool(std::string const& path)> write;
    std::string bytes;
  };
  HxJob job;
  job.name(HxString(std::string(kNew, 'x').c_str()));
  job.pack();
  std::string const archive(job.packContents(), static_cast<size_t>(job.packSize()));
  Writer const writers[] = {
      {"class",
       [&](std::string const& path) {
         std::string const bytes(kNew, 'n');
         HxFileReplacement file(H(path), HxFileReplacement::kAsWrittenInPlace);
         return file.ok() && file.write(bytes.data(), kNew) && file.commit();
       },
       std::string(kNew, 'n')},
      {"archivejob", [&](std::string const& path) { return hxarchivejob(H(path), job, 1) > 0; }, archive},
  };
  std::set<std::string> skipped;
  for (Row const& row : rows) {
    for (Writer const& writer : writers) {
      for (bool const full : {true, false}) {
        SCOPED_TRACE(std::string(row.name) + ", " + writer.name + (full ? ", full disk" : ", room"));
        hxtest::TempDir dir("hxfull");
        ASSERT_FALSE(dir.path().empty());
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        std::string const disk = dir.path() + "/disk";
        ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
        MountHolder holder([&]() -> std::string {
          if (mount("hxfull", disk.c_str(), "tmpfs", 0, "size=512k,mode=0755") != 0)
            return std::string("cannot mount a small file system: ") + std::strerror(errno);
          std::string const why = row.setup(disk, [&](std::string const& file, mode_t mode, uid_t owner) {
            int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            std::string const bytes(kOld, 'o');
            (void)!pwrite(fd, bytes.data(), bytes.size(), row.sparse ? kHole : 0);
            (void)!fchown(fd, owner, owner);
            (void)!fchmod(fd, mode);
            close(fd);
          });
          struct statvfs fs;
          if (!why.empty() || !full || statvfs(disk.c_str(), &fs) != 0) return why;
          long long const fill = static_cast<long long>(fs.f_bavail) * fs.f_frsize - kFree;
          int fd = open((disk + "/fill").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
          std::string const zeros(fill, 'z');
          bool const filled = fd >= 0 && write(fd, zeros.data(), zeros.size()) == static_cast<ssize_t>(zeros.size());
          if (fd >= 0) close(fd);
          return filled ? "" : "cannot fill the disk";
        });
        if (!holder.why().empty()) {
          skipped.insert(std::string(row.name) + " (" + holder.why() + ")");
          continue;
        }
        std::string const target = holder.root() + disk + "/" + row.target;
        std::ifstream was(target, std::ios::binary);
        std::string const old((std::istreambuf_iterator<char>(was)), {});
        ASSERT_EQ(static_cast<long long>(old.size()), row.sparse ? kHole + kOld : kOld);
        struct stat before {};
        ASSERT_EQ(stat(target.c_str(), &before), 0);
        std::set<std::string> const kept = entries_below(holder.root() + disk);
        int const code = hxtest::run_with_limit(RLIMIT_FSIZE, RLIM_INFINITY, [&] {
          if (!holder.join()) return 78;
          if (row.path == nullptr) {
            int fd = open((disk + "/" + row.target).c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0 || dup2(fd, 1) != 1) return 76;
            close(fd);
          }
          if (row.as_nobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) return 77;
          return writer.write(row.path == nullptr ? "/dev/stdout" : disk + "/" + row.path) ? 1 : 0;
        });
        if (code == 77 || code == 78) {
          skipped.insert(std::string(row.name) +
                         (code == 77 ? " (cannot become \"nobody\")" : " (cannot join the mounts)"));
          continue;
        }
        EXPECT_EQ(code, full ? 0 : 1);
        std::ifstream in(target, std::ios::binary);
        std::string const got((std::istreambuf_iterator<char>(in)), {});
        std::string const& want = full ? old : writer.bytes;
        EXPECT_TRUE(got == want) << got.size() << " bytes at the target, not the " << want.size()
                                 << (full ? " old" : " new") << " ones; " << std::count(got.begin(), got.end(), 'o')
                                 << " old bytes kept";
        struct stat st {};
        EXPECT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_ino == before.st_ino, full || row.in_place) << "the path taken";
        EXPECT_EQ(testing::PrintToString(entries_below(holder.root() + disk)), testing::PrintToString(kept))
            << "entries left or lost";
      }
    }
  }
  if (!skipped.empty()) {
    std::string rows_skipped;
    for (std::string const& name : skipped) rows_skipped += "\n  " + name;
    GTEST_SKIP() << "rows that could not run here:" << rows_skipped;
  }
}

}  // namespace

#include "core/HxFile.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

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
// the process's own descriptors. Elsewhere it is written in place as
// before. Without room for the new file, nothing is written; a replacement
// given up leaves nothing behind.
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
    char const* bytes;  // at the target afterwards: "old", "new", "cut" (the first kFull new bytes), "none"
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
       true, "new", "in place", 0640, 0},
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
       true, "new", "in place", 0660, 0},
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
       true, "new", "in place", 0640, 0},
      // A file mounted on another name, as containers mount single files.
      {"bind-mounted file", false, false,
       [&](std::string const& d) {
         put(d + "/source", 0640, 0);
         put(d + "/mounted", 0600, 0);
         return Case{d + "/mounted", d + "/source"};
       },
       true, "new", "in place", 0640, 0, false, true, nullptr, nullptr,
       [](std::string const& d) {
         if (mount((d + "/source").c_str(), (d + "/mounted").c_str(), nullptr, MS_BIND, nullptr) == 0) return std::string();
         return std::string("cannot bind-mount a file: ") + std::strerror(errno);
       }},
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
      {"full disk, written in place: cut as before", false, true,
       [&](std::string const& d) {
         put(d + "/f", 0640, 0);
         EXPECT_EQ(link((d + "/f").c_str(), (d + "/g").c_str()), 0);
         return Case{d + "/f", d + "/g"};
       },
       false, "cut", "in place", 0640, 0},
      // A small file system with every inode taken: no new file can be
      // made, and no write in place may cut the old one.
      {"no free inode: the old file kept", false, false,
       [&](std::string const& d) {
         folder(d + "/small", 0755, 0);
         return Case{d + "/small/f", d + "/small/f"};
       },
       false, "old", "in place", 0640, 0, false, true, nullptr, nullptr,
       [&](std::string const& d) {
         std::string const small = d + "/small";
         if (mount("hxsmall", small.c_str(), "tmpfs", 0, "nr_inodes=8,size=1m,mode=0755") != 0)
           return std::string("cannot mount a small file system: ") + std::strerror(errno);
         put(small + "/f", 0640, 0);
         for (int i = 0; i < 100; ++i) {
           int fd = open((small + "/fill" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
           if (fd < 0) return errno == ENOSPC ? std::string() : std::string("cannot fill the inodes");
           close(fd);
         }
         return std::string("the inodes do not run out");
       },
       true},
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
    std::set<std::string> const kept = entries_below(view + dir.path());

    // Writes as the archive functions do: open, write, commit, in a child
    // as "nobody" when asked, under a file-size limit (a full disk) when
    // given. 1: written, 0: refused or failed, 77: the child could not
    // become "nobody", 78: could not join the mounts.
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
    if (code == 77 || code == 78) {
      skipped.insert(std::string(row.name) + (code == 77 ? " (cannot become \"nobody\")" : " (cannot join the mounts)"));
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
    std::string want = bytes == "old" ? old_bytes : bytes == "new" ? new_bytes : new_bytes.substr(0, kFull);
    if (row.printed != nullptr) want += row.printed;
    EXPECT_TRUE(got == want) << got.size() << " bytes at the target, not the " << want.size() << " " << bytes << " ones";
    EXPECT_EQ(st.st_mode & 07777, row.mode);
    EXPECT_EQ(st.st_uid, row.owner);
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

}  // namespace

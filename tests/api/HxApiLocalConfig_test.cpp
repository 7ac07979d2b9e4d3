#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "TestUtil.h"
#include "api/HxApiLocal.h"
#include "api/HxApiState.h"
#include "model/job/HxAssignment.h"
#include "config/HxConfig.h"
#include "config/HxPathMap.h"
#include "core/HxWorld.h"

namespace {

using hxtest::H;
using hxtest::S;

class FileWorld : public HxWorld {
 public:
  HxString path;
  HxString clientConfigPath() override { return path; }
};

class HxLocalConfigTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    use(dir_.file("hx.conf"));
    hx_set_world(&world_);
  }
  void TearDown() override { hx_set_world(nullptr); }
  void use(std::string const& path) { world_.path = H(path); }
  // Names in the directory other than the given ones (left-over new files).
  std::string strays(std::string const& dir, std::string const& keep) {
    std::string out;
    DIR* d = opendir(dir.c_str());
    while (dirent* e = d ? readdir(d) : nullptr) {
      std::string n = e->d_name;
      if (n != "." && n != ".." && keep.find("|" + n + "|") == std::string::npos) out += n + " ";
    }
    if (d) closedir(d);
    return out;
  }
  static HxConfig options(std::initializer_list<std::pair<char const*, char const*>> kv) {
    HxConfig c;
    for (auto const& [k, v] : kv) c.option(HxString(k), HxString(v));
    return c;
  }
  hxtest::TempDir dir_;
  FileWorld world_;
};

TEST_F(HxLocalConfigTest, ReadsTheFileOfTheSeam) {
  HxConfig missing;
  EXPECT_EQ(1, hxlocalconfig(missing));
  EXPECT_FALSE(missing.valid());
  dir_.write("hx.conf", "supervisor_host = farm1\nclient_timeout = 7\n");
  HxConfig c;
  EXPECT_EQ(1, hxlocalconfig(c));
  EXPECT_TRUE(c.valid());
  EXPECT_EQ("farm1", S(c.option(HxString("supervisor_host"))));
  EXPECT_EQ("7", S(c.option(HxString("client_timeout"))));
}

// The rewrite keeps the template's other lines and replaces the file whole:
// a new file (another inode) with the old one's mode, nothing left beside it.
TEST_F(HxLocalConfigTest, RewriteKeepsTemplateModeAndLeavesNoStrays) {
  struct Row {
    char const* before;  // null: no file
    char const* after;
  };
  Row const rows[] = {
      {nullptr, "# these are not included in the template\nsupervisor_host = farm2\n\n"},
      {"# site settings\nsupervisor_host = farm1\n\nsupervisor_port = 5000\n",
       "# site settings\nsupervisor_host = farm2\n\n#supervisor_port = 5000\n"},
  };
  for (Row const& r : rows) {
    SCOPED_TRACE(r.before ? r.before : "(missing)");
    unlink(dir_.file("hx.conf").c_str());
    ino_t old_inode = 0;
    if (r.before) {
      dir_.write("hx.conf", r.before);
      ASSERT_EQ(0, chmod(dir_.file("hx.conf").c_str(), 0640));
      struct stat st;
      ASSERT_EQ(0, stat(dir_.file("hx.conf").c_str(), &st));
      old_inode = st.st_ino;
    }
    HxConfig c = options({{"supervisor_host", "farm2"}});
    EXPECT_EQ(1, hxlocalupdateconfig(c));
    EXPECT_EQ(r.after, dir_.read("hx.conf"));
    struct stat st;
    ASSERT_EQ(0, stat(dir_.file("hx.conf").c_str(), &st));
    if (r.before) {
      EXPECT_EQ(0640u, st.st_mode & 07777);
      EXPECT_NE(old_inode, st.st_ino);
    }
    EXPECT_EQ("", strays(dir_.path(), "|hx.conf|"));
  }
}

// A link at the path stays a link; the file it names gets the new text.
TEST_F(HxLocalConfigTest, LinkAtThePathRewritesItsTarget) {
  ASSERT_EQ(0, mkdir(dir_.file("real").c_str(), 0755));
  dir_.write("real/hx.conf", "supervisor_host = farm1\n");
  ASSERT_EQ(0, symlink("real/hx.conf", dir_.file("hx.conf").c_str()));
  HxConfig c = options({{"supervisor_host", "farm3"}});
  EXPECT_EQ(1, hxlocalupdateconfig(c));
  struct stat st;
  ASSERT_EQ(0, lstat(dir_.file("hx.conf").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ("supervisor_host = farm3\n", dir_.read("real/hx.conf"));
  EXPECT_EQ("", strays(dir_.file("real"), "|hx.conf|"));
}

// Failures leave the old file as it was, and no new file beside it.
TEST_F(HxLocalConfigTest, FailureKeepsTheOldFile) {
  HxConfig c = options({{"supervisor_host", "farm4"}});
  // No directory to write into.
  use(dir_.file("none/hx.conf"));
  EXPECT_EQ(0, hxlocalupdateconfig(c));
  // A directory at the path: the rename fails after the new file was made.
  ASSERT_EQ(0, mkdir(dir_.file("isdir").c_str(), 0755));
  use(dir_.file("isdir"));
  EXPECT_EQ(0, hxlocalupdateconfig(c));
  EXPECT_EQ("", strays(dir_.path(), "|isdir|"));
  // A loop of links ends.
  ASSERT_EQ(0, symlink("loop", dir_.file("loop").c_str()));
  use(dir_.file("loop"));
  EXPECT_EQ(0, hxlocalupdateconfig(c));
}

// Where the directory takes no new file, a writable file is rewritten in
// place; a file that is not writable stays.
TEST_F(HxLocalConfigTest, DirectoryWithoutNewFiles) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  ASSERT_EQ(0, mkdir(dir_.file("ro").c_str(), 0755));
  dir_.write("ro/hx.conf", "supervisor_host = farm1\n");
  dir_.write("ro/locked.conf", "supervisor_host = farm1\n");
  ASSERT_EQ(0, chmod(dir_.file("ro/locked.conf").c_str(), 0444));
  ASSERT_EQ(0, chmod(dir_.file("ro").c_str(), 0555));
  HxConfig c = options({{"supervisor_host", "farm5"}});
  use(dir_.file("ro/hx.conf"));
  EXPECT_EQ(1, hxlocalupdateconfig(c));
  EXPECT_EQ("supervisor_host = farm5\n", dir_.read("ro/hx.conf"));
  use(dir_.file("ro/locked.conf"));
  EXPECT_EQ(0, hxlocalupdateconfig(c));
  EXPECT_EQ("supervisor_host = farm1\n", dir_.read("ro/locked.conf"));
  chmod(dir_.file("ro").c_str(), 0755);
}

TEST(HxConvertPath, ThroughAGivenMap) {
  HxPathMap empty;
  EXPECT_EQ("/mnt/a/b", S(hxconvertpath(HxString("/mnt/a/b"), empty)));
  HxPathMap map;
  map.addToDirectMap(HxString("/mnt/a"), HxString("X:"));
  struct Row {
    char const* in;
    char const* out;
  } const rows[] = {{"/mnt/a/b", "X:/b"}, {"/MNT/A/c", "X:/c"}, {"/mnt/b", "/mnt/b"}, {"", ""}};
  for (Row const& r : rows) EXPECT_EQ(r.out, S(hxconvertpath(HxString(r.in), map))) << r.in;
  // The one-argument form uses the current assignment's map, if any.
  _hx_assignment(nullptr);
  EXPECT_EQ("/mnt/a/b", S(hxconvertpath(HxString("/mnt/a/b"))));
  auto assignment = std::make_shared<HxAssignment>();
  _hx_assignment(assignment);
  EXPECT_EQ("/mnt/a/b", S(hxconvertpath(HxString("/mnt/a/b"))));
  assignment->pathmap() = map;
  for (Row const& r : rows) EXPECT_EQ(r.out, S(hxconvertpath(HxString(r.in)))) << r.in;
  _hx_assignment(nullptr);
}

TEST(HxConst, EveryNameAndNoOther) {
  struct Row {
    char const* name;
    int value;
  } const rows[] = {
      {"HX_COMMAND_REMOVE_JOB", 201}, {"HX_COMMAND_KILL_JOB", 207}, {"HX_COMMAND_PREEMPT_JOB", 209},
      {"HX_COMMAND_BLOCK_JOB", 210}, {"HX_COMMAND_MODIFY_JOB", 211}, {"HX_COMMAND_UNBLOCK_JOB", 215},
      {"HX_COMMAND_SUSPEND_JOB", 216}, {"HX_COMMAND_RESUME_JOB", 217}, {"HX_COMMAND_REQUEUE_JOB", 219},
      {"HX_COMMAND_RETRY_JOB", 220}, {"HX_COMMAND_RESUBMIT_JOB", 221}, {"HX_COMMAND_BUMP_JOB", 223},
      {"HX_COMMAND_MIGRATE_JOB", 224}, {"HX_COMMAND_SHOVE_JOB", 225}, {"HX_COMMAND_FAIL_JOB", 226},
      {"HX_COMMAND_RETIRE_JOB", 227}, {"HX_COMMAND_RESET_JOB", 231}, {"HX_COMMAND_RETRY_WORK", 604},
      {"HX_COMMAND_KILL_WORK", 605}, {"HX_COMMAND_INTERRUPT_WORK", 606}, {"HX_COMMAND_PREEMPT_WORK", 607},
      {"HX_COMMAND_BLOCK_WORK", 608}, {"HX_COMMAND_MODIFY_WORK", 609}, {"HX_COMMAND_UNBLOCK_WORK", 610},
      {"HX_COMMAND_SUSPEND_WORK", 611}, {"HX_COMMAND_RESUME_WORK", 612}, {"HX_COMMAND_REQUEUE_WORK", 613},
      {"HX_COMMAND_COMPLETE_WORK", 614}, {"HX_COMMAND_RETIRE_WORK", 615}, {"HX_ADMIN_ORDER_ACTION_SET", 1},
      {"HX_ADMIN_ORDER_ACTION_UNSET", 2}, {"HX_ADMIN_ORDER_ACTION_MANAGE_USER", 3},
      {"HX_ADMIN_ORDER_ACTION_MANAGE_GROUP", 4}, {"HX_ADMIN_ORDER_ACTION_RESYNC", 5},
      {"HX_ADMIN_ORDER_ACTION_BACKUP", 6}, {"HX_ADMIN_ORDER_ACTION_RESET", 8},
      {"HX_ADMIN_ORDER_ACTION_REFRESH_WORKERS", 9}, {"HX_ADMIN_ORDER_ACTION_UPDATE_WORKERS", 10},
      {"HX_ADMIN_ORDER_ACTION_REVERIFY_WORKERS", 12}, {"HX_REVERSE", 1},
      // Not in the table: other case, the interrupt (208), empty, a prefix.
      {"hx_command_kill_work", 0}, {"HX_COMMAND_INTERRUPT_JOB", 0}, {"", 0}, {"HX_COMMAND_KILL", 0},
  };
  for (Row const& r : rows) EXPECT_EQ(r.value, hxCONST(HxString(r.name))) << r.name;
  EXPECT_EQ(0, hxCONST(H(std::string("HX_REVERSE\0", 11))));
}

}  // namespace

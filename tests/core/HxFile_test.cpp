#include "core/HxFile.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/TestUtil.h"

namespace {

using hxtest::S;
using hxtest::H;

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
  }

  std::string path(std::string const& name) const { return dir_ + "/" + name; }
  void put(std::string const& name, std::string const& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string get(std::string const& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  hxtest::TempDir tmp_{"hxfiletest"};
  std::string dir_ = tmp_.path();
};

TEST(HxFileNames, FilenameAndDirbase) {
  EXPECT_EQ(S(HxFile::filename("/a/b")), "b");
  EXPECT_EQ(S(HxFile::filename("b")), "b");
  EXPECT_EQ(S(HxFile::filename("/a/")), "");
  EXPECT_EQ(S(HxFile::dirbase("/a/b")), "/a");
  EXPECT_EQ(S(HxFile::dirbase("a/b/c")), "a/b");
  EXPECT_EQ(S(HxFile::dirbase("a/b/")), "a/b");
  EXPECT_EQ(S(HxFile::dirbase("/a")), "");
  EXPECT_EQ(S(HxFile::dirbase("a")), "");
  EXPECT_EQ(S(HxFile::dirbase("")), "");
}

TEST(HxFileNames, UniqueNamesDifferInTheCounter) {
  std::string a = S(HxFile::uniquefile());
  std::string b = S(HxFile::uniquefile());
  std::string head = "tarv" + std::to_string(::getpid()) + "u";
  ASSERT_EQ(a.compare(0, head.size(), head), 0) << a;
  ASSERT_EQ(b.compare(0, head.size(), head), 0) << b;
  int na = std::atoi(a.c_str() + head.size());
  EXPECT_EQ(a, head + std::to_string(na) + ".tmp");
  EXPECT_EQ(b, head + std::to_string(na + 1) + ".tmp");
}

TEST_F(FileTest, LoadAndSaveKeepEveryByte) {
  std::string bytes("a\0b\xff\xfe\n\xff", 7);
  ASSERT_TRUE(HxFile::save(H(path("f")), H(bytes)));
  EXPECT_EQ(get("f"), bytes);
  EXPECT_EQ(S(HxFile::load(H(path("f")))), bytes);
  EXPECT_EQ(HxFile::size(H(path("f"))), 7);
  // save empties a longer file first.
  ASSERT_TRUE(HxFile::save(H(path("f")), "xy"));
  EXPECT_EQ(get("f"), "xy");
  // A file larger than one read block.
  std::string big(200000, '\xff');
  big[123456] = 'z';
  put("big", big);
  EXPECT_EQ(S(HxFile::load(H(path("big")))), big);
}

// The loaded text has the capacity a copy of it would have, also when the
// file's size as listed is not what it holds.
TEST_F(FileTest, LoadGivesTheCapacityOfACopy) {
  struct Row {
    int size;
    int capacity;  // 0: undefined
  } const rows[] = {{0, 0}, {1, 16}, {5, 24}, {16, 68}, {1023, 4096}, {70000, 280004}};
  for (Row const& row : rows) {
    SCOPED_TRACE(row.size);
    put("c", std::string(static_cast<size_t>(row.size), 'c'));
    HxString got = HxFile::load(H(path("c")));
    EXPECT_EQ(got.length(), row.size);
    EXPECT_EQ(got.capacity(), row.capacity);
    EXPECT_EQ(got.isundef(), row.capacity == 0);
  }
  // Listed as empty, read to its end all the same.
  HxString status = HxFile::load("/proc/self/status");
  ASSERT_GT(status.length(), 0);
  EXPECT_EQ(status.capacity(), 4 * status.length() + 4);
  EXPECT_EQ(std::string(status.value(), 5), "Name:");
}

TEST_F(FileTest, LoadOfWhatIsNotAFileIsEmpty) {
  EXPECT_EQ(S(HxFile::load(H(dir_))), "");
  EXPECT_EQ(S(HxFile::load(H(path("missing")))), "");
  EXPECT_FALSE(HxFile::exists(H(dir_)));
  EXPECT_TRUE(HxDir::isdir(H(dir_)));
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(S(HxFile::load(H(path("fifo")))), "");  // and does not block
  HxString none;
  EXPECT_EQ(HxFile::loadpos(H(path("fifo")), 0, 10, none), -1);
  EXPECT_EQ(HxFile::size(H(path("missing"))), 0);
  EXPECT_EQ(HxFile::modified(H(path("missing"))), 0);
}

TEST_F(FileTest, SaveReportsWhatFailed) {
  EXPECT_FALSE(HxFile::save(H(path("nodir/f")), "x"));
  EXPECT_FALSE(HxDir::isdir(H(path("nodir"))));
  // A full disk: the write fails and save says so.
  EXPECT_FALSE(HxFile::save("/dev/full", "data"));
  put("src", "payload");
  HxFile f(H(path("src")));
  EXPECT_FALSE(f.write("/dev/full"));
  EXPECT_TRUE(f.write(H(path("dst"))));
}

TEST_F(FileTest, AppendWritableTouch) {
  HxFile::append(H(path("log")), "ab");
  HxFile::append(H(path("log")), "cd");
  EXPECT_EQ(get("log"), "abcd");
  EXPECT_TRUE(HxFile::writable(H(path("w"))));
  EXPECT_TRUE(HxFile::exists(H(path("w"))));
  EXPECT_FALSE(HxFile::writable(H(dir_)));
}

// touch sets both times of whatever the path names, creates a missing file
// empty, never opens (and so never blocks on) a pipe, and reports a path it
// can neither create nor touch.
TEST_F(FileTest, Touch) {
  put("file", "keep");
  ASSERT_EQ(::mkdir(path("dir").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
  struct Row {
    char const* name;
    bool result;
    mode_t kind;  // what the path is afterwards; 0: nothing
  } const rows[] = {
      {"file", true, S_IFREG},
      {"dir", true, S_IFDIR},
      {"pipe", true, S_IFIFO},  // no reader: an open would block or fail
      {"new", true, S_IFREG},
      {"nodir/new", false, 0},
  };
  struct timespec const old_times[2] = {{1000, 0}, {1000, 0}};
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    std::string const p = path(row.name);
    ::utimensat(AT_FDCWD, p.c_str(), old_times, 0);
    EXPECT_EQ(HxFile::touch(H(p)), row.result);
    struct stat st;
    if (row.kind == 0) {
      EXPECT_NE(::stat(p.c_str(), &st), 0);
      continue;
    }
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, row.kind);
    EXPECT_GT(st.st_atime, 1000);
    EXPECT_GT(st.st_mtime, 1000);
  }
  EXPECT_EQ(get("file"), "keep");
  EXPECT_EQ(get("new"), "");
}

TEST_F(FileTest, RemoveChmodChown) {
  put("f", "x");
  EXPECT_TRUE(HxFile::chmod(H(path("f")), 0640));
  struct stat st;
  ASSERT_EQ(::stat(path("f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_TRUE(HxFile::chown(H(path("f")), ::getuid(), ::getgid()));
  EXPECT_TRUE(HxFile::remove(H(path("f"))));
  EXPECT_FALSE(HxFile::remove(H(path("f"))));
  EXPECT_FALSE(HxFile::chmod(H(path("f")), 0640));
}

TEST_F(FileTest, LoadposReadsPiecesAndReturnsThePosition) {
  put("ten", "0123456789");
  HxString p = H(path("ten"));
  HxString out;
  EXPECT_EQ(HxFile::loadpos(p, -4, -1, out), 10);
  EXPECT_EQ(S(out), "6789");
  out = "";
  EXPECT_EQ(HxFile::loadpos(p, -100, out), 10);
  EXPECT_EQ(S(out), "0123456789");
  out = ">";
  EXPECT_EQ(HxFile::loadpos(p, 3, 2, out), 5);
  EXPECT_EQ(S(out), ">34");  // appended, not replaced
  out = "";
  // Reading to the end returns the end, not -1.
  EXPECT_EQ(HxFile::loadpos(p, 7, out), 10);
  EXPECT_EQ(S(out), "789");
  EXPECT_EQ(HxFile::loadpos(p, 5, 100, out), 10);
  out = "";
  EXPECT_EQ(HxFile::loadpos(p, 50, out), 10);
  EXPECT_EQ(S(out), "");
  EXPECT_EQ(HxFile::loadpos(p, 0, 0, out), 0);
  EXPECT_EQ(HxFile::loadpos(p, -10, 1, out), 1);
  EXPECT_EQ(S(out), "0");
  out = "";
  EXPECT_EQ(HxFile::loadpos(p, LLONG_MIN, 2, out), 2);
  EXPECT_EQ(S(out), "01");
  EXPECT_EQ(HxFile::loadpos(H(path("missing")), 0, out), -1);
  EXPECT_EQ(HxFile::loadpos(H(dir_), 0, out), -1);
  EXPECT_EQ(S(out), "01");
}

TEST_F(FileTest, AByteFFDoesNotEndARead) {
  std::string bytes("\xff\xffmid\xff", 6);
  put("ff", bytes);
  HxString out;
  EXPECT_EQ(HxFile::loadpos(H(path("ff")), 0, out), 6);
  EXPECT_EQ(S(out), bytes);
  HxFile f(H(path("ff")));
  EXPECT_EQ(S(f.data()), bytes);
}

TEST_F(FileTest, RecordReadsNameSourceAndData) {
  put("rec.txt", "hello\n");
  HxFile f(H(path("rec.txt")));
  EXPECT_EQ(S(f.name()), "rec.txt");
  EXPECT_EQ(S(f.source()), path("rec.txt"));
  EXPECT_EQ(S(f.data()), "hello\n");
  // Reading what is not a file leaves the record as it was.
  f.read(H(dir_));
  f.read(H(path("missing")));
  EXPECT_EQ(S(f.name()), "rec.txt");
  EXPECT_EQ(S(f.data()), "hello\n");
  EXPECT_TRUE(f.write(H(path("copy"))));
  EXPECT_EQ(get("copy"), "hello\n");
}

TEST(HxFileRecord, BinaryFormWritesNameSourceData) {
  HxFile f;
  // Built through the XML reader so that the test needs no files.
  char const* xml =
      "<pack><version>1</version><object type = 'file'>"
      "<name>n</name><source>/s/n</source><data>d</data></object></pack>";
  ASSERT_EQ(f.unpackXML(xml, static_cast<int>(std::strlen(xml))), 0);
  f.pack();
  std::string expect(
      "\x00\x00\x00\x01"
      "\x00\x00\x00\x03\x00\x00\x00\x01n"
      "\x00\x02\x00\x03\x00\x00\x00\x04/s/n"
      "\x00\x01\x00\x03\x00\x00\x00\x01" "d",
      4 + 9 + 12 + 9);
  EXPECT_EQ(std::string(f.packContents(), f.packSize()), expect);

  HxFile back;
  ASSERT_EQ(back.unpack(f.packContents(), f.packSize()), 0);
  EXPECT_EQ(S(back.name()), "n");
  EXPECT_EQ(S(back.source()), "/s/n");
  EXPECT_EQ(S(back.data()), "d");

  // Fields are taken by number, in any order.
  std::string swapped(
      "\x00\x00\x00\x01"
      "\x00\x01\x00\x03\x00\x00\x00\x01" "D"
      "\x00\x00\x00\x03\x00\x00\x00\x01N",
      4 + 9 + 9);
  HxFile other;
  ASSERT_EQ(other.unpack(swapped.data(), static_cast<int>(swapped.size())), 0);
  EXPECT_EQ(S(other.name()), "N");
  EXPECT_EQ(S(other.data()), "D");
}

TEST(HxFileRecord, ListRoundTripsThroughXml) {
  HxFileList list;
  char const* xml =
      "<pack><version>1</version><object type = 'file_list'>"
      "<item><object type = 'file'><name>a</name><data>&lt;1&gt;</data></object></item>"
      "<item><object type = 'file'><name>b</name></object></item>"
      "</object></pack>";
  ASSERT_EQ(list.unpackXML(xml, static_cast<int>(std::strlen(xml))), 0);
  ASSERT_EQ(list.length(), 2);
  EXPECT_EQ(list.type(), 119);
  EXPECT_EQ(S(list.get(0)->data()), "<1>");
  EXPECT_EQ(S(list.get(1)->name()), "b");
  list.packXML();
  std::string text(list.packContents(), list.packSize());
  EXPECT_EQ(text,
            "<version>1</version>\n<object type = 'file_list'>\n"
            "\t<item>\n\t\t<object type = 'file'>\n\t\t\t<name>a</name>\n\t\t\t<source></source>\n"
            "\t\t\t<data>&lt;1&gt;</data>\n\t\t</object>\n\t</item>\n"
            "\t<item>\n\t\t<object type = 'file'>\n\t\t\t<name>b</name>\n\t\t\t<source></source>\n"
            "\t\t\t<data></data>\n\t\t</object>\n\t</item>\n</object>");
  list.pack();
  HxFileList back;
  ASSERT_EQ(back.unpack(list.packContents(), list.packSize()), 0);
  ASSERT_EQ(back.length(), 2);
  EXPECT_EQ(S(back.get(0)->data()), "<1>");
  EXPECT_EQ(S(back.get(1)->name()), "b");
}

TEST_F(FileTest, DirListingAndMake) {
  HxDir missing(H(path("none")));
  EXPECT_EQ(missing.length(), 0);
  EXPECT_EQ(missing.get(0), nullptr);
  EXPECT_TRUE(missing.remove());

  HxDir d(H(path("made")));
  EXPECT_TRUE(d.make(0777));
  EXPECT_FALSE(d.make(0777));  // already there
  EXPECT_TRUE(HxDir::fullaccess(H(path("made"))));
  put("made/x", "1");
  HxDir listed(H(path("made")));
  ASSERT_EQ(listed.length(), 3);
  EXPECT_EQ(listed.get(-1), nullptr);
  EXPECT_EQ(listed.get(3), nullptr);
  EXPECT_EQ(S(listed.dir()), path("made"));
}

TEST_F(FileTest, StaticMakeCreatesEveryMissingComponent) {
  // An absolute path: every component is created under its full name.
  std::string deep = path("p/q/r");
  EXPECT_TRUE(HxDir::make(H(deep), 0777));
  EXPECT_TRUE(HxDir::isdir(H(path("p"))));
  EXPECT_TRUE(HxDir::isdir(H(deep)));
  EXPECT_TRUE(HxDir::fullaccess(H(path("p/q"))));
  EXPECT_TRUE(HxDir::make(H(deep + "//s/"), 0777));
  EXPECT_TRUE(HxDir::isdir(H(deep + "/s")));
  // A relative path starts at the current directory, first component included.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(dir_.c_str()), 0);
  bool made = HxDir::make("rel/sub", 0777);
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_TRUE(made);
  EXPECT_TRUE(HxDir::isdir(H(path("rel/sub"))));
  // A file in the way is a failure.
  put("file", "x");
  EXPECT_FALSE(HxDir::make(H(path("file/sub")), 0777));
  EXPECT_FALSE(HxDir::make("", 0777));
}

TEST_F(FileTest, RemoveTakesTheTreeButNotWhatLinksPointTo) {
  std::filesystem::create_directories(path("tree/a/b"));
  std::filesystem::create_directories(path("outside/keep"));
  put("outside/keep/precious", "p");
  put("tree/a/b/f", "1");
  put("tree/g", "22");
  ASSERT_EQ(::symlink(path("outside").c_str(), path("tree/a/link").c_str()), 0);
  ASSERT_EQ(::symlink(path("outside/keep/precious").c_str(), path("tree/flink").c_str()), 0);
  ASSERT_EQ(::symlink("/nowhere", path("tree/dangling").c_str()), 0);
  EXPECT_TRUE(HxDir::islink(H(path("tree/a/link"))));
  EXPECT_FALSE(HxDir::islink(H(path("tree/a"))));
  EXPECT_FALSE(HxDir::islink(H(path("none"))));
  EXPECT_TRUE(HxDir::isdir(H(path("tree/a/link"))));  // isdir follows links

  HxDir tree(H(path("tree")));
  EXPECT_TRUE(tree.remove());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path("tree"))));
  EXPECT_EQ(get("outside/keep/precious"), "p");

  // A link given as the directory itself is removed, its target kept.
  ASSERT_EQ(::symlink(path("outside").c_str(), path("dirlink").c_str()), 0);
  EXPECT_TRUE(HxDir(H(path("dirlink"))).remove());
  EXPECT_FALSE(HxDir::islink(H(path("dirlink"))));
  EXPECT_EQ(get("outside/keep/precious"), "p");

  // Something that is not a directory is not removed.
  EXPECT_FALSE(HxDir(H(path("outside/keep/precious"))).remove());
}

TEST_F(FileTest, RemoveReportsWhatItLeft) {
  // An entry that came after the listing keeps the directory in place.
  std::filesystem::create_directories(path("busy"));
  HxDir busy(H(path("busy")));
  put("busy/late", "1");
  EXPECT_FALSE(busy.remove());
  EXPECT_EQ(get("busy/late"), "1");
}

TEST_F(FileTest, SizeCountsFilesAndDirectoriesNotLinks) {
  std::filesystem::create_directories(path("s/sub"));
  put("s/a", "12345");
  put("s/sub/b", "123");
  put("big", std::string(1000, 'x'));
  ASSERT_EQ(::symlink(path("big").c_str(), path("s/link").c_str()), 0);
  struct stat st;
  ASSERT_EQ(::stat(path("s/sub").c_str(), &st), 0);
  EXPECT_EQ(HxDir::size(H(path("s"))), 5 + 3 + static_cast<long long>(st.st_size));
  EXPECT_EQ(HxDir::size(H(path("none"))), 0);
  EXPECT_TRUE(HxDir::isfile(H(path("s/a"))));
  EXPECT_FALSE(HxDir::isfile(H(path("s"))));
  EXPECT_TRUE(HxFile::exists(H(path("s/link"))));  // links followed here
}

}  // namespace

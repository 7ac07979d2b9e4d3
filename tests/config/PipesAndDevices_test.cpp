// Every reader and writer of whole files against what a path may name
// besides a regular file: a pipe with and without its other end, an endless
// device, a directory. None may wait for ever, read without bound or report
// success for what it could not read or write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "config/HxConfig.h"
#include "config/HxConfigFile.h"
#include "core/HxDebug.h"
#include "core/HxFile.h"
#include "core/HxTime.h"
#include "core/pack/HxPackage.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::H;
using hxtest::S;

// Runs f; when it has not returned within a few seconds, unblock() is
// called to let it go. True when f returned on its own in time.
bool ReturnsPromptly(std::function<void()> f, std::function<void()> unblock) {
  auto done = std::async(std::launch::async, std::move(f));
  if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return true;
  unblock();
  done.wait();
  return false;
}

// Opens the other end of a pipe without waiting (a reader, or a writer when
// a reader is already waiting); -1 when that end cannot be opened now.
int OtherEnd(std::string const& fifo, int flags) { return ::open(fifo.c_str(), flags | O_NONBLOCK | O_CLOEXEC); }

class SpecialFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    fifo_ = dir_.file("fifo");
    ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
  }
  // Lets a reader blocked on the pipe go: a writer opens it and closes it.
  std::function<void()> FeedEnd() {
    return [this] {
      int fd = ::open(fifo_.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd >= 0) ::close(fd);
    };
  }
  // Lets a writer blocked on the pipe go: a reader opens it and drains it.
  std::function<void()> DrainEnd() {
    return [this] {
      int fd = ::open(fifo_.c_str(), O_RDONLY | O_CLOEXEC);
      char buf[4096];
      while (fd >= 0 && ::read(fd, buf, sizeof buf) > 0) {
      }
      if (fd >= 0) ::close(fd);
    };
  }

  hxtest::TempDir dir_{"hxspecial"};
  std::string fifo_;
};

// Each reader, given a path, tells whether it took anything from it.
struct Reader {
  char const* name;
  std::function<bool(std::string const&)> read;
};

std::vector<Reader> Readers() {
  return {
      {"HxFile::load", [](std::string const& p) { return HxFile::load(H(p)).length() > 0; }},
      {"HxFile::read", [](std::string const& p) { return HxFile(H(p)).data().length() > 0; }},
      {"HxFile::loadpos",
       [](std::string const& p) {
         HxString out;
         return HxFile::loadpos(H(p), 0, 100, out) >= 0 || out.length() > 0;
       }},
      {"HxConfig(path)", [](std::string const& p) { return HxConfig(H(p)).valid(); }},
      {"HxConfigFile(path)",
       [](std::string const& p) {
         HxConfigFile f(H(p), 0);
         HxStringList names;
         f.keys(names);
         return names.length() > 0;
       }},
      {"HxPack::recover", [](std::string const& p) { return HxTime().recover(H(p)) != 0; }},
      {"HxPack::recoverXML", [](std::string const& p) { return HxTime().recoverXML(H(p)) != 0; }},
      {"hx_package_recover",
       [](std::string const& p) {
         _hx_package_pack* tree = hx_package_recover(p.c_str());
         hx_package_destroy(tree);
         return tree != nullptr;
       }},
      {"HxTime::readOffsetFile", [](std::string const& p) { return HxTime::readOffsetFile(H(p)) != 0; }},
  };
}

TEST_F(SpecialFiles, ReadersTakeNothingFromPipesDevicesAndDirectories) {
  for (Reader const& r : Readers()) {
    // A pipe nobody writes to: reading it would wait for a writer.
    bool taken = true;
    EXPECT_TRUE(ReturnsPromptly([&] { taken = r.read(fifo_); }, FeedEnd())) << r.name << " on a pipe";
    EXPECT_FALSE(taken) << r.name << " on a pipe";

    // A pipe with a writer that has written and stays: no end of file ever.
    int reader_end = OtherEnd(fifo_, O_RDONLY);
    int writer = OtherEnd(fifo_, O_WRONLY);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "a = 1\n", 6), 6);
    taken = true;
    EXPECT_TRUE(ReturnsPromptly([&] { taken = r.read(fifo_); }, [&] { ::close(writer), writer = -1; }))
        << r.name << " on a pipe with a writer";
    EXPECT_FALSE(taken) << r.name << " on a pipe with a writer";
    if (writer >= 0) ::close(writer);
    ::close(reader_end);

    // A device that never ends, and a directory.
    for (std::string const& path : {std::string("/dev/zero"), dir_.path()}) {
      taken = true;
      EXPECT_TRUE(ReturnsPromptly([&] { taken = r.read(path); }, [] {})) << r.name << " on " << path;
      EXPECT_FALSE(taken) << r.name << " on " << path;
    }
  }
}

// Each writer, given a path, tells whether it reports the text written.
struct Writer {
  char const* name;
  std::function<bool(std::string const&)> write;
  std::string bytes;  // what a reader at the other end receives
};

std::vector<Writer> Writers() {
  return {
      {"HxPack::archive", [](std::string const& p) { return HxTime(5).archive(H(p)) != 0; },
       std::string("\x00\x00\x00\x01\x00\x01\x00\x01\x00\x00\x00\x05", 12)},
      {"HxPack::archiveXML", [](std::string const& p) { return HxTime(5).archiveXML(H(p)) != 0; },
       "<version>1</version>\n<object type = 'time'>\n\t<value>5</value>\n</object>"},
      {"hx_package_archive",
       [](std::string const& p) {
         _hx_package_pack* node = hx_package_new();
         hx_package_set_value(node, "v");
         int rc = hx_package_archive(node, p.c_str());
         hx_package_destroy(node);
         return rc != 0;
       },
       ""},
      {"HxFile::save", [](std::string const& p) { return HxFile::save(H(p), "text"); }, "text"},
  };
}

TEST_F(SpecialFiles, WritersFailAtOnceOnAPipeNobodyReadsAndFeedAReader) {
  for (Writer const& w : Writers()) {
    bool reported = true;
    EXPECT_TRUE(ReturnsPromptly([&] { reported = w.write(fifo_); }, DrainEnd())) << w.name;
    EXPECT_FALSE(reported) << w.name;

    // With a reader at the other end every byte arrives.
    int reader = OtherEnd(fifo_, O_RDONLY);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(w.write(fifo_)) << w.name;
    std::string got(1 << 16, '\0');
    ssize_t n = ::read(reader, &got[0], got.size());
    got.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (!w.bytes.empty()) {
      EXPECT_EQ(got, w.bytes) << w.name;
    }
    EXPECT_FALSE(got.empty()) << w.name;
    ::close(reader);
  }
}

TEST_F(SpecialFiles, ALogOnAPipeNobodyReadsLosesTheMessageNotTheThreads) {
  hx_debug_filename(H(fifo_), 0);
  HxDebug* log = hx_debug_obj();
  auto message = [log] {
    log->lock();
    log->mark() << "lost" << '\n';
    log->unlock();
  };
  EXPECT_TRUE(ReturnsPromptly(message, DrainEnd()));
  // Another thread can log at once afterwards.
  EXPECT_TRUE(ReturnsPromptly([&] { std::thread(message).join(); }, DrainEnd()));
  hx_debug_filename("", 0);
}

TEST_F(SpecialFiles, PositionedReadThatFailsPartWayReportsFailure) {
  // A read error is not the end of the file: the caller gets -1 and out as
  // it was. The process's own memory reads as a file whose bytes end in an
  // error where the mapping ends, after a first block that reads.
  long page = ::sysconf(_SC_PAGESIZE);
  char* map = static_cast<char*>(::mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(map, MAP_FAILED);
  ::munmap(map + page, page);
  std::memset(map, 'm', static_cast<size_t>(page));
  int mem = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
  if (mem < 0) GTEST_SKIP() << "no /proc/self/mem";
  auto at = static_cast<long long>(reinterpret_cast<uintptr_t>(map));
  struct Row {
    char const* what;
    int fd;
    long long start;
    long long count;
    long long result;
    std::string appended;
  } const rows[] = {
      {"a block, then an error", mem, at, -1, -1, ""},
      {"within the block", mem, at, 5, at + 5, "mmmmm"},
      {"an error at once", mem, at + page, 10, -1, ""},
      {"a descriptor closed", 9999, 0, -1, -1, ""},
  };
  for (Row const& row : rows) {
    HxString out("kept");
    EXPECT_EQ(HxFile::_loadpos(row.fd, row.start, row.count, out), row.result) << row.what;
    EXPECT_EQ(S(out), "kept" + row.appended) << row.what;
  }
  ::close(mem);
  ::munmap(map, static_cast<size_t>(page));
  ::munmap(map + 2 * page, static_cast<size_t>(page));
  // Through a path: the file is there, its first block fails to read.
  HxString out;
  EXPECT_EQ(HxFile::loadpos("/proc/self/mem", 0, 10, out), -1);
  EXPECT_EQ(out.length(), 0);
}

}  // namespace

#include "config/HxClientConfig.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/HxDefaults.h"
#include "core/HxDebug.h"
#include "core/HxFile.h"
#include "core/HxWorld.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::S;

std::string hosts(HxClientConfig const& c) {
  std::string out;
  for (int i = 0; i < c.supervisor_hosts().length(); ++i)
    out += (i ? "|" : "") + S(c.supervisor_hosts().get(i)->value());
  return out;
}

// A world whose client configuration file is one of the test's own.
class FileWorld : public HxWorld {
 public:
  HxString path;
  HxString clientConfigPath() override { return path; }
};

class HxClientConfigTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    world_.path = dir_.hxfile("hx.conf");
    hx_set_world(&world_);
    for (char const* name : {"HX_DIR", "HX_SUPERVISOR", "HX_DOMAIN"}) {
      char const* v = getenv(name);
      saved_.push_back({name, v != nullptr, v ? v : ""});
      unsetenv(name);
    }
  }
  void TearDown() override {
    hx_set_world(nullptr);
    for (auto const& s : saved_) {
      if (s.set) setenv(s.name, s.value.c_str(), 1);
      else unsetenv(s.name);
    }
  }
  void write(std::string const& text) { dir_.write("hx.conf", text); }
  // Waits (2 s at most) until the file system's clock has moved past the
  // file's last change, so that a read now may be kept.
  void settle() {
    for (int i = 0; i < 2000; ++i) {
      struct stat sb;
      timespec now;
      clock_gettime(CLOCK_REALTIME_COARSE, &now);
      if (stat(dir_.file("hx.conf").c_str(), &sb) != 0 || sb.st_ctim.tv_sec < now.tv_sec ||
          (sb.st_ctim.tv_sec == now.tv_sec && sb.st_ctim.tv_nsec < now.tv_nsec))
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // Sets the file's modification time.
  void stamp(timespec when) {
    timespec const times[2] = {when, when};
    utimensat(AT_FDCWD, dir_.file("hx.conf").c_str(), times, 0);
  }
  timespec mtime() {
    struct stat sb {};
    stat(dir_.file("hx.conf").c_str(), &sb);
    return sb.st_mtim;
  }

  struct Saved {
    char const* name;
    bool set;
    std::string value;
  };
  hxtest::TempDir dir_{"hxclient"};
  FileWorld world_;
  std::vector<Saved> saved_;
};

}  // namespace

TEST_F(HxClientConfigTest, WithoutFileOrVariablesEveryKeyTakesItsDefault) {
  HxClientConfig c;
  EXPECT_EQ(c.type(), 75);
  EXPECT_EQ(c.supervisor_hosts().length(), 0);
  EXPECT_EQ(S(c.hx_supervisor()), "");
  EXPECT_EQ(S(c.hx_domain()), "");
  EXPECT_EQ(S(c.hx_region()), "");
  EXPECT_EQ(S(c.supervisor_logpath()), "/var/spool/tarv");
  EXPECT_EQ(S(c.worker_logpath()), "/var/spool/tarv");
  EXPECT_EQ(S(c.worker_logmode()), "remote");
  EXPECT_EQ(S(c.client_logpath()), "/var/spool/tarv");
  EXPECT_EQ(S(c.worker_template_path()), S(hx_default_string(112)));
  EXPECT_EQ(c.client_timeout(), 600000);
  EXPECT_EQ(c.worker_port(), 50011);
  EXPECT_EQ(c.supervisor_port(), 50001);
  EXPECT_EQ(c.supervisor_sub_port(), 50002);
  EXPECT_EQ(c.supervisor_http_port(), 44444);
  EXPECT_EQ(c.client_job_flags(), 8);
  EXPECT_EQ(c.client_flags(), 0);
  EXPECT_EQ(S(c.worker_address()) + S(c.client_account()) + S(c.client_mail_address()), "");
}

TEST_F(HxClientConfigTest, KeysAreReadAsWritten) {
  write("client_logpath = /logs\nworker_address = w1\nworker_path_map = wpm\nclient_path_map = cpm\n"
        "client_cluster = /c\nclient_host_domain = hd\nclient_account = acct\nclient_restrictions = r\n"
        "client_drive_map = dm\nclient_priority = 10\nclient_p_agenda_priority = 20\n"
        "client_mail_address = a@b\nhx_region = north\nworker_logmode = local\n"
        "supervisor_logpath = \"\"\nworker_template_path = /types\nhx_unknown = x\n");
  HxClientConfig c;
  EXPECT_EQ(S(c.client_logpath()), "/logs");
  EXPECT_EQ(S(c.worker_address()), "w1");
  EXPECT_EQ(S(c.worker_path_map()), "wpm");
  EXPECT_EQ(S(c.client_path_map()), "cpm");
  EXPECT_EQ(S(c.client_cluster()), "/c");
  EXPECT_EQ(S(c.client_host_domain()), "hd");
  EXPECT_EQ(S(c.client_account()), "acct");
  EXPECT_EQ(S(c.client_restrictions()), "r");
  EXPECT_EQ(S(c.client_drive_map()), "dm");
  EXPECT_EQ(S(c.client_priority()), "10");
  EXPECT_EQ(S(c.client_p_agenda_priority()), "20");
  EXPECT_EQ(S(c.client_mail_address()), "a@b");
  EXPECT_EQ(S(c.hx_region()), "north");
  EXPECT_EQ(S(c.worker_logmode()), "local");
  EXPECT_EQ(S(c.supervisor_logpath()), "/var/spool/tarv");
  EXPECT_EQ(S(c.worker_template_path()), "/types");
}

TEST_F(HxClientConfigTest, EveryConstructionReadsTheFileAgain) {
  write("supervisor_port = 1\n");
  EXPECT_EQ(HxClientConfig().supervisor_port(), 1);
  write("supervisor_port = 2\n");
  EXPECT_EQ(HxClientConfig().supervisor_port(), 2);
  setenv("HX_DOMAIN", "envdomain", 1);
  EXPECT_EQ(S(HxClientConfig().hx_domain()), "envdomain");
}

TEST_F(HxClientConfigTest, SupervisorVariableReplacesBothKeys) {
  write("supervisor_host = c\nhx_supervisor = d\n");
  setenv("HX_SUPERVISOR", "a,b", 1);
  HxClientConfig c;
  EXPECT_EQ(hosts(c), "a|b");
  EXPECT_EQ(S(c.hx_supervisor()), "a,b");
}

TEST_F(HxClientConfigTest, HostTextSplitsAtCommasAndSpacesOnly) {
  write("supervisor_host = \"a, b  c,\"\n");
  EXPECT_EQ(hosts(HxClientConfig()), "a|b|c");
  write("supervisor_host = \"a\tb farm:50001\"\n");
  HxClientConfig c;
  EXPECT_EQ(hosts(c), "a\tb|farm:50001");
}

// A configured host's own port must reach the client; a port that is not one
// must not become some other number.
TEST_F(HxClientConfigTest, HostEntriesCarryTheirOwnPort) {
  struct Row {
    char const* text;
    bool env;
    char const* hosts;  // host/port of each entry
  } const rows[] = {
      {"farm:50001", false, "farm/50001"},
      {"farm:50001", true, "farm/50001"},
      {"a:1,b c:65535", true, "a/1|b/0|c/65535"},
      {"farm:0", false, "farm/0"},
      {"10.0.0.1:7", false, "10.0.0.1/7"},
      {"farm:65536", false, "farm:65536/0"},
      {"farm:4294967297", false, "farm:4294967297/0"},
      {"farm:-5", true, "farm:-5/0"},
      {"farm:abc", false, "farm:abc/0"},
      {"farm:50001x", false, "farm:50001x/0"},
      {"farm:", false, "farm:/0"},
      {":50001", false, ":50001/0"},
      {"farm:1:2", false, "farm:1:2/0"},
      {"::1", false, "::1/0"},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.text);
    if (row.env) {
      setenv("HX_SUPERVISOR", row.text, 1);
      write("");
    } else {
      unsetenv("HX_SUPERVISOR");
      write(std::string("supervisor_host = \"") + row.text + "\"\n");
    }
    HxClientConfig c;
    std::string got;
    for (int i = 0; i < c.supervisor_hosts().length(); ++i) {
      HxHostname const& h = *c.supervisor_hosts().get(i);
      got += (i ? "|" : "") + S(h.host()) + "/" + std::to_string(h.port());
    }
    EXPECT_EQ(got, row.hosts);
    EXPECT_EQ(S(c.hx_supervisor()), row.text);
  }
}

TEST_F(HxClientConfigTest, BothHostKeysAreListedInOrder) {
  write("supervisor_host = a\nhx_supervisor = b\n");
  HxClientConfig c;
  EXPECT_EQ(hosts(c), "a|b");
  EXPECT_EQ(S(c.hx_supervisor()), "b");
  write("supervisor_host = a\nhx_supervisor = a\n");
  EXPECT_EQ(hosts(HxClientConfig()), "a|a");
  write("hx_supervisor = \"\"\nsupervisor_host = x\n");
  HxClientConfig only;
  EXPECT_EQ(hosts(only), "x");
  EXPECT_EQ(S(only.hx_supervisor()), "x");
}

TEST_F(HxClientConfigTest, DomainFromVariableThenHxDomainThenSupervisorDomain) {
  write("supervisor_domain = d1\nhx_domain = d2\n");
  EXPECT_EQ(S(HxClientConfig().hx_domain()), "d2");
  setenv("HX_DOMAIN", "env", 1);
  EXPECT_EQ(S(HxClientConfig().hx_domain()), "env");
  setenv("HX_DOMAIN", "", 1);
  write("supervisor_domain = d1\nhx_domain = \"\"\n");
  EXPECT_EQ(S(HxClientConfig().hx_domain()), "d1");
}

TEST_F(HxClientConfigTest, NumbersThatAreZeroOrNotNumbersTakeTheDefault) {
  write("client_timeout = 0\nworker_port = abc\nsupervisor_port = -5\nsupervisor_sub_port = 7x\n"
        "supervisor_http_port =\n");
  HxClientConfig c;
  EXPECT_EQ(c.client_timeout(), 600000);
  EXPECT_EQ(c.worker_port(), 50011);
  EXPECT_EQ(c.supervisor_port(), -5);
  EXPECT_EQ(c.supervisor_sub_port(), 7);
  EXPECT_EQ(c.supervisor_http_port(), 44444);
  write("client_timeout = abc\nworker_port = -1\n");
  HxClientConfig d;
  EXPECT_EQ(d.client_timeout(), 600000);
  EXPECT_EQ(d.worker_port(), -1);
}

TEST_F(HxClientConfigTest, JobFlagsDefaultOnlyWhenTheKeyIsAbsent) {
  write("client_job_flags = none\n");
  EXPECT_EQ(HxClientConfig().client_job_flags(), 0);
  write("client_job_flags = 9\n");
  EXPECT_EQ(HxClientConfig().client_job_flags(), 9);
  write("client_job_flags = \"mail, grid\"\n");
  EXPECT_EQ(HxClientConfig().client_job_flags(), 0x404);
  write("client_job_flags =\n");
  EXPECT_EQ(HxClientConfig().client_job_flags(), 0);
  write("client_flags = restrict_domain\n");
  EXPECT_EQ(HxClientConfig().client_flags(), 0x80);
  write("client_flags = ssl,restrict_domain\n");
  EXPECT_EQ(HxClientConfig().client_flags(), 0xC0);
}

TEST_F(HxClientConfigTest, AddingAHostSkipsOneWithTheSameText) {
  write("supervisor_host = farm,other:7\n");
  HxClientConfig c;
  c.add_supervisor_host(new HxHostname(HxString("farm")));
  c.add_supervisor_host(new HxHostname(HxString("other"), 7));
  EXPECT_EQ(c.supervisor_hosts().length(), 2);
  c.add_supervisor_host(new HxHostname(HxString("farm"), 50001));
  c.add_supervisor_host(nullptr);
  EXPECT_EQ(hosts(c), "farm|other:7|farm:50001");
  c.supervisor_hosts("farm");
  EXPECT_EQ(c.supervisor_hosts().length(), 4);
  EXPECT_EQ(S(c.hx_supervisor()), "farm");
}

TEST_F(HxClientConfigTest, DisplayWritesOneLinePerFieldToTheDebugLog) {
  // Every field holds a value of its own, so a line in the wrong place shows.
  write("supervisor_host = a,b:9\nhx_domain = dom\nhx_region = reg\nsupervisor_port = 1\n"
        "supervisor_sub_port = 2\nsupervisor_logpath = /slog\nworker_address = wa\nworker_logmode = wm\n"
        "worker_logpath = /wlog\nworker_template_path = /wt\nworker_path_map = wpm\nworker_port = 3\n"
        "client_logpath =\nclient_path_map = cpm\nclient_cluster = /cc\nclient_host_domain = chd\n"
        "client_account = ca\nclient_restrictions = cr\nclient_drive_map = cdm\nclient_mail_address = m@x\n"
        "client_priority = 4\nclient_p_agenda_priority = 5\nclient_flags = ssl\nclient_job_flags = 9\n"
        "client_timeout = -6\nsupervisor_http_port = 7\n");
  std::string log = dir_.file("debug.log");
  hx_debug_filename(log.c_str(), 0);
  HxClientConfig().display();
  hx_debug_filename("", 0);
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "hx_supervisor(s) total: 2\n"
            "hx_supervisor: a\n"
            "hx_supervisor: b:9\n"
            "hx_domain: dom\n"
            "hx_region: reg\n"
            "supervisor_port: 1\n"
            "supervisor_sub_port: 2\n"
            "supervisor_logpath: /slog\n"
            "worker_address: wa\n"
            "worker_logmode: wm\n"
            "worker_logpath: /wlog\n"
            "worker_template_path: /wt\n"
            "worker_path_map: wpm\n"
            "worker_port: 3\n"
            "client_logpath: \n"
            "client_path_map: cpm\n"
            "client_cluster: /cc\n"
            "client_host_domain: chd\n"
            "client_account: ca\n"
            "client_restrictions: cr\n"
            "client_drive_map: cdm\n"
            "client_mail_address: m@x\n"
            "client_priority: 4\n"
            "client_p_agenda_priority: 5\n"
            "client_flags: 64\n"
            "client_job_flags: 9\n"
            "client_timeout: -6\n");
}

// The installation directory is process-wide and only moves up in level, so
// these run in a fresh process each.
TEST_F(HxClientConfigTest, DirectoryVariableOutranksTheFileKey) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        write("hx_directory = /srv/file\n");
        setenv("HX_DIR", "/opt/x", 1);
        HxClientConfig c;
        std::string got = S(c.hx_directory()) + " " + S(c.worker_template_path());
        std::fprintf(stderr, "%s", got.c_str());
        std::exit(got == "/opt/x /opt/x/types:/opt/jobtypes" ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(HxClientConfigTest, FileDirectoryIsTakenOnceOnly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        write("hx_directory = /srv/a\n");
        HxClientConfig first;
        write("hx_directory = /srv/b\n");
        HxClientConfig second;
        std::string got = S(first.worker_template_path()) + " " + S(second.hx_directory()) + " " +
                          S(second.worker_template_path());
        std::fprintf(stderr, "%s", got.c_str());
        std::exit(got == "/srv/a/types:/srv/jobtypes /srv/a /srv/a/types:/srv/jobtypes" ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// What one construction read is used again (the objects share its fields)
// only while the file, the three variables and the world are unchanged.
// Each row changes something (or nothing) and then builds a configuration:
// whether it shares the previous one's fields, and what it reads.
TEST_F(HxClientConfigTest, SnapshotHoldsWhileFileVariablesAndWorldStayTheSame) {
  std::string const file = dir_.file("hx.conf");
  struct Row {
    char const* what;
    std::function<void()> change;
    bool shared;
    char const* region_domain;
  } const rows[] = {
      {"first read", [&] { write("hx_region = r1\n"); settle(); }, false, "r1 "},
      {"nothing changed", [] {}, true, "r1 "},
      {"same text written again", [&] { write("hx_region = r1\n"); settle(); }, false, "r1 "},
      {"nothing changed", [] {}, true, "r1 "},
      {"same size, mtime put back",
       [&] {
         timespec const was = mtime();
         write("hx_region = r2\n");
         stamp(was);
         settle();
       },
       false, "r2 "},
      {"replaced by another file of the same size and mtime",
       [&] {
         timespec const was = mtime();
         dir_.write("next", "hx_region = r3\n");
         timespec const times[2] = {was, was};
         utimensat(AT_FDCWD, dir_.file("next").c_str(), times, 0);
         rename(dir_.file("next").c_str(), file.c_str());
         settle();
       },
       false, "r3 "},
      {"nothing changed", [] {}, true, "r3 "},
      {"variable set", [] { setenv("HX_DOMAIN", "d1", 1); }, false, "r3 d1"},
      {"nothing changed", [] {}, true, "r3 d1"},
      {"variable changed, same length", [] { setenv("HX_DOMAIN", "d2", 1); }, false, "r3 d2"},
      {"variable removed", [] { unsetenv("HX_DOMAIN"); }, false, "r3 "},
      {"world installed again", [&] { hx_set_world(&world_); }, false, "r3 "},
      {"nothing changed", [] {}, true, "r3 "},
      {"file removed", [&] { std::remove(file.c_str()); }, false, " "},
      {"still no file", [] {}, true, " "},
      {"a directory in its place", [&] { mkdir(file.c_str(), 0755); }, false, " "},
      {"an unreadable file is not kept", [] {}, false, " "},
      {"file back",
       [&] {
         rmdir(file.c_str());
         write("hx_region = r4\n");
         settle();
       },
       false, "r4 "},
      {"nothing changed", [] {}, true, "r4 "},
  };
  std::unique_ptr<HxClientConfig> previous;
  for (auto const& row : rows) {
    SCOPED_TRACE(row.what);
    row.change();
    auto c = std::make_unique<HxClientConfig>();
    if (previous != nullptr) {
      EXPECT_EQ(&c->hx_region() == &previous->hx_region(), row.shared);
    }
    EXPECT_EQ(S(c->hx_region()) + " " + S(c->hx_domain()), row.region_domain);
    previous = std::move(c);
  }
}

// A host list changed in one object stays there: the next object starts
// from the file's hosts again.
TEST_F(HxClientConfigTest, HostChangesStayInTheirObject) {
  write("hx_supervisor = farm\n");
  settle();
  HxClientConfig first;
  first.supervisor_hosts("extra");
  first.add_supervisor_host(new HxHostname(HxString("more")));
  HxClientConfig second;
  EXPECT_EQ(hosts(first), "farm|extra|more");
  EXPECT_EQ(S(first.hx_supervisor()), "extra");
  EXPECT_EQ(hosts(second), "farm");
  EXPECT_EQ(S(second.hx_supervisor()), "farm");
}

// Defaults built on the installation directory follow it when another
// source moves it after a snapshot was kept (a fresh process: the
// directory is process-wide).
TEST_F(HxClientConfigTest, DefaultsFollowTheInstallationDirectory) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        write("hx_region = r\n");
        settle();
        HxClientConfig first;
        HxClientConfig kept;
        hx_default_set_hxdir("/opt/api/tarv", kHxDirLevelApi);
        HxClientConfig moved;
        std::string got = S(kept.worker_template_path()) + " " + S(moved.worker_template_path());
        std::fprintf(stderr, "%s", got.c_str());
        bool const was_kept = &first.hx_region() == &kept.hx_region();
        std::exit(was_kept && got == "/Applications/kmo/tarv/types:/Applications/kmo/jobtypes "
                                     "/opt/api/tarv/types:/opt/api/jobtypes"
                      ? 0
                      : 1);
      },
      testing::ExitedWithCode(0), "");
}

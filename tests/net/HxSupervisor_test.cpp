#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/HxTime.h"
#include "net/DaemonTestUtil.h"
#include "net/HxCacheFile.h"
#include "net/HxClient.h"
#include "tests/net/FakePeer.h"

namespace {

using hxtest::H;

// A port on 127.0.0.1 where nobody listens.
int closed_port() {
  int fd = listening_socket();
  int port = local_port(fd);
  close(fd);
  return port;
}

FakeStep answer(int tag, std::function<HxPack*()> content = nullptr) {
  FakeStep s = FakeStep::reply(tag);
  s.content = std::move(content);
  return s;
}

HxPack* hostname(char const* host) { return new HxHostname(H(host)); }

// Configured hosts with their own ports (the configuration file names
// hosts only).
void set_hosts(HxClient& client, std::vector<std::pair<char const*, int>> const& hosts) {
  HxHostnameList& list = client.config().supervisor_hosts();
  list.clear();
  for (auto const& [host, port] : hosts) list.append(new HxHostname(H(host), port, -1));
}

std::string file_text(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct RedirectRow {
  char const* name;
  FakeStep first;   // the configured host's answer
  FakeStep second;  // the answer on the variant port
  bool explicit_host;
  bool result;
  int tag;
  size_t second_requests;
};

TEST(HxSupervisor, RedirectsAreFollowedOnceAndOnlyWhenWellFormed) {
  std::vector<RedirectRow> const rows = {
      {"one redirect", answer(7, [] { return hostname("127.0.0.1"); }), answer(3), false, true, 3, 1},
      {"a second redirect is a success", answer(7, [] { return hostname("127.0.0.1"); }),
       answer(7, [] { return hostname("127.0.0.1"); }), false, true, 7, 1},
      {"redirect without content ends the search", answer(7), answer(3), false, false, 7, 0},
      {"redirect of another class ends the search", answer(7, [] { return new HxDomain(H("x")); }), answer(3),
       false, false, 7, 0},
      {"explicit supervisor: returned unfollowed", answer(7, [] { return hostname("127.0.0.1"); }), answer(3), true,
       true, 7, 0},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    DaemonWorld world;  // outlives the peers' threads, which reach it through the seam
    FakePeer first({row.first}), second({row.second});
    ASSERT_TRUE(first.ok() && second.ok());
    std::string conf = "supervisor_port = " + std::to_string(second.tcpPort()) + "\n";
    if (row.explicit_host) {
      conf = "supervisor_port = " + std::to_string(first.tcpPort()) + "\n";
    } else {
      conf += "supervisor_domain = north\n";
    }
    world.config(conf);
    WorldGuard guard(world);
    HxClient client;
    if (row.explicit_host) client.setSupervisor("127.0.0.1");
    set_hosts(client, {{"127.0.0.1", first.tcpPort()}, {"127.0.0.1", second.tcpPort()}});
    HxMessage request(100), reply;
    EXPECT_EQ(client.converseSupervisor(request, reply), row.result);
    EXPECT_EQ(reply.tag(), row.tag);
    EXPECT_EQ(first.requests().size(), 1u);
    EXPECT_EQ(second.requests().size(), row.second_requests);
  }
}

TEST(HxSupervisor, HostsDownAreEachTriedOnceFromTheRandomStartBeforeTheCache) {
  DaemonWorld world;  // outlives the peers' threads, which reach it through the seam
  FakePeer cached({answer(3)});
  ASSERT_TRUE(cached.ok());
  int a = closed_port(), b = closed_port(), c = closed_port();
  world.config("supervisor_port = " + std::to_string(cached.tcpPort()) + "\n");
  utimbuf old_conf{1000, 1000};
  utime(world.dir.file("hx.conf").c_str(), &old_conf);
  world.draws = {0x60000000};  // 3 * r / 2^31 = 2.25: the third host first
  WorldGuard guard(world);
  ASSERT_TRUE(hx_cache_save(HxClient::cachePath(), "127.0.0.1"));
  utimbuf fresh{world.clock - 10, world.clock - 10};
  utime(S(HxClient::cachePath()).c_str(), &fresh);
  DebugLog log;
  HxClient client;
  set_hosts(client, {{"127.0.0.1", a}, {"127.000.0.1", b}, {"127.0.00.1", c}});
  HxMessage request(100), reply;
  EXPECT_TRUE(client.converseSupervisor(request, reply));
  std::string const lines = log.lines();
  size_t p2 = lines.find("with 127.0.00.1 "), p0 = lines.find("with 127.0.0.1 "), p1 = lines.find("with 127.000.0.1 ");
  ASSERT_NE(p2, std::string::npos);
  EXPECT_LT(p2, p0);
  EXPECT_LT(p0, p1);
  EXPECT_EQ(lines.find("with", p1 + 4), std::string::npos);  // each once
  EXPECT_EQ(cached.requests().size(), 1u);
}

struct CacheRow {
  char const* name;
  std::function<void(DaemonWorld&, std::string const&)> setup;
  bool used;
};

TEST(HxSupervisor, CacheFileIsUsedOnlyWhenFreshOwnAndAnAddress) {
  auto write = [](std::string const& path, std::string const& text) { std::ofstream(path) << text; };
  auto age = [](DaemonWorld& w, std::string const& path, int64_t seconds) {
    utimbuf t{w.clock - seconds, w.clock - seconds};
    utime(path.c_str(), &t);
  };
  std::vector<CacheRow> const rows = {
      {"fresh", [&](DaemonWorld& w, std::string const& p) { write(p, "127.0.0.1"), age(w, p, 10); }, true},
      {"599 s old", [&](DaemonWorld& w, std::string const& p) { write(p, "127.0.0.1"), age(w, p, 599); }, true},
      {"600 s old", [&](DaemonWorld& w, std::string const& p) { write(p, "127.0.0.1"), age(w, p, 600); }, false},
      {"older than the configuration",
       [&](DaemonWorld& w, std::string const& p) {
         write(p, "127.0.0.1"), age(w, p, 10), age(w, w.dir.file("hx.conf"), 5);
       },
       false},
      {"as old as the configuration",
       [&](DaemonWorld& w, std::string const& p) {
         write(p, "127.0.0.1"), age(w, p, 10), age(w, w.dir.file("hx.conf"), 10);
       },
       false},
      {"empty", [&](DaemonWorld& w, std::string const& p) { write(p, ""), age(w, p, 10); }, false},
      {"not an address", [&](DaemonWorld& w, std::string const& p) { write(p, "localhost"), age(w, p, 10); }, false},
      {"a line end after the address",
       [&](DaemonWorld& w, std::string const& p) { write(p, "127.0.0.1\n"), age(w, p, 10); }, false},
      {"a link",
       [&](DaemonWorld& w, std::string const& p) {
         write(p + ".real", "127.0.0.1"), age(w, p + ".real", 10), symlink((p + ".real").c_str(), p.c_str());
       },
       false},
      {"writable by others",
       [&](DaemonWorld& w, std::string const& p) { write(p, "127.0.0.1"), chmod(p.c_str(), 0646), age(w, p, 10); },
       false},
      {"another owner",
       [&](DaemonWorld& w, std::string const& p) {
         write(p, "127.0.0.1"), age(w, p, 10);
         if (getuid() == 0) (void)!chown(p.c_str(), 65534, 65534);
       },
       getuid() != 0},
      {"the corrected clock does not keep it fresh",
       [&](DaemonWorld& w, std::string const& p) { write(p, "127.0.0.1"), age(w, p, 700), HxTime::_setDiff(-1000); },
       false},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    DaemonWorld world;  // outlives the peers' threads, which reach it through the seam
    FakePeer peer({answer(3)});
    ASSERT_TRUE(peer.ok());
    world.config("supervisor_port = " + std::to_string(peer.tcpPort()) + "\nsupervisor_host = 127.0.0.1\n");
    utimbuf old_conf{1000, 1000};
    utime(world.dir.file("hx.conf").c_str(), &old_conf);
    WorldGuard guard(world);
    row.setup(world, S(HxClient::cachePath()));
    HxClient client;
    set_hosts(client, {{"127.0.0.1", closed_port()}});
    HxMessage request(100), reply;
    EXPECT_EQ(client.converseSupervisor(request, reply), row.used);
    EXPECT_EQ(peer.requests().size(), row.used ? 1u : 0u);
    HxTime::_resetClock();
  }
}

TEST(HxSupervisor, NothingConfiguredWarnsOnStandardErrorAndSendsNothing) {
  DaemonWorld world;
  WorldGuard guard(world);
  std::string err = world.dir.file("stderr");
  {
    StreamGuard streams;
    std::freopen(err.c_str(), "w", stderr);
    HxClient client;
    HxMessage request(100), reply;
    EXPECT_FALSE(client.converseSupervisor(request, reply));
    EXPECT_FALSE(client.converseSubSupervisor(request, reply));
    EXPECT_FALSE(client.telegramSupervisor(request));
    EXPECT_FALSE(client.transmitSupervisor(request));
    std::fflush(stderr);
  }
  std::string const line =
      "WARNING: hx_supervisor/hx_domain undefined in hx.conf or HX_SUPERVISOR/HX_DOMAIN undefined in  environment.\n";
  EXPECT_EQ(file_text(err), line + line);
}

struct RetryRow {
  int retries;
  bool reject;  // the supervisor refuses (tag 5) instead of being down
  size_t attempts;
  std::vector<int64_t> sleeps;
};

TEST(HxSupervisor, SubSupervisorRetries) {
  std::vector<RetryRow> const rows = {
      {-1, false, 0, {}},
      {0, false, 1, {}},
      {2, false, 3, {5000, 8000}},  // draws 6 and 9: 6 % 6 + 5, 9 % 6 + 5
      {1, true, 2, {1000, 1000}},   // a refusal pauses 1..10 s in converse and is retried at once
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.retries);
    DaemonWorld world;  // outlives the peers' threads, which reach it through the seam
    FakePeer peer({answer(row.reject ? 5 : 0)});
    ASSERT_TRUE(peer.ok());
    world.config("supervisor_sub_port = " + std::to_string(peer.tcpPort()) + "\nsupervisor_host = 127.0.0.1\n");
    world.draws = {6, 0, 0, 9, 0, 0};
    WorldGuard guard(world);
    DebugLog log;
    HxClient client;
    HxMessage request(120), reply;
    EXPECT_FALSE(client.converseSubSupervisorWithRetries(request, reply, row.retries));
    EXPECT_EQ(peer.requests().size(), row.attempts);
    std::vector<int64_t> long_pauses;
    for (int64_t s : world.sleeps)
      if (!row.reject ? s >= 5000 : true) long_pauses.push_back(s);
    if (!row.reject) {
      EXPECT_EQ(long_pauses, row.sleeps);
    } else {
      EXPECT_EQ(world.sleeps, row.sleeps);
    }
    if (row.attempts > 0) {
      EXPECT_NE(log.lines().find("WARNING: converseSubSupervisor() attempt[" + std::to_string(row.attempts) + "/" +
                                 std::to_string(row.attempts) + "] failed (supervisor down?).\n"),
                std::string::npos);
    }
  }
}

struct SyncRow {
  char const* name;
  bool reference;
  bool reachable;
  int64_t server_delta;  // the supervisor's time minus t0
  int64_t duration;      // t1 - t0
  std::function<HxPack*(int)> content;  // from the server time; null: an HxTime
  int diff;
  char const* file;  // the offset file afterwards; null: none
};

TEST(HxTimeSync, OffsetIsTheMiddleOfTheExchange) {
  std::vector<SyncRow> const rows = {
      {"100 s ahead over 4 s", false, true, 102, 4, nullptr, 100, "100"},
      {"1 s counts as 0 in the halving", false, true, 50, 1, nullptr, 50, "50"},
      {"behind", false, true, -30, 0, nullptr, -30, "-30"},
      {"time reference sends nothing", true, true, 102, 4, nullptr, 0, nullptr},
      {"unreachable", false, false, 0, 0, nullptr, 0, nullptr},
      {"no content", false, true, 0, 0, [](int) { return nullptr; }, 0, nullptr},
      {"another class", false, true, 0, 0, [](int) { return new HxDomain(H("north")); }, 0, nullptr},
      {"beyond int", false, true, 0, 0, [](int) { return new HxTime(INT_MIN); }, 0, nullptr},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    DaemonWorld world;
    WorldGuard guard(world);
    int64_t const t0 = world.clock - HX_TIME_EPOCH_OFFSET;
    FakeStep step = answer(34, [&] {
      world.clock += row.duration;
      return row.content ? row.content(0) : new HxTime(static_cast<int>(t0 + row.server_delta));
    });
    FakePeer peer({step});
    ASSERT_TRUE(peer.ok());
    world.config("supervisor_port = " + std::to_string(row.reachable ? peer.tcpPort() : closed_port()) + "\n");
    HxTime::_resetClock();
    HxTime::_setDiff(7);
    if (row.reference) HxTime::setAsReference();
    DebugLog log;
    HxTime::syncToServer(H("127.0.0.1"));
    EXPECT_EQ(HxTime::diff(), row.diff);
    std::string path = S(HxTime::offsetPath());
    if (row.file == nullptr) {
      EXPECT_NE(access(path.c_str(), F_OK), 0);
    } else {
      EXPECT_EQ(file_text(path), row.file);
      struct stat st;
      ASSERT_EQ(lstat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0600u);
      EXPECT_EQ(HxTime::readOffsetFile(H(path)), row.diff);
    }
    EXPECT_EQ(peer.requests().size(), row.reference || !row.reachable ? 0u : 1u);
    if (!row.reachable) {
      EXPECT_NE(log.lines().find("\nERROR: couldn't obtain time from supervisor.\n"), std::string::npos);
    }
    HxTime::_resetClock();
  }
}

TEST(HxTimeSync, FilesAreReplacedNotWrittenThroughLinks) {
  DaemonWorld world;
  WorldGuard guard(world);
  std::string victim = world.dir.file("victim");
  std::ofstream(victim) << "keep";
  std::string path = S(HxTime::offsetPath());
  ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
  EXPECT_EQ(HxTime::readOffsetFile(H(path)), 0);
  ASSERT_TRUE(hx_cache_save(H(path), "42"));
  EXPECT_EQ(file_text(victim), "keep");
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(HxTime::readOffsetFile(H(path)), 42);
  chmod(path.c_str(), 0620);
  EXPECT_EQ(HxTime::readOffsetFile(H(path)), 0);  // group may write: not believed
  EXPECT_FALSE(hx_cache_save(world.dir.hxfile("none/x"), "1"));
}

// The names of the entries made in a folder while fn runs, as the kernel
// reports them (inotify): whatever names a writer chooses.
std::vector<std::string> made_during(std::string const& dir, std::function<void()> const& fn) {
  std::vector<std::string> names;
  int const fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || inotify_add_watch(fd, dir.c_str(), IN_CREATE) < 0) {
    ADD_FAILURE() << "cannot watch " << dir;
    if (fd >= 0) close(fd);
    return names;
  }
  fn();
  alignas(inotify_event) char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) {
    for (char* p = buf; p < buf + n;) {
      auto const* e = reinterpret_cast<inotify_event const*>(p);
      if (e->len > 0) names.emplace_back(e->name);
      p += sizeof(inotify_event) + e->len;
    }
  }
  close(fd);
  return names;
}

// The supervisor cache is written as a new file of the user's own, mode
// 0600, that replaces whatever held its name: links planted at the name and
// at the names the writer uses for its temporary file are never written
// through, and an old file at the name is not reused. The temporary names
// are those a first save made in the folder; the second save draws the same
// numbers from the world, so it tries the same names first.
TEST(HxCacheFile, WrittenAsAFreshPrivateFileNeverThroughLinks) {
  struct Row {
    char const* name;
    char const* at_final;  // "": nothing; "link": to a victim; "dangling"; "file": an old 0644 file
  } const rows[] = {
      {"nothing there", ""},
      {"a link", "link"},
      {"a dangling link", "dangling"},
      {"an old file open to others", "file"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    DaemonWorld world;
    WorldGuard guard(world);
    world.draws = {12345, 67890, 13579};
    std::string const path = S(HxClient::cachePath());
    std::string const base = path.substr(path.rfind('/') + 1);
    std::vector<std::string> temporary_names;
    for (std::string const& name : made_during(world.dir.path(), [&] { ASSERT_TRUE(hx_cache_save(H(path), "1.2.3.4")); })) {
      if (name != base) temporary_names.push_back(world.dir.file(name));
    }
    ASSERT_FALSE(temporary_names.empty()) << "written in place, not through a new file";
    ASSERT_EQ(unlink(path.c_str()), 0);
    world.drawn = 0;

    std::vector<std::string> victims;
    auto plant = [&](std::string const& at) {
      victims.push_back(world.dir.file("victim" + std::to_string(victims.size())));
      std::ofstream(victims.back()) << "keep";
      ASSERT_EQ(symlink(victims.back().c_str(), at.c_str()), 0) << at;
    };
    for (std::string const& name : temporary_names) plant(name);
    std::string const at_final = row.at_final;
    std::string const nowhere = world.dir.file("nowhere");
    ino_t old_inode = 0;
    if (at_final == "link") plant(path);
    if (at_final == "dangling") {
      ASSERT_EQ(symlink(nowhere.c_str(), path.c_str()), 0);
    }
    if (at_final == "file") {
      std::ofstream(path) << "10.0.0.1";
      chmod(path.c_str(), 0644);
      struct stat st;
      ASSERT_EQ(stat(path.c_str(), &st), 0);
      old_inode = st.st_ino;
    }

    ASSERT_TRUE(hx_cache_save(H(path), "127.0.0.1"));

    for (std::string const& victim : victims) EXPECT_EQ(file_text(victim), "keep") << victim;
    for (std::string const& name : temporary_names) {
      struct stat st;
      ASSERT_EQ(lstat(name.c_str(), &st), 0) << name;
      EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
    }
    EXPECT_NE(access(nowhere.c_str(), F_OK), 0);
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, getuid());
    EXPECT_NE(st.st_ino, old_inode);
    EXPECT_EQ(file_text(path), "127.0.0.1");
  }
}

// The tags of the requests a peer received, in order.
std::vector<int> tags_of(FakePeer const& peer) {
  std::vector<int> out;
  for (auto const& bytes : peer.requests()) {
    HxMessage m;
    m.unpack(bytes.data(), static_cast<int>(bytes.size()));
    out.push_back(m.tag());
  }
  return out;
}

// Each entry as value (or host alone) and id: "host:port#id|...".
std::string host_list(HxHostnameList const& list, bool with_port = true) {
  std::string out;
  for (int i = 0; i < list.length(); ++i) {
    HxHostname const& h = *list.get(i);
    out += (i ? "|" : "") + S(with_port ? h.value() : h.host()) + "#" + std::to_string(h.id());
  }
  return out;
}

// A supervisor on one port number for TCP and UDP: discovery (401) is
// answered with its domain, id 7, or with `discovery` when given; anything
// else with tag 3.
FakePeer::Handler supervisor(std::function<HxPack*()> discovery = nullptr, int reply_tag = 3) {
  return [discovery, reply_tag](HxMessage& request, HxMessage& reply) {
    if (request.tag() != 401) {
      reply.tag(reply_tag);
      return true;
    }
    reply.tag(400);
    reply.content(discovery ? discovery() : new HxDomain(H("north"), H("east"), 7));
    return true;
  };
}

struct DiscoveryRow {
  char const* name;
  bool domain;                // hx_domain configured
  bool host;                  // 127.0.0.1 configured, on a port where nobody listens
  bool telegram;              // telegramSupervisor instead of converseSupervisor
  bool result;
  std::vector<int> requests;  // tags the supervisor received
  char const* hosts;          // the host list afterwards
  bool cached;
};

TEST(HxSupervisor, DiscoveredSupervisorIsUsedListedAndCached) {
  std::vector<DiscoveryRow> const rows = {
      {"nothing configured but the domain", true, false, false, true, {401, 100}, "127.0.0.1#-1", true},
      {"a configured host of that text is not listed twice", true, true, false, true, {401, 100}, "127.0.0.1#-1",
       true},
      {"telegram variant", true, false, true, true, {401, 100}, "127.0.0.1#-1", true},
      {"no domain: no broadcast", false, true, false, false, {}, "127.0.0.1#-1", false},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    DaemonWorld world;
    WorldGuard guard(world);
    FakePeer peer(FakePeer::OnePort{}, supervisor());
    ASSERT_TRUE(peer.ok());
    world.config("supervisor_port = " + std::to_string(peer.tcpPort()) + (row.domain ? "\nhx_domain = north\n" : "\n"));
    utimbuf old_conf{1000, 1000};
    utime(world.dir.file("hx.conf").c_str(), &old_conf);
    HxClient client;
    if (row.host) set_hosts(client, {{"127.0.0.1", closed_port()}});
    HxMessage request(100), reply;
    EXPECT_EQ(row.telegram ? client.telegramSupervisor(request) : client.converseSupervisor(request, reply),
              row.result);
    ASSERT_TRUE(peer.await(row.requests.size()));
    EXPECT_EQ(tags_of(peer), row.requests);
    EXPECT_EQ(host_list(client.supe_list(), false), row.hosts);
    std::string const cache = S(HxClient::cachePath());
    EXPECT_EQ(file_text(cache), row.cached ? "127.0.0.1" : "");
    if (!row.cached) continue;
    // The next client finds the supervisor through the cache, without a broadcast.
    HxClient next;
    EXPECT_TRUE(next.converseSupervisor(request, reply));
    ASSERT_TRUE(peer.await(row.requests.size() + 1));
    EXPECT_EQ(tags_of(peer).back(), 100);
    EXPECT_EQ(tags_of(peer).size(), row.requests.size() + 1);
  }
}

// Discovery by a real broadcast to 255.255.255.255, inside a private network
// namespace (the test runs itself again there; skipped where none can be made).
TEST(HxSupervisor, DiscoveryByRealBroadcastInPrivateNetwork) {
  if (!inside_private_network()) {
    int const code = run_in_private_network("HxSupervisor.DiscoveryByRealBroadcastInPrivateNetwork");
    if (code == 77 || code == 126 || code == 127) GTEST_SKIP() << "no private network namespace here";
    EXPECT_EQ(code, 0);
    return;
  }
  DaemonWorld world;
  WorldGuard guard(world);
  world.broadcast = "255.255.255.255";
  FakePeer peer(FakePeer::OnePort{}, supervisor(), 0);
  ASSERT_TRUE(peer.ok());
  world.config("supervisor_port = " + std::to_string(peer.tcpPort()) + "\nhx_domain = north\n");
  HxClient client;
  HxMessage request(100), reply;
  ASSERT_TRUE(client.converseSupervisor(request, reply));
  EXPECT_EQ(reply.tag(), 3);
  EXPECT_EQ(tags_of(peer), (std::vector<int>{401, 100}));
  EXPECT_EQ(file_text(S(HxClient::cachePath())), "127.0.0.1");
}

struct JoinRow {
  char const* name;
  char const* conf;           // extra configuration
  char const* hosts;          // configured hosts: w = wrong class, r = right, c = closed
  bool explicit_right;        // the explicit supervisor is the right one
  int draw;                   // the random start's draw
  bool result;
  size_t wrong_asked, right_asked;
};

TEST(HxSupervisor, JoinDomainTakesTheFirstDomainRecordAnswered) {
  std::vector<JoinRow> const rows = {
      {"a configured domain: nothing sent", "hx_domain = x\n", "wr", false, 0, false, 0, 0},
      {"explicit supervisor", "", "w", true, 0, true, 0, 1},
      {"another class goes on to the next host", "", "wr", false, 0, true, 1, 1},
      {"from the random start", "", "wr", false, 0x40000000, true, 0, 1},
      {"nobody suitable", "", "wc", false, 0, false, 1, 0},
      {"no hosts", "", "", false, 0, false, 0, 0},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    DaemonWorld world;
    WorldGuard guard(world);
    auto domain_reply = [](std::function<HxPack*()> make) {
      return [make](HxMessage& request, HxMessage& reply) {
        reply.tag(request.tag() == 402 ? 400 : 3);
        reply.content(make());
        return true;
      };
    };
    FakePeer wrong(domain_reply([] { return new HxHostname(H("north")); }));
    FakePeer right(domain_reply([] { return new HxDomain(H("north"), H("east"), 9); }));
    ASSERT_TRUE(wrong.ok() && right.ok());
    world.config(std::string("supervisor_port = ") + std::to_string(right.tcpPort()) + "\n" + row.conf);
    world.draws = {row.draw};
    HxClient client;
    std::vector<std::pair<char const*, int>> hosts;
    for (char const* h = row.hosts; *h; ++h)
      hosts.push_back({"127.0.0.1", *h == 'w' ? wrong.tcpPort() : *h == 'r' ? right.tcpPort() : closed_port()});
    set_hosts(client, hosts);
    if (row.explicit_right) client.setSupervisor("127.0.0.1");
    HxDomain domain(H("old"), H("old"), 1);
    EXPECT_EQ(client.joinDomain(domain), row.result);
    EXPECT_EQ(wrong.requests().size(), row.wrong_asked);
    EXPECT_EQ(right.requests().size(), row.right_asked);
    if (!row.result) continue;
    EXPECT_EQ(S(domain.value()) + "/" + S(domain.region()) + "/" + std::to_string(domain.id()), "north/east/9");
    // The client now has a domain of its own: it does not ask again.
    EXPECT_FALSE(client.joinDomain(domain));
    EXPECT_EQ(right.requests().size(), row.right_asked);
  }
}

TEST(HxSupervisor, MeetSupervisorVisitsEveryHostAndRestoresTheTimeOut) {
  DaemonWorld world;
  WorldGuard guard(world);
  FakePeer a({answer(3)}), b({answer(3)});
  ASSERT_TRUE(a.ok() && b.ok());
  world.config("supervisor_port = " + std::to_string(b.tcpPort()) + "\n");
  HxClient client;
  HxMessage request(100), reply;
  EXPECT_FALSE(client.meetSupervisor(request, reply));  // no hosts
  set_hosts(client, {{"127.0.0.1", a.tcpPort()}, {"127.0.0.1", closed_port()}, {"127.0.0.1", 0}});
  client.conversetimeout(1234);
  EXPECT_TRUE(client.meetSupervisor(request, reply));
  EXPECT_EQ(client.conversetimeout(), 1234);
  EXPECT_TRUE(a.await(1) && b.await(1));
  EXPECT_EQ(a.requests().size() + b.requests().size(), 2u);
}

struct FindRow {
  char const* name;
  unsigned char detect;
  bool configured;                     // a host configured
  std::function<HxPack*()> discovery;  // null: the supervisor's domain
  bool answer;                         // somebody listens
  char const* found;
};

TEST(HxSupervisor, FindSupervisorListsEachAnsweringSupervisorOnce) {
  std::vector<FindRow> const rows = {
      {"no detection: the configured hosts", 0, true, nullptr, true, "127.0.0.1:9#-1"},
      {"detection", 1, false, nullptr, true, "127.0.0.1#7"},
      {"no detection asked, none configured", 0, false, nullptr, true, "127.0.0.1#7"},
      {"detection also asks the configured hosts", 1, true, nullptr, true, "127.0.0.1#7"},
      {"an answer of another class", 1, false, [] { return new HxHostname(H("x")); }, true, ""},
      {"nobody answers", 1, false, nullptr, false, ""},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    DaemonWorld world;
    WorldGuard guard(world);
    FakePeer peer(FakePeer::OnePort{}, supervisor(row.discovery));
    ASSERT_TRUE(peer.ok());
    int const port = row.answer ? peer.tcpPort() : closed_port();
    world.config("supervisor_port = " + std::to_string(port) + "\nhx_domain = north\n");
    if (!row.answer) world.mode = NetWorld::kTimeOut;
    DebugLog log;
    HxClient client;
    if (row.configured) set_hosts(client, {{"127.0.0.1", 9}});
    bool const skipped = row.detect == 0 && row.configured;
    HxHostnameList found;
    if (skipped) found.append(new HxHostname(H("stale")));  // replaced, not added to
    EXPECT_TRUE(client.findSupervisor(found, row.detect));
    EXPECT_EQ(host_list(found), row.found);
    EXPECT_EQ(log.lines().find("INFO: findSupervisor() skipping detection") != std::string::npos, skipped);
    if (skipped) {
      EXPECT_TRUE(peer.requests().empty());
    } else if (row.answer) {
      // Every round sends once by broadcast and once to each configured host.
      ASSERT_TRUE(peer.await(100u * (row.configured ? 2 : 1)));
      EXPECT_EQ(tags_of(peer), std::vector<int>(100u * (row.configured ? 2 : 1), 401));
    } else {
      EXPECT_EQ(world.waits, std::vector<int>(100, 50));
    }
  }
}

}  // namespace

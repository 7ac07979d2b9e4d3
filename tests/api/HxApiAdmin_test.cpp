#include "api/HxApiAdmin.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "api/HxApiState.h"
#include "core/HxError.h"
#include "tests/api/ApiExchange.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::Answer;
using hxtest::joined;
using hxtest::S;

HxStringList strings(std::initializer_list<char const*> items) {
  HxStringList l;
  for (char const* s : items) l.append(new HxString(s));
  return l;
}

// The request as "tag:content", the content in a short text form.
std::string described(HxMessage const& m) {
  std::string out = std::to_string(m.tag()) + ":";
  if (auto const* l = dynamic_cast<HxStringList const*>(m.content())) return out + joined(*l);
  if (auto const* o = dynamic_cast<HxAdminOrder const*>(m.content()))
    return out + "action=" + std::to_string(o->action()) + " method=" + S(o->method()) +
           " value=" + std::to_string(o->value()) + " group=" + S(o->group()) + " users=" + joined(o->userlist());
  return out + (m.content() == nullptr ? "" : "?");
}

HxPack* error_record() { return new HxError(2055); }
HxPack* old_error() { return new HxOldError("supervisor says no"); }

// Every supervisor request of the area: what reaches the supervisor, and
// how each answer is judged (result, line, API error; 7 stands for an API
// error left alone, and a line is also the API error).
TEST(HxApiAdmin, RequestsAndOutcomes) {
  HxStringList none;
  HxStringList two = strings({"ann", "bob"});
  struct Row {
    char const* name;
    std::function<int()> call;
    Answer answer;
    int result;
    char const* sent;  // "" when nothing may be sent
    int error;
    char const* err;
  } const rows[] = {
      {"mode 3", [] { return hxsupervisorsetmode("3"); }, {1}, 1, "1022:set|3", 7, ""},
      {"mode words", [] { return hxsupervisorsetmode("reject_submit,stop_activity"); }, {1}, 1, "1022:set|3", 7, ""},
      {"unset", [] { return hxsupervisorunsetmode("enforce_password"); }, {4}, 1, "1022:unset|4", 7, ""},
      {"unknown mode", [] { return hxsupervisorsetmode("sleepy"); }, {1}, 0, "", 7, ""},
      {"empty mode", [] { return hxsupervisorunsetmode(""); }, {1}, 0, "", 7, ""},
      {"mode refused", [] { return hxsupervisorsetmode("2"); }, {3}, 0, "1022:set|2", 2054, ""},
      {"mode unreachable", [] { return hxsupervisorsetmode("2"); }, {1, {}, 530, false}, 0, "", 100000,
       "ERROR: unable to contact supervisor.\n"},
      {"capture", [] { return hxcapturehosts(); }, {1}, 1, "1025:refresh_workers", 7, ""},
      {"config", [] { return hxconfigworkers(); }, {1}, 1, "1025:config_workers", 7, ""},
      {"resync", [] { return hxresync(); }, {1}, 1, "1025:resync_supervisor", 7, ""},
      {"backup", [] { return hxbackup(); }, {2}, 1, "1025:backup_supervisor", 7, ""},
      {"reset refused", [] { return hxreset(); }, {3}, 0, "1025:reset_supervisor", 2054, ""},
      {"word error", [] { return hxadmincommand("x"); }, {4, error_record}, 0, "1025:x", 2055, ""},
      {"word old error", [] { return hxadmincommand("x"); }, {4, old_error}, 0, "1025:x", 100000, ""},
      {"word bare error", [] { return hxadmincommand("x"); }, {4}, 0, "1025:x", 2051, ""},
      {"word foreign error", [] { return hxadmincommand("x"); }, {4, [] { return new HxStringList; }}, 0, "1025:x",
       2051, ""},
      {"word unreachable", [] { return hxadmincommand("x"); }, {1, {}, 530, false}, 0, "", 100000,
       "ERROR: unable to contact supervisor.\n"},
      {"users", [&] { return hxadminuserperm("add", 5, two); }, {1}, 1,
       "1000:action=3 method=add value=5 group= users=ann|bob", 7, ""},
      {"users alias", [&] { return hxuserpermissions("del", -1, two); }, {1}, 1,
       "1000:action=3 method=del value=-1 group= users=ann|bob", 7, ""},
      {"no users", [&] { return hxadminuserperm("add", 5, none); }, {1}, 0, "", 7, ""},
      {"group", [&] { return hxadmingroupperm("set", 2, "fx", two); }, {1}, 1,
       "1000:action=4 method=set value=2 group=fx users=ann|bob", 7, ""},
      {"group alias", [&] { return hxgrouppermissions("set", 2, "fx", two); }, {1}, 1,
       "1000:action=4 method=set value=2 group=fx users=ann|bob", 7, ""},
      {"group refused", [&] { return hxadmingroupperm("set", 2, "fx", two); }, {3}, 0,
       "1000:action=4 method=set value=2 group=fx users=ann|bob", 7, ""},
      {"group error", [&] { return hxadmingroupperm("set", 2, "fx", two); }, {4, error_record}, 0,
       "1000:action=4 method=set value=2 group=fx users=ann|bob", 7, ""},
      {"group other tag", [&] { return hxadmingroupperm("set", 2, "fx", two); }, {2}, 0,
       "1000:action=4 method=set value=2 group=fx users=ann|bob", 7, ""},
      {"group unreachable", [&] { return hxadmingroupperm("set", 2, "fx", two); }, {1, {}, 530, false}, 0, "",
       100000, ""},
      {"lock", [] { return hxsupervisorlock(); }, {4}, 1, "", 7, ""},
      {"unlock", [] { return hxsupervisorunlock(); }, {4}, 1, "", 7, ""},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    _hx_set_error(7);
    auto x = hxtest::exchange(world, row.answer, row.call);
    EXPECT_EQ(x.result, row.result);
    EXPECT_EQ(x.err, row.err);
    EXPECT_EQ(hxerror().integervalue(), row.error);
    hxtest::expect_line_is_error(x.err);
    if (row.sent[0] == '\0') {
      EXPECT_TRUE(x.requests.empty());
      continue;
    }
    ASSERT_EQ(x.requests.size(), 1u);
    EXPECT_EQ(described(*x.requests[0]), row.sent);
  }
  EXPECT_EQ(joined(two), "ann|bob");
}

// The mode request's content, byte for byte: a string list of two items.
TEST(HxApiAdmin, ModeRequestBytes) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  auto x = hxtest::exchange(world, {1}, [] { return hxsupervisorsetmode("reject_submit"); });
  ASSERT_EQ(x.requests.size(), 1u);
  HxPack* content = x.requests[0]->content();
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(x.requests[0]->contenttype(), 55);
  content->pack();
  static char const expected[] =
      "\x00\x00\x00\x01"
      "\x00\x01\x00\x01" "\x00\x00\x00\x02"
      "\x00\x0a\x00\x03" "\x00\x00\x00\x03" "set"
      "\x00\x0a\x00\x03" "\x00\x00\x00\x01" "1";
  EXPECT_EQ(std::string(content->packContents(), static_cast<size_t>(content->packSize())),
            std::string(expected, sizeof expected - 1));
}

HxAdminResult* admin_result() {
  auto* r = new HxAdminResult;
  r->hostnames().append(new HxHostname("r1"));
  r->hostnames().append(new HxHostname("r2"));
  r->userlist().append(new HxString("zoe"));
  return r;
}

// The general administration order: lent and given back unchanged; the
// answer's hosts and users replace the caller's.
TEST(HxApiAdmin, OrderAndResult) {
  struct Row {
    char const* name;
    Answer answer;
    int result;
    char const* hosts;
    char const* users;
    int error;
    char const* err;
  } const rows[] = {
      {"result", {1, [] { return admin_result(); }}, 1, "r1|r2", "zoe", 7, ""},
      {"empty result", {1, [] { return new HxAdminResult; }}, 1, "", "", 7, ""},
      {"refused", {3, [] { return admin_result(); }}, 0, "old", "old", 2054, ""},
      {"error", {4, error_record}, 0, "old", "old", 2055, ""},
      {"blank", {1}, 0, "old", "old", 100000, "ERROR: data returned blank\n"},
      {"plain result", {1, [] { return new HxResult; }}, 0, "old", "old", 100000,
       "ERROR: result object returned invalid. - 188\n"},
      {"unreachable", {1, {}, 530, false}, 0, "old", "old", 100000, "ERROR: unable to contact supervisor.\n"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    _hx_set_error(7);
    HxAdminOrder order;
    order.action(9);
    order.username("ann");
    order.workers().append(new HxString("w1"));
    order.pack();
    std::string const before(order.packContents(), static_cast<size_t>(order.packSize()));
    HxAdminResult result;
    result.hostnames().append(new HxHostname("old"));
    result.userlist().append(new HxString("old"));
    auto x = hxtest::exchange(world, row.answer, [&] { return hxadmincommand(order, result); });
    EXPECT_EQ(x.result, row.result);
    EXPECT_EQ(x.err, row.err);
    EXPECT_EQ(hxerror().integervalue(), row.error);
    hxtest::expect_line_is_error(x.err);
    std::string hosts;
    for (int i = 0; i < result.hostnames().length(); ++i)
      hosts += (i ? "|" : "") + S(result.hostnames().get(i)->host());
    EXPECT_EQ(hosts, row.hosts);
    EXPECT_EQ(joined(result.userlist()), row.users);
    order.pack();
    EXPECT_EQ(std::string(order.packContents(), static_cast<size_t>(order.packSize())), before);
    if (row.answer.reachable) {
      ASSERT_EQ(x.requests.size(), 1u);
      EXPECT_EQ(x.requests[0]->tag(), 1040);
      auto* sent = dynamic_cast<HxAdminOrder*>(x.requests[0]->content());
      ASSERT_NE(sent, nullptr);
      EXPECT_EQ(S(sent->username()), "ann");
      EXPECT_EQ(joined(sent->workers()), "w1");
    }
  }
}

// The supervisor's files: names in, file records out, appended after what
// the caller held; the name list comes back as it was.
TEST(HxApiAdmin, Files) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  HxStringList names = strings({"held"});
  auto x = hxtest::exchange(world, {1, [] {
                                      HxStringList* l = new HxStringList;
                                      l->append(new HxString("a.conf"));
                                      return l;
                                    }},
                            [&] { return hxlistfiles(names); });
  EXPECT_EQ(x.result, 1);
  EXPECT_EQ(joined(names), "held|a.conf");
  ASSERT_EQ(x.requests.size(), 1u);
  EXPECT_EQ(described(*x.requests[0]), "1403:");

  HxFileList files;
  files.append(new HxFile);
  auto y = hxtest::exchange(world, {1, [] {
                                      auto* l = new HxFileList;
                                      l->append(new HxFile);
                                      return l;
                                    }},
                            [&] { return hxgetfiles(names, files); });
  EXPECT_EQ(y.result, 1);
  EXPECT_EQ(files.length(), 2);
  EXPECT_EQ(joined(names), "held|a.conf");
  ASSERT_EQ(y.requests.size(), 1u);
  EXPECT_EQ(described(*y.requests[0]), "1401:held|a.conf");
}

TEST(HxApiAdmin, FilterParam) {
  struct Row {
    char const* values;
    char const* fields;  // value/sign pairs; null: no filter
  } const rows[] = {
      {"", nullptr},
      {"a,b,,c", "a/|b/|c/"},
      {"a b", "a b/"},
      {",\t\n", ""},
      {"\ta\n", "a/"},
      {" a , b ", " a /| b /"},
      {">5,~x", "5/>|x/~"},
      {"one", "one/"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.values);
    auto filter = hxfilterparam("frames", row.values);
    if (row.fields == nullptr) {
      EXPECT_EQ(filter, nullptr);
      continue;
    }
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(S(filter->name()), "frames");
    EXPECT_EQ(S(filter->sign()), "=");
    EXPECT_EQ(filter->neg(), 0);
    std::string got;
    for (int i = 0; i < filter->fields().length(); ++i) {
      HxField const* f = filter->fields().get(i);
      got += (i ? "|" : "") + S(f->value()) + "/" + S(f->sign());
    }
    EXPECT_EQ(got, row.fields);
  }
}

HxJob named_job(char const* name) {
  HxJob job;
  job.name(name);
  return job;
}

// Jobs through a file in each format, and format 0 reading whatever form
// the file holds.
TEST(HxApiAdmin, ArchiveAndRecoverJob) {
  hxtest::TempDir dir("hxadmin");
  HxString const path = dir.hxfile("job");
  struct Row {
    int write;  // format written; -1: a job list of two, as XML; -2: bytes below
    int read;
    char const* name;  // the name read; null: nothing read
  } const rows[] = {
      {1, 1, "bin"}, {0, 0, "bin"}, {7, 0, "bin"}, {2, 2, "xml"}, {2, 0, "xml"}, {-1, 0, "first"},
      {2, 1, nullptr}, {1, 2, nullptr}, {-2, 0, nullptr}, {-2, 2, nullptr}, {-2, 1, nullptr},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(std::to_string(row.write) + " " + std::to_string(row.read));
    std::string const name = row.write == 1 || row.write == 0 || row.write == 7 ? "bin" : row.write == 2 ? "xml" : "";
    if (row.write >= 0) {
      HxJob job = named_job(name.c_str());
      int n = hxarchivejob(path, job, row.write);
      ASSERT_GT(n, 0);
      std::string bytes = dir.read("job");
      EXPECT_EQ(static_cast<size_t>(n), bytes.size());
      EXPECT_EQ(bytes[0] == '<', row.write == 2);
    } else if (row.write == -1) {
      HxJobList list;
      list.append(new HxJob(named_job("first")));
      list.append(new HxJob(named_job("second")));
      ASSERT_GT(list.archiveXML(path), 0);
    } else {
      dir.write("job", "neither form");
    }
    HxJob got = named_job("untouched");
    int n = hxrecoverjob(path, got, row.read);
    if (row.name == nullptr) {
      EXPECT_EQ(n, 0);
      continue;
    }
    EXPECT_GT(n, 0);
    EXPECT_EQ(S(got.name()), row.name);
  }
  HxJob job = named_job("x");
  EXPECT_EQ(hxarchivejob(dir.hxfile("no/such/dir"), job, 2), 0);
  EXPECT_EQ(hxrecoverjob(dir.hxfile("missing"), job, 0), 0);
}

// An archive is put in place only once written whole: a write that fails
// part way (past a file-size limit here, as on a full disk) gives 0 and
// leaves the earlier archive byte for byte, or no file where there was none,
// and no new file beside it; in both formats. Written whole, the file holds
// the record's bytes as before, with the mode a file written in place has:
// an earlier file's, else 0666 less the creation mask; a link at the path
// stays and the file it names is replaced.
TEST(HxApiAdmin, ArchiveReplacesTheFileOnlyWhenWrittenWhole) {
  HxJob const big = named_job(std::string(256 << 10, 'x').c_str());
  auto today = [](HxJob job, int format) {
    if (format == 2) job.packXML();
    else job.pack();
    return std::string(job.packContents(), static_cast<size_t>(job.packSize()));
  };
  mode_t const mask = umask(0);
  umask(mask);
  struct Row {
    int format;
    bool earlier;  // an earlier archive, mode 0640
    bool link;     // the path is a link to it
  } const rows[] = {
      {1, true, false}, {1, false, false}, {2, true, false}, {2, false, false}, {1, true, true}, {2, true, true},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(std::to_string(row.format) + (row.earlier ? " earlier" : " none") + (row.link ? " link" : ""));
    hxtest::TempDir dir("hxarchive");
    HxString const path = dir.hxfile("job");
    std::string const file = row.link ? "target" : "job";
    std::string earlier;
    if (row.earlier) {
      HxJob old = named_job("earlier");
      ASSERT_GT(hxarchivejob(dir.hxfile(file), old, row.format), 0);
      ASSERT_EQ(chmod(dir.file(file).c_str(), 0640), 0);
      if (row.link) {
        ASSERT_EQ(symlink(dir.file(file).c_str(), dir.file("job").c_str()), 0);
      }
      earlier = dir.read(file);
    }
    auto entries = [&] {
      std::vector<std::string> names;
      for (auto const& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
      std::sort(names.begin(), names.end());
      return testing::PrintToString(names);
    };
    std::string const kept = entries();
    int const code = hxtest::run_with_limit(RLIMIT_FSIZE, 64 << 10, [&] {
      HxJob job = big;
      return hxarchivejob(path, job, row.format) == 0 ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(entries(), kept);
    std::string const after = dir.read(file);
    EXPECT_TRUE(after == earlier) << after.size() << " bytes in place of the " << earlier.size() << " earlier ones";

    HxJob job = big;
    std::string const want = today(big, row.format);
    EXPECT_EQ(hxarchivejob(path, job, row.format), static_cast<int>(want.size()));
    std::string const written = dir.read(file);
    EXPECT_TRUE(written == want) << written.size() << " bytes written, not the " << want.size() << " of the record";
    EXPECT_EQ(entries(), row.link ? "{ \"job\", \"target\" }" : "{ \"job\" }");
    struct stat st;
    ASSERT_EQ(lstat(dir.file(file).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, row.earlier ? 0640u : 0666u & ~mask);
    if (row.link) {
      EXPECT_TRUE(lstat(dir.file("job").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    }
  }
}

}  // namespace

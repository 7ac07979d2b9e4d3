#include "api/HxApiStats.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "api/HxApiState.h"
#include "model/farm/HxPreference.h"
#include "model/job/HxCommand.h"
#include "model/job/HxHistory.h"
#include "model/job/HxLog.h"
#include "tests/api/ApiExchange.h"
#include "tests/api/ApiTestUtil.h"

using hxtest::S;

namespace {

constexpr int kSentinel = 7777;

template <class List>
HxPack* one() {
  auto* l = new List;
  l->append(new typename std::remove_pointer<decltype(l->get(0))>::type);
  return l;
}

// Each request with its tag and content, the answer appended after what the
// caller held, and the family's failures: silent when nobody answers, a line
// for an error reply; the API error names the cause of either and is left
// alone by a success.
TEST(HxApiStats, RequestsRepliesAndFailures) {
  struct Row {
    char const* name;
    std::function<int(int&)> call;  // gives the caller's list length
    int tag, sent_type;
    std::function<HxPack*()> answer;
    int reply_tag;
    int result, length;
    char const* err;
  } const rows[] = {
      {"hist", [](int& n) { HxCommand c; HxHistoryList l; int r = hxhist(c, l); n = l.length(); return r; }, 103, 30,
       one<HxHistoryList>, 1, 1, 1, ""},
      {"stats from supervisor", [](int& n) { HxCommand c; c.jobids().append(new HxJobId(42, 0)); HxLogList l;
         int r = hxstats(c, l); n = l.length(); return r; }, 110, 30, one<HxLogList>, 1, 1, 1, ""},
      {"farminfo", [](int& n) { HxStringList l; int r = hxfarminfo("racks", l); n = l.length(); return r; }, 109, 55,
       one<HxStringList>, 1, 1, 1, ""},
      {"queuetally keeps earlier",
       [](int& n) {
         HxDataTableList l;
         l.append(new HxDataTable);
         l.append(new HxDataTable);
         int r = hxqueuetally(l);
         n = l.length();
         return r;
       },
       115, 0, one<HxDataTableList>, 1, 1, 3, ""},
      {"queuesummary", [](int& n) { HxStringList names; names.append(new HxString("q")); HxDataTableList l;
         int r = hxqueuesummary(names, l); n = l.length(); return r; }, 106, 55, one<HxDataTableList>, 1, 1, 1, ""},
      {"hist error reply", [](int& n) { HxCommand c; HxHistoryList l; int r = hxhist(c, l); n = l.length(); return r; },
       103, 30, [] { return new HxOldError("no"); }, 4, 0, 0, "ERROR: list object returned invalid. - 52\n"},
      {"queuetally blank", [](int& n) { HxDataTableList l; int r = hxqueuetally(l); n = l.length(); return r; }, 115, 0,
       nullptr, 1, 0, 0, "ERROR: data returned blank\n"},
      {"farminfo wrong list", [](int& n) { HxStringList l; int r = hxfarminfo("x", l); n = l.length(); return r; }, 109,
       55, one<HxDataTableList>, 1, 0, 0, "ERROR: list object returned invalid. - 39\n"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    for (bool up : {true, false}) {
      hxtest::ApiWorld world;
      hxtest::ApiWorldGuard guard(world);
      hxtest::FakeFarm farm(world, [&row](HxMessage&, HxMessage& rep) {
        return hxtest::answer(rep, row.reply_tag, row.answer ? row.answer() : nullptr);
      });
      if (!up) {
        int closed = 0;
        {
          FakePeer gone;
          closed = gone.tcpPort();
        }
        world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + std::to_string(closed) + "\n");
      }
      hxsetclientlogpath(kHxUseSupervisor);
      _hx_set_error(kSentinel);
      int length = -1;
      testing::internal::CaptureStderr();
      int const result = row.call(length);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), up ? row.err : "");
      if (!up) {
        EXPECT_EQ(S(hxerror().value()), "unable to contact supervisor.");
      } else if (row.err[0] != '\0') {
        EXPECT_EQ(S(hxerror().value()), hxtest::cause_of(row.err));
      } else {
        EXPECT_EQ(hxerror().integervalue(), kSentinel);
      }
      hxsetclientlogpath("");
      if (!up) {
        EXPECT_EQ(result, 0);
        continue;
      }
      EXPECT_EQ(result, row.result);
      EXPECT_EQ(length, row.length);
      auto got = farm.requests();
      ASSERT_EQ(got.size(), 1u);
      EXPECT_EQ(got[0]->tag(), row.tag);
      EXPECT_EQ(got[0]->contenttype(), row.sent_type);
    }
  }
}

// The farm information request carries its own one-name list, even for an
// empty name.
TEST(HxApiStats, FarmInfoSendsTheName) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeFarm farm(world, [](HxMessage&, HxMessage& rep) { return hxtest::answer(rep, 1, new HxStringList); });
  HxStringList items;
  ASSERT_EQ(hxfarminfo("", items), 1);
  ASSERT_EQ(hxfarminfo("ab", items), 1);
  auto got = farm.requests();
  ASSERT_EQ(got.size(), 2u);
  for (auto const& m : got) m->content()->pack();
  EXPECT_EQ(std::string(got[0]->content()->packContents(), static_cast<size_t>(got[0]->content()->packSize())),
            std::string("\x00\x00\x00\x01\x00\x01\x00\x01\x00\x00\x00\x01\x00\x0a\x00\x03\x00\x00\x00\x00", 20));
  EXPECT_EQ(std::string(got[1]->content()->packContents(), static_cast<size_t>(got[1]->content()->packSize())),
            std::string("\x00\x00\x00\x01\x00\x01\x00\x01\x00\x00\x00\x01\x00\x0a\x00\x03\x00\x00\x00\x02" "ab", 22));
}

// Statistics come from the log tree when it holds the job, from the
// supervisor when it does not or when the log path says to ask it.
TEST(HxApiStats, StatsLocalRoadFirst) {
  hxtest::TempDir tree("hxstats");
  HxString const base = hxtest::H(tree.path());
  HxLog::jobbuilddir(base, 42);
  {
    std::string const file = S(HxLog::joblogfile(base, 42, 0, 3));
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("cpu 12\n", f);
    std::fclose(f);
  }
  struct Row {
    char const* logpath;
    int job;
    bool asked;
  } const rows[] = {
      {nullptr, 42, false},
      {nullptr, 43, true},
      {kHxUseSupervisor, 42, true},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(std::string(row.logpath ? row.logpath : "tree") + " " + std::to_string(row.job));
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeFarm farm(world, [](HxMessage&, HxMessage& rep) { return hxtest::answer(rep, 1, new HxLogList); });
    hxsetclientlogpath(row.logpath ? HxString(row.logpath) : base);
    HxCommand cmd;
    cmd.jobids().append(new HxJobId(row.job, 0));
    HxLogList logs;
    EXPECT_EQ(hxstats(cmd, logs), 1);
    hxsetclientlogpath("");
    EXPECT_EQ(farm.requests().size(), row.asked ? 1u : 0u);
    if (row.asked) continue;
    ASSERT_EQ(logs.length(), 1);
    EXPECT_EQ(S(logs.get(0)->data()), "cpu 12\n");
  }
}

TEST(HxApiStats, CurrentUserAndDomain) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  EXPECT_EQ(S(hxcurrentdomain()), ".");
  world.config("client_host_domain = render.example\n");
  EXPECT_EQ(S(hxcurrentdomain()), "render.example");
  EXPECT_GT(hxcurrentuser().length(), 0);
}

}  // namespace

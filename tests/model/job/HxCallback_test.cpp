#include "model/job/HxCallback.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "model/job/HxPost.h"
#include "model/job/JobTestUtil.h"

namespace {

TEST(HxCallbackText, LanguageWords) {
  struct Row {
    int code;
    char const* word;
  } const rows[] = {{1, "perl"}, {2, "python"},     {3, "tcl"},           {4, "tarv"},     {5, "unknown"},
                    {6, "post"}, {7, "mail"},       {8, "dependency"},    {9, "auto_wrangling"},
                    {0, "unknown"}, {-1, "unknown"}, {10, "unknown"}};
  for (auto const& r : rows) {
    HxCallback c;
    c.language(r.code);
    EXPECT_EQ(S(c.languagestring()), r.word) << r.code;
    HxCallback back;
    back.language(1);
    back.languagestring(r.word);
    EXPECT_EQ(back.language(), r.code >= 1 && r.code <= 9 ? r.code : 5) << r.word;
  }
  for (char const* word : {"Perl", "", "post "}) {
    HxCallback c;
    c.languagestring(word);
    EXPECT_EQ(c.language(), 5) << word;
  }
  EXPECT_EQ(HxCallback().language(), 5);
}

// The events of a trigger text as their full names, sorted (the list holds
// them in a hash's slot order).
std::vector<std::string> trigger_names(char const* text, HxEventList& events) {
  HxCallback c;
  c.triggers(text);
  c.pid(5);
  c.triggers(events);
  std::vector<std::string> names;
  for (int i = 0; i < events.length(); ++i) names.push_back(S(events.get(i)->fullname()));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(HxCallbackText, TriggersGiveOneEventPerDistinctName) {
  using V = std::vector<std::string>;
  struct Row {
    char const* text;
    V names;
  } const rows[] = {
      {"done-job-a and (done-job-b or done-job-a)", V{"done-job-a", "done-job-b"}},
      {"'x-job-render pass'", V{"x-job-render pass"}},
      {"start", V{}},
      {"a-b-c", V{}},
      {"", V{}},
      {"(done-subjob-a-3)and x-global", V{"done-subjob-a-3", "x-global"}},
      {"\"unterminated-job-x", V{"unterminated-job-x"}},
  };
  for (auto const& r : rows) {
    HxEventList events;
    EXPECT_EQ(trigger_names(r.text, events), r.names) << r.text;
    for (int i = 0; i < events.length(); ++i) EXPECT_EQ(events.get(i)->pid(), -1) << r.text;
  }
  HxEventList events;
  events.append(new HxEvent(HxString("old-job-x")));
  trigger_names("new-job-y", events);
  ASSERT_EQ(events.length(), 2);
  EXPECT_EQ(S(events.get(0)->fullname()), "old-job-x");
  HxEventList quoted;
  trigger_names("'x-job-render pass'", quoted);
  ASSERT_EQ(quoted.length(), 1);
  EXPECT_EQ(S(quoted.get(0)->label()), "render pass");
}

TEST(HxCallbackText, ReadyTextsGivePairsAndStopAtTheEnd) {
  using M = std::map<std::string, std::string>;
  struct Row {
    char const* text;
    M pairs;
  } const rows[] = {
      {"j1 1 j2 0", M{{"j1", "1"}, {"j2", "0"}}},
      {"0", M{}},
      {"j1 ", M{}},
      {"", M{}},
      {"j1 1 j2", M{{"j1", "1"}}},
      {"j1 1 j2 ", M{{"j1", "1"}}},
      {"j1 1 j1 0", M{{"j1", "0"}}},
      {"a-very-long-job-name-beyond-any-buffer-size-of-sixty-four-characters-at-all 1",
       M{{"a-very-long-job-name-beyond-any-buffer-size-of-sixty-four-characters-at-all", "1"}}},
      {"j1 1", M{{"j1", "1"}}},
      {" 1", M{{"", "1"}}},
  };
  for (auto const& r : rows) {
    HxCallback c;
    c.ready(r.text);
    HxStringHash table;
    table.set(new HxString("kept"), "other");
    c.ready(table);
    M got;
    HxStringList keys;
    table.keys(keys);
    for (int i = 0; i < keys.length(); ++i) got[S(*keys.get(i))] = S(*table.get(*keys.get(i)));
    keys.forget();
    M want = r.pairs;
    want["other"] = "kept";
    EXPECT_EQ(got, want) << r.text;
  }
  HxCallback fresh;
  EXPECT_EQ(S(fresh.ready()), "0");
}

TEST(HxCallbackBytes, FieldsTravelInTheirOwnOrder) {
  HxCallback c;
  c.code("c");
  c.triggers("t");
  c.user("u");
  EXPECT_EQ(hex("00 00 00 01"
                "00 01 00 01 FF FF FF FF"                                     // id
                "00 0A 00 01 FF FF FF FF"                                     // pid
                "00 03 00 03 00 00 00 01 63"                                  // code
                "00 06 00 03 00 00 00 01 74"                                  // triggers
                "00 02 00 01 00 00 00 05"                                     // language
                "00 05 00 01 FF FF FF FF"                                     // max
                "00 04 00 01 00 00 00 00"                                     // count
                "00 09 00 03 00 00 00 01 75"                                  // user
                "00 08 00 03 00 00 00 01 30"                                  // ready "0"
                "00 0B 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 00"),  // last update
            packed(c));
  c.maximum(4);
  c.lastupdate(HxTime(1000));
  std::string const text = xml_of(c);
  EXPECT_NE(text.find("<max>4</max>"), std::string::npos);
  EXPECT_NE(text.find("<lastupdate>"), std::string::npos);

  HxCallbackList list;
  list.append(new HxCallback(c));
  list.append(new HxCallback());
  list.get(1)->id(3);
  list.get(1)->count(2);
  list.get(1)->ready("j 1");
  list.get(1)->language(8);
  expect_round_trip(list);
}

class HxCallbackLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/hx_callback_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::remove(path().c_str());
    ::rmdir(dir_.c_str());
  }
  std::string path() const { return dir_ + "/lib.conf"; }
  std::string dir_;
};

TEST_F(HxCallbackLoad, SectionsWithLanguageAndCodeBecomeCallbacks) {
  std::ofstream(path()) << "[done-job-A]\nlanguage = python\ncode = print(1)\nmax = 3\n"
                           "[done-job-b]\nlanguage = Perl\ncode = x\n"
                           "[done-job-c]\nlanguage =\ncode = y\n"
                           "[done-job-d]\nlanguage = tcl\n"
                           "[done-job-e]\nlanguage = tcl\ncode = z\nmax = many\n";
  HxCallbackList list;
  list.append(new HxCallback());
  list.load(path().c_str());
  list.load(path().c_str());
  ASSERT_EQ(list.length(), 7);
  std::map<std::string, int> seen;
  for (int i = 1; i < list.length(); ++i) {
    HxCallback const& c = *list.get(i);
    std::string const t = S(c.triggers());
    ++seen[t];
    EXPECT_EQ(c.pid(), -1);
    EXPECT_EQ(S(c.ready()), "0");
    if (t == "done-job-A") {
      EXPECT_EQ(c.language(), 2);
      EXPECT_EQ(S(c.code()), "print(1)");
      EXPECT_EQ(c.maximum(), 3);
    } else if (t == "done-job-b") {
      EXPECT_EQ(c.language(), 5);
      EXPECT_EQ(c.maximum(), -1);
    } else {
      EXPECT_EQ(t, "done-job-e");
      EXPECT_EQ(c.maximum(), 0);
    }
  }
  EXPECT_EQ(seen, (std::map<std::string, int>{{"done-job-A", 2}, {"done-job-b", 2}, {"done-job-e", 2}}));
  HxCallbackList none;
  none.load((dir_ + "/missing.conf").c_str());
  EXPECT_EQ(none.length(), 0);
}

TEST(HxPost, TurnsIntoACallbackOfLanguagePost) {
  struct Row {
    char const* address;
    int port;
    int pid;
    char const* code;
  } const rows[] = {{"10.0.0.5", 5001, 12, "10.0.0.5:5001"}, {nullptr, -1, -1, "0.0.0.0:-1"}};
  for (auto const& r : rows) {
    HxPost p;
    if (r.address != nullptr) p.address(HxAddress(HxString(r.address)));
    p.port(r.port);
    p.pid(r.pid);
    p.id(44);
    p.triggers("done-job-x");
    HxCallback* c = p.callback();
    EXPECT_EQ(S(c->code()), r.code);
    EXPECT_EQ(c->language(), 6);
    EXPECT_EQ(c->pid(), r.pid);
    EXPECT_EQ(S(c->triggers()), "done-job-x");
    EXPECT_EQ(c->id(), -1);
    EXPECT_EQ(c->maximum(), -1);
    EXPECT_EQ(S(c->ready()), "0");
    delete c;
  }
}

TEST(HxPostBytes, PostsAndSubscriptionsTravelInTheirOwnOrder) {
  HxPost p;
  EXPECT_EQ(hex("00 00 00 01"
                "00 02 00 01 FF FF FF FF"                                      // pid
                "00 01 00 01 FF FF FF FF"                                      // id
                "00 04 00 01 FF FF FF FF"                                      // port
                "00 05 00 03 00 00 00 00"                                      // triggers
                "00 03 00 04 00 00 00 0D 00 00 00 08 00 01 00 01 00 00 00 00"),  // address
            packed(p));
  HxSubscription s;
  EXPECT_EQ(hex("00 00 00 01"
                "00 02 00 04 00 00 00 0D 00 00 00 08 00 01 00 01 00 00 00 00"
                "00 01 00 01 FF FF FF FF"),
            packed(s));

  char const buffer[] = "done-job-a and more";
  p.triggers(buffer, 10);
  EXPECT_EQ(S(p.triggers()), "done-job-a");
  p.address(HxAddress(HxString("192.168.1.2")));
  p.port(80);
  HxPostList posts;
  posts.append(new HxPost(p));
  posts.append(new HxPost());
  expect_round_trip(posts);
  s.port(9);
  s.address(HxAddress(HxString("127.0.0.1")));
  HxSubscriptionList subs;
  subs.append(new HxSubscription(s));
  expect_round_trip(subs);
}

}  // namespace

#include "model/job/HxJobGraph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/model/job/WireRecords.h"

namespace {

HxJobNode* node(char const* label, char const* dependency = "") {
  auto* n = new HxJobNode();
  n->job().label(label);
  n->job().dependency(dependency);
  return n;
}

HxJobLink* link(char const* start, char const* end) {
  auto* l = new HxJobLink();
  l->startlabel(start);
  l->endlabel(end);
  return l;
}

struct Compiled {
  std::string label, dependency;
  int subjobstatus;
};

std::vector<Compiled> compiled(HxJobList const& out) {
  std::vector<Compiled> v;
  for (int i = 0; i < out.length(); ++i)
    v.push_back({S(out.get(i)->label()), S(out.get(i)->dependency()), out.get(i)->subjobstatus().integervalue()});
  return v;
}

bool operator==(Compiled const& a, Compiled const& b) {
  return a.label == b.label && a.dependency == b.dependency && a.subjobstatus == b.subjobstatus;
}

std::ostream& operator<<(std::ostream& o, Compiled const& c) {
  return o << "{" << c.label << ", " << c.dependency << ", " << c.subjobstatus << "}";
}

// Every compiled job is read after the table is gone: under the address
// sanitizer a job freed by the label table shows here.
TEST(HxJobGraphCompile, DependenciesByLabel) {
  struct Row {
    char const* name;
    std::vector<std::pair<char const*, char const*>> nodes;  // label, own dependency
    std::vector<std::pair<char const*, char const*>> links;
    std::vector<Compiled> want;
  } const rows[] = {
      {"a b c",
       {{"a", "x"}, {"b", ""}, {"c", "old"}},
       {{"a", "c"}, {"b", "c"}},
       {{"a", "x", 0}, {"b", "", 0}, {"c", "done-job-a and done-job-b", 272}}},
      {"three into one",
       {{"w", ""}},
       {{"x", "w"}, {"y", "w"}, {"z", "w"}},
       {{"w", "done-job-x and done-job-y and done-job-z", 272}}},
      {"shared label: the last takes it",
       {{"s", "1"}, {"s", "2"}, {"t", ""}},
       {{"t", "s"}},
       {{"s", "1", 0}, {"s", "done-job-t", 272}, {"t", "", 0}}},
      {"empty labels",
       {{"", ""}, {"", ""}, {"", ""}},
       {{"q", ""}},
       {{"", "", 0}, {"", "", 0}, {"", "done-job-q", 272}}},
      {"missing end label", {{"a", "d"}}, {{"a", "nobody"}}, {{"a", "d", 0}}},
      {"no links", {{"a", "d"}, {"b", ""}}, {}, {{"a", "d", 0}, {"b", "", 0}}},
      {"no nodes", {}, {{"a", "b"}}, {}},
  };
  for (Row const& r : rows) {
    SCOPED_TRACE(r.name);
    HxJobGraph g;
    for (auto const& n : r.nodes) g.jobs().append(node(n.first, n.second));
    for (auto const& l : r.links) g.links().append(link(l.first, l.second));
    HxJobList out;
    EXPECT_TRUE(g.compile(out));
    EXPECT_EQ(compiled(out), r.want);
    // The nodes themselves are not changed.
    for (int i = 0; i < g.jobs().length(); ++i) EXPECT_EQ(g.jobs().get(i)->job().subjobstatus().integervalue(), 0);
  }
}

TEST(HxJobGraphCompile, TwiceIntoOneListAppendsTwice) {
  HxJobGraph g;
  g.jobs().append(node("a"));
  g.jobs().append(node("b"));
  g.links().append(link("a", "b"));
  HxJobList out;
  out.append(new HxJob());
  g.compile(out);
  g.compile(out);
  ASSERT_EQ(out.length(), 5);
  EXPECT_EQ(S(out.get(2)->dependency()), "done-job-a");
  EXPECT_EQ(S(out.get(4)->dependency()), "done-job-a");
  EXPECT_NE(out.get(2), out.get(4));
}

// The graph-wide texts: each fills a job's empty one and leaves a set one.
struct Text {
  char const* name;
  void (*graph)(HxJobGraph&, HxString const&);
  void (*job)(HxJob&, HxString const&);
  HxString const& (*read)(HxJob const&);
};
#define HX_TEXT_ROW(f)                                           \
  {#f, [](HxJobGraph& g, HxString const& v) { g.f(v); },        \
   [](HxJob& j, HxString const& v) { j.f(v); },                 \
   [](HxJob const& j) -> HxString const& { return j.f(); }}
Text const kTexts[] = {HX_TEXT_ROW(user),         HX_TEXT_ROW(domain),       HX_TEXT_ROW(name),
                       HX_TEXT_ROW(cluster),      HX_TEXT_ROW(requirements), HX_TEXT_ROW(reservations),
                       HX_TEXT_ROW(restrictions), HX_TEXT_ROW(groups),       HX_TEXT_ROW(hosts),
                       HX_TEXT_ROW(queue),        HX_TEXT_ROW(account)};
#undef HX_TEXT_ROW

TEST(HxJobGraphCompile, GraphValuesFillWhatTheJobLeavesUnset) {
  HxJobGraph g;
  for (Text const& t : kTexts) t.graph(g, HxString("g-") + t.name);
  g.priority(50);
  g.localorder(3);
  g.globalorder(4);
  g.cpus(4);
  g.flags(0x4);
  g.pgrp(77);
  auto* unset = node("u");
  unset->job().localorder(-1);
  unset->job().globalorder(-2);
  unset->job().cpus(0);
  auto* own = node("o");
  for (Text const& t : kTexts) t.job(own->job(), HxString("j-") + t.name);
  own->job().priority(0);
  own->job().cpus(2);
  own->job().flags(0x200);
  g.jobs().append(unset);
  g.jobs().append(own);
  HxJobList out;
  g.compile(out);
  ASSERT_EQ(out.length(), 2);
  for (Text const& t : kTexts) {
    EXPECT_EQ(S(t.read(*out.get(0))), std::string("g-") + t.name);
    EXPECT_EQ(S(t.read(*out.get(1))), std::string("j-") + t.name);
  }
  struct Row {
    int priority, localorder, globalorder, cpus, flags, pgrp;
  } const want[] = {{50, 3, 4, 1, 0x4, -1}, {0, 0, 0, 2, 0x200, -1}};
  for (int i = 0; i < 2; ++i) {
    HxJob const& c = *out.get(i);
    Row const& r = want[i];
    EXPECT_EQ(std::vector<int>({c.priority(), c.localorder(), c.globalorder(), c.cpus(), c.flags(), c.pgrp()}),
              std::vector<int>({r.priority, r.localorder, r.globalorder, r.cpus, r.flags, r.pgrp}));
  }
  // A default graph changes nothing of a job with a negative priority.
  HxJobGraph plain;
  plain.jobs().append(node("p"));
  HxJobList out2;
  plain.compile(out2);
  EXPECT_EQ(out2.get(0)->priority(), -1);
}

TEST(HxJobGraphForm, NodesBeforeLinksAndPgrpOn39) {
  HxJobGraph g;
  EXPECT_EQ(g.priority(), -1);
  EXPECT_EQ(g.pgrp(), -1);
  EXPECT_EQ(g.cpus(), 0);
  for (int v : {0, -5}) {
    g.cpus(v);
    EXPECT_EQ(g.cpus(), 1);
  }
  g.cpus(3);
  g.jobs().append(node("a"));
  g.jobs().get(0)->x(10);
  g.jobs().get(0)->y(20);
  g.links().append(link("a", "b"));
  for (Text const& t : kTexts) t.graph(g, HxString(t.name));
  g.priority(5);
  g.localorder(1);
  g.globalorder(2);
  g.flagsstring(HxString("grid"));
  EXPECT_EQ(g.flags(), 0x4);
  EXPECT_EQ(S(g.flagsstring()), "grid");
  g.pgrp(9);
  EXPECT_EQ(jobtest::tags(g),
            (std::vector<int>{2, 1, 4, 31, 32, 5, 38, 8, 12, 9, 14, 30, 34, 36, 37, 33, 26, 28, 39}));
  expect_round_trip(g);
  HxJobLink l;
  l.startlabel("s");
  l.endlabel("e");
  EXPECT_EQ(packed(l), hex("00 00 00 01 00 01 00 03 00 00 00 01 73 00 02 00 03 00 00 00 01 65"));
  HxJobNode n;
  EXPECT_EQ(jobtest::tags(n), (std::vector<int>{1, 2, 3}));
  HxJobLabelHash labels;
  labels.set(new HxJob(), HxString("a"));
  EXPECT_EQ(S(labels.typeXML()), "116");
  expect_round_trip(labels);

  // A copy takes nodes and links; its graph-wide values stay its own.
  HxJobGraph copy(g);
  EXPECT_EQ(copy.priority(), -1);
  EXPECT_EQ(copy.pgrp(), -1);
  EXPECT_EQ(copy.user().length(), 0);
  ASSERT_EQ(copy.jobs().length(), 1);
  EXPECT_EQ(copy.jobs().get(0)->x(), 10);
  EXPECT_EQ(copy.jobs().get(0)->y(), 20);
  EXPECT_EQ(S(copy.jobs().get(0)->job().label()), "a");
  EXPECT_NE(copy.jobs().get(0), g.jobs().get(0));
  EXPECT_EQ(S(copy.links().get(0)->endlabel()), "b");
  HxJobGraph other;
  other.priority(7);
  other.jobs().append(node("z"));
  other = g;
  EXPECT_EQ(other.priority(), 7);
  ASSERT_EQ(other.jobs().length(), 1);
  EXPECT_EQ(S(other.jobs().get(0)->job().label()), "a");
}

}  // namespace

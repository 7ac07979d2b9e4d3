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

TEST(HxJobGraphCompile, GraphValuesFillWhatTheJobLeavesUnset) {
  HxJobGraph g;
  g.priority(50);
  g.localorder(3);
  g.globalorder(4);
  g.user("ann");
  g.domain("d");
  g.name("n");
  g.cpus(4);
  g.cluster("/c");
  g.requirements("req");
  g.reservations("host.memory=1");
  g.restrictions("r");
  g.groups("g");
  g.hosts("h");
  g.queue("q");
  g.flags(0x4);
  g.account("acc");
  g.pgrp(77);
  auto* unset = node("u");
  unset->job().localorder(-1);
  unset->job().globalorder(-2);
  unset->job().cpus(0);
  auto* own = node("o");
  HxJob& j = own->job();
  j.priority(0);
  j.user("bob");
  j.domain("e");
  j.name("m");
  j.cpus(2);
  j.cluster("/k");
  j.requirements("r2");
  j.reservations("host.memory=2");
  j.restrictions("s2");
  j.groups("g2");
  j.hosts("h2");
  j.queue("q2");
  j.flags(0x200);
  j.account("a2");
  g.jobs().append(unset);
  g.jobs().append(own);
  HxJobList out;
  g.compile(out);
  ASSERT_EQ(out.length(), 2);
  struct Row {
    HxJob const* job;
    int priority, localorder, globalorder, cpus, flags, pgrp;
    char const *user, *domain, *name, *cluster, *requirements, *reservations, *restrictions, *groups, *hosts, *queue,
        *account;
  } const rows[] = {
      {out.get(0), 50, 3, 4, 1, 0x4, -1, "ann", "d", "n", "/c", "req", "host.memory=1", "r", "g", "h", "q", "acc"},
      {out.get(1), 0, 0, 0, 2, 0x200, -1, "bob", "e", "m", "/k", "r2", "host.memory=2", "s2", "g2", "h2", "q2", "a2"},
  };
  for (Row const& r : rows) {
    HxJob const& c = *r.job;
    SCOPED_TRACE(S(c.label()));
    EXPECT_EQ(c.priority(), r.priority);
    EXPECT_EQ(c.localorder(), r.localorder);
    EXPECT_EQ(c.globalorder(), r.globalorder);
    EXPECT_EQ(c.cpus(), r.cpus);
    EXPECT_EQ(c.flags(), r.flags);
    EXPECT_EQ(c.pgrp(), r.pgrp);
    EXPECT_EQ(S(c.user()), r.user);
    EXPECT_EQ(S(c.domain()), r.domain);
    EXPECT_EQ(S(c.name()), r.name);
    EXPECT_EQ(S(c.cluster()), r.cluster);
    EXPECT_EQ(S(c.requirements()), r.requirements);
    EXPECT_EQ(S(c.reservations()), r.reservations);
    EXPECT_EQ(S(c.restrictions()), r.restrictions);
    EXPECT_EQ(S(c.groups()), r.groups);
    EXPECT_EQ(S(c.hosts()), r.hosts);
    EXPECT_EQ(S(c.queue()), r.queue);
    EXPECT_EQ(S(c.account()), r.account);
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
  g.cpus(0);
  EXPECT_EQ(g.cpus(), 1);
  g.cpus(-5);
  EXPECT_EQ(g.cpus(), 1);
  g.cpus(3);
  g.jobs().append(node("a"));
  g.jobs().get(0)->x(10);
  g.jobs().get(0)->y(20);
  g.links().append(link("a", "b"));
  g.priority(5);
  g.localorder(1);
  g.globalorder(2);
  g.user("u");
  g.domain("d");
  g.name("n");
  g.cluster("c");
  g.requirements("r");
  g.reservations("s");
  g.restrictions("t");
  g.groups("g");
  g.hosts("h");
  g.queue("q");
  g.flagsstring(HxString("grid"));
  EXPECT_EQ(g.flags(), 0x4);
  EXPECT_EQ(S(g.flagsstring()), "grid");
  g.account("a");
  g.pgrp(9);
  EXPECT_EQ(jobtest::tags(g),
            (std::vector<int>{2, 1, 4, 31, 32, 5, 38, 8, 12, 9, 14, 30, 34, 36, 37, 33, 26, 28, 39}));
  expect_round_trip(g);
  HxJobLink l;
  l.startlabel("s");
  l.endlabel("e");
  EXPECT_EQ(packed(l), hex("00 00 00 01 00 01 00 03 00 00 00 01 73 00 02 00 03 00 00 00 01 65"));
  HxJobNode n;
  n.x(1);
  n.y(2);
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
  EXPECT_EQ(other.jobs().length(), 1);
  EXPECT_EQ(S(other.jobs().get(0)->job().label()), "a");
}

}  // namespace

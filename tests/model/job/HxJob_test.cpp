#include "model/job/HxJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "core/HxLimits.h"
#include "tests/model/job/WireRecords.h"

namespace {

// Every field set, each to a value that depends on the seed.
HxJob populated(int seed) {
  HxString s(seed);
  auto t = [&](char const* prefix) { return HxString(prefix) + s; };
  HxJob j;
  j.id(100 + seed);
  j.pid(200 + seed);
  j.pgrp(300 + seed);
  j.priority(10 + seed);
  j.p_agenda_priority(20 + seed);
  j.p_agenda_cpus(30 + seed);
  j.globalorder(40 + seed);
  j.localorder(50 + seed);
  j.flags(0x4 | seed);
  j.status(HxStatus(336 + seed));
  j.maskstatus(HxStatus(16 + seed));
  j.agendastatus(HxStatus(21 + seed));
  j.subjobstatus(HxStatus(32 + seed));
  j.user(t("user"));
  j.domain(t("domain"));
  j.password(t("password"));
  j.name(t("name"));
  j.label(t("label"));
  j.cluster(t("cluster"));
  j.timesubmit(HxTime(1000 + seed));
  j.timestart(HxTime(2000 + seed));
  j.timecomplete(HxTime(3000 + seed));
  j.eta(HxTime(4000 + seed));
  j.data(t("(=data"));
  j.queue(t("queue"));
  j.env().set("HX_TEST", t("value"));
  j.cpus(60 + seed);
  j.immediatecpus(70 + seed);
  j.todo(80 + seed);
  j.prototype(t("prototype"));
  j.kind(t("kind"));
  j.path(t("path"));
  j.reason(t("reason"));
  j.account(t("account"));
  j.notes(t("notes"));
  j.groups(t("groups"));
  j.hosts(t("hosts"));
  j.omithosts(t("omithosts"));
  j.omitgroups(t("omitgroups"));
  j.hostorder(t("hostorder"));
  j.logpath(t("logpath"));
  j.restrictions(t("restrictions"));
  j.requirements(t("requirements"));
  j.reservations(t("host.memory="));
  j.dependency(t("dependency"));
  j.mailaddress(t("mail"));
  j.prototypepath(t("prototypepath"));
  j.range(t("1-"));
  j.sourcehost(HxAddress(0x0A000000 + seed));
  j.cpustally().running(seed + 1);
  j.todotally().complete(seed + 2);
  j.pathmap().addToDirectMap("/from", t("/to"));
  j.prod_show(t("show"));
  j.prod_shot(t("shot"));
  j.prod_seq(t("seq"));
  j.prod_client(t("client"));
  j.prod_dept(t("dept"));
  j.prod_custom1(t("c1"));
  j.prod_custom2(t("c2"));
  j.prod_custom3(t("c3"));
  j.prod_custom4(t("c4"));
  j.prod_custom5(t("c5"));
  j.preflights(t("pre"));
  j.postflights(t("post"));
  j.agenda_preflights(t("apre"));
  j.agenda_postflights(t("apost"));
  j.lastupdate(HxTime(5000 + seed));
  j.deadline(HxTime(6000 + seed));
  j.timeout(90 + seed);
  j.agenda_timeout(91 + seed);
  j.auto_migrate_count(92 + seed);
  j.serverid(93 + seed);
  j.subjobswaiting(94 + seed);
  j.retrysubjob(95 + seed);
  j.retrywork(96 + seed);
  j.retrywork_delay(97 + seed);
  j.max_cpus(98 + seed);
  auto* sub = new HxSubjob();
  sub->id(seed);
  j.subjobs().append(sub);
  j.variables().append(new HxVariable());
  auto* child = new HxJob();
  child->name(t("child"));
  j.children().append(child);
  for (int i = 0; i < 2; ++i) {
    auto* w = new HxWork();
    w->name(t("frame") + i);
    (i == 0 ? j.agenda() : j.p_agenda()).append(w);
  }
  j.callbacks().append(new HxCallback());
  return j;
}

// Wire order of the 82 fields.
std::vector<int> const kTags = {1,  2,  4,  31, 32, 3,  5,  38, 35, 6,  7,  8,  12, 85, 20, 9,  10, 11, 13, 14, 30,
                                34, 36, 37, 41, 15, 33, 16, 17, 18, 19, 21, 22, 23, 39, 24, 26, 27, 28, 29, 40, 42,
                                43, 44, 47, 48, 49, 50, 51, 52, 53, 60, 54, 55, 56, 57, 58, 59, 61, 62, 63, 64, 65,
                                66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84};

std::vector<std::string> const kXmlNames = {
    "id",          "pid",           "priority",       "local_order",    "global_order",     "pgrp",
    "user",        "domain",        "password",       "status",         "subjobs",          "name",
    "cpus",        "max_cpus",      "todo",           "cluster",        "children",         "agenda",
    "callbacks",   "requirements",  "reservations",   "restrictions",   "groups",           "hosts",
    "host_order",  "data",          "queue",          "prototype",      "path",             "reason",
    "logpath",     "cpus_tally",    "todo_tally",     "time_submit",    "time_start",       "time_complete",
    "flags",       "label",         "account",        "env",            "kind",             "server_id",
    "last_update", "timeout",       "variables",      "agenda_status",  "subjob_status",    "path_map",
    "retry_subjob", "retry_work",   "omit_hosts",     "omit_groups",    "dependency",       "deadline",
    "mail_address", "notes",        "prototype_path", "source_host",    "immediate_cpus",   "mask_status",
    "eta",         "range",         "agenda_timeout", "auto_migrate_count", "retrywork_delay", "p_agenda",
    "p_agenda_priority", "p_agenda_cpus", "prod_show", "prod_shot",     "prod_seq",         "prod_client",
    "prod_dept",   "prod_custom1",  "prod_custom2",   "prod_custom3",   "prod_custom4",     "prod_custom5",
    "preflights",  "postflights",   "agenda_preflights", "agenda_postflights"};

// The element names one level inside the job's object element.
std::vector<std::string> top_xml_names(HxJob& j) {
  j.packXML();
  std::istringstream in(std::string(j.packContents(), static_cast<size_t>(j.packSize())));
  std::vector<std::string> names;
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 3 || line[0] != '\t' || line[1] != '<' || line[2] == '/') continue;
    names.push_back(line.substr(2, line.find_first_of(">", 2) - 2));
  }
  return names;
}

// ---- the two forms --------------------------------------------------------------

TEST(HxJobForm, TagOrderAndXmlNamesAreFixed) {
  ASSERT_EQ(kTags.size(), 82u);
  HxJob fresh;
  HxJob full = populated(1);
  EXPECT_EQ(jobtest::tags(fresh), kTags);
  EXPECT_EQ(jobtest::tags(full), kTags);
  EXPECT_EQ(top_xml_names(fresh), kXmlNames);
  EXPECT_EQ(top_xml_names(full), kXmlNames);
}

TEST(HxJobForm, NewJobEncodesItsDefaults) {
  // Every int field of a new job, by tag; serverid, count and watch are 0.
  struct Row {
    int tag, value;
  } const rows[] = {{1, 1},   {2, -1},  {4, -1},  {31, 0}, {32, 0},  {3, -1},  {12, 1},  {85, -1}, {20, 0},
                    {26, 0},  {42, 0},  {44, -1}, {51, -1}, {52, -1}, {61, 0}, {65, -1}, {66, 0},  {67, 0},
                    {69, -1}, {70, -1}};
  HxJob j;
  std::vector<jobtest::Rec> recs = jobtest::records(packed(j));
  int ints = 0;
  for (jobtest::Rec const& r : recs) ints += r.kind == 1;
  EXPECT_EQ(ints, 20);
  for (Row const& row : rows) {
    auto it = std::find_if(recs.begin(), recs.end(), [&](jobtest::Rec const& r) { return r.tag == row.tag; });
    ASSERT_NE(it, recs.end()) << row.tag;
    EXPECT_EQ(it->kind, 1) << row.tag;
    EXPECT_EQ(it->value, row.value) << row.tag;
  }
  EXPECT_EQ(j.count(), 0);
  EXPECT_EQ(j.watch(), 0);
  EXPECT_EQ(j.subjobswaiting(), 0);
  // The first records, byte for byte: id 1, pid -1, priority -1, the orders 0.
  EXPECT_EQ(packed(j).substr(0, 44), hex("00 00 00 01"
                                         "00 01 00 01 00 00 00 01"
                                         "00 02 00 01 FF FF FF FF"
                                         "00 04 00 01 FF FF FF FF"
                                         "00 1F 00 01 00 00 00 00"
                                         "00 20 00 01 00 00 00 00"));
}

TEST(HxJobForm, PartialAndForeignRecordsChangeOnlyWhatTheyName) {
  HxJob expect;
  expect.name("j1");
  struct Row {
    char const* what;
    char const* bytes;
    bool named;  // the result is the job named j1; else a new job
  } const rows[] = {
      {"only the name", "00 00 00 01 00 08 00 03 00 00 00 02 6A 31", true},
      {"unused tags 25, 45 and 46",
       "00 00 00 01 00 19 00 01 00 00 00 07 00 2D 00 03 00 00 00 01 78"
       "00 2E 00 04 00 00 00 02 00 00 00 08 00 01 00 01 00 00 01 50"
       "00 08 00 03 00 00 00 02 6A 31",
       true},
      {"a name record of the wrong kind", "00 00 00 01 00 08 00 01 00 00 00 05", false},
      {"a status record of another type drops the rest",
       "00 00 00 01 00 06 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 05"
       "00 08 00 03 00 00 00 02 6A 31",
       false},
      {"a record cut short", "00 00 00 01 00 08 00 03 00 00 00 09 6A 31", false},
  };
  for (Row const& r : rows) {
    HxJob j;
    unpack(j, hex(r.bytes));
    HxJob fresh;
    EXPECT_EQ(packed(j), r.named ? packed(expect) : packed(fresh)) << r.what;
  }
}

TEST(HxJobForm, FullJobRoundTripsThroughBothForms) {
  HxJob j = populated(3);
  std::string const bytes = packed(j);
  HxJob bin, xml;
  ASSERT_EQ(unpack(bin, packed(j)), 0);
  ASSERT_EQ(unpack_xml(xml, xml_of(j)), 0);
  EXPECT_EQ(packed(bin), bytes);
  EXPECT_EQ(packed(xml), bytes);
  EXPECT_EQ(S(xml.children().get(0)->name()), "child3");
  EXPECT_EQ(S(xml.env().value("HX_TEST")), "value3");
}

TEST(HxJobForm, ListDecodesMissingFieldsAsDefaults) {
  // A list of two jobs: the first holds only its name, the second nothing.
  HxJobList list;
  ASSERT_EQ(unpack(list, hex("00 00 00 01 00 01 00 01 00 00 00 02"
                             "00 0A 00 04 00 00 00 01 00 00 00 0E 00 08 00 03 00 00 00 02 6A 31"
                             "00 0A 00 04 00 00 00 01 00 00 00 00")),
            0);
  ASSERT_EQ(list.length(), 2);
  HxJob named, fresh;
  named.name("j1");
  EXPECT_EQ(packed(*list.get(0)), packed(named));
  EXPECT_EQ(packed(*list.get(1)), packed(fresh));
  EXPECT_EQ(list.type(), 5);
  EXPECT_EQ(S(list.typeXML()), "job_list");
}

TEST(HxJobForm, NestingOfChildJobsIsBounded) {
  // Children 150 deep: each level is a job list and a job.
  HxJob top;
  HxJob* at = &top;
  for (int i = 0; i < 150; ++i) {
    auto* child = new HxJob();
    child->id(i);
    at->children().append(child);
    at = child;
  }
  auto depth = [](HxJob const& j) {
    int n = 0;
    for (HxJob const* p = &j; p->children().length() > 0; p = p->children().get(0)) ++n;
    return n;
  };
  ASSERT_EQ(depth(top), 150);
  HxJob bin;
  unpack(bin, packed(top));
  EXPECT_GT(depth(bin), 0);
  EXPECT_LE(2 * depth(bin), kHxMaxPackDepth);
  HxJob xml;
  unpack_xml(xml, xml_of(top));
  EXPECT_LT(depth(xml), 150);
  // A copy of a deep job is whole.
  HxJob copied(top);
  EXPECT_EQ(depth(copied), 150);
}

// ---- copying ----------------------------------------------------------------------

TEST(HxJobCopy, TakesEverythingButCountAndWatch) {
  HxJob from = populated(1);
  from.count(11);
  from.watch(12);
  HxJob to = populated(2);
  for (int i = 0; i < 4; ++i) to.agenda().append(new HxWork());
  to.count(21);
  to.watch(22);
  to.agenda().tally().running(9);
  to = from;
  EXPECT_EQ(packed(to), packed(from));
  EXPECT_EQ(to.count(), 21);
  EXPECT_EQ(to.watch(), 22);
  EXPECT_EQ(to.subjobswaiting(), from.subjobswaiting());
  EXPECT_EQ(to.serverid(), from.serverid());
  ASSERT_EQ(to.agenda().length(), 1);
  EXPECT_NE(to.agenda().get(0), from.agenda().get(0));
  EXPECT_EQ(to.agenda().tally().running(), 9);

  HxJob constructed(from);
  EXPECT_EQ(packed(constructed), packed(from));
  EXPECT_EQ(constructed.count(), 0);
  EXPECT_EQ(constructed.watch(), 0);

  // Three agenda items into a job with five leave three independent copies.
  HxJob three, five;
  for (int i = 0; i < 3; ++i) three.agenda().append(new HxWork());
  for (int i = 0; i < 5; ++i) five.agenda().append(new HxWork());
  five.copy(three);
  ASSERT_EQ(five.agenda().length(), 3);
  five.agenda().get(0)->name("changed");
  EXPECT_EQ(S(three.agenda().get(0)->name()), "");
}

TEST(HxJobCopy, FromItsOwnDescendantsAndOntoItself) {
  auto family = [] {
    HxJob j;
    j.name("parent");
    auto* child = new HxJob();
    child->name("child");
    child->agenda().append(new HxWork());
    auto* grandchild = new HxJob();
    grandchild->name("grandchild");
    child->children().append(grandchild);
    j.children().append(child);
    return j;
  };
  // A child copied onto its parent.
  HxJob j = family();
  j.count(5);
  j = *j.children().get(0);
  EXPECT_EQ(S(j.name()), "child");
  ASSERT_EQ(j.children().length(), 1);
  EXPECT_EQ(S(j.children().get(0)->name()), "grandchild");
  EXPECT_EQ(j.agenda().length(), 1);
  EXPECT_EQ(j.count(), 5);

  // A grandchild copied onto its grandparent.
  HxJob g = family();
  g.copy(*g.children().get(0)->children().get(0));
  EXPECT_EQ(S(g.name()), "grandchild");
  EXPECT_EQ(g.children().length(), 0);

  // A parent copied onto its child.
  HxJob p = family();
  HxJob* child = p.children().get(0);
  *child = p;
  EXPECT_EQ(S(child->name()), "parent");
  ASSERT_EQ(child->children().length(), 1);
  EXPECT_EQ(S(child->children().get(0)->name()), "child");
  EXPECT_EQ(S(child->children().get(0)->children().get(0)->name()), "grandchild");

  // Onto itself: unchanged.
  HxJob self = populated(4);
  std::string const before = packed(self);
  HxJob& alias = self;
  self = alias;
  self.copy(alias);
  EXPECT_EQ(packed(self), before);
}

// ---- accessors and operations -------------------------------------------------------

TEST(HxJobOps, CpusWriterStoresAtLeastOneButDecodersTakeTheValue) {
  struct Row {
    int in, stored;
  } const rows[] = {{0, 1}, {-5, 1}, {INT_MIN, 1}, {1, 1}, {2, 2}, {7, 7}};
  for (Row const& r : rows) {
    HxJob j;
    j.cpus(r.in);
    EXPECT_EQ(j.cpus(), r.stored) << r.in;
  }
  HxJob bin;
  ASSERT_EQ(unpack(bin, hex("00 00 00 01 00 0C 00 01 00 00 00 00")), 0);
  EXPECT_EQ(bin.cpus(), 0);
  HxJob xml;
  std::string doc = "<pack>\n<version>1</version>\n<object type = 'job'>\n\t<cpus>0</cpus>\n</object>\n</pack>";
  ASSERT_EQ(xml.unpackXML(doc.data(), static_cast<int>(doc.size())), 0);
  EXPECT_EQ(xml.cpus(), 0);
}

TEST(HxJobOps, TextWritersAndCopiedReaders) {
  HxJob j;
  j.name("abcdef", 3);
  EXPECT_EQ(S(j.name()), "abc");
  j.name(HxString("x"));
  EXPECT_EQ(S(j.name()), "x");
  j.sourcehost(HxAddress(0x7F000001));
  HxAddress a = j.sourcehost();
  a.copy(HxString("10.0.0.1"));
  EXPECT_EQ(j.sourcehost().value(), 0x7F000001u);
  HxEnv text;
  text.set("A", "1");
  j.env(text.convert());
  HxJob const& cj = j;
  EXPECT_EQ(S(cj.env().value("A")), "1");
}

TEST(HxJobOps, StatusQuestionsGridEliteAndSid) {
  struct Row {
    int code;
    bool pending, waiting, assigned, none;
  } const statuses[] = {{0, 0, 0, 0, 1}, {320, 1, 0, 0, 0}, {323, 0, 1, 1, 0}, {336, 0, 0, 1, 0}, {272, 0, 0, 0, 0}};
  for (Row const& r : statuses) {
    HxJob j;
    j.status(HxStatus(r.code));
    EXPECT_EQ(j.pending(), r.pending) << r.code;
    EXPECT_EQ(j.waiting(), r.waiting) << r.code;
    EXPECT_EQ(j.assigned(), r.assigned) << r.code;
    EXPECT_EQ(j.none(), r.none) << r.code;
  }
  struct Flags {
    int flags, cpus;
    bool grid, elite;
  } const flags[] = {{0x4, 1, false, false}, {0x0, 2, false, false}, {0x4, 2, true, false},
                     {0x204, 3, true, true}, {0x200, 1, false, true}, {~0x4, 9, false, true}};
  for (Flags const& r : flags) {
    HxJob j;
    j.flags(r.flags);
    j.cpus(r.cpus);
    EXPECT_EQ(j.grid(), r.grid) << r.flags << " " << r.cpus;
    EXPECT_EQ(j.elite(), r.elite) << r.flags;
  }
  struct Sid {
    int id, n, sid;
  } const sids[] = {{12, 5, 2}, {-7, 3, -1}, {12, 0, 0}, {INT_MIN, -1, 0}, {INT_MAX, -1, 0}};
  for (Sid const& r : sids) {
    HxJob j;
    j.id(r.id);
    EXPECT_EQ(j.sid(r.n), r.sid) << r.id << " % " << r.n;
  }
}

TEST(HxJobOps, MultiprocessorAsksForTwoHostProcessors) {
  struct Row {
    char const* reservations;
    bool multi;
  } const rows[] = {{"", false},
                    {"host.processors=4", true},
                    {"host.processors=2", true},
                    {"host.processors=1", false},
                    {"host.memory=4096", false},
                    {"host.memory=4096,host.processors=8", true}};
  for (Row const& r : rows) {
    HxJob j;
    j.reservations(r.reservations);
    EXPECT_EQ(j.multiprocessor(), r.multi) << r.reservations;
  }
}

TEST(HxJobOps, SchedulingKey) {
  HxJob fresh;
  EXPECT_EQ(S(fresh.stub()), "-100000");
  HxJob k;
  k.cluster("c");
  k.priority(5);
  k.reservations("r");
  k.restrictions("s");
  k.requirements("q");
  k.groups("g");
  k.hosts("h");
  k.flags(4);
  k.localorder(1);
  k.globalorder(-2);
  k.watch(3);
  k.omithosts("oh");
  k.omitgroups("og");
  k.deadline(HxTime(9));
  EXPECT_EQ(S(k.stub()), "c5rsqgh41-23ohog9");

  // What changes the key, and what does not.
  struct Row {
    char const* what;
    void (*change)(HxJob&);
    bool same;
  } const rows[] = {
      {"name", [](HxJob& j) { j.name("other"); }, true},
      {"user", [](HxJob& j) { j.user("other"); }, true},
      {"agenda", [](HxJob& j) { j.agenda().append(new HxWork()); }, true},
      {"count", [](HxJob& j) { j.count(7); }, true},
      {"subjobswaiting", [](HxJob& j) { j.subjobswaiting(7); }, true},
      {"watch", [](HxJob& j) { j.watch(7); }, false},
      {"deadline", [](HxJob& j) { j.deadline(HxTime(7)); }, false},
      {"hosts", [](HxJob& j) { j.hosts("h2"); }, false},
  };
  for (Row const& r : rows) {
    HxJob j(k);
    j.watch(k.watch());
    r.change(j);
    EXPECT_EQ(j.stub() == k.stub(), r.same) << r.what;
  }
}

TEST(HxJobOps, BaseTakesExactlyTheSettings) {
  // Tags of the fields that base() leaves alone.
  std::vector<int> const kept = {69, 70, 62, 48, 49, 18, 58, 59, 7, 47, 10, 11, 68, 13};
  HxJob from = populated(1);
  HxJob to = populated(2);
  for (int i = 0; i < 4; ++i) from.agenda().append(new HxWork());
  to.count(5);
  to.watch(6);
  std::vector<jobtest::Rec> before = jobtest::records(packed(to));
  std::vector<jobtest::Rec> source = jobtest::records(packed(from));
  to.base(from);
  std::vector<jobtest::Rec> after = jobtest::records(packed(to));
  ASSERT_EQ(after.size(), 82u);
  for (size_t i = 0; i < after.size(); ++i) {
    bool keep = std::find(kept.begin(), kept.end(), after[i].tag) != kept.end();
    EXPECT_EQ(after[i].bytes, keep ? before[i].bytes : source[i].bytes) << "tag " << after[i].tag;
  }
  EXPECT_EQ(to.count(), 5);
  EXPECT_EQ(to.watch(), 6);
  EXPECT_EQ(to.subjobswaiting(), populated(2).subjobswaiting());
  EXPECT_EQ(to.agenda().length(), 1);
}

TEST(HxJobOps, PackageFlagsAndEnvironmentTexts) {
  HxJob j;
  HxPackage p;
  p.set("frames", "1-10");
  p.set("camera", "a(b)=c");
  j.package(p);
  EXPECT_EQ(S(j.data()), S(p.compact()));
  EXPECT_EQ(S(j.package().compact()), S(p.compact()));

  j.flags(0x200 | 0x4);
  HxString text = j.flagsstring();
  HxJob k;
  k.flags(0x1000000);
  k.flagsstring(text);
  EXPECT_EQ(k.flags(), 0x204);
  k.flagsstring("grid");
  EXPECT_EQ(k.flags(), 0x4);
  EXPECT_FALSE(k.elite());
  k.flagsstring("17");
  EXPECT_EQ(k.flags(), 17);
  k.flagsstring("");
  EXPECT_EQ(k.flags(), 0);
  EXPECT_EQ(S(k.flagsstring()), "0");
}

}  // namespace

#include "model/job/HxCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/model/job/WireRecords.h"

namespace {

// A new command: empty lists under tags 1 to 4 and 9, the flags 1.
char const* const kNewCommand =
    "00 01 00 04 00 00 00 15 00 00 00 08 00 01 00 01 00 00 00 00"
    "00 02 00 04 00 00 00 12 00 00 00 08 00 01 00 01 00 00 00 00"
    "00 03 00 04 00 00 00 3C 00 00 00 08 00 01 00 01 00 00 00 00"
    "00 04 00 04 00 00 00 37 00 00 00 08 00 01 00 01 00 00 00 00"
    "00 05 00 06 01"
    "00 06 00 01 00 00 00 00"
    "00 07 00 06 01"
    "00 08 00 01 00 00 00 00"
    "00 09 00 04 00 00 00 C6 00 00 00 08 00 01 00 01 00 00 00 00";

void fill(HxCommand& c) {
  c.filters().append(new HxFilter("user", "ann"));
  c.jobids().append(new HxJobId(12, 3));
  c.workids().append(new HxWorkId(12, "frame1"));
  c.groups().append(new HxString("g"));
  c.callbackids().append(new HxCallbackId(12, 4));
  c.restrictions(0);
  c.limit(7);
  c.background(0);
  c.action(211);
}

TEST(HxCommandForm, ExactBytesOfEachCommand) {
  HxCommand c;
  EXPECT_EQ(packed(c), hex("00 00 00 01") + hex(kNewCommand));
  HxCommand acted(211);
  EXPECT_EQ(packed(acted), hex("00 00 00 01") + hex(kNewCommand).substr(0, 102) + hex("00 00 00 D3") +
                               hex(kNewCommand).substr(106));

  HxBumpCommand b;
  b.action(291);
  b.diff(4);
  b.direction(2);
  std::string body = hex(kNewCommand);
  body.replace(102, 4, hex("00 00 01 23"));
  EXPECT_EQ(packed(b), hex("00 00 00 01") + body + hex("00 0A 00 01 00 00 00 04 00 0B 00 01 00 00 00 02"));

  HxModifyCommand m;
  EXPECT_EQ(jobtest::tags(m), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  std::vector<jobtest::Rec> recs = jobtest::records(packed(m));
  HxJob job;
  EXPECT_EQ(recs[9].bytes.substr(0, 8), hex("00 0A 00 04 00 00 00 01"));
  EXPECT_EQ(recs[9].bytes.substr(12), packed(job).substr(4));
  EXPECT_EQ(recs[10].bytes, hex("00 0B 00 04 00 00 00 17 00 00 00 08 00 01 00 01 00 00 00 00"));
}

TEST(HxCommandForm, EveryCommandRoundTripsThroughBothForms) {
  HxCommand c;
  fill(c);
  HxBumpCommand b;
  fill(b);
  b.diff(4);
  b.direction(2);
  HxModifyCommand m;
  fill(m);
  m.job().name("template");
  m.job().priority(50);
  m.fields().append(new HxField("priority"));
  HxCommand c2, c3;
  HxBumpCommand b2, b3;
  HxModifyCommand m2, m3;
  struct Row {
    HxPack *from, *bin, *xml;
  } const rows[] = {{&c, &c2, &c3}, {&b, &b2, &b3}, {&m, &m2, &m3}};
  for (Row const& r : rows) {
    SCOPED_TRACE(r.from->type());
    ASSERT_EQ(unpack(*r.bin, packed(*r.from)), 0);
    ASSERT_EQ(unpack_xml(*r.xml, xml_of(*r.from)), 0);
    EXPECT_EQ(packed(*r.bin), packed(*r.from));
    EXPECT_EQ(packed(*r.xml), packed(*r.from));
  }
  EXPECT_EQ(b3.diff(), 4);
  EXPECT_EQ(b3.direction(), 2);
  EXPECT_EQ(S(m3.job().name()), "template");
  ASSERT_EQ(m3.fields().length(), 1);
  EXPECT_EQ(S(m3.fields().get(0)->value()), "priority");
  EXPECT_EQ(S(c3.workids().get(0)->name()), "frame1");
  EXPECT_EQ(c3.callbackids().get(0)->callid(), 4);

  // The XML element names of the command part.
  c.packXML();
  std::string text(c.packContents(), static_cast<size_t>(c.packSize()));
  size_t at = 0;
  for (char const* name : {"<filter_list>", "<job_id_list>", "<work_id_list>", "<group_list>", "<restrictions>",
                           "<limit>", "<background>", "<action>", "<callback_id_list>"}) {
    size_t found = text.find(name, at);
    EXPECT_NE(found, std::string::npos) << name;
    at = found == std::string::npos ? at : found;
  }
}

TEST(HxCommandOps, DirectionTexts) {
  struct Row {
    int direction;
    char const* text;
  } const rows[] = {{1, "top"}, {2, "bottom"}, {0, ""}, {3, ""}, {-1, ""}};
  for (Row const& r : rows) {
    HxBumpCommand b;
    b.direction(r.direction);
    EXPECT_EQ(S(b.directionstring()), r.text) << r.direction;
  }
  HxBumpCommand fresh;
  EXPECT_EQ(fresh.diff(), 0);
  EXPECT_EQ(fresh.direction(), 0);
  EXPECT_EQ(fresh.type(), 69);
}

TEST(HxCommandCopy, CommandPartsTemplatesAndFieldLists) {
  HxCommand c;
  fill(c);
  HxCommand copied;
  copied.jobids().append(new HxJobId(1));
  copied.copy(c);
  EXPECT_EQ(packed(copied), packed(c));

  // A bump command copies the command part only.
  HxBumpCommand b;
  b.diff(9);
  b.direction(1);
  HxBumpCommand other;
  fill(other);
  other.diff(4);
  other.direction(2);
  b.copy(other);
  EXPECT_EQ(b.action(), 211);
  EXPECT_EQ(b.jobids().length(), 1);
  EXPECT_EQ(b.diff(), 9);
  EXPECT_EQ(b.direction(), 1);

  // Assigning a modify command replaces fields and template.
  HxModifyCommand target;
  target.fields().append(new HxField("name"));
  target.fields().append(new HxField("user"));
  target.job().name("old");
  target.job().count(3);
  HxModifyCommand source;
  fill(source);
  source.fields().append(new HxField("priority"));
  source.job().name("new");
  source.job().agenda().append(new HxWork());
  target = source;
  EXPECT_EQ(packed(target), packed(source));
  ASSERT_EQ(target.fields().length(), 1);
  EXPECT_EQ(S(target.fields().get(0)->value()), "priority");
  EXPECT_EQ(target.job().count(), 3);
  EXPECT_NE(target.job().agenda().get(0), source.job().agenda().get(0));
  HxModifyCommand constructed(source);
  EXPECT_EQ(packed(constructed), packed(source));
  HxModifyCommand& alias = target;
  target = alias;
  EXPECT_EQ(packed(target), packed(source));

  // A job from inside the template given as the new template.
  HxModifyCommand m;
  auto* child = new HxJob();
  child->name("child");
  child->children().append(new HxJob());
  m.job().children().append(child);
  m.job(*m.job().children().get(0));
  EXPECT_EQ(S(m.job().name()), "child");
  EXPECT_EQ(m.job().children().length(), 1);
}

}  // namespace

#include "net/HxMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "config/HxConfigFile.h"
#include "core/HxHash.h"
#include "model/job/HxJob.h"
#include "model/job/HxStatus.h"
#include "net/HxIntro.h"
#include "tests/core/pack/PackBytes.h"
#include "tests/net/NetTestUtil.h"

namespace {

// The records of a new envelope, before and after its content record.
char const* const kHead =
    "00 00 00 01"
    "00 01 00 01 00 00 00 64"                                      // tag 100
    "00 02 00 03 00 00 00 00"                                      // user
    "00 05 00 03 00 00 00 00"                                      // domain
    "00 06 00 04 00 00 00 9B 00 00 00 08 00 01 00 03 00 00 00 00";  // mac_address
char const* const kTail =
    "00 07 00 01 00 00 02 12"   // version 530
    "00 08 00 03 00 00 00 00"   // tarv_domain
    "00 09 00 03 00 00 00 00";  // tarv_region

std::string xml(HxPack& p) {
  p.packXML();
  return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
}

int unpackXML(HxPack& p, std::string const& doc) {
  std::string whole = "<pack>\n" + doc + "\n</pack>";
  return p.unpackXML(whole.data(), static_cast<int>(whole.size()));
}

HxJobList* three_jobs() {
  auto* l = new HxJobList();
  for (int i = 1; i <= 3; ++i) {
    auto* j = new HxJob();
    j->id(i);
    j->name(HxString("shot") + HxString(i));
    l->append(j);
  }
  return l;
}

}  // namespace

// The exact bytes of envelopes as a client sends them, and what each reads
// back as, from the binary and the XML form.
TEST(HxMessage, WireBytesAndRoundTrips) {
  HxIntro lent(HxString("hi"));
  struct Row {
    char const* name;
    void (*fill)(HxMessage&, HxIntro&);
    std::string middle;  // content_type and content records
    bool content;
  } const rows[] = {
      {"new request", [](HxMessage&, HxIntro&) {}, hex("00 04 00 01 00 00 00 00"), false},
      {"lent content taken back",
       [](HxMessage& m, HxIntro& i) {
         m.content(&i);
         m.content(nullptr);
       },
       hex("00 04 00 01 00 00 00 AA"), false},
      {"lent content",
       [](HxMessage& m, HxIntro& i) { m.content(&i); },
       hex("00 04 00 01 00 00 00 AA"
           "00 03 00 04 00 00 00 AA 00 00 00 0A 00 01 00 03 00 00 00 02 68 69"),
       true},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    HxMessage m(100);
    row.fill(m, lent);
    std::string const bytes = packed(m);
    EXPECT_EQ(bytes, hex(kHead) + row.middle + hex(kTail));

    HxMessage back;
    back.version(350);
    ASSERT_EQ(unpack(back, bytes), 0);
    EXPECT_EQ(back.tag(), 100);
    EXPECT_EQ(back.version(), 530);
    EXPECT_EQ(back.contenttype(), m.contenttype());
    ASSERT_EQ(back.content() != nullptr, row.content);
    if (row.content) { EXPECT_EQ(S(static_cast<HxIntro*>(back.content())->value()), "hi"); }
    EXPECT_EQ(packed(back), bytes);

    // The XML form fills only a content the reader already holds.
    std::string const doc = xml(m);
    HxMessage bare, holding;
    holding.content(new HxIntro());
    ASSERT_EQ(unpackXML(bare, doc), 0);
    ASSERT_EQ(unpackXML(holding, doc), 0);
    EXPECT_EQ(bare.content(), nullptr);
    EXPECT_EQ(bare.contenttype(), m.contenttype());
    EXPECT_EQ(S(static_cast<HxIntro*>(holding.content())->value()), row.content ? "hi" : "");
    if (row.content) { EXPECT_EQ(packed(holding), bytes); }
    m.release();
  }
}

TEST(HxMessage, XmlElementsInWireOrder) {
  HxMessage m(400);
  m.user(HxString("ann"));
  m.domain(HxString("lab"));
  m.macaddress(HxMacAddress(HxString("0a:1b:2c:3d:4e:5f")));
  m.tarvdomain(HxString("td"));
  m.tarvregion(HxString("tr"));
  m.content(new HxIntro(HxString("w1")));
  std::string const doc = xml(m);
  std::vector<std::string> const order = {"<tag>400<",    "<user>ann<",       "<domain>lab<",
                                          "<mac_address>", "0A:1B:2C:3D:4E:5F", "<content_type>170<",
                                          "<content>",     "<values>w1<",      "<version>530<",
                                          "<tarv_domain>td<", "<tarv_region>tr<"};
  size_t at = 0;
  for (std::string const& piece : order) {
    size_t found = doc.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece << " in\n" << doc;
    at = found;
  }
  HxMessage back;
  back.content(new HxIntro());
  ASSERT_EQ(unpackXML(back, doc), 0);
  EXPECT_EQ(S(back.user()), "ann");
  EXPECT_EQ(S(back.macaddress().value()), "0A:1B:2C:3D:4E:5F");
  EXPECT_EQ(S(back.tarvregion()), "tr");
  EXPECT_EQ(S(static_cast<HxIntro*>(back.content())->value()), "w1");
}

// Fields a peer leaves out keep what the receiver set before unpacking; a
// record that no field takes is passed over.
TEST(HxMessage, AbsentFieldsKeepPresetValues) {
  HxMessage m;
  m.version(350);
  m.user(HxString("preset"));
  ASSERT_EQ(unpack(m, hex("00 00 00 01 00 01 00 01 00 00 01 90"
                          "00 07 00 03 00 00 00 01 78"  // version as a string: not taken
                          "00 0A 00 01 00 00 00 07"     // unknown field
                          "00 05 00 03 00 00 00 01 64")),
            0);
  EXPECT_EQ(m.tag(), 400);
  EXPECT_EQ(m.version(), 350);
  EXPECT_EQ(S(m.user()), "preset");
  EXPECT_EQ(S(m.domain()), "d");
}

// Content records that cannot be read: the content stays null, the records
// after it (version, tarv_domain, tarv_region) are not read, and only an
// unregistered code writes a line.
TEST(HxMessage, BadContentRecordsDropTheRest) {
  struct Row {
    char const* content;  // the field 3 record, up to the end of the bytes
    bool tail;            // well-formed version and tarv records follow it
    char const* line;
    bool earlier_kept;  // the content held before survives (no code was read)
  } const rows[] = {
      {"00 03 00 04 00 00 00 00 00 00 00 00", true, "trying to decode unregistered class: 0\n", false},
      {"00 03 00 04 00 00 00 02 00 00 00 00", true, "trying to decode unregistered class: 2\n", false},
      {"00 03 00 04 00 00 00 07 00 00 00 00", true, "trying to decode unregistered class: 7\n", false},
      {"00 03 00 04 00 00 01 2C 00 00 00 00", true, "trying to decode unregistered class: 300\n", false},
      {"00 03 00 04 FF FF FF FF 00 00 00 00", true, "trying to decode unregistered class: -1\n", false},
      {"00 03 00 04 00 00 27 0F 00 00 00 00", true, "trying to decode unregistered class: 9999\n", false},
      {"00 03 00 04 00 00 00 AA 00 00 01 00 00 01 00 03", true, "", false},  // length beyond the bytes
      {"00 03 00 04 00 00 00 AA FF FF FF F0 00 01 00 03", true, "", false},  // negative length
      {"00 03 00 04 00 00 00 AA 00 00", false, "", false},                   // half a length
      {"00 03 00 04 00 00", false, "", true},                                // half a code
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.content);
    DebugLog log;
    HxMessage m;
    m.version(350);
    m.tarvdomain(HxString("kept"));
    m.content(new HxIntro(HxString("earlier")));
    std::string bytes = hex("00 00 00 01 00 04 00 01 00 00 00 AA") + hex(row.content);
    if (row.tail) bytes += hex(kTail);
    ASSERT_EQ(unpack(m, bytes), 0);
    EXPECT_EQ(m.content() != nullptr, row.earlier_kept);
    EXPECT_EQ(m.contenttype(), 170);
    EXPECT_EQ(m.version(), 350);
    EXPECT_EQ(S(m.tarvdomain()), "kept");
    EXPECT_EQ(log.lines(), row.line);
  }
}

// A content that the decode budget cannot pay for is no content: a list
// cut short by the budget goes at once and, like any bad content record, so
// do the records after it; a content object larger than what is left is
// never made. The budget's claims stay within it.
TEST(HxMessage, ContentPastTheDecodeBudgetGoesWithTheRest) {
  struct Row {
    char const* name;
    std::string bytes;
    long long budget;
    bool spent;
  } const rows[] = {
      {"5,000 empty jobs, 20 MB once made", empty_records_message(3, 5, 1, 5000), 1 << 20, true},
      {"one job, larger than the budget",
       hex("00 00 00 01 00 01 00 01 00 00 00 03 00 04 00 01 00 00 00 01 00 03 00 04 00 00 00 01 00 00 00 00") +
           hex(kTail),
       1000, true},
      {"the same jobs within the budget", empty_records_message(3, 5, 1, 5000), 64 << 20, false},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    HxMessage m;
    m.version(350);
    HxDecodeBudget budget(row.budget);
    ASSERT_EQ(unpack(m, row.bytes), 0);
    EXPECT_EQ(budget.spent(), row.spent);
    EXPECT_LE(budget.claimed(), row.budget);
    EXPECT_EQ(m.content() == nullptr, row.spent);
    EXPECT_EQ(m.version(), row.spent ? 350 : 530);
    EXPECT_EQ(m.tag(), 3);
  }
}

// A second content record replaces the first, which is destroyed (the leak
// checker sees it otherwise); a record of field 3 of another kind is passed
// over.
TEST(HxMessage, LaterContentReplacesEarlier) {
  HxMessage m;
  ASSERT_EQ(unpack(m, hex("00 00 00 01"
                          "00 03 00 04 00 00 00 AA 00 00 00 09 00 01 00 03 00 00 00 01 61"
                          "00 03 00 03 00 00 00 01 7A"
                          "00 03 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 05"
                          "00 07 00 01 00 00 00 01")),
            0);
  ASSERT_NE(m.content(), nullptr);
  EXPECT_EQ(m.content()->type(), 33);
  EXPECT_EQ(m.contenttype(), 0);
  EXPECT_EQ(m.version(), 1);
}

// Every prefix of a real envelope, each from a buffer of exactly its size:
// nothing is read past the end, and the content is there exactly when the
// prefix holds all of its record.
TEST(HxMessage, EveryPrefixOfAnEnvelope) {
  HxMessage m(120);
  m.user(HxString("render"));
  m.content(three_jobs());
  m.tarvregion(HxString("north"));
  std::string const bytes = packed(m);
  // The content record ends where the version record begins.
  size_t const end = bytes.rfind(hex("00 07 00 01 00 00 02 12 00 08 00 03"));
  ASSERT_NE(end, std::string::npos);
  for (size_t n = 0; n <= bytes.size(); ++n) {
    HxMessage back;
    int const r = unpack(back, bytes.substr(0, n));
    if (n < 4) {
      EXPECT_EQ(r, 1);
      continue;
    }
    ASSERT_EQ(back.content() != nullptr, n >= end) << n;
    if (n >= end) { EXPECT_EQ(static_cast<HxJobList*>(back.content())->length(), 3); }
  }
  HxMessage whole;
  ASSERT_EQ(unpack(whole, bytes), 0);
  EXPECT_EQ(S(whole.tarvregion()), "north");
  EXPECT_EQ(packed(whole), bytes);
}

// The whole registry: each code gives a new empty object of its own type,
// which travels in an envelope and which the message destroys when it
// clears; every other code gives null.
TEST(HxMessage, RegistryTable) {
  std::set<int> const table = {
      1, 4, 5, 9, 11, 12, 14, 15, 16, 17, 18, 19, 21, 24, 25, 26,
      28, 30, 32, 33, 34, 35, 36, 37, 38, 39, 42, 43, 45, 47, 48, 50,
      51, 52, 54, 55, 56, 59, 60, 62, 63, 64, 67, 69, 91, 92, 93, 94,
      95, 96, 105, 113, 119, 120, 121, 130, 132, 133, 134, 152, 153, 155, 169, 170,
      171, 172, 173, 175, 176, 181, 188, 189, 190, 197, 198, 200, 201, 202, 203, 204,
  };
  DebugLog log;
  int unknown = 0;
  for (int code = -3; code <= 400; ++code) {
    std::unique_ptr<HxPack> made(HxMessage::mapobj(code));
    EXPECT_EQ(HxMessage::registered(code), table.count(code) == 1) << code;
    if (table.count(code) == 0) {
      EXPECT_EQ(made, nullptr) << code;
      ++unknown;
      continue;
    }
    ASSERT_NE(made, nullptr) << code;
    EXPECT_EQ(made->type(), code);
    HxMessage m;
    m.content(made.release());
    EXPECT_EQ(m.contenttype(), code);
    // Each travels: a reply carrying it (a job graph's among them) does not
    // arrive blank.
    std::string const bytes = packed(m);
    HxMessage back;
    ASSERT_EQ(unpack(back, bytes), 0);
    ASSERT_NE(back.content(), nullptr) << code;
    EXPECT_EQ(back.content()->type(), code);
    EXPECT_EQ(packed(back), bytes) << code;
    m.clear();
    EXPECT_EQ(m.content(), nullptr);
    EXPECT_EQ(m.contenttype(), code);
  }
  std::string const lines = log.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), unknown);

  std::unique_ptr<HxPack> config(HxMessage::mapobj(51));
  EXPECT_NE(dynamic_cast<HxConfigList*>(config.get()), nullptr);
  std::unique_ptr<HxPack> ints(HxMessage::mapobj(176));
  EXPECT_NE(dynamic_cast<HxIntHash*>(ints.get()), nullptr);
  // No class decoded here built its table at that first decode: each was on
  // the list of the test program's hx_build_record_tables().
  EXPECT_EQ(hx_record_table_count().lazily, 0);
}

// A content of a type the registry does not know was not made by the
// message: clearing forgets it (the caller still owns it) with one line.
TEST(HxMessage, ClearForgetsUnknownContent) {
  DebugLog log;
  HxStatus status(16);
  {
    HxMessage m;
    m.content(&status);
    EXPECT_EQ(m.contenttype(), 2);
  }
  EXPECT_EQ(log.lines(), "ERROR: possible memory leak in message module; content-type[2]\n");
  EXPECT_EQ(status.value().value(), std::string("complete"));
}

// content(obj) holds the new object without destroying the one before.
TEST(HxMessage, ContentTwiceKeepsTheFirstAlive) {
  HxIntro first(HxString("one"));
  HxMessage m;
  m.content(&first);
  auto* second = new HxTime();
  m.content(second);
  EXPECT_EQ(m.content(), second);
  EXPECT_EQ(m.contenttype(), 33);
  EXPECT_EQ(S(first.value()), "one");
  m.release();
  EXPECT_EQ(m.contenttype(), 33);
  delete second;
}

// Copies take the fields but not the address, and never the content: a held
// content becomes an empty object of its type, with one line.
TEST(HxMessage, CopyGivesEmptyContent) {
  HxMessage source(130);
  source.user(HxString("u"));
  source.domain(HxString("d"));
  source.tarvdomain(HxString("td"));
  source.tarvregion(HxString("tr"));
  source.version(529);
  source.macaddress(HxMacAddress(HxString("01:02:03:04:05:06")));
  source.address(HxAddress(HxString("10.1.2.3")));
  source.content(three_jobs());

  struct Row {
    char const* name;
    bool assign;
  } const rows[] = {{"assignment", true}, {"copy constructor", false}};
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    DebugLog log;
    std::unique_ptr<HxMessage> copy;
    if (row.assign) {
      copy = std::make_unique<HxMessage>(5);
      copy->content(new HxIntro(HxString("destroyed")));
      *copy = source;
    } else {
      copy = std::make_unique<HxMessage>(source);
    }
    EXPECT_EQ(log.lines(), "ERROR: using message copy\n");
    ASSERT_NE(copy->content(), nullptr);
    ASSERT_EQ(copy->content()->type(), 5);
    EXPECT_EQ(static_cast<HxJobList*>(copy->content())->length(), 0);
    EXPECT_EQ(copy->tag(), 130);
    EXPECT_EQ(copy->version(), 529);
    EXPECT_EQ(copy->contenttype(), 5);
    EXPECT_EQ(S(copy->user()) + S(copy->domain()) + S(copy->tarvdomain()) + S(copy->tarvregion()), "udtdtr");
    EXPECT_EQ(S(copy->macaddress().value()), "01:02:03:04:05:06");
    EXPECT_TRUE(copy->address().blank());
  }

  // Onto itself: nothing changes and the content stays.
  HxMessage& same = source;
  source = same;
  EXPECT_EQ(static_cast<HxJobList*>(source.content())->length(), 3);

  // Without content: no line, and an earlier content of the target is gone.
  DebugLog log;
  HxMessage plain(7), target;
  target.content(new HxIntro());
  target = plain;
  EXPECT_EQ(target.content(), nullptr);
  EXPECT_EQ(log.lines(), "");
}

TEST(HxIntro, ThroughAnEnvelope) {
  HxMessage m(401);
  m.content(new HxIntro(HxString("worker w7, 8 slots")));
  HxMessage back;
  ASSERT_EQ(unpack(back, packed(m)), 0);
  EXPECT_EQ(back.contenttype(), 170);
  auto* intro = dynamic_cast<HxIntro*>(back.content());
  ASSERT_NE(intro, nullptr);
  EXPECT_EQ(S(intro->value()), "worker w7, 8 slots");

  HxIntro copy(*intro), assigned, empty;
  assigned.copy(copy);
  EXPECT_EQ(S(assigned.value()), "worker w7, 8 slots");
  EXPECT_EQ(packed(assigned), hex("00 00 00 01 00 01 00 03 00 00 00 12") + "worker w7, 8 slots");
  EXPECT_NE(xml(assigned).find("<values>worker w7, 8 slots</values>"), std::string::npos);
  // Records without field 1 leave the value empty.
  ASSERT_EQ(unpack(empty, hex("00 00 00 01 00 02 00 03 00 00 00 01 78")), 0);
  EXPECT_EQ(S(empty.value()), "");
}

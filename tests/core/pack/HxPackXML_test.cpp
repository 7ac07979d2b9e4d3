#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>
#include <new>
#include <string>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/pack/HxRecord.h"
#include "core/pack/TestRecords.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::S;
using hxtest::H;

class Tree : public HxRecord<Tree> {
 public:
  HxString name;
  Leaf one;
  LeafList list;
  LeafHash hash;
  HxStringList strings;
  HxIntHash ints;
  int type() const override { return 9104; }
  HxString typeXML() const override { return "tree"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &Tree::name), hx_field(2, "one", &Tree::one),
                           hx_field(3, "list", &Tree::list), hx_field(4, "hash", &Tree::hash),
                           hx_field(5, "strings", &Tree::strings), hx_field(6, "ints", &Tree::ints));
  }
};

// A record that writes nothing.
class Blank : public HxPack {
 public:
  int type() const override { return 9105; }
  HxString typeXML() const override { return "blank"; }
  void encode() override {}
  void decode() override {}
  void encodeXML() override {}
  bool decodeXML() override { return true; }
};

// Three string fields that read the numbered names of repeated elements.
class Repeats : public HxRecord<Repeats> {
 public:
  HxString a, b, c, gone;
  int type() const override { return 9106; }
  HxString typeXML() const override { return "repeats"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "item", &Repeats::a), hx_field(2, "item1", &Repeats::b),
                           hx_field(3, "item2", &Repeats::c), hx_field(4, "item3", &Repeats::gone));
  }
};

std::string xml(HxPack& p) {
  p.packXML();
  return std::string(p.packContents(), p.packSize());
}

// The writer's text inside a document element, as an archive file is read.
std::string wrap(std::string const& text) { return "<pack>\n" + text + "\n</pack>"; }

int unpack(HxPack& p, std::string const& doc) { return p.unpackXML(doc.data(), static_cast<int>(doc.size())); }

Leaf leaf(int n, char const* s) {
  Leaf l;
  l.n = n;
  l.s = s;
  return l;
}

void sample(Tree& t) {
  t.name = "t & <u>";
  t.one = leaf(7, "seven");
  t.one.f = 2.5f;
  t.one.big = -1234567890123LL;
  t.one.flag = true;
  t.one.c = 'q';
  t.list.append(new Leaf(leaf(1, "a")));
  t.list.append(new Leaf(leaf(2, "")));
  t.list.append(new Leaf(leaf(3, "\"c\"")));
  t.hash.set(new Leaf(leaf(10, "ten")), "k1");
  t.hash.set(new Leaf(leaf(20, "twenty")), "k'2");
  t.strings.append(new HxString("x"));
  t.strings.append(new HxString("y<"));
  t.ints.set(5, "five");
  t.ints.set(-6, "minus six");
}

void expect_sample(Tree const& t) {
  EXPECT_EQ(S(t.name), "t & <u>");
  EXPECT_EQ(t.one.n, 7);
  EXPECT_EQ(S(t.one.s), "seven");
  EXPECT_EQ(t.one.f, 2.5f);
  EXPECT_EQ(t.one.big, -1234567890123LL);
  EXPECT_TRUE(t.one.flag);
  EXPECT_EQ(t.one.c, 'q');
  ASSERT_EQ(t.list.length(), 3);
  EXPECT_EQ(t.list.get(0)->n, 1);
  EXPECT_EQ(S(t.list.get(1)->s), "");
  EXPECT_EQ(S(t.list.get(2)->s), "\"c\"");
  ASSERT_EQ(t.hash.count(), 2);
  ASSERT_NE(t.hash.get("k1"), nullptr);
  EXPECT_EQ(t.hash.get("k1")->n, 10);
  ASSERT_NE(t.hash.get("k'2"), nullptr);
  EXPECT_EQ(S(t.hash.get("k'2")->s), "twenty");
  ASSERT_EQ(t.strings.length(), 2);
  EXPECT_EQ(S(*t.strings.get(1)), "y<");
  EXPECT_EQ(t.ints.count(), 2);
  EXPECT_EQ(t.ints.get("five"), 5);
  EXPECT_EQ(t.ints.get("minus six"), -6);
}

// ---- the writer's text -------------------------------------------------------

TEST(HxPackXMLWriter, ObjectThatWritesNothing) {
  Blank b;
  EXPECT_EQ(xml(b), "<version>1</version>\n<object type = 'blank'>\n</object>");
  EXPECT_EQ(b.packSize(), 54);
  EXPECT_EQ(b.packContents()[b.packSize()], 0);  // kept NUL-terminated
}

TEST(HxPackXMLWriter, EscapesAmpersandAnglesAndQuotesOnly) {
  Leaf l;
  l.s = "a<b&\"\"'c>";
  l.n = -3;
  l.big = 9000000000LL;
  l.f = -0.25f;
  l.c = '&';
  EXPECT_EQ(xml(l),
            "<version>1</version>\n<object type = 'leaf'>\n"
            "\t<n>-3</n>\n"
            "\t<s>a&lt;b&amp;&quot;&quot;'c&gt;</s>\n"
            "\t<f>-0.250000</f>\n"
            "\t<big>9000000000</big>\n"
            "\t<flag>0</flag>\n"
            "\t<c>38</c>\n"
            "</object>");
  Leaf back;
  ASSERT_EQ(unpack(back, wrap(xml(l))), 0);
  EXPECT_EQ(S(back.s), "a<b&\"\"'c>");
  EXPECT_EQ(back.c, '&');
  EXPECT_EQ(back.f, -0.25f);
  EXPECT_EQ(back.big, 9000000000LL);

  Leaf twice;
  twice.s = "&lt;";
  EXPECT_NE(xml(twice).find("\t<s>&amp;lt;</s>\n"), std::string::npos);
  Leaf again;
  ASSERT_EQ(unpack(again, wrap(xml(twice))), 0);
  EXPECT_EQ(S(again.s), "&lt;");
}

TEST(HxPackXMLWriter, NestedObjectsListsAndHashes) {
  Tree t;
  t.name = "n";
  t.list.append(new Leaf(leaf(1, "a")));
  t.list.append(new Leaf(leaf(2, "b")));
  t.strings.append(new HxString("s1"));
  t.ints.set(4, "four");
  std::string text = xml(t);
  EXPECT_EQ(text,
            "<version>1</version>\n<object type = 'tree'>\n"
            "\t<name>n</name>\n"
            "\t<one>\n"
            "\t\t<object type = 'leaf'>\n"
            "\t\t\t<n>0</n>\n\t\t\t<s></s>\n\t\t\t<f>0.000000</f>\n\t\t\t<big>0</big>\n"
            "\t\t\t<flag>0</flag>\n\t\t\t<c>0</c>\n"
            "\t\t</object>\n"
            "\t</one>\n"
            "\t<list>\n"
            "\t\t<object type = 'leaf_list'>\n"
            "\t\t\t<item>\n"
            "\t\t\t\t<object type = 'leaf'>\n"
            "\t\t\t\t\t<n>1</n>\n\t\t\t\t\t<s>a</s>\n\t\t\t\t\t<f>0.000000</f>\n\t\t\t\t\t<big>0</big>\n"
            "\t\t\t\t\t<flag>0</flag>\n\t\t\t\t\t<c>0</c>\n"
            "\t\t\t\t</object>\n"
            "\t\t\t</item>\n"
            "\t\t\t<item>\n"
            "\t\t\t\t<object type = 'leaf'>\n"
            "\t\t\t\t\t<n>2</n>\n\t\t\t\t\t<s>b</s>\n\t\t\t\t\t<f>0.000000</f>\n\t\t\t\t\t<big>0</big>\n"
            "\t\t\t\t\t<flag>0</flag>\n\t\t\t\t\t<c>0</c>\n"
            "\t\t\t\t</object>\n"
            "\t\t\t</item>\n"
            "\t\t</object>\n"
            "\t</list>\n"
            "\t<hash>\n"
            "\t\t<object type = 'leaf_hash'>\n"
            "\t\t</object>\n"
            "\t</hash>\n"
            "\t<strings>\n"
            "\t\t<object type = 'string_list'>\n"
            "\t\t\t<item>s1</item>\n"
            "\t\t</object>\n"
            "\t</strings>\n"
            "\t<ints>\n"
            "\t\t<object type = 'int_hash'>\n"
            "\t\t\t<key>four</key>\n"
            "\t\t\t<element>4</element>\n"
            "\t\t</object>\n"
            "\t</ints>\n"
            "</object>");
}

TEST(HxPackXMLWriter, StringHashWritesKeyElementPairs) {
  HxStringHash h;
  h.set(new HxString("1"), "a");
  h.set(new HxString("2"), "b");
  std::string text = xml(h);
  // Slot order decides which pair comes first.
  std::string ab = "\t<key>a</key>\n\t<element>1</element>\n", bb = "\t<key>b</key>\n\t<element>2</element>\n";
  std::string head = "<version>1</version>\n<object type = 'string_hash'>\n";
  EXPECT_TRUE(text == head + ab + bb + "</object>" || text == head + bb + ab + "</object>") << text;
  HxStringHash back;
  ASSERT_EQ(unpack(back, wrap(text)), 0);
  ASSERT_EQ(back.count(), 2);
  EXPECT_EQ(S(*back.get("a")), "1");
  EXPECT_EQ(S(*back.get("b")), "2");
}

TEST(HxPackXMLWriter, TextBeyondAnIntLengthIsRefusedBeforeAnyCopy) {
  Blank b;
  b._storeXML("ab", 2);
  // The new size is worked out without overflowing: nothing is read from the
  // source, nothing is written past the buffer.
  EXPECT_THROW(b._storeXML("x", INT_MAX), std::bad_alloc);
  EXPECT_THROW(b._storeXML("x", INT_MAX - 2), std::bad_alloc);
  EXPECT_EQ(std::string(b.packContents(), b.packSize()), "ab");
  EXPECT_EQ(b.packContents()[2], 0);
}

TEST(HxPackXMLWriter, ShowWritesTheTextAndANewline) {
  Blank b;
  testing::internal::CaptureStdout();
  b.showXML();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "<version>1</version>\n<object type = 'blank'>\n</object>\n");
}

// ---- the reader ----------------------------------------------------------------

TEST(HxPackXMLReader, RoundTripOfNestedRecordsListsAndHashes) {
  Tree t;
  sample(t);
  Tree back;
  ASSERT_EQ(unpack(back, wrap(xml(t))), 0);
  expect_sample(back);
  // And through the binary form.
  t.pack();
  Tree bin;
  ASSERT_EQ(bin.unpack(t.packContents(), t.packSize()), 0);
  expect_sample(bin);
}

TEST(HxPackXMLReader, ResultCodes) {
  Leaf l;
  l.n = 5;
  std::string text = xml(l);
  Leaf r;
  EXPECT_EQ(unpack(r, text), 4);  // two top-level elements
  EXPECT_EQ(r.n, 0);
  EXPECT_EQ(unpack(r, "<pack><version>2</version><object type='leaf'><n>9</n></object></pack>"), 3);
  EXPECT_EQ(r.n, 0);
  EXPECT_EQ(unpack(r, "<pack><object type='leaf'><n>9</n></object></pack>"), 1);
  EXPECT_EQ(r.n, 0);
  EXPECT_EQ(unpack(r, "<pack><version>1</version><object type='leaf'><n>9</n></pack>"), 4);
  EXPECT_EQ(unpack(r, ""), 4);
  EXPECT_EQ(r.unpackXML(nullptr, 0), 4);
  EXPECT_EQ(r.unpackXML("<a/>", -5), 4);
  EXPECT_EQ(r.n, 0);
  // Without an object the result is 0 and nothing changes.
  r.n = 4;
  EXPECT_EQ(unpack(r, "<pack><version>1</version></pack>"), 0);
  EXPECT_EQ(r.n, 4);
  // The type attribute is not checked.
  EXPECT_EQ(unpack(r, "<pack><version>1</version><object type='other'><n>9</n></object></pack>"), 0);
  EXPECT_EQ(r.n, 9);
}

TEST(HxPackXMLReader, MissingElementsKeepValuesAndBadNumbersReadAsConversions) {
  Leaf l;
  l.n = 11;
  l.s = "keep";
  l.flag = true;
  ASSERT_EQ(unpack(l, "<pack><version>1</version><object><big>12x</big><f>bad</f><flag>2</flag></object></pack>"),
            0);
  EXPECT_EQ(l.n, 11);
  EXPECT_EQ(S(l.s), "keep");
  EXPECT_TRUE(l.flag);
  EXPECT_EQ(l.big, 12);
  EXPECT_EQ(l.f, 0.0f);
  l.c = 'k';
  ASSERT_EQ(unpack(l, "<pack><version>1</version><object><flag>0</flag><c></c></object></pack>"), 0);
  EXPECT_FALSE(l.flag);
  EXPECT_EQ(l.c, 'k');  // an empty text leaves a char alone
}

TEST(HxPackXMLReader, EveryCharValueRoundTrips) {
  for (int v = -128; v < 128; ++v) {
    Leaf l;
    l.c = static_cast<char>(v);
    Leaf back;
    back.c = 1;
    ASSERT_EQ(unpack(back, wrap(xml(l))), 0) << v;
    EXPECT_EQ(back.c, static_cast<char>(v));
  }
}

TEST(HxPackXMLReader, RepeatedNamesAreNumbered) {
  Repeats r;
  ASSERT_EQ(unpack(r, "<pack><version>1</version><object>"
                      "<item>first</item><item>second</item><item>third</item></object></pack>"),
            0);
  EXPECT_EQ(S(r.a), "first");
  EXPECT_EQ(S(r.b), "second");
  EXPECT_EQ(S(r.c), "third");
  EXPECT_TRUE(r.gone.isundef());
  // A literal item1 takes its own name; the next repeat goes on past it.
  Repeats q;
  ASSERT_EQ(unpack(q, "<pack><version>1</version><object>"
                      "<item>a</item><item1>lit</item1><item>b</item></object></pack>"),
            0);
  EXPECT_EQ(S(q.a), "a");
  EXPECT_EQ(S(q.b), "lit");
  EXPECT_EQ(S(q.c), "b");
}

TEST(HxPackXMLReader, ListsStopAtTheFirstMissingNumber) {
  HxStringList l;
  ASSERT_EQ(unpack(l, "<pack><version>1</version><object><item>a</item><item2>c</item2></object></pack>"), 0);
  ASSERT_EQ(l.length(), 1);
  EXPECT_EQ(S(*l.get(0)), "a");
  HxStringList two;
  ASSERT_EQ(unpack(two, "<pack><version>1</version><object><item>a</item><item1>b</item1></object></pack>"), 0);
  EXPECT_EQ(two.length(), 2);
  // Objects and values are numbered apart: the first item's text is "item"
  // among the values, the object "item" among the objects and its wrapper's
  // text "item1" among the values. Both names count; item1 has no object and
  // gives a blank record.
  LeafList leaves;
  ASSERT_EQ(unpack(leaves, "<pack><version>1</version><object><item>text</item>"
                           "<item><object><n>3</n></object></item></object></pack>"),
            0);
  ASSERT_EQ(leaves.length(), 2);
  EXPECT_EQ(leaves.get(0)->n, 3);
  EXPECT_EQ(leaves.get(1)->n, 0);
}

TEST(HxPackXMLReader, HashesPairKeysWithElementsAndLastDuplicateWins) {
  HxIntHash h;
  ASSERT_EQ(unpack(h, "<pack><version>1</version><object>"
                      "<key>a</key><element>1</element><key>b</key><element>x</element>"
                      "<key>a</key><element>3</element><key>c</key></object></pack>"),
            0);
  EXPECT_EQ(h.count(), 3);
  EXPECT_EQ(h.get("a"), 3);
  EXPECT_EQ(h.get("b"), 0);
  EXPECT_EQ(h.get("c"), 0);
}

TEST(HxPackXMLReader, ObjectAfterAValueIsFoundUnderUndefObj) {
  // An object element without a wrapping element that follows a value is
  // stored as undef_obj; the wrapped one keeps its element's name.
  Tree t;
  ASSERT_EQ(unpack(t, "<pack><version>1</version><object><name>x</name>"
                      "<object type='leaf'><n>1</n></object>"
                      "<one><object type='leaf'><n>2</n></object></one></object></pack>"),
            0);
  EXPECT_EQ(S(t.name), "x");
  EXPECT_EQ(t.one.n, 2);
}

TEST(HxPackXMLReader, DepthIsBounded) {
  auto nested = [](int depth) {
    std::string doc = "<pack><version>1</version>";
    for (int i = 0; i < depth; ++i) doc += "<one><object>";
    for (int i = 0; i < depth; ++i) doc += "</object></one>";
    return doc + "</pack>";
  };
  Tree t;
  EXPECT_EQ(unpack(t, nested(100)), 0);
  EXPECT_EQ(unpack(t, nested(101)), 4);
  // Far beyond the bound: refused without exhausting the stack.
  std::string deep = "<pack><version>1</version>";
  for (int i = 0; i < 200000; ++i) deep += "<object>";
  EXPECT_EQ(unpack(t, deep), 4);
  std::string unclosed = "<pack><version>1</version>";
  for (int i = 0; i < 100; ++i) unclosed += "<o><object>";
  EXPECT_EQ(unpack(t, unclosed), 4);
}

TEST(HxPackXMLReader, DocumentTypeDeclarationsAreRefused) {
  Leaf l;
  std::string laughs =
      "<!DOCTYPE pack [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
      "<pack><version>1</version><object><s>&d;&d;&d;&d;</s></object></pack>";
  EXPECT_EQ(unpack(l, laughs), 4);
  EXPECT_TRUE(l.s.isundef());
  EXPECT_EQ(unpack(l, "<!DOCTYPE pack><pack><version>1</version><object><n>1</n></object></pack>"), 4);
  EXPECT_EQ(l.n, 0);
  // Character references and the predefined entities are read as usual.
  ASSERT_EQ(unpack(l, "<pack><version>1</version><object><s>&#65;&apos;&#x42;</s></object></pack>"), 0);
  EXPECT_EQ(S(l.s), "A'B");
}

TEST(HxPackXMLReader, BytesThatAreNotUtf8ReadBackAsWritten) {
  std::string raw("caf\xe9 \xff\x80 \xc3", 9);
  Tree t;
  t.name = H(raw);
  t.strings.append(new HxString(H(raw)));
  Tree back;
  ASSERT_EQ(unpack(back, wrap(xml(t))), 0);
  EXPECT_EQ(S(back.name), raw);
  ASSERT_EQ(back.strings.length(), 1);
  EXPECT_EQ(S(*back.strings.get(0)), raw);
  HxStringHash h;
  h.set(new HxString(H(raw)), H("k\xe9y"));
  HxStringHash hback;
  ASSERT_EQ(unpack(hback, wrap(xml(h))), 0);
  ASSERT_NE(hback.get(H("k\xe9y")), nullptr);
  EXPECT_EQ(S(*hback.get(H("k\xe9y"))), raw);
  // UTF-8 text, also from character references, keeps its bytes.
  Leaf l;
  ASSERT_EQ(unpack(l, "<pack><version>1</version><object><s>\xc3\xa9&#233;&#x263A;</s></object></pack>"), 0);
  EXPECT_EQ(S(l.s), "\xc3\xa9\xc3\xa9\xe2\x98\xba");
  // Malformed stays malformed in either reading.
  EXPECT_EQ(unpack(l, "<pack><version>1</version><object><s>\xff</t></object></pack>"), 4);
}

// ---- files --------------------------------------------------------------------

class XmlFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
  }
  HxString path(char const* name) const { return H(dir_ + "/" + name); }
  hxtest::TempDir tmp_{"hxxmltest"};
  std::string dir_ = tmp_.path();
};

TEST_F(XmlFileTest, ArchiveAndRecoverRoundTrip) {
  Tree t;
  sample(t);
  std::string text = xml(t);
  int n = t.archiveXML(path("a.xml"));
  EXPECT_EQ(n, static_cast<int>(text.size()));
  EXPECT_EQ(t.packSize(), 0);  // the buffer is released
  std::ifstream in(dir_ + "/a.xml", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
  Tree back;
  EXPECT_EQ(back.recoverXML(path("a.xml")), n + 15);
  expect_sample(back);
}

TEST_F(XmlFileTest, FailuresGiveZero) {
  Tree t;
  sample(t);
  EXPECT_EQ(t.archiveXML(path("missing/a.xml")), 0);
  // A full disk is a failure, not a short file reported as written.
  EXPECT_EQ(t.archiveXML("/dev/full"), 0);
  EXPECT_EQ(t.archive("/dev/full"), 0);
  EXPECT_GT(t.archive(path("a.bin")), 0);
  Tree back;
  EXPECT_EQ(back.recoverXML(path("none.xml")), 0);
  EXPECT_EQ(back.recoverXML(H(dir_)), 0);
  std::ofstream(dir_ + "/bad.xml") << "<version>1</version><object type = 'tree'><name>x</nam></object>";
  EXPECT_EQ(back.recoverXML(path("bad.xml")), 0);
  std::ofstream(dir_ + "/v2.xml") << "<version>2</version><object type = 'tree'><name>x</name></object>";
  EXPECT_EQ(back.recoverXML(path("v2.xml")), 0);
  std::ofstream(dir_ + "/empty.xml");
  EXPECT_EQ(back.recoverXML(path("empty.xml")), 0);
  EXPECT_TRUE(back.name.isundef());
}

}  // namespace

namespace {

// A record whose members the test writes one at a time.
class Lines : public HxPack {
 public:
  std::function<void(Lines&)> write;
  int type() const override { return 9990; }
  HxString typeXML() const override { return "lines"; }
  void encode() override {}
  void decode() override {}
  void encodeXML() override { write(*this); }
  bool decodeXML() override { return true; }
  // The text of the value lines alone: between the object's opening line and
  // its closing one.
  std::string body() {
    packXML();
    std::string all(packContents(), static_cast<size_t>(packSize()));
    size_t from = all.find("'>\n") + 3;
    return all.substr(from, all.rfind("</object>") - from);
  }
};

// Each value kind gives the same line whether its element name comes as a
// string or as plain text, at any depth.
TEST(HxPackXMLWriter, ValueLinesOfEveryKind) {
  struct Row {
    std::function<void(HxPack&, HxString const&)> as_string;
    std::function<void(HxPack&, char const*)> as_text;
    char const* line;  // at depth 1
  };
  HxString const tricky("a<b>&\"c\"'d");
  std::vector<Row> const rows = {
      {[](HxPack& p, HxString const& n) { p.storeXML(n, 0); }, [](HxPack& p, char const* n) { p.storeXML(n, 0); },
       "\t<v>0</v>\n"},
      {[](HxPack& p, HxString const& n) { p.storeXML(n, INT_MIN); },
       [](HxPack& p, char const* n) { p.storeXML(n, INT_MIN); }, "\t<v>-2147483648</v>\n"},
      {[](HxPack& p, HxString const& n) { p.storeXML(n, LLONG_MIN); },
       [](HxPack& p, char const* n) { p.storeXML(n, LLONG_MIN); }, "\t<v>-9223372036854775808</v>\n"},
      {[](HxPack& p, HxString const& n) { p.storeXML(n, static_cast<unsigned char>(7)); },
       [](HxPack& p, char const* n) { p.storeXML(n, static_cast<unsigned char>(7)); }, "\t<v>1</v>\n"},
      {[](HxPack& p, HxString const& n) { p.storeXML(n, -1.5f); },
       [](HxPack& p, char const* n) { p.storeXML(n, -1.5f); }, "\t<v>-1.500000</v>\n"},
      {[](HxPack& p, HxString const& n) { p.storeXML(n, FLT_MAX); },
       [](HxPack& p, char const* n) { p.storeXML(n, FLT_MAX); },
       "\t<v>340282346638528859811704183484516925440.000000</v>\n"},
      {[](HxPack& p, HxString const& n) { p.storeXML(n, '\xff'); },
       [](HxPack& p, char const* n) { p.storeXML(n, '\xff'); }, "\t<v>-1</v>\n"},
      {[&](HxPack& p, HxString const& n) { p.storeXML(n, tricky); },
       [&](HxPack& p, char const* n) { p.storeXML(n, tricky); }, "\t<v>a&lt;b&gt;&amp;&quot;c&quot;'d</v>\n"},
      {[](HxPack& p, HxString const& n) { p.storeXML(n, "&lt;"); },
       [](HxPack& p, char const* n) { p.storeXML(n, "&lt;"); }, "\t<v>&amp;lt;</v>\n"},
      {[](HxPack& p, HxString const& n) { p.storeXML(n, HxString()); },
       [](HxPack& p, char const* n) { p.storeXML(n, static_cast<char const*>(nullptr)); }, "\t<v></v>\n"},
  };
  for (Row const& r : rows) {
    Lines a, b;
    a.write = [&](Lines& l) { r.as_string(l, HxString("v")); };
    b.write = [&](Lines& l) { r.as_text(l, "v"); };
    EXPECT_EQ(r.line, a.body());
    EXPECT_EQ(r.line, b.body());
  }
  // A nested object written through either name form, one level deeper.
  Lines outer;
  Leaf leaf;
  leaf.n = 5;
  outer.write = [&](Lines& l) {
    l.storeXML("first", leaf);
    l.storeXML(HxString("second"), leaf);
  };
  std::string block = "\t\t<object type = 'leaf'>\n\t\t\t<n>5</n>\n\t\t\t<s></s>\n\t\t\t<f>0.000000</f>\n"
                      "\t\t\t<big>0</big>\n\t\t\t<flag>0</flag>\n\t\t\t<c>0</c>\n\t\t</object>\n";
  EXPECT_EQ("\t<first>\n" + block + "\t</first>\n\t<second>\n" + block + "\t</second>\n", outer.body());
  EXPECT_EQ(nullptr, leaf.packContents());
}

}  // namespace

#include "config/HxConfig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/TestUtil.h"

namespace {

using hxtest::S;
using hxtest::TempFile;

HxConfig Parsed(char const* text) {
  HxConfig c;
  c.parse(HxString(text));
  return c;
}

std::string Keys(HxConfig const& c) {
  HxStringList keys;
  c.labels(keys);
  return S(keys.join(","));
}

TEST(HxConfigScan, BareValuesEndAtBlanksAndComments) {
  HxConfig c = Parsed("a = b c\nd = e # note\nf = g#h\n  i\t=\tj\n");
  EXPECT_EQ(S(c.option("a")), "b");
  EXPECT_EQ(S(c.option("d")), "e");
  EXPECT_EQ(S(c.option("f")), "g");
  EXPECT_EQ(S(c.option("i")), "j");
  EXPECT_EQ(Keys(c), "a,d,f,i");
}

TEST(HxConfigScan, CarriageReturnsAreBlanksAndVanishInQuotesAndBraces) {
  HxConfig c = Parsed("key = value\r\nq = \"x\ry\"\r\nb = {1\r\n2}\r\n");
  EXPECT_EQ(S(c.option("key")), "value");
  EXPECT_EQ(S(c.option("q")), "xy");
  EXPECT_EQ(S(c.option("b")), "1\n2");
}

TEST(HxConfigScan, KeysDropBlanksAndLinesWithoutEqualsAreAbandoned) {
  HxConfig c = Parsed("a b = 1\nkey\nx # y = 3\nnext = 4\n= empty\n");
  EXPECT_EQ(S(c.option("ab")), "1");
  EXPECT_FALSE(c.exists("key"));
  EXPECT_FALSE(c.exists("x"));
  EXPECT_EQ(S(c.option("y")), "3");
  EXPECT_EQ(S(c.option("next")), "4");
  EXPECT_TRUE(c.exists(""));
  EXPECT_EQ(S(c.option("")), "empty");
}

TEST(HxConfigScan, QuotedValues) {
  HxConfig c = Parsed("a = 'it''s'\nb = \"two  words\" # note\nc = \"open\nd = 'x\"y'\n");
  EXPECT_EQ(S(c.option("a")), "it");
  EXPECT_EQ(S(c.option("b")), "two  words");
  // A line feed ends an unclosed quote and scanning resumes on the next line.
  EXPECT_EQ(S(c.option("c")), "open");
  EXPECT_EQ(S(c.option("d")), "x\"y");
  EXPECT_EQ(Keys(c), "a,b,c,d");
}

TEST(HxConfigScan, BracedValuesSpanLinesAndNest) {
  HxConfig c = Parsed("code = {first\n  if {x} then\nlast} trailing words\nafter = 1\n");
  EXPECT_EQ(S(c.option("code")), "first\n  if {x} then\nlast");
  EXPECT_EQ(S(c.option("after")), "1");
  EXPECT_EQ(Keys(c), "code,after");
  EXPECT_EQ(S(c.convert()), "code = {first\n  if {x} then\nlast}\nafter = 1\n");
}

TEST(HxConfigScan, EndOfText) {
  EXPECT_FALSE(Parsed("key =").exists("key"));
  EXPECT_FALSE(Parsed("key").exists("key"));
  HxConfig blank = Parsed("key = ");
  EXPECT_TRUE(blank.exists("key"));
  EXPECT_EQ(S(blank.option("key")), "");
  HxConfig lf = Parsed("key =\nnext = 2");
  EXPECT_EQ(S(lf.option("key")), "");
  EXPECT_EQ(S(lf.option("next")), "2");
  EXPECT_EQ(S(Parsed("q = \"unclosed").option("q")), "unclosed");
  EXPECT_EQ(S(Parsed("b = {unclosed\nrest").option("b")), "unclosed\nrest");
  EXPECT_EQ(S(Parsed("k = v").option("k")), "v");
  EXPECT_EQ(Keys(Parsed("")), "");
  EXPECT_EQ(Keys(Parsed("[unclosed header")), "");
  EXPECT_EQ(Keys(Parsed("# only a comment")), "");
}

TEST(HxConfigScan, HeadersAreSkippedAndSectionsShareOneTable) {
  HxConfig c = Parsed("[main] a = 1\n[other]\na = 2\nb = 3\n");
  EXPECT_EQ(S(c.option("a")), "2");
  EXPECT_EQ(Keys(c), "a,b");
}

TEST(HxConfigScan, RepeatedKeyKeepsFirstPlaceAndTakesLastValue) {
  HxConfig c = Parsed("a = 1\nb = 2\na = 3\n");
  EXPECT_EQ(Keys(c), "a,b");
  EXPECT_EQ(S(c.option("a")), "3");
}

TEST(HxConfigScan, BareValuesKeepBytesAbove0x7F) {
  HxConfig c = Parsed("root = /mnt/caf\xC3\xA9/r\xC3\xBC" "ck x\nnext = 1\n");
  EXPECT_EQ(S(c.option("root")), "/mnt/caf\xC3\xA9/r\xC3\xBC" "ck");
  EXPECT_EQ(S(c.option("next")), "1");
}

TEST(HxConfigScan, HostileTextDoesNotStopTheScanner) {
  // Each line of junk ends at its line feed (a quote left open ends there
  // too); the option after it is read.
  std::string const junk[] = {
      std::string("\0\xff#=\n", 5), std::string("\0\xff=\n", 4), "\"open\n", "'open\n", "k = 'open\n", "{open\n",
      "\x01\x02 = \x7f\n",
  };
  for (std::string const& line : junk) {
    SCOPED_TRACE(testing::PrintToString(line));
    std::string text = "a = 1\n" + line + "b = 2\n";
    HxConfig c;
    EXPECT_TRUE(c.parse(HxString(text.data(), static_cast<int>(text.size()))));
    EXPECT_EQ(S(c.option("a")), "1");
    EXPECT_EQ(S(c.option("b")), "2");
    EXPECT_TRUE(c.valid());
  }
}

TEST(HxConfigLoad, FilesMergeAndAMissingFileClearsValid) {
  TempFile first("a = 1\nb = 2\n");
  TempFile second("b = 3\nc = 4\n");
  HxConfig c(first.path());
  EXPECT_TRUE(c.valid());
  c.load(second.path());
  EXPECT_TRUE(c.valid());
  EXPECT_EQ(Keys(c), "a,b,c");
  EXPECT_EQ(S(c.option("b")), "3");
  c.load("/nonexistent/hx.conf");
  EXPECT_FALSE(c.valid());
  EXPECT_EQ(Keys(c), "a,b,c");
  c.load(first.path());
  EXPECT_TRUE(c.valid());
  c.load("/tmp");
  EXPECT_FALSE(c.valid());
  EXPECT_EQ(Keys(c), "a,b,c");
}

TEST(HxConfigLoad, LongFileIsReadWhole) {
  std::string text;
  for (int i = 0; i < 500; ++i) text += "key" + std::to_string(i) + " = value" + std::to_string(i) + "\n";
  TempFile f(text);
  HxConfig c(f.path());
  EXPECT_EQ(S(c.option("key0")), "value0");
  EXPECT_EQ(S(c.option("key499")), "value499");
}

TEST(HxConfigConvert, FormatsAndRoundTrips) {
  // Each value is written as the text shown and reads back unchanged.
  struct Row {
    char const* value;
    char const* written;
  } const rows[] = {
      {"x", "x"},
      {"two words", "\"two words\""},
      {"tab\there", "\"tab\there\""},
      {"a\nb", "{a\nb}"},
      {"", ""},
      {"a#b", "\"a#b\""},
      {"#lead", "\"#lead\""},
      {"say \"hi\"", "'say \"hi\"'"},
      {"\"x", "'\"x'"},
      {"it's", "it's"},
      {"it's here", "\"it's here\""},
      {"'q", "\"'q\""},
      {"{x", "\"{x\""},
      {"x}", "x}"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.value);
    HxConfig c;
    c.option("k", row.value);
    EXPECT_EQ(S(c.convert()), std::string("k = ") + row.written + "\n");
    HxConfig back = Parsed(S(c.convert()).c_str());
    EXPECT_EQ(Keys(back), "k");
    EXPECT_EQ(S(back.option("k")), row.value);
  }
  HxConfig all;
  int k = 0;
  for (Row const& row : rows) all.option("k" + std::to_string(k++), row.value);
  HxConfig back = Parsed(S(all.convert()).c_str());
  EXPECT_EQ(S(back.convert()), S(all.convert()));
  EXPECT_EQ(S(HxConfig().convert()), "");
}

TEST(HxConfigConvert, Display) {
  HxConfig c = Parsed("a = 1\nb = two words\n");
  testing::internal::CaptureStdout();
  c.display();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "items: 2\n0: a=1\n1: b=two\n");
}

TEST(HxConfigTemplate, RewritesAssignmentsOnce) {
  HxConfig c;
  c.option("port", "7");
  EXPECT_EQ(S(c.usetemplate("# the port\n#port = 1\nport = 2\n")), "# the port\nport = 7\n");
}

TEST(HxConfigTemplate, WithoutOptionsCommentsOutActiveSettings) {
  HxConfig c;
  EXPECT_EQ(S(c.usetemplate("Port = 1\n#port = 2\nhost = a\n\nX=1\nsome.thing = 3\n")),
            "#Port = 1\n#port = 2\n#host = a\n\nX=1\nsome.thing = 3\n");
}

TEST(HxConfigTemplate, AppendsMissingOptionsAndIsStableOnItsOutput) {
  HxConfig c;
  c.option("port", "7");
  c.option("name", "two words");
  c.option("code", "a\nb");
  HxString once = c.usetemplate("port = 1\nother = 2");
  EXPECT_EQ(S(once),
            "port = 7\n#other = 2\n# these are not included in the template\nname = \"two words\"\ncode = {a\nb}\n\n");
  HxString twice = c.usetemplate(once);
  EXPECT_EQ(S(twice), "port = 7\n#other = 2\nname = \"two words\"\ncode = {a\nb}\n\n");
  EXPECT_EQ(S(c.usetemplate(twice)), S(twice));
}

TEST(HxConfigTemplate, BracedValuesInTheTemplateStayOneLine) {
  HxConfig c;
  c.option("code", "new");
  EXPECT_EQ(S(c.usetemplate("code = {old\nlines}\nx = 1\n")), "code = new\n#x = 1\n");
}

TEST(HxConfigTemplate, UnreadableTemplateFileIsEmpty) {
  HxConfig c;
  c.option("a", "1");
  EXPECT_EQ(S(c.loadtemplate("/nonexistent/template")), "# these are not included in the template\na = 1\n\n");
  TempFile f("a = 0\n");
  EXPECT_EQ(S(c.loadtemplate(f.path())), "a = 1\n");
}

TEST(HxConfigOptions, RemoveMatchInherit) {
  HxConfig c = Parsed("a = 1\nb = 2\nc = 3\n");
  EXPECT_TRUE(c.remove("b"));
  EXPECT_FALSE(c.remove("b"));
  EXPECT_EQ(Keys(c), "a,c");
  c.option("b", "4");
  EXPECT_EQ(Keys(c), "a,c,b");

  HxConfig sub = Parsed("c = 3\nmissing = \n");
  EXPECT_TRUE(c.matchsubset(sub));
  sub.option("a", "9");
  EXPECT_FALSE(c.matchsubset(sub));
  HxConfig none;
  EXPECT_TRUE(c.matchsubset(none));

  c.inherit(sub);
  EXPECT_EQ(Keys(c), "a,c,b,missing");
  EXPECT_EQ(S(c.option("a")), "9");
  c.inherit(c);
  EXPECT_EQ(Keys(c), "a,c,b,missing");
  EXPECT_EQ(S(c.option("a")), "9");

  HxStringList* list = c.optionlist();
  EXPECT_EQ(S(list->join(",")), "a,c,b,missing");
  delete list;
  EXPECT_EQ(&c.option("nothing"), &c.option("other"));
}

// Stored values and listed keys carry the capacity and state of ordinary
// copies, through replacement, removal and adding again, and copying the set.
TEST(HxConfigOptions, StoredValuesAnswerAsOrdinaryCopies) {
  for (int n : {0, 1, 15, 16, 17, 1000}) {
    SCOPED_TRACE(n);
    HxString const key(std::string(static_cast<size_t>(n) + 1, 'k'));
    HxString const value(std::string(static_cast<size_t>(n), 'v'));
    HxConfig c = Parsed("first = 1\n");
    c.option(key, HxString("replaced later"));
    c.option(key, value);
    EXPECT_TRUE(c.remove(key));
    c.option(key, value);
    HxConfig d(c);
    for (HxConfig const* got : {&c, &d}) {
      EXPECT_EQ(HxString(value).capacity(), got->option(key).capacity());
      EXPECT_EQ(HxString(value).isundef(), got->option(key).isundef());
      EXPECT_EQ(Keys(*got), "first," + S(key));
      HxStringList keys;
      got->labels(keys);
      EXPECT_EQ(HxString(key).capacity(), keys.get(1)->capacity());
    }
  }
}

TEST(HxConfigOptions, CopyKeepsOrderAndOwnScanState) {
  HxConfig c = Parsed("z = 1\ny = 2\n");
  c.name("sec");
  c.address(HxAddress(HxString("10.1.2.3")));
  HxConfig d(c);
  EXPECT_EQ(S(d.address().stringvalue()), "10.1.2.3");
  EXPECT_EQ(Keys(d), "z,y");
  EXPECT_EQ(S(d.name()), "sec");
  EXPECT_FALSE(d.valid());
  HxConfig e = Parsed("old = 1\n");
  e = c;
  EXPECT_EQ(Keys(e), "z,y");
  EXPECT_TRUE(e.valid());
}

TEST(HxConfigOptions, CopyRebuildsAnEmptyListFromTheTable) {
  // A record that carries the option table (field 0, a string hash) but no
  // option list: decoding leaves the list empty, copying rebuilds it.
  static char const bytes[] =
      "\x00\x00\x00\x01"
      "\x00\x00\x00\x04" "\x00\x00\x00\x38" "\x00\x00\x00\x1a"
      "\x00\x01\x00\x01" "\x00\x00\x00\x01"
      "\x00\x0a\x00\x03" "\x00\x00\x00\x01" "a"
      "\x00\x1e\x00\x03" "\x00\x00\x00\x01" "1";
  HxConfig table_only;
  ASSERT_EQ(table_only.unpack(bytes, sizeof bytes - 1), 0);
  EXPECT_EQ(S(table_only.option("a")), "1");
  EXPECT_EQ(Keys(table_only), "");
  HxConfig copy(table_only);
  EXPECT_EQ(Keys(copy), "a");
  // Setting a key the table holds but the list lacks lists it, once.
  table_only.option("a", "2");
  table_only.option("a", "3");
  EXPECT_EQ(Keys(table_only), "a");
  EXPECT_EQ(S(table_only.convert()), "a = 3\n");
}

TEST(HxConfigRecord, BinaryAndXmlRoundTrip) {
  HxConfig c = Parsed("b = 2\n");
  c.option("a", "one two");
  c.name("sec");
  c.address(HxAddress(HxString("10.1.2.3")));
  c.pack();
  std::string bytes(c.packContents(), static_cast<size_t>(c.packSize()));
  HxConfig d;
  ASSERT_EQ(d.unpack(bytes.data(), static_cast<int>(bytes.size())), 0);
  EXPECT_EQ(Keys(d), "b,a");
  EXPECT_EQ(S(d.option("a")), "one two");
  EXPECT_EQ(S(d.name()), "sec");
  EXPECT_EQ(S(d.address().stringvalue()), "10.1.2.3");
  EXPECT_EQ(d.type(), 50);
  EXPECT_EQ(S(d.typeXML()), "config");
}

TEST(HxConfigRecord, ExactBytes) {
  HxConfig c = Parsed("a = 1\n");
  c.name("s");
  c.pack();
  std::string bytes(c.packContents(), static_cast<size_t>(c.packSize()));
  static char const expected[] =
      "\x00\x00\x00\x01"
      // field 1: the address
      "\x00\x01\x00\x04" "\x00\x00\x00\x0d" "\x00\x00\x00\x08"
      "\x00\x01\x00\x01" "\x00\x00\x00\x00"
      // field 3: the option list
      "\x00\x03\x00\x04" "\x00\x00\x00\x37" "\x00\x00\x00\x11"
      "\x00\x01\x00\x01" "\x00\x00\x00\x01"
      "\x00\x0a\x00\x03" "\x00\x00\x00\x01" "a"
      // field 0: the option table
      "\x00\x00\x00\x04" "\x00\x00\x00\x38" "\x00\x00\x00\x1a"
      "\x00\x01\x00\x01" "\x00\x00\x00\x01"
      "\x00\x0a\x00\x03" "\x00\x00\x00\x01" "a"
      "\x00\x1e\x00\x03" "\x00\x00\x00\x01" "1"
      // field 2: the name
      "\x00\x02\x00\x03" "\x00\x00\x00\x01" "s";
  EXPECT_EQ(bytes, std::string(expected, sizeof expected - 1));
}

TEST(HxConfigRecord, XmlRoundTrip) {
  HxConfig c = Parsed("b = 2\n");
  c.option("a", "one two");
  c.name("sec");
  c.packXML();
  std::string xml = "<pack>\n" + std::string(c.packContents(), static_cast<size_t>(c.packSize())) + "\n</pack>";
  HxConfig x;
  ASSERT_EQ(x.unpackXML(xml.data(), static_cast<int>(xml.size())), 0) << xml;
  EXPECT_EQ(Keys(x), "b,a");
  EXPECT_EQ(S(x.option("a")), "one two");
  EXPECT_EQ(S(x.name()), "sec");
}

}  // namespace

#include "core/HxError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/TestUtil.h"

namespace {

using hxtest::S;

std::string message(int number) { return S(HxError(number).value()); }

std::string expand(char const* text) {
  HxMacro m;
  m.set("X", "1");
  return S(m.parse(text));
}

TEST(HxErrorMessages, NumbersAndTheirTemplates) {
  EXPECT_EQ(S(HxError().value()), "none");
  EXPECT_EQ(HxError().integervalue(), -1);
  HxError e;
  e.value(0);
  EXPECT_EQ(S(e.value()), "general error");
  e.value(3063);
  EXPECT_EQ(S(e.value()), "couldn't find jobs(s).");
  EXPECT_EQ(e.integervalue(), 3063);
  // Texts are kept byte for byte, their misspellings included.
  EXPECT_EQ(message(2051), "unspecifed error");
  EXPECT_EQ(message(3056), "no jobs specifed to submit.");
  EXPECT_EQ(message(2052), "ERROR: data returned blank");
  EXPECT_EQ(message(1), "unable to establish key exchange");
  EXPECT_EQ(message(45), "select write error: ");
  EXPECT_EQ(message(1039), "select fail: ");
  EXPECT_EQ(message(1051), "connection rejected - too many connections");
  EXPECT_EQ(message(3067), "job query requesting for subjob/work details is required to explicitly provide job IDs");
  EXPECT_EQ(message(4062), "Unable to launch job.");
  EXPECT_EQ(message(4072), "Worker received duplicate job.");
  EXPECT_EQ(message(100001), "general error");
  // Gaps and numbers outside the table.
  for (int n : {0, 29, 36, 41, 46, 1038, 1052, 2053, 3062, 4073, 99999, 100002, -2, -100000})
    EXPECT_EQ(message(n), "general error") << n;
}

TEST(HxErrorMessages, PlaceholdersAreFilledFromTheValues) {
  HxError e(18);
  e.set("VERSION", "7");
  EXPECT_EQ(S(e.value()), "tcp comm version doesn't match - version: 7");
  HxError big(3065);
  big.set("SIZE", "1048576");
  EXPECT_EQ(S(big.value()),
            "log file too large >1048576 bytes and has been truncated. please refer to job log directory located "
            "on the supervisor for the entire file.");
  EXPECT_EQ(message(2), "openssl error: ");
  EXPECT_EQ(message(100000), "");
  HxError text(100000);
  text.set("ERROR", "the whole $VERSION text");
  text.set("VERSION", "9");
  EXPECT_EQ(S(text.value()), "the whole $VERSION text");  // not expanded again
  HxError twice(37);
  twice.set("ERROR", "first");
  twice.set("ERROR", "Connection refused");
  EXPECT_EQ(S(twice.value()), "unable to connect to host: Connection refused");
  HxError id(2053);
  id.set("ID", "55");
  EXPECT_EQ(S(id.value()), "general error");
}

TEST(HxMacroParse, PlaceholderForms) {
  EXPECT_EQ(expand("a$(X)b"), "a1b");
  EXPECT_EQ(expand("a$Xb"), "a");
  EXPECT_EQ(expand("a$X.b"), "a1.b");
  EXPECT_EQ(expand("cost $"), "cost ");
  EXPECT_EQ(expand("$$X"), "1");
  EXPECT_EQ(expand("$(X"), "1");
  EXPECT_EQ(expand("$x"), "");
  EXPECT_EQ(expand("$X$X"), "11");
  EXPECT_EQ(expand("$()"), "");
  EXPECT_EQ(expand("no placeholder"), "no placeholder");
  EXPECT_EQ(expand(""), "");
  HxMacro m;
  m.set("A_1", "v");
  m.set("sp ace", "w");
  EXPECT_EQ(S(m.parse("[$A_1-$(sp ace)]")), "[v-w]");
}

bool lookup_upper(HxString const& name, HxString& out) {
  if (name == HxString("ASK")) {
    out = "asked";
    return true;
  }
  out = "ignored";
  return false;
}

TEST(HxMacroParse, LookupFunctionFillsWhatTheValuesLack) {
  HxMacro m;
  m.set("ASK", "stored");
  m.set(lookup_upper);
  EXPECT_EQ(S(m.parse("$ASK")), "stored");
  HxMacro n;
  n.set(lookup_upper);
  EXPECT_EQ(S(n.parse("<$ASK|$OTHER>")), "<asked|>");
  HxString out("untouched");
  EXPECT_FALSE(n.get("ASK", out));
  EXPECT_EQ(S(out), "untouched");
  // Copies take the values, never the lookup function.
  HxMacro copied(n);
  EXPECT_EQ(S(copied.parse("$ASK")), "");
  m = HxMacro();
  EXPECT_EQ(S(m.parse("$ASK")), "asked");  // the target keeps its own
}

TEST(HxErrorCopy, NumberAndValuesAreCopiedDeeply) {
  HxError a(18);
  a.set("VERSION", "3");
  HxError b(a);
  HxError c;
  c = a;
  a.set("VERSION", "4");
  EXPECT_EQ(S(b.value()), "tcp comm version doesn't match - version: 3");
  EXPECT_EQ(S(c.value()), "tcp comm version doesn't match - version: 3");
  HxError d;
  d.copy(a);
  EXPECT_EQ(S(d.value()), "tcp comm version doesn't match - version: 4");
  d.copy(d);
  EXPECT_EQ(d.integervalue(), 18);
  HxOldError o("text"), p;
  p = o;
  EXPECT_EQ(S(p.value()), "text");
}

TEST(HxErrorForms, BinaryRecordBytes) {
  HxError e(18);
  e.set("VERSION", "7");
  e.pack();
  std::string expect(
      "\x00\x00\x00\x01"
      "\x00\x01\x00\x01\x00\x00\x00\x12"                   // number 18
      "\x00\x02\x00\x04\x00\x00\x00\x62\x00\x00\x00\x2c"   // values: a macro, 44 bytes
      "\x00\x01\x00\x04\x00\x00\x00\x38\x00\x00\x00\x20"   // its string hash, 32 bytes
      "\x00\x01\x00\x01\x00\x00\x00\x01"                   // one entry
      "\x00\x0a\x00\x03\x00\x00\x00\x07VERSION"
      "\x00\x1e\x00\x03\x00\x00\x00\x01"
      "7",
      68);
  EXPECT_EQ(std::string(e.packContents(), e.packSize()), expect);

  HxError back;
  ASSERT_EQ(back.unpack(expect.data(), static_cast<int>(expect.size())), 0);
  EXPECT_EQ(back.integervalue(), 18);
  EXPECT_EQ(S(back.value()), "tcp comm version doesn't match - version: 7");
}

TEST(HxErrorForms, BinaryRoundTripKeepsEveryValue) {
  HxError e(100000);
  e.set("ERROR", "disk <full> & \"gone\"");
  e.set("VERSION", "");
  e.set("ID", HxString("a\0b", 3));
  e.pack();
  HxError back;
  ASSERT_EQ(back.unpack(e.packContents(), e.packSize()), 0);
  EXPECT_EQ(back.integervalue(), 100000);
  EXPECT_EQ(S(back.value()), "disk <full> & \"gone\"");
  HxString out;
  ASSERT_TRUE(back.values().get("ID", out));
  EXPECT_EQ(S(out), std::string("a\0b", 3));
  ASSERT_TRUE(back.values().get("VERSION", out));
  EXPECT_EQ(S(out), "");
  EXPECT_EQ(back.values().values().count(), 3);

  HxOldError o("old text");
  o.pack();
  EXPECT_EQ(std::string(o.packContents(), o.packSize()),
            std::string("\x00\x00\x00\x01\x00\x01\x00\x03\x00\x00\x00\x08old text", 20));
  HxOldError ob;
  ASSERT_EQ(ob.unpack(o.packContents(), o.packSize()), 0);
  EXPECT_EQ(S(ob.value()), "old text");
}

TEST(HxErrorForms, XmlTextAndRoundTrip) {
  HxError e(18);
  e.set("VERSION", "<7>");
  e.packXML();
  EXPECT_EQ(std::string(e.packContents(), e.packSize()),
            "<version>1</version>\n"
            "<object type = 'err'>\n"
            "\t<number>18</number>\n"
            "\t<values>\n"
            "\t\t<object type = 'macro'>\n"
            "\t\t\t<value>\n"
            "\t\t\t\t<object type = 'string_hash'>\n"
            "\t\t\t\t\t<key>VERSION</key>\n"
            "\t\t\t\t\t<element>&lt;7&gt;</element>\n"
            "\t\t\t\t</object>\n"
            "\t\t\t</value>\n"
            "\t\t</object>\n"
            "\t</values>\n"
            "</object>");
  std::string doc = "<pack>\n" + std::string(e.packContents(), e.packSize()) + "\n</pack>";
  HxError back;
  ASSERT_EQ(back.unpackXML(doc.data(), static_cast<int>(doc.size())), 0);
  EXPECT_EQ(back.integervalue(), 18);
  EXPECT_EQ(S(back.value()), "tcp comm version doesn't match - version: <7>");

  HxOldError o("it's <old>");
  o.packXML();
  std::string otext(o.packContents(), o.packSize());
  EXPECT_EQ(otext, "<version>1</version>\n<object type = 'error'>\n\t<value>it's &lt;old&gt;</value>\n</object>");
  otext = "<pack>" + otext + "</pack>";
  HxOldError ob;
  ASSERT_EQ(ob.unpackXML(otext.data(), static_cast<int>(otext.size())), 0);
  EXPECT_EQ(S(ob.value()), "it's <old>");
}

TEST(HxErrorFatal, ExitsWithStatusOneAfterItsLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FATALERROR(5), ::testing::ExitedWithCode(1), "^Error: 5\n$");
  EXPECT_EXIT(FATALERROR(-42), ::testing::ExitedWithCode(1), "^Error: -42\n$");
  EXPECT_EXIT(FATALERROR("bad thing"), ::testing::ExitedWithCode(1), "^OldError: bad thing\n$");
  EXPECT_EXIT(FATALERROR(HxString("held")), ::testing::ExitedWithCode(1), "^OldError: held\n$");
}

}  // namespace

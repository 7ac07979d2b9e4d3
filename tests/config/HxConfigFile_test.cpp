#include "config/HxConfigFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>

#include "config/HxConfigLimits.h"

#include "tests/TestUtil.h"

namespace {

using hxtest::S;
using hxtest::TempFile;

std::string Join(HxStringList const& list, char const* sep = "|") { return S(list.join(sep)); }

// The value of one option, or "<none>" when the section is missing.
std::string Opt(HxConfigFile const& f, char const* section, char const* key) {
  HxConfig* s = f.config(section);
  return s == nullptr ? "<none>" : S(s->option(key));
}

std::string Keys(HxConfigFile const& f, char const* section) {
  HxConfig* s = f.config(section);
  if (s == nullptr) return "<none>";
  HxStringList keys;
  s->labels(keys);
  return Join(keys, ",");
}

// The process's peak resident size so far.
long long PeakKiB() {
  struct rusage use;
  getrusage(RUSAGE_SELF, &use);
  return use.ru_maxrss;
}

std::string Sections(HxConfigFile const& f) {
  HxStringList names;
  f.keys(names);
  names.sort();
  return Join(names, ",");
}

TEST(HxConfigFileTokens, FileTokens) {
  HxStringList t;
  HxConfigFile::tokenize("a = \"x \\\" \\\\ \\y\" # c\n[h]:p {b\\}c\nd}s.k$v\r\n", t);
  EXPECT_EQ(Join(t), "a|=|\"|x \" \\ \\y|\"|\n|[|h|]|:|p|b}c\nd|s.k$v|\r|\n");

  HxStringList blanks;
  HxConfigFile::tokenize("a \t", blanks);
  EXPECT_EQ(blanks.length(), 2);
  EXPECT_EQ(Join(blanks), "a|");

  // An unclosed string or block runs to the line end or the end of the text.
  HxStringList open;
  HxConfigFile::tokenize("\"abc\nx {de", open);
  EXPECT_EQ(Join(open), "\"|abc|\"|x|de");
}

TEST(HxConfigFileTokens, ControlBytesGoHighBytesStay) {
  HxStringList t;
  HxConfigFile::tokenize(HxString("a\x01\x7f" "b = /caf\xC3\xA9", 13), t);
  EXPECT_EQ(Join(t), "ab|=|/caf\xC3\xA9");
}

TEST(HxConfigFileTokens, ValueTokensJoinBack) {
  HxStringList t;
  HxString value("$a  $s.k\\{}x\ny\rz");
  HxConfigFile::stringtokenize(value, t);
  EXPECT_EQ(Join(t), "$|a|  |$|s|.|k|\\|{|}|x\ny|\rz");
  EXPECT_EQ(S(t.join("")), S(value));
}

TEST(HxConfigFileParse, DefaultSectionAndHeaders) {
  HxConfigFile f;
  f.parse("a = 1\n[x,y]\nv = 2\n[z] w = 3\n");
  EXPECT_EQ(Sections(f), "default,x,y,z");
  EXPECT_EQ(Opt(f, "default", "a"), "1");
  EXPECT_EQ(Opt(f, "x", "v"), "2");
  EXPECT_EQ(Opt(f, "y", "v"), "2");
  EXPECT_EQ(Opt(f, "z", "w"), "3");
  EXPECT_EQ(S(f.config("x")->name()), "x");

  HxConfigFile headers_only;
  headers_only.parse("[only]\n");
  EXPECT_EQ(Sections(headers_only), "only");
}

TEST(HxConfigFileParse, PatternHeadersAndParents) {
  HxConfigFile f;
  f.parse("[base]\nroot = /r\nmode = a\n[extra]\nmode = b\nmore = 1\n"
          "[node[1-2]] : base extra\nmode = c\n");
  EXPECT_EQ(Sections(f), "base,extra,node1,node2");
  EXPECT_EQ(Keys(f, "node1"), "root,mode,more");
  EXPECT_EQ(Opt(f, "node1", "root"), "/r");
  EXPECT_EQ(Opt(f, "node2", "mode"), "c");
  EXPECT_EQ(Opt(f, "node2", "more"), "1");

  // A section named again as its own parent copies its options onto
  // themselves: each value is read before the copy replaces it.
  HxConfigFile own;
  own.parse("[s]\nroot = /r\npath = \"${self.root}/x\"\n[s] : s\n");
  EXPECT_EQ(Keys(own, "s"), "root,path");
  EXPECT_EQ(Opt(own, "s", "path"), "/r/x");
}

TEST(HxConfigFileParse, MissingParentWarnsAndIsSkipped) {
  HxConfigFile f;
  testing::internal::CaptureStderr();
  f.parse("[c] : nosuch\nk = 1\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: c missing parent nosuch... skipping.\n");
  EXPECT_EQ(Keys(f, "c"), "k");
}

TEST(HxConfigFileParse, Values) {
  HxConfigFile f;
  f.parse("[v]\nq = \"two  words\"\nk = two words\nb = {a b}\nc = x # note\ne =\n"
          "path = C:\\dir\ntime = 10:30\n\"quoted key\" = 1\nv . t = 2\nother.t = 3\n");
  EXPECT_EQ(Opt(f, "v", "q"), "two  words");
  EXPECT_EQ(Opt(f, "v", "k"), "twowords");
  EXPECT_EQ(Opt(f, "v", "b"), "a b");
  EXPECT_EQ(Opt(f, "v", "c"), "x");
  EXPECT_EQ(Opt(f, "v", "e"), "");
  EXPECT_EQ(Opt(f, "v", "path"), "C:\\dir");
  EXPECT_EQ(Opt(f, "v", "time"), "10:30");
  EXPECT_EQ(Opt(f, "v", "quoted key"), "1");
  EXPECT_EQ(Opt(f, "v", "t"), "2");
  EXPECT_EQ(Opt(f, "v", "other.t"), "3");
  EXPECT_EQ(Keys(f, "v"), "q,k,b,c,e,path,time,quoted key,t,other.t");
}

TEST(HxConfigFileParse, TargetSectionIsCreated) {
  HxConfigFile f;
  f.parse("[a]\nfar . k = 1\n");
  EXPECT_EQ(Sections(f), "a,far");
  EXPECT_EQ(Opt(f, "far", "k"), "1");
  EXPECT_EQ(Keys(f, "a"), "");
}

TEST(HxConfigFileParse, StopsAtTheFirstBadLineAndKeepsWhatItRead) {
  HxConfigFile f;
  f.parse("a = 1\noops\nb = 2\n");
  EXPECT_EQ(Keys(f, "default"), "a");

  HxConfigFile tail;
  tail.parse("[s]\nq = \"x\" trailing\nr = 1\n");
  EXPECT_EQ(Keys(tail, "s"), "q");

  for (char const* bad : {"a = 1\nk =", "a = 1\nk", "a = 1\nk .", "a = 1\n\"open"}) {
    HxConfigFile g;
    g.parse(bad);
    EXPECT_EQ(Keys(g, "default"), "a") << bad;
  }
}

TEST(HxConfigFileParse, TooManySectionsStopReading) {
  HxConfigFile f;
  std::string text = "a = 1\n[n[1-" + std::to_string(kHxMaxConfigSections + 5) + "]]\nk = 1\n";
  f.parse(HxString(text));
  HxStringList names;
  f.keys(names);
  EXPECT_EQ(names.length(), kHxMaxConfigSections);
  EXPECT_EQ(Opt(f, "default", "a"), "1");
  EXPECT_EQ(Keys(f, "n1"), "");
}

TEST(HxConfigFileParse, HeadersNamingSectionsAgainAndAgainStopReading) {
  // Each header names the same sections; the names of all headers together
  // pass the bound one header before the end.
  long long per_header = kHxMaxConfigSections - 1;  // "s" is one section too
  long long headers = kHxMaxConfigHeaderNames / per_header;
  std::string header = "[n[1-" + std::to_string(per_header) + "]]\n";
  std::string text = "[s]\na = 1\n";
  for (long long h = 0; h < headers; ++h) text += header;
  text += "k = 1\n" + header + "late = 1\n";
  HxConfigFile f;
  f.parse(HxString(text));
  EXPECT_EQ(Keys(f, "n1"), "k");
  EXPECT_EQ(Keys(f, "s"), "a");
}

TEST(HxConfigFileParse, AHeaderWithoutNamesTakesNothingFromItsParents) {
  // A parent of 5000 options named 20000 times by a header without sections:
  // nothing is stored, and nothing is copied (which took seconds).
  std::string text = "[p]\n";
  for (int i = 0; i < 5000; ++i) text += "k" + std::to_string(i) + " = 1\n";
  text += "[] :";
  for (int i = 0; i < 20000; ++i) text += " p";
  text += "\nq = 1\n[r]\nk = 2\n";
  HxConfigFile f;
  f.parse(HxString(text));
  EXPECT_EQ(Sections(f), "p,r");
  EXPECT_EQ(Opt(f, "p", "q"), "");
  EXPECT_EQ(Opt(f, "r", "k"), "2");
}

TEST(HxConfigFileParse, OptionsMultipliedBySectionsStayBounded) {
  // 2000 sections times 64 KiB passes the bound on what a parse stores.
  std::string big(64 * 1024, 'x');
  std::string text = "[base]\nk = {" + big + "}\n[n[1-2000]] : base\nafter = 1\n";
  HxConfigFile f;
  f.parse(HxString(text));
  EXPECT_EQ(Opt(f, "n1", "k"), big);
  EXPECT_EQ(Keys(f, "n2000"), "");
  EXPECT_EQ(Keys(f, "n1"), "k");

  HxConfigFile g;
  g.parse(HxString("[n[1-2000]]\nk = {" + big + "}\nafter = 1\n"));
  EXPECT_EQ(Opt(g, "n1", "k"), big);
  EXPECT_EQ(Keys(g, "n2000"), "");
}

TEST(HxConfigFileParse, SecondParseAdds) {
  HxConfigFile f;
  f.parse("[s]\na = 1\n");
  f.parse("[s]\nb = $s.a\n[t]\nc = $s.a\n");
  EXPECT_EQ(Keys(f, "s"), "a,b");
  // Only sections created by a parse are expanded after it.
  EXPECT_EQ(Opt(f, "s", "b"), "$s.a");
  EXPECT_EQ(Opt(f, "t", "c"), "1");
}

TEST(HxConfigFileParse, LowerCaseFlagFromFile) {
  TempFile file("[Main]\nKey = 1\n[Other] : MAIN\n");
  HxConfigFile f(file.path(), 1);
  EXPECT_EQ(Sections(f), "main,other");
  EXPECT_EQ(Opt(f, "other", "Key"), "1");

  testing::internal::CaptureStderr();
  HxConfigFile keep(file.path(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: Other missing parent MAIN... skipping.\n");
  EXPECT_EQ(Sections(keep), "Main,Other");

  HxConfigFile missing("/nonexistent/sections.conf", 0);
  EXPECT_EQ(Sections(missing), "");
}

TEST(HxConfigFileRefs, ExpandedAfterReading) {
  HxConfigFile f;
  f.parse("[s]\nroot = /r\np = \"${root}/bin\"\nq = $s.root\nn = $_\nm = $self.root\nu = ${root}/bin\n"
          "d = \"${s.root}/x\"\nsec = $s._\nbad = $nosuch.k\nlate = $t.v\n[t]\nv = $self._\n");
  EXPECT_EQ(Opt(f, "s", "p"), "/r/bin");
  EXPECT_EQ(Opt(f, "s", "q"), "/r");
  EXPECT_EQ(Opt(f, "s", "n"), "s");
  EXPECT_EQ(Opt(f, "s", "m"), "/r");
  EXPECT_EQ(Opt(f, "s", "u"), "");
  EXPECT_EQ(Opt(f, "s", "d"), "/r/x");
  EXPECT_EQ(Opt(f, "s", "sec"), "s");
  EXPECT_EQ(Opt(f, "s", "bad"), ".k");
  EXPECT_EQ(Opt(f, "s", "late"), "t");
}

TEST(HxConfigFileRefs, LocalValueNamesTheSection) {
  EXPECT_EQ(S(HxConfigFile::_localvalue("a", "$self.root ${this.x} $other.y $self")), "$a.root ${a.x} $other.y $a");
  HxConfigFile f;
  f.parse("[base]\nhome = /b\ndir = \"${self.home}/x\"\n[child] : base\nhome = /c\n");
  // Inherited values keep the parent's name.
  EXPECT_EQ(Opt(f, "child", "dir"), "/b/x");
}

TEST(HxConfigFileRefs, BlankBetweenReferencesStays) {
  HxConfigFile f;
  f.parse("[s]\na = 1\nb = 2\nc = \"$a $b\"\nd = $a$b\ne = \"${a} ${b}\"\n");
  EXPECT_EQ(Opt(f, "s", "c"), "1 2");
  EXPECT_EQ(Opt(f, "s", "d"), "12");
  EXPECT_EQ(Opt(f, "s", "e"), "1 2");
}

TEST(HxConfigFileRefs, CyclesStayUnexpanded) {
  HxConfigFile f;
  f.parse("[s]\nself = $s.self\na = $s.b\nb = $s.a\nc = \"<${s.c}>\"\n");
  EXPECT_EQ(Opt(f, "s", "self"), "$s.self");
  EXPECT_EQ(Opt(f, "s", "a"), "$s.a");
  EXPECT_EQ(Opt(f, "s", "b"), "$s.a");
  EXPECT_EQ(Opt(f, "s", "c"), "<${s.c}>");
  EXPECT_EQ(S(f._value("s", "s", "$s.a")), "$s.a");
}

TEST(HxConfigFileRefs, DeepChainsStopAtTheLimit) {
  std::string text = "[c0]\nk = end\n";
  for (int i = 1; i < 100; ++i)
    text += "[c" + std::to_string(i) + "]\nk = $c" + std::to_string(i - 1) + ".k\n";
  HxConfigFile f;
  f.parse(HxString(text));
  std::string last = "c" + std::to_string(kHxMaxConfigRefDepth - 1);
  std::string beyond = "c" + std::to_string(kHxMaxConfigRefDepth);
  EXPECT_EQ(Opt(f, last.c_str(), "k"), "end");
  EXPECT_EQ(Opt(f, beyond.c_str(), "k"), "$c0.k");
}

TEST(HxConfigFileRefs, DoublingReferencesStayBounded) {
  std::string text = "[s]\nk0 = xxxxxxxxxxxxxxxx\n";
  for (int i = 1; i < 60; ++i)
    text += "k" + std::to_string(i) + " = $s.k" + std::to_string(i - 1) + "$s.k" + std::to_string(i - 1) + "\n";
  HxConfigFile f;
  f.parse(HxString(text));
  EXPECT_EQ(Opt(f, "s", "k1").size(), 32u);
  EXPECT_LE(Opt(f, "s", "k59").size(), static_cast<size_t>(kHxMaxConfigExpansionBytes));
}

TEST(HxConfigFileOutput, DisplayExportRelease) {
  HxConfigFile f;
  f.parse("[s]\na = 1\nb = \"x y\"\n");
  testing::internal::CaptureStdout();
  f.display();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[s]\na = '1'\nb = 'x y'\n");

  HxConfigHash* copy = f.export_hash();
  ASSERT_NE(copy->get("s"), nullptr);
  EXPECT_NE(copy->get("s"), f.config("s"));
  EXPECT_EQ(S(copy->get("s")->option("b")), "x y");

  HxConfig* taken = f.config("s");
  f.release();
  EXPECT_EQ(f.config("s"), nullptr);
  EXPECT_EQ(Sections(f), "");
  EXPECT_EQ(S(taken->option("a")), "1");
  delete taken;
  delete copy;

  HxStringList out;
  out.append(new HxString("kept"));
  HxConfigFile g;
  g.parse("[one]\n");
  g.keys(out);
  EXPECT_EQ(Join(out), "kept|one");
}

TEST(HxConfigContainers, HashAndListRecords) {
  HxConfigFile f;
  f.parse("[s]\na = 1\n[t]\nb = 2\n");
  HxConfigHash* hash = f.export_hash();
  EXPECT_EQ(hash->type(), 51);
  EXPECT_EQ(S(hash->typeXML()), "config_list");
  hash->pack();
  std::string bytes(hash->packContents(), static_cast<size_t>(hash->packSize()));
  HxConfigHash back;
  ASSERT_EQ(back.unpack(bytes.data(), static_cast<int>(bytes.size())), 0);
  ASSERT_NE(back.get("t"), nullptr);
  EXPECT_EQ(S(back.get("t")->option("b")), "2");
  EXPECT_EQ(S(back.get("s")->name()), "s");
  delete hash;

  HxConfigList list;
  list.append(new HxConfig());
  list.get(0)->option("k", "v");
  HxConfigList other;
  other.append(new HxConfig());
  other.copy(list);
  ASSERT_EQ(other.length(), 1);
  EXPECT_EQ(S(other.get(0)->option("k")), "v");
  EXPECT_EQ(other.type(), 51);
  list.pack();
  std::string lbytes(list.packContents(), static_cast<size_t>(list.packSize()));
  HxConfigList lback;
  ASSERT_EQ(lback.unpack(lbytes.data(), static_cast<int>(lbytes.size())), 0);
  ASSERT_EQ(lback.length(), 1);
  EXPECT_EQ(S(lback.get(0)->option("k")), "v");
}

}  // namespace

TEST(HxConfigFileParse, AHeaderNamingMillionsOfSectionsIsABadLine) {
  // A twelve-byte header once cost seconds and gigabytes before its names
  // were counted; now it ends the parse like any line that cannot be read.
  for (char const* header : {"[1-16777216]", "[n[1-16777216]]", "[a,n[1-16777216]]"}) {
    long long before = PeakKiB();
    HxConfigFile f;
    f.parse(HxString((std::string("[s]\na = 1\n") + header + "\nb = 2\n").c_str()));
    EXPECT_EQ(Sections(f), "s") << header;
    EXPECT_EQ(Keys(f, "s"), "a") << header;
    // Building the names first took the process's peak up by gigabytes.
    EXPECT_LT(PeakKiB() - before, 64 * 1024) << header;
  }
}

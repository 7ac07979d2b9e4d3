#include "config/HxPathMap.h"

#include <gtest/gtest.h>

#include <string>

#include "core/HxPath.h"

#include "tests/TestUtil.h"

namespace {

using hxtest::S;
using hxtest::TempFile;

std::string Listed(HxPathMap const& m) { return S(m.directmap_keys().join(",")); }

std::string Mapped(HxPathMap& m, char const* key) {
  HxString* v = m.directmap().get(key);
  return v == nullptr ? "<none>" : S(*v);
}

std::string Translate(char const* path, HxPathMap& m) { return S(HxPath(path).translate(m)); }

TEST(HxPathMapRead, ParseTakesOptionsBeforeAnyHeader) {
  HxPathMap m;
  m.parse("/a = /b\n/c = /d\n");
  EXPECT_EQ(Listed(m), "/a,/c");
  EXPECT_EQ(Mapped(m, "/a"), "/b");
  EXPECT_EQ(Mapped(m, "/c"), "/d");
  EXPECT_EQ(m.directmap().count(), 2);

  HxPathMap h;
  h.parse("[direct]\n/a = /b\n/c = /d\n");
  EXPECT_EQ(S(h.convert()), S(m.convert()));
  EXPECT_EQ(S(m.convert()), "[direct]\n/a=/b\n/c=/d\n");
}

TEST(HxPathMapRead, LoadReadsOnlyTheDirectSection) {
  TempFile bare("/a = /b\n/c = /d\n");
  HxPathMap none(bare.path());
  EXPECT_TRUE(none.is_empty());
  EXPECT_FALSE(none.valid());

  TempFile sections("[base]\nroot = /net\n[direct] : base\n/mnt = \"${root}/mnt\"\n[other]\n/x = /y\n");
  HxPathMap m(sections.path());
  EXPECT_EQ(Listed(m), "root,/mnt");
  EXPECT_EQ(Mapped(m, "/mnt"), "/net/mnt");
  EXPECT_EQ(Mapped(m, "/x"), "<none>");

  HxPathMap missing("/nonexistent/pathmap");
  EXPECT_TRUE(missing.is_empty());
}

TEST(HxPathMapRead, SectionNameIsExact) {
  HxPathMap m;
  m.parse("[Direct]\n/a = /b\n");
  EXPECT_TRUE(m.is_empty());
  EXPECT_EQ(S(m.convert()), "[direct]\n");
}

TEST(HxPathMapRead, RevertTakesTheGivenBytes) {
  HxPathMap m;
  char const text[] = "/a = /b\n/c = /d\n";
  m.revert(text, 8);
  EXPECT_EQ(Listed(m), "/a");
  m.revert(nullptr, 5);
  m.revert(text, -1);
  EXPECT_EQ(Listed(m), "/a");
  m.revert(HxString("/e = /f"));
  EXPECT_EQ(Listed(m), "/a,/e");
}

TEST(HxPathMapRead, KeysAreListedOnceAtTheirFirstPlace) {
  HxPathMap m;
  m.parse("/a = /b\n/c = /d\n");
  m.parse("/c = /e\n/a = /b\n");
  EXPECT_EQ(Listed(m), "/a,/c");
  EXPECT_EQ(Mapped(m, "/c"), "/e");
  EXPECT_EQ(S(m.convert()), "[direct]\n/a=/b\n/c=/e\n");

  // A key added after a repeated one is listed and written.
  EXPECT_TRUE(m.addToDirectMap("/g", "/h"));
  EXPECT_EQ(Listed(m), "/a,/c,/g");
  EXPECT_EQ(S(m.convert()), "[direct]\n/a=/b\n/c=/e\n/g=/h\n");
  EXPECT_TRUE(m.addToDirectMap("/a", "/z"));
  EXPECT_EQ(Listed(m), "/a,/c,/g");
  EXPECT_EQ(Mapped(m, "/a"), "/z");
}

TEST(HxPathMapRead, AMappedButUnlistedKeyIsListedWhenAddedAgain) {
  // The map is modifiable from outside (and a decoded record may carry it):
  // a source stored there alone is not applied until it is added.
  HxPathMap m;
  m.addToDirectMap("/a", "/b");
  m.directmap().set(new HxString("/old"), "/x");
  EXPECT_EQ(Translate("/x/y", m), "/x/y");
  EXPECT_TRUE(m.addToDirectMap("/x", "/mnt/x"));
  EXPECT_EQ(Listed(m), "/a,/x");
  EXPECT_EQ(Translate("/x/y", m), "/mnt/x/y");
  EXPECT_EQ(S(m.convert()), "[direct]\n/a=/b\n/x=/mnt/x\n");
  EXPECT_TRUE(m.addToDirectMap("/x", "/nfs/x"));
  EXPECT_EQ(Listed(m), "/a,/x");
}

TEST(HxPathMapRead, ConvertedTextReadsBackTheSameMap) {
  HxPathMap m;
  m.addToDirectMap("y:", "/mnt/y");
  m.addToDirectMap("\\\\srv\\share", "/Volumes/Render Farm");
  m.addToDirectMap("/a", "C:\\dir[1]:x=y}");
  m.addToDirectMap("/q", "say \"hi\" #1 {x}");
  m.addToDirectMap("", "/empty key");
  m.addToDirectMap("/e", "");
  m.addToDirectMap("/caf\xC3\xA9", "/plain");
  EXPECT_EQ(S(m.convert()),
            "[direct]\n"
            "\"y:\"=/mnt/y\n"
            "\"\\\\\\\\srv\\\\share\"=\"/Volumes/Render Farm\"\n"
            "/a=C:\\dir[1]:x=y}\n"
            "/q=\"say \\\"hi\\\" #1 {x}\"\n"
            "\"\"=\"/empty key\"\n"
            "/e=\n"
            "/caf\xC3\xA9=/plain\n");
  HxPathMap back;
  back.parse(m.convert());
  EXPECT_EQ(S(back.convert()), S(m.convert()));
  EXPECT_EQ(Listed(back), Listed(m));
  EXPECT_EQ(Mapped(back, "\\\\srv\\share"), "/Volumes/Render Farm");
  EXPECT_EQ(Mapped(back, "/q"), "say \"hi\" #1 {x}");
}

TEST(HxPathMapRead, EmptyMap) {
  HxPathMap m;
  EXPECT_FALSE(m.valid());
  EXPECT_TRUE(m.is_empty());
  EXPECT_EQ(S(m.convert()), "[direct]\n");
  m.addToDirectMap("/a", "/b");
  EXPECT_TRUE(m.valid());
  EXPECT_FALSE(m.is_empty());
}

TEST(HxPathMapTranslate, KeysActInListOrder) {
  HxPathMap forward;
  forward.parse("/a = /b\n/b = /c\n");
  EXPECT_EQ(Translate("/a/x", forward), "/c/x");
  HxPathMap backward;
  backward.parse("/b = /c\n/a = /b\n");
  EXPECT_EQ(Translate("/a/x", backward), "/b/x");

  HxPathMap drive;
  drive.addToDirectMap("y:", "/mnt/y");
  EXPECT_EQ(Translate("Y:/x", drive), "/mnt/y/x");
  EXPECT_EQ(Translate("/none/x", drive), "/none/x");

  HxPath p("/a/x");
  HxString out = p.translate(forward);
  EXPECT_EQ(S(p.value()), "/a/x");
  EXPECT_EQ(S(out), "/c/x");
}

TEST(HxPathMapTranslate, RepeatedKeyActsOnce) {
  HxPathMap m;
  m.parse("/mnt = /mnt/nfs\n");
  m.parse("/mnt = /mnt/nfs\n");
  EXPECT_EQ(Translate("/mnt/x", m), "/mnt/nfs/x");

  // A record from elsewhere that lists a key twice still applies it once.
  static char const bytes[] =
      "\x00\x00\x00\x01"
      "\x00\x01\x00\x04" "\x00\x00\x00\x38" "\x00\x00\x00\x20"
      "\x00\x01\x00\x01" "\x00\x00\x00\x01"
      "\x00\x0a\x00\x03" "\x00\x00\x00\x04" "/mnt"
      "\x00\x1e\x00\x03" "\x00\x00\x00\x04" "/mnt"
      "\x00\x02\x00\x04" "\x00\x00\x00\x37" "\x00\x00\x00\x20"
      "\x00\x01\x00\x01" "\x00\x00\x00\x02"
      "\x00\x0a\x00\x03" "\x00\x00\x00\x04" "/mnt"
      "\x00\x0a\x00\x03" "\x00\x00\x00\x04" "/mnt";
  HxPathMap odd;
  ASSERT_EQ(odd.unpack(bytes, sizeof bytes - 1), 0);
  ASSERT_EQ(odd.directmap_keys().length(), 2);
  odd.directmap().set(new HxString("/mnt/nfs"), "/mnt");
  EXPECT_EQ(Translate("/mnt/x", odd), "/mnt/nfs/x");
  EXPECT_EQ(S(odd.convert()), "[direct]\n/mnt=/mnt/nfs\n");
}

TEST(HxPathMapRecord, ExactBytesAndRoundTrips) {
  HxPathMap m;
  m.addToDirectMap("/a", "/b");
  m.pack();
  std::string bytes(m.packContents(), static_cast<size_t>(m.packSize()));
  static char const expected[] =
      "\x00\x00\x00\x01"
      "\x00\x01\x00\x04" "\x00\x00\x00\x38" "\x00\x00\x00\x1c"
      "\x00\x01\x00\x01" "\x00\x00\x00\x01"
      "\x00\x0a\x00\x03" "\x00\x00\x00\x02" "/a"
      "\x00\x1e\x00\x03" "\x00\x00\x00\x02" "/b"
      "\x00\x02\x00\x04" "\x00\x00\x00\x37" "\x00\x00\x00\x12"
      "\x00\x01\x00\x01" "\x00\x00\x00\x01"
      "\x00\x0a\x00\x03" "\x00\x00\x00\x02" "/a";
  EXPECT_EQ(bytes, std::string(expected, sizeof expected - 1));
  EXPECT_EQ(m.type(), 154);

  m.addToDirectMap("/c", "/d e");
  m.pack();
  HxPathMap bin;
  ASSERT_EQ(bin.unpack(m.packContents(), m.packSize()), 0);
  EXPECT_EQ(S(bin.convert()), S(m.convert()));

  m.packXML();
  std::string xml = "<pack>\n" + std::string(m.packContents(), static_cast<size_t>(m.packSize())) + "\n</pack>";
  EXPECT_NE(xml.find("<object type = 'pathmap'>"), std::string::npos) << xml;
  EXPECT_LT(xml.find("<direct_map>"), xml.find("<direct_list>"));
  HxPathMap fromXml;
  ASSERT_EQ(fromXml.unpackXML(xml.data(), static_cast<int>(xml.size())), 0);
  EXPECT_EQ(S(fromXml.convert()), S(m.convert()));

  HxPathMap copy(m);
  m.addToDirectMap("/only", "/here");
  EXPECT_EQ(Listed(copy), "/a,/c");
  copy = m;
  EXPECT_EQ(Listed(copy), "/a,/c,/only");
}

}  // namespace

TEST(HxPathMapRead, AHeaderNamingMillionsOfSectionsEndsTheText) {
  HxPathMap m;
  m.parse("/a = /b\n[1-16777216]\n/c = /d\n");
  EXPECT_EQ(Listed(m), "/a");
}

#include "core/HxPath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/TestUtil.h"

namespace {

using hxtest::S;

std::vector<std::string> parts(char const* path) {
  HxStringList l;
  HxPath::split(path, l);
  std::vector<std::string> out;
  for (int i = 0; i < l.length(); ++i) out.push_back(S(*l.get(i)));
  return out;
}

TEST(HxPathAnalyse, KindsOfText) {
  EXPECT_EQ(HxPath::analyse("\\\\srv\\share"), 1);
  EXPECT_EQ(HxPath::analyse("C:\\dir"), 2);
  EXPECT_EQ(HxPath::analyse("C:/dir"), 2);
  EXPECT_EQ(HxPath::analyse("a\\b"), 2);
  EXPECT_EQ(HxPath::analyse("\\x"), 2);
  EXPECT_EQ(HxPath::analyse("\\\\"), 2);  // too short to be a share
  EXPECT_EQ(HxPath::analyse("/usr"), 3);
  EXPECT_EQ(HxPath::analyse("srv:/export"), 4);
  EXPECT_EQ(HxPath::analyse("srv:export"), 4);
  EXPECT_EQ(HxPath::analyse("dir/file:x"), 0);
  EXPECT_EQ(HxPath::analyse("ab"), 0);
  EXPECT_EQ(HxPath::analyse("C:"), 0);
  EXPECT_EQ(HxPath::analyse("plain"), 0);
  EXPECT_EQ(HxPath::analyse(""), 0);
  EXPECT_EQ(HxPath::analyse(HxString()), 0);
}

TEST(HxPathAnalyse, NamesAndFullPaths) {
  EXPECT_EQ(S(HxPath("\\\\srv\\share").pathtypestring()), "unc");
  EXPECT_EQ(S(HxPath("C:\\dir").pathtypestring()), "dos");
  EXPECT_EQ(S(HxPath("/usr").pathtypestring()), "unix");
  EXPECT_EQ(S(HxPath("srv:/x").pathtypestring()), "nfs");
  EXPECT_EQ(S(HxPath("x").pathtypestring()), "unknown");
  EXPECT_EQ(S(HxPath().pathtypestring()), "unknown");

  EXPECT_FALSE(HxPath("dir\\file").isFullPath());
  EXPECT_TRUE(HxPath("C:\\dir").isFullPath());
  EXPECT_TRUE(HxPath("C:/dir").isFullPath());
  EXPECT_TRUE(HxPath("\\\\srv\\share").isFullPath());
  EXPECT_TRUE(HxPath("srv:/x").isFullPath());
  EXPECT_TRUE(HxPath("/x").isFullPath());
  EXPECT_FALSE(HxPath("x/y").isFullPath());
  EXPECT_FALSE(HxPath().isFullPath());
}

TEST(HxPathRoot, PutsBaseInFrontOfRelativePaths) {
  HxPath a("x");
  a.root("/base");
  EXPECT_EQ(S(a.value()), "/base/x");
  EXPECT_EQ(a.pathtype(), 3);
  HxPath b("x");
  b.root("/base/");
  EXPECT_EQ(S(b.value()), "/base/x");
  HxPath c("/x");
  c.root("/base");
  EXPECT_EQ(S(c.value()), "/x");
  HxPath d("C:\\x");
  d.root("/base");
  EXPECT_EQ(S(d.value()), "C:\\x");
  HxPath e("dir\\file");
  e.root("srv:");
  EXPECT_EQ(S(e.value()), "srv:/dir\\file");
  EXPECT_EQ(e.pathtype(), 2);
}

TEST(HxPathChomp, DropsTrailingComponents) {
  EXPECT_EQ(S(HxPath::chomp("/a/b/c")), "/a/b/");
  EXPECT_EQ(S(HxPath::chomp("/a/b/c/")), "/a/b/");
  EXPECT_EQ(S(HxPath::chomp("/a/b//c//")), "/a/b/");
  EXPECT_EQ(S(HxPath::chomp("a/b")), "a/");
  EXPECT_EQ(S(HxPath::chomp("/a")), "/");
  EXPECT_EQ(S(HxPath::chomp("a")), "/");
  EXPECT_EQ(S(HxPath::chomp("")), "/");
  EXPECT_EQ(S(HxPath::chomp("/a/b/c", 0)), "/a/b/c/");
  EXPECT_EQ(S(HxPath::chomp("/a/b/c", 2)), "/a/");
  EXPECT_EQ(S(HxPath::chomp("/a/b/c", 99)), "/");
  EXPECT_EQ(S(HxPath::chomp("a\\b\\c")), "/");  // only '/' separates here
}

TEST(HxPathSplit, ComponentsWithoutEmptyOnes) {
  EXPECT_EQ(parts("/a//b/"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(parts("C:\\x\\y"), (std::vector<std::string>{"C:", "x", "y"}));
  EXPECT_EQ(parts("a/b\\c"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(parts("/").empty());
  EXPECT_TRUE(parts("").empty());
  HxStringList l;
  l.append(new HxString("kept"));
  HxPath::split("x", l);
  EXPECT_EQ(l.length(), 2);  // not cleared first
}

TEST(HxPathMatch, CountsEqualComponentsInPlace) {
  EXPECT_EQ(HxPath::match("/a/b", "/a/b/c"), 2);
  EXPECT_EQ(HxPath::match("/x/b", "/a/b/c"), 1);
  EXPECT_EQ(HxPath::match("/a/b/c/d", "/a/b"), 0);
  EXPECT_EQ(HxPath::match("", "/a"), 0);
  EXPECT_EQ(HxPath::match("/A", "/a"), 0);
  EXPECT_EQ(HxPath::match("\\a\\b", "/a/b/c"), 2);
}

TEST(HxPathStrip, RebuildsWithTheKindsSeparator) {
  HxPath p("/a/b/c/d");
  EXPECT_EQ(S(p.strip("/a/b", 3)), "/c/d");
  EXPECT_EQ(S(p.strip("/a/b", 2)), "\\c\\d");
  EXPECT_EQ(S(p.strip("/a/b", 1)), "\\c\\d");
  EXPECT_EQ(S(p.strip("/a/b", 0)), "/c/d");
  EXPECT_EQ(S(p.strip("/a/b", 4)), "/c/d");
  EXPECT_EQ(S(p.strip("/a/b", 9)), "cd");
  EXPECT_EQ(S(p.strip("/a/b/c/d", 3)), "");
  EXPECT_EQ(S(HxPath("/a/b").strip("/q", 3)), "/a/b");
}

TEST(HxPathNormalize, BackslashesBecomeSlashes) {
  EXPECT_EQ(S(HxPath::normalize("a\\b/c")), "a/b/c");
  EXPECT_EQ(S(HxPath::normalize("\\\\srv\\s")), "//srv/s");
  EXPECT_EQ(S(HxPath::normalize("")), "");
}

}  // namespace

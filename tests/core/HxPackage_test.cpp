#include "core/pack/HxPackage.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "core/HxLimits.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::S;

// The example tree: a hash of the scalar a=1 and the array b of x and y.
HxPackage* example() {
  auto* root = new HxPackage();
  root->set("a", "1");
  auto* b = new HxPackage("b", "");
  b->push("x");
  b->push("y");
  root->push(b);
  return root;
}

TEST(HxPackageCompact, WritesTheExampleAndItsKin) {
  HxPackage* root = example();
  EXPECT_EQ(S(root->compact()), "(=(a=1)(b=(=x)(=y)))");
  EXPECT_EQ(S(HxPackage().compact()), "(=)");
  EXPECT_EQ(S(HxPackage("k", "v").compact()), "(k=v)");
  // Every special character is escaped in names and values.
  EXPECT_EQ(S(HxPackage("a=b", "c\\d(e)").compact()), "(a\\=b=c\\\\d\\(e\\))");
  delete root;
}

TEST(HxPackageCompact, ReadsBackWhatItWrites) {
  HxPackage* root = example();
  root->set("we(ird)=", "\\\\=(");
  HxPackage back;
  ASSERT_TRUE(back.expand(root->compact()));
  EXPECT_EQ(S(back.compact()), S(root->compact()));
  EXPECT_EQ(back.objtype(), 1);
  EXPECT_EQ(back.get(1)->objtype(), 2);
  EXPECT_EQ(S(back.get(2)->name()), "we(ird)=");
  EXPECT_EQ(S(back.get(2)->value()), "\\\\=(");
  delete root;
}

TEST(HxPackageExpand, MalformedTextIsReadAsFarAsItGoes) {
  HxPackage p;
  ASSERT_TRUE(p.expand("(a=1"));
  EXPECT_EQ(S(p.name()), "a");
  EXPECT_EQ(S(p.value()), "1");
  EXPECT_EQ(p.objtype(), 4);
  // Stray characters between children are passed over one at a time.
  HxPackage q;
  ASSERT_TRUE(q.expand("(=xy(=1)z(=2))"));
  EXPECT_EQ(S(q.value()), "xy");
  ASSERT_EQ(q.length(), 2);
  EXPECT_EQ(S(q.get(1)->value()), "2");
  HxPackage r;
  EXPECT_FALSE(r.expand("x(a=1)"));
  EXPECT_EQ(r.length(), 0);
  // A trailing backslash is dropped.
  HxPackage t;
  t.expand("(a=b\\");
  EXPECT_EQ(S(t.value()), "b");
  // The class appends to the name and value it already has.
  HxPackage u("n", "v");
  u.expand("(m=w)");
  EXPECT_EQ(S(u.name()), "nm");
  EXPECT_EQ(S(u.value()), "vw");
}

TEST(HxPackageNodes, KindIsDecidedByTheFirstChildOnly) {
  HxPackage p;
  EXPECT_EQ(p.objtype(), 4);
  p.push("x");
  p.push(new HxPackage("named", "y"));
  EXPECT_EQ(p.objtype(), 2);
  EXPECT_EQ(p.get(-1), nullptr);
  EXPECT_EQ(p.get(2), nullptr);
}

TEST(HxPackageNodes, SetReplacesTheFirstOfThatNameInPlace) {
  HxPackage p;
  p.set("a", "1");
  p.set("b", "2");
  p.set("a", "3");
  EXPECT_EQ(S(p.compact()), "(=(a=3)(b=2))");
  p.set("c", new HxPackage("ignored", "4"));
  p.set(0, new HxPackage("z", "9"));
  // A bad index leaves the node with the caller.
  HxPackage never("never", "0");
  p.set(5, &never);
  EXPECT_EQ(S(p.compact()), "(=(z=9)(b=2)(c=4))");
}

TEST(HxPackageNodes, CopyIsDeepAndCollectWalksDepthFirst) {
  HxPackage* root = example();
  HxPackage copy(*root);
  root->get(1)->push("z");
  EXPECT_EQ(S(copy.compact()), "(=(a=1)(b=(=x)(=y)))");
  HxStringList out;
  copy._collect(out);
  EXPECT_EQ(S(out.join(",")), "a,1,b,x,y");
  // Copying a descendant over its ancestor keeps the descendant's tree.
  *root = *root->get(1);
  EXPECT_EQ(S(root->compact()), "(b=(=x)(=y)(=z))");
  delete root;
}

TEST(HxPackageDepth, HostileNestingStopsAtTheLimit) {
  std::string deep;
  const int n = 1000000;
  deep.reserve(n * 3 + 2);
  for (int i = 0; i < n; ++i) deep += "(=";
  for (int i = 0; i < n; ++i) deep += ")";
  HxPackage p;
  ASSERT_TRUE(p.expand(HxString(deep)));
  int depth = 1;
  for (HxPackage* q = &p; q->length() > 0; q = q->get(0)) ++depth;
  EXPECT_EQ(depth, kHxMaxPackageDepth);
  // The layer reads the same.
  _hx_package_pack* t = hx_package_expand(deep.c_str());
  depth = 1;
  for (_hx_package_pack* q = t; q->list_len > 0; q = q->list[0]) ++depth;
  EXPECT_EQ(depth, kHxMaxPackageDepth);
  hx_package_destroy(t);
}

TEST(HxPackageDepth, DeepTreesBuiltInCodeAreWalkedWithoutRecursion) {
  const int n = 200000;
  HxPackage* root = new HxPackage();
  HxPackage* q = root;
  _hx_package_pack* t = hx_package_new();
  _hx_package_pack* r = t;
  for (int i = 0; i < n; ++i) {
    auto* c = new HxPackage("", "v");
    q->push(c);
    q = c;
    _hx_package_pack* d = hx_package_new();
    hx_package_set_value(d, "v");
    hx_package_list_push(r, d);
    r = d;
  }
  EXPECT_EQ(root->compact().length(), 3 + n * 4);
  HxPackage copy(*root);
  delete root;
  EXPECT_EQ(std::strlen(hx_package_compact(t)), static_cast<size_t>(3 + n * 4));
  EXPECT_EQ(hx_package_destroy(t), 1);
}

// Freeing a tree takes no memory: it runs while std::bad_alloc unwinds from
// a tree half built. Each tree is built here and freed in a child whose
// address space may grow by 1 MB, where a list of the nodes still to free
// (4 MB for half a million) could not be made. Wide trees, and wide trees of
// deep ones, of both implementations.
TEST(HxPackageDepth, FreeingTakesNoMemory) {
  auto layer = [](int wide, int deep) {
    _hx_package_pack* root = hx_package_new();
    for (int i = 0; i < wide; ++i) {
      _hx_package_pack* q = root;
      for (int k = 0; k < deep; ++k) {
        _hx_package_pack* c = hx_package_new();
        hx_package_set_value(c, "v");
        hx_package_list_push(q, c);
        q = c;
      }
    }
    return std::function<void()>([root] { hx_package_destroy(root); });
  };
  auto tree = [](int wide, int deep) {
    auto* root = new HxPackage();
    for (int i = 0; i < wide; ++i) {
      HxPackage* q = root;
      for (int k = 0; k < deep; ++k) {
        auto* c = new HxPackage("n", "v");
        q->push(c);
        q = c;
      }
    }
    return std::function<void()>([root] { delete root; });
  };
  struct Row {
    char const* what;
    std::function<void()> free;
  } const rows[] = {
      {"layer, half a million children", layer(1 << 19, 1)},
      {"layer, 512 chains of 1024", layer(1 << 9, 1 << 10)},
      {"class, half a million children", tree(1 << 19, 1)},
      {"class, 512 chains of 1024", tree(1 << 9, 1 << 10)},
  };
  // The trees are freed here only after the last child: memory freed here
  // would be room for the next child's list.
  for (Row const& row : rows) {
    if (hxtest::kShadowMemory) break;
    EXPECT_EQ(hxtest::run_with_memory_limit(1u << 20, [&] {
                row.free();
                return 0;
              }),
              0)
        << row.what;
  }
  for (Row const& row : rows) row.free();
}

TEST(HxPackageDepth, IndentedFormsOfDeepTreesNeedNoRecursion) {
  // The indented forms grow with the square of the depth; a few thousand
  // levels are enough to overflow a recursive writer under the sanitizers.
  const int n = 3000;
  _hx_package_pack* t = hx_package_new();
  _hx_package_pack* r = t;
  for (int i = 0; i < n; ++i) {
    _hx_package_pack* d = hx_package_new();
    hx_package_list_push(r, d);
    r = d;
  }
  EXPECT_GT(std::strlen(hx_package_xml_compact(t)), static_cast<size_t>(n) * n);
  EXPECT_GT(_pack(t, 0).length(), n * n);
  hx_package_destroy(t);
}

// ---- the function layer ----

TEST(HxPackageLayer, NodesAndNullArguments) {
  _hx_package_pack* n = hx_package_new();
  EXPECT_EQ(hx_package_get_name(n), nullptr);
  EXPECT_EQ(hx_package_set_name(n, "k"), 1);
  EXPECT_EQ(hx_package_set_value(n, "value"), 1);
  EXPECT_STREQ(hx_package_get_name(n), "k");
  EXPECT_EQ(hx_package_value_len(n), 5);
  // An empty text is a copy like any other: not null, length 0.
  EXPECT_EQ(hx_package_set_value(n, ""), 1);
  ASSERT_NE(hx_package_get_value(n), nullptr);
  EXPECT_STREQ(hx_package_get_value(n), "");
  EXPECT_EQ(hx_package_value_len(n), 0);
  EXPECT_EQ(hx_package_set_name(n, ""), 1);
  ASSERT_NE(hx_package_get_name(n), nullptr);
  EXPECT_EQ(hx_package_name_len(n), 0);
  EXPECT_STREQ(hx_package_compact(n), "(=)");
  EXPECT_EQ(hx_package_set_name(n, "k"), 1);
  EXPECT_EQ(hx_package_set_value(n, "value"), 1);
  EXPECT_EQ(hx_package_set_name(nullptr, "k"), 0);
  EXPECT_EQ(hx_package_set_name(n, nullptr), 0);
  EXPECT_EQ(hx_package_get_value(nullptr), nullptr);
  EXPECT_EQ(hx_package_list_len(nullptr), 0);
  EXPECT_EQ(hx_package_list_push(n, nullptr), 0);
  EXPECT_EQ(hx_package_list_push(nullptr, n), 0);
  _hx_package_pack* c = hx_package_new();
  EXPECT_EQ(hx_package_list_push(n, c), 1);
  EXPECT_EQ(hx_package_list_get(n, 0), c);
  EXPECT_EQ(hx_package_list_get(n, hx_package_list_len(n)), nullptr);
  EXPECT_EQ(hx_package_list_get(n, -1), nullptr);
  EXPECT_EQ(hx_package_compact(nullptr), nullptr);
  EXPECT_EQ(hx_package_expand(nullptr), nullptr);
  EXPECT_EQ(hx_package_expand(""), nullptr);
  EXPECT_EQ(hx_package_destroy(nullptr), 0);
  EXPECT_EQ(hx_package_destroy(n), 1);
}

// The node structure is read and allocated by callers: exactly its six
// fields, in order, and nothing after them.
struct SixFields {
  char* name;
  int name_len;
  char* value;
  int value_len;
  _hx_package_pack** list;
  int list_len;
};

TEST(HxPackageLayer, NodeLayoutIsTheSixFieldsAndArraysStillGrow) {
  EXPECT_EQ(sizeof(_hx_package_pack), sizeof(SixFields));
  EXPECT_EQ(offsetof(_hx_package_pack, name_len), offsetof(SixFields, name_len));
  EXPECT_EQ(offsetof(_hx_package_pack, value), offsetof(SixFields, value));
  EXPECT_EQ(offsetof(_hx_package_pack, value_len), offsetof(SixFields, value_len));
  EXPECT_EQ(offsetof(_hx_package_pack, list), offsetof(SixFields, list));
  EXPECT_EQ(offsetof(_hx_package_pack, list_len), offsetof(SixFields, list_len));
  // A node filled in field by field, as a caller that knows only these six
  // does, holds nothing else that pushing could rely on.
  _hx_package_pack* c = hx_package_new();
  std::memset(static_cast<void*>(c), 0x7F, sizeof *c);
  c->name = nullptr;
  c->name_len = 0;
  c->value = nullptr;
  c->value_len = 0;
  c->list = nullptr;
  c->list_len = 0;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(hx_package_list_push(c, hx_package_new()), 1);
  EXPECT_STREQ(hx_package_compact(c), "(=(=)(=)(=))");
  hx_package_destroy(c);
  // Pushes across every growth step keep the children in order.
  _hx_package_pack* t = hx_package_new();
  std::vector<_hx_package_pack*> kids;
  for (int i = 0; i < 1000; ++i) {
    kids.push_back(hx_package_new());
    ASSERT_EQ(hx_package_list_push(t, kids.back()), 1);
    ASSERT_EQ(t->list_len, i + 1);
  }
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(hx_package_list_get(t, i), kids[static_cast<size_t>(i)]) << i;
  EXPECT_EQ(hx_package_list_get(t, 1000), nullptr);
  // A text of many children reads back child for child.
  std::string many = "(=";
  for (int i = 0; i < 1000; ++i) many += "(=" + std::to_string(i) + ")";
  many += ")";
  _hx_package_pack* m = hx_package_expand(many.c_str());
  ASSERT_EQ(m->list_len, 1000);
  EXPECT_STREQ(m->list[513]->value, "513");
  EXPECT_EQ(hx_package_compact(m), many);
  hx_package_destroy(m);
  hx_package_destroy(t);
}

TEST(HxPackageLayer, CompactExpandAgreeWithTheClass) {
  _hx_package_pack* t = hx_package_expand("(=(a=1)(b=(=x)(=y)))");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->name, nullptr);
  EXPECT_EQ(t->name_len, 0);
  ASSERT_EQ(t->list_len, 2);
  EXPECT_STREQ(t->list[1]->list[1]->value, "y");
  EXPECT_STREQ(hx_package_compact(t), "(=(a=1)(b=(=x)(=y)))");
  EXPECT_EQ(hx_package_state().length, 20);
  hx_package_destroy(t);
  EXPECT_EQ(hx_package_state().cache, nullptr);
  // Text that does not begin with "(" gives an empty node.
  _hx_package_pack* e = hx_package_expand("x(a=1)");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->list_len, 0);
  EXPECT_EQ(e->value, nullptr);
  hx_package_destroy(e);
}

TEST(HxPackageLayer, DumpIndentsChildren) {
  _hx_package_pack* t = hx_package_expand("(=(a=1)(b=(=x)(=y)))");
  EXPECT_EQ(S(_pack(t, 0)), "\na: 1\nb: \n   0: x\n   1: y\n");
  hx_package_destroy(t);
  EXPECT_EQ(S(hxdecodepackage("(=v)")), "v\n");
  EXPECT_EQ(S(hxdecodepackage("(=)")), "\n");
  EXPECT_EQ(S(hxdecodepackage("")), "");
}

TEST(HxPackageXml, WritesScalarsArraysAndHashes) {
  EXPECT_EQ(S(hxdecodepackagexml("(k=v)")), "<scalar name = \"k\">v</scalar>\n");
  EXPECT_EQ(S(hxdecodepackagexml("(=v)")), "<scalar>v</scalar>\n");
  EXPECT_EQ(S(hxdecodepackagexml("(=(a=1)(b=(=x)(=y)))")),
            "<hash>\n"
            "\t<scalar name = \"a\">1</scalar>\n"
            "\t<array name = \"b\">\n"
            "\t\t<scalar>x</scalar>\n"
            "\t\t<scalar>y</scalar>\n"
            "\t</array>\n"
            "</hash>\n");
  // The first child decides: unnamed first, so an array.
  EXPECT_EQ(S(hxdecodepackagexml("(=(=x)(n=y))")),
            "<array>\n\t<scalar>x</scalar>\n\t<scalar name = \"n\">y</scalar>\n</array>\n");
}

TEST(HxPackageXml, ReadsBackAndKeepsEscapedTexts) {
  char const* text = "(=(a=1)(b=(=x)(=y))(q\\=\"<=\\(v\\)<&\\\\  ))";
  _hx_package_pack* t = hx_package_expand(text);
  std::string xml = hx_package_xml_compact(t);
  _hx_package_pack* back = hx_package_xml_expand(xml.c_str());
  std::string again = hx_package_compact(back);
  EXPECT_EQ(again, text);
  hx_package_destroy(back);
  hx_package_destroy(t);
}

TEST(HxPackageXml, ReaderToleratesLayoutAndDropsBadScalars) {
  _hx_package_pack* t = hx_package_xml_expand(
      "  <hash name='h'>\n<scalar name=a other = \"x\">\t\n 1 </scalar><scalar name=\"b\">2");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t->name, "h");
  // Leading blanks of a value are lost, trailing ones stay; the scalar b has
  // no end tag and is discarded.
  ASSERT_EQ(t->list_len, 1);
  EXPECT_STREQ(t->list[0]->name, "a");
  EXPECT_STREQ(t->list[0]->value, "1 ");
  hx_package_destroy(t);
  // End tags are not compared with their start tags.
  _hx_package_pack* w = hx_package_xml_expand("<array><scalar>1</hash></array>");
  ASSERT_EQ(w->list_len, 1);
  EXPECT_STREQ(w->list[0]->value, "1");
  hx_package_destroy(w);
  _hx_package_pack* u = hx_package_xml_expand("<foo>");
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->list_len, 0);
  hx_package_destroy(u);
  EXPECT_EQ(hx_package_xml_expand(""), nullptr);
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  _hx_package_pack* d = hx_package_xml_expand(deep.c_str());
  ASSERT_NE(d, nullptr);
  hx_package_destroy(d);
}

TEST(HxPackageLayer, ArchiveAndRecover) {
  hxtest::TempFile file("", "hx_package");
  char const* path = file.name().c_str();
  _hx_package_pack* t = hx_package_expand("(=(a=1)(b=(=x)(=y)))");
  EXPECT_EQ(hx_package_archive(t, path), 1);
  EXPECT_EQ(hx_package_archive(nullptr, path), 0);
  EXPECT_EQ(hx_package_archive(t, "/nonexistent/dir/p"), 0);
  hx_package_destroy(t);
  _hx_package_pack* back = hx_package_recover(path);
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(hx_package_compact(back), "(=(a=1)(b=(=x)(=y)))");
  hx_package_destroy(back);
  FILE* f = std::fopen(path, "w");
  std::fclose(f);
  EXPECT_EQ(hx_package_recover(path), nullptr);
  EXPECT_EQ(hx_package_recover("/nonexistent/dir/p"), nullptr);
  EXPECT_EQ(hx_package_recover(nullptr), nullptr);
}

TEST(HxPackageLayer, ResultTextsArePerThread) {
  _hx_package_pack* mine = hx_package_expand("(=mine)");
  char const* text = hx_package_compact(mine);
  std::thread other([] {
    for (int i = 0; i < 100; ++i) {
      _hx_package_pack* t = hx_package_expand("(=theirs)");
      EXPECT_STREQ(hx_package_compact(t), "(=theirs)");
      hx_package_destroy(t);
    }
  });
  other.join();
  EXPECT_STREQ(text, "(=mine)");
  hx_package_destroy(mine);
}

}  // namespace

namespace {

TEST(HxPackageNodes, DisplayShowsNamesValuesAndBrackets) {
  HxPackage* root = example();
  testing::internal::CaptureStdout();
  root->_display(0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "{\n"
            "  a => \n"
            "  1\n"
            "  b => \n"
            " (\n"
            "   x\n"
            "   y\n"
            " )\n"
            "}\n");
  delete root;
}

TEST(HxPackageNodes, DisplayWithANegativeIndentWritesNoSpacesWhereTheCountIsNegative) {
  HxPackage* root = example();
  testing::internal::CaptureStdout();
  root->_display(-2);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "{\na => \n1\nb => \n(\n x\n y\n)\n}\n");
  delete root;
}

}  // namespace

// The reader's tree as decodeXML() sees it: which names hold a value or a
// nested object, and what they hold, for documents of unusual shape; the
// number conversions of value texts; round trips through both forms.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/pack/HxRecord.h"
#include "core/pack/TestRecords.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::H;
using hxtest::S;

// Reads every name of a fixed set from its node and writes what it found:
// name=text; for a value (with ~ for an undefined string), name{...} for a
// nested object, read the same way.
class Probe : public HxPack {
 public:
  explicit Probe(std::string* out) : out_(out) {}
  int type() const override { return 9190; }
  void encode() override {}
  void decode() override {}
  void encodeXML() override {}
  bool decodeXML() override {
    static char const* const names[] = {"v",          "v1",        "v2",  "v3", "v11", "o",  "o1", "o2", "a",
                                        "b",          "undef_obj", "undef_obj1", "", "1",  "2",  "n\xe9", "pack"};
    for (char const* name : names) {
      if (_xmlHasValue(name)) {
        HxString s;
        restoreXML(name, s);
        *out_ += std::string(name) + "=" + (s.isundef() ? "~" : S(s)) + ";";
      }
      if (_xmlHasObject(name)) {
        *out_ += std::string(name) + "{";
        Probe child(out_);
        restoreXML(name, child);
        *out_ += "}";
      }
    }
    return true;
  }

 private:
  std::string* out_;
};

std::string doc(std::string const& body) { return "<pack><version>1</version>" + body + "</pack>"; }

TEST(HxPackXMLTree, NamesAndTextsOfUnusualDocuments) {
  std::string const deep_values = [] {
    std::string d;
    for (int i = 0; i < 300; ++i) d += "<a>";
    d += "x";
    for (int i = 0; i < 300; ++i) d += "</a>";
    return d;
  }();
  struct Row {
    std::string text;
    int result;
    std::string tree;
  } const rows[] = {
      // Repeats are numbered per name and kind; a literal numbered name
      // takes its place and the next repeat goes past it.
      {doc("<object><v>a</v><v>b</v><v1>c</v1><v>d</v></object>"), 0, "v=a;v1=b;v2=d;v11=c;"},
      {doc("<object><o><object/></o><o><object><v>1</v></object></o><o>t</o></object>"), 0,
       "o=~;o{}o1=~;o1{v=1;}o2=t;"},
      // Empty texts leave a string that was undefined so; whitespace
      // around an object is kept as its wrapper's value.
      {doc("<object><v></v><v/><o>\n\t<object type = 'x'>\n\t</object>\n</o></object>"), 0,
       "v=~;v1=~;o=\n\t\n;o{}"},
      // Objects without a wrapper: after a value under undef_obj, first in
      // their parent under the empty name.
      {doc("<object><v>1</v><object><v>2</v></object><object/></object>"), 0,
       "v=1;undef_obj{v=2;}undef_obj1{}"},
      {doc("<object><object><v>2</v></object><object/></object>"), 0, "{v=2;}1{}"},
      // A value element inside a value element: the outer text from the end
      // of the inner one is kept under undef_obj.
      {doc("<object><a>p<b>x</b>y</a></object>"), 0, "b=x;undef_obj=y;"},
      {doc("<object>" + deep_values + "</object>"), 0, "a=x;undef_obj=~;undef_obj1=~;"},
      // References, sections and line ends as the parser gives them.
      {doc("<object><v>&lt;&amp;&gt;&quot;&apos;&#65;&#x42;&#233;</v></object>"), 0, "v=<&>\"'AB\xc3\xa9;"},
      {doc("<object><v><![CDATA[a<b&c]]></v><v1>a<!--c-->b<?pi x?>c</v1></object>"), 0, "v=a<b&c;v1=abc;"},
      {doc("<object><v>a\r\nb\rc</v>\r\n</object>"), 0, "v=a\nb\nc;"},
      {doc("<object><v a='1' b=\"2\">t</v ></object >"), 0, "v=t;"},
      {"<?xml version='1.0'?>\n<!-- c -->" + doc("<object><v>t</v></object>") + "\n<!-- d -->\n", 0, "v=t;"},
      // UTF-8 stays as it is; a document that is not UTF-8 is read byte for
      // byte, names included.
      {doc("<object><v>caf\xc3\xa9</v></object>"), 0, "v=caf\xc3\xa9;"},
      {doc("<object><v>caf\xe9</v><n\xe9>\xff</n\xe9></object>"), 0, "v=caf\xe9;n\xe9=\xff;"},
      // Refused: not well-formed, or not this form.
      {doc("<object><v>1</w></object>"), 4, ""},
      {doc("<object><v>a]]>b</v></object>"), 4, ""},
      {doc("<object><v a='1' a='2'>t</v></object>"), 4, ""},
      {doc("<object><v>\x01</v></object>"), 4, ""},
      {doc("<object><v>&bogus;</v></object>"), 4, ""},
      {doc("<object><v>&#0;</v></object>"), 4, ""},
      {doc("<object><v>a</v></object>") + "<x/>", 4, ""},
      {doc("<object><v>a</v></object>") + "junk", 4, ""},
      {doc("<object><v>a</v>"), 4, ""},
      {"", 4, ""},
      {"<pack><version>2</version><object><v>a</v></object></pack>", 3, ""},
      {"<pack><object><v>a</v></object></pack>", 1, ""},
      {"<pack><version>1</version></pack>", 0, ""},
  };
  for (auto const& row : rows) {
    std::string got;
    Probe p(&got);
    EXPECT_EQ(p.unpackXML(row.text.data(), static_cast<int>(row.text.size())), row.result) << row.text;
    EXPECT_EQ(got, row.tree) << row.text;
  }
}

// Value texts convert as the C library reads them, whatever their form.
TEST(HxPackXMLTree, NumberTextsConvertAsTheCLibraryDoes) {
  char const* const texts[] = {"0",           "7",           "-12",         "+5",          " 42",
                               "\t-3",        "12abc",       "-",           "",            "2147483647",
                               "2147483648",  "-2147483648", "-2147483649", "99999999999", "9223372036854775807",
                               "9223372036854775808",        "-9223372036854775809",       "0x1F",
                               "1e3",         "007",         "1.5",         "-0.250000",   "nan",
                               "00000000000000000000000000000000000000000000000000000000000000000000001"};
  for (char const* t : texts) {
    Leaf l;
    l.n = l.big = l.c = 99;
    l.f = 99.0f;
    std::string d = doc("<object><n>" + std::string(t) + "</n><big>" + t + "</big><f>" + t + "</f><flag>" + t +
                        "</flag><c>" + t + "</c></object>");
    ASSERT_EQ(l.unpackXML(d.data(), static_cast<int>(d.size())), 0) << t;
    EXPECT_EQ(l.n, *t ? std::atoi(t) : 0) << t;
    EXPECT_EQ(l.big, *t ? std::strtoll(t, nullptr, 10) : 0) << t;
    float const f = *t ? static_cast<float>(std::atof(t)) : 0.0f;
    if (f == f) {
      EXPECT_EQ(l.f, f) << t;
    }
    EXPECT_EQ(l.flag, *t && std::atoi(t) != 0) << t;
    EXPECT_EQ(l.c, *t ? static_cast<char>(std::atoi(t)) : 99) << t;
  }
}

// Records through the binary form and the XML form give the same bytes.
TEST(HxPackXMLTree, RoundTripsThroughBothForms) {
  auto bytes = [](HxPack& p) {
    p.pack();
    return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
  };
  auto text = [](HxPack& p) {
    p.packXML();
    return "<pack>\n" + std::string(p.packContents(), static_cast<size_t>(p.packSize())) + "\n</pack>";
  };
  std::string const odd[] = {"", "plain", "caf\xe9 \xff", "caf\xc3\xa9", "a&b<c>d\"e'f", "&amp;lt;", " \t\n ",
                             std::string(5000, 'z')};
  for (std::string const& s : odd) {
    TDrawing d;
    d.title = H(s);
    d.closed = true;
    for (int i = 0; i < 40; ++i) {
      auto* p = new TPoint();
      p->x = i;
      p->y = -i * 1000003;
      p->label = H(s + std::to_string(i));
      d.points.append(p);
      if (i < 3) d.marks.set(new TPoint(*p), H("k" + std::to_string(i) + s));
    }
    TShape sh;
    sh.name = H(s);
    sh.origin.label = H(s);
    sh.id = LLONG_MIN;
    sh.scale = -0.5f;
    sh.visible = 1;
    sh.mark = '\xe9';
    for (int i = 0; i < 3; ++i) sh.tags.append(new HxString(H(s)));
    std::vector<HxPack*> const from = {&d, &sh};
    TDrawing d2;
    TShape sh2;
    std::vector<HxPack*> const to = {&d2, &sh2};
    for (size_t i = 0; i < from.size(); ++i) {
      std::string const t = text(*from[i]);
      ASSERT_EQ(to[i]->unpackXML(t.data(), static_cast<int>(t.size())), 0) << s;
      EXPECT_EQ(bytes(*to[i]), bytes(*from[i])) << s;
      EXPECT_EQ(text(*to[i]), t) << s;
    }
  }
}

}  // namespace

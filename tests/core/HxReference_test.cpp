// The shared resolver base: counts, copies, the default meaning and its
// empty record forms.
#include <gtest/gtest.h>

#include <string>

#include "core/HxReference.h"

namespace {

class Resolver : public HxReference {
 public:
  bool isvalid(HxString const&) override { return true; }
  bool isvariable(HxString const&) override { return false; }
};

}  // namespace

TEST(HxReferenceCount, NewAndCopiedStartAtZero) {
  Resolver r;
  EXPECT_EQ(r.count(), 0);
  r.increment();
  r.increment();
  r.increment();
  Resolver copy(r);
  EXPECT_EQ(copy.count(), 0);
  r.decrement();
  EXPECT_EQ(r.count(), 2);
  EXPECT_EQ(r.type(), 180);
}

TEST(HxReferenceCount, AssignmentKeepsBothCounts) {
  Resolver a, b;
  a.increment();
  b.increment();
  b.increment();
  a = b;
  a.copy(b);
  EXPECT_EQ(a.count(), 1);
  EXPECT_EQ(b.count(), 2);
}

TEST(HxReferenceMeaning, DefaultIsTheName) {
  Resolver r;
  HxString out("old");
  r.value(HxString("shot.name"), out);
  EXPECT_STREQ(out.value(), "shot.name");
}

TEST(HxReferenceForms, NoContent) {
  Resolver r;
  r.increment();
  r.pack();
  ASSERT_EQ(r.packSize(), 4);
  EXPECT_EQ(std::string(r.packContents(), 4), std::string("\x00\x00\x00\x01", 4));
  r.packXML();
  std::string xml(r.packContents(), static_cast<size_t>(r.packSize()));
  std::string tail = "<object type = 'reference'>\n</object>";
  ASSERT_GE(xml.size(), tail.size());
  EXPECT_EQ(xml.substr(xml.size() - tail.size()), tail);
  EXPECT_EQ(r.count(), 1);
}

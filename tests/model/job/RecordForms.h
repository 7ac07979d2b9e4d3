#pragma once

// Helpers of the job record tests: texts as std::string, the XML form of a
// record and reading it back, and the check that a record survives both
// forms: decoding into a fresh record and encoding again gives the same
// bytes, so no field is lost or altered on the way.

#include <gtest/gtest.h>

#include <string>

#include "core/pack/HxPack.h"
#include "core/pack/PackBytes.h"

inline std::string S(HxString const& s) { return std::string(s.value(), static_cast<size_t>(s.length())); }

inline std::string xml(HxPack& p) {
  p.packXML();
  return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
}

// The writer's text inside a document element, as an archive file is read.
inline int unpack_xml(HxPack& p, std::string const& text) {
  std::string doc = "<pack>\n" + text + "\n</pack>";
  return p.unpackXML(doc.data(), static_cast<int>(doc.size()));
}

template <class T>
void expect_both_forms_keep(T& record) {
  std::string const bytes = packed(record);
  T from_bytes;
  ASSERT_EQ(0, unpack(from_bytes, bytes));
  EXPECT_EQ(bytes, packed(from_bytes));
  std::string const text = xml(record);
  T from_text;
  ASSERT_EQ(0, unpack_xml(from_text, text));
  EXPECT_EQ(text, xml(from_text));
  EXPECT_EQ(bytes, packed(from_text));
}

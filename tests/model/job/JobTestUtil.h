#pragma once

// Helpers of the job model tests: a record's round trip through the binary
// and the XML form, compared by its binary bytes.

#include <gtest/gtest.h>

#include <string>

#include "TestUtil.h"
#include "core/pack/PackBytes.h"

using hxtest::H;
using hxtest::S;

inline std::string xml_of(HxPack& p) {
  p.packXML();
  return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
}

// The writer's text inside a document element, as an archive file is read.
inline int unpack_xml(HxPack& p, std::string const& text) {
  std::string doc = "<pack>\n" + text + "\n</pack>";
  return p.unpackXML(doc.data(), static_cast<int>(doc.size()));
}

// A filled record decodes from both forms into a fresh one that encodes to
// the same bytes; every field must hold a value other than its default.
template <class T>
void expect_round_trip(T& filled) {
  std::string const bin = packed(filled);
  T from_bin;
  EXPECT_EQ(unpack(from_bin, bin), 0);
  EXPECT_EQ(packed(from_bin), bin) << filled.typeXML().value() << " binary";
  std::string const text = xml_of(filled);
  T from_xml;
  unpack_xml(from_xml, text);
  EXPECT_EQ(packed(from_xml), bin) << filled.typeXML().value() << " XML:\n" << text;
  EXPECT_EQ(packed(filled), bin);
}

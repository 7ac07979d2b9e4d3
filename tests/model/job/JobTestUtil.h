#pragma once

// Helpers of the job model tests: a record's round trip through the binary
// and the XML form, compared by its binary bytes.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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

// The field number and kind of each top-level record of a packed object.
inline std::vector<std::pair<int, int>> records(std::string const& bytes) {
  std::vector<std::pair<int, int>> out;
  size_t at = 4;
  auto u32 = [&](size_t i) {
    auto const* p = reinterpret_cast<unsigned char const*>(bytes.data() + i);
    return (size_t{p[0]} << 24) | (size_t{p[1]} << 16) | (size_t{p[2]} << 8) | size_t{p[3]};
  };
  while (at + 4 <= bytes.size()) {
    int tag = (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
    int kind = (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
    out.emplace_back(tag, kind);
    at += 4;
    switch (kind) {
      case 1: case 5: at += 4; break;
      case 3: at += 4 + u32(at); break;
      case 4: at += 8 + u32(at + 4); break;
      case 7: at += 8; break;
      default: at += 1; break;
    }
  }
  return out;
}

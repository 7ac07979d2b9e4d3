// Arbitrary bytes and XML into a job list and a modify command, the records
// that carry whole jobs. Whatever decodes is stable: once it has been through
// one round trip, encoding and decoding it again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/job/HxCommand.h"
#include "model/job/HxJob.h"

namespace {

std::string bytes_of(HxPack& r) {
  r.pack();
  return std::string(r.packContents(), static_cast<size_t>(r.packSize()));
}

std::string xml_of(HxPack& r) {
  r.packXML();
  return "<pack>\n" + std::string(r.packContents(), static_cast<size_t>(r.packSize())) + "\n</pack>";
}

template <class T>
void binary(char const* data, int n) {
  T first;
  if (first.unpack(data, n) != 0) return;
  std::string const once = bytes_of(first);
  T second;
  if (second.unpack(once.data(), static_cast<int>(once.size())) != 0) __builtin_trap();
  std::string const twice = bytes_of(second);
  T third;
  if (third.unpack(twice.data(), static_cast<int>(twice.size())) != 0) __builtin_trap();
  if (bytes_of(third) != twice) __builtin_trap();
}

template <class T>
void xml(char const* data, int n) {
  T first;
  if (first.unpackXML(data, n) != 0) return;
  // The first pass may still turn a carriage return into a line feed; from
  // the second on, both forms stay as they are.
  std::string const once = xml_of(first);
  T second;
  if (second.unpackXML(once.data(), static_cast<int>(once.size())) != 0) __builtin_trap();
  std::string const twice = xml_of(second);
  T third;
  if (third.unpackXML(twice.data(), static_cast<int>(twice.size())) != 0) __builtin_trap();
  if (xml_of(third) != twice) __builtin_trap();
  if (bytes_of(third) != bytes_of(second)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  char const* rest = reinterpret_cast<char const*>(data) + 1;
  int const n = static_cast<int>(size - 1);
  switch (data[0] & 3) {
    case 0: binary<HxJobList>(rest, n); break;
    case 1: binary<HxModifyCommand>(rest, n); break;
    case 2: xml<HxJobList>(rest, n); break;
    default: xml<HxModifyCommand>(rest, n); break;
  }
  return 0;
}

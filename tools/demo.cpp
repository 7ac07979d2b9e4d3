// Packs a small record into the binary record form, prints its bytes, and
// reads it back.
#include <cstdio>
#include <iostream>

#include "core/HxList.h"
#include "core/pack/HxRecord.h"

namespace {

class DemoRecord : public HxRecord<DemoRecord> {
 public:
  int frame = 0;
  HxString name;
  HxStringList tags;
  int type() const override { return 9000; }
  HxString typeXML() const override { return "demo"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "frame", &DemoRecord::frame), hx_field(2, "name", &DemoRecord::name),
                           hx_field(3, "tags", &DemoRecord::tags));
  }
};

}  // namespace

int main() {
  // The record classes' decoding tables, this program's own among them, are
  // built once, first thing: a program that starts threads does it before
  // them (core/pack/HxRecord.h says why).
  hx_build_record_tables();
  DemoRecord out;
  out.frame = 42;
  out.name = "shot010";
  out.tags.append(new HxString("comp"));
  out.tags.append(new HxString("final"));
  out.pack();
  std::printf("packed %d bytes:", out.packSize());
  for (int i = 0; i < out.packSize(); ++i)
    std::printf("%s%02X", i % 16 ? " " : "\n  ", static_cast<unsigned char>(out.packContents()[i]));
  std::printf("\n");

  DemoRecord in;
  int rc = in.unpack(out.packContents(), out.packSize());
  std::printf("unpack result %d: frame %d, name '%s', tags '%s'\n", rc, in.frame, in.name.value(),
              in.tags.join(",").value());
  in.showXML();
  return rc;
}

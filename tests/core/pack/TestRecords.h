#pragma once

// Small record classes for the codec tests, each stating its fields once.

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/pack/HxRecord.h"

class TPoint : public HxRecord<TPoint> {
 public:
  int x = 0;
  int y = 0;
  HxString label;
  int type() const override { return 9801; }
  HxString typeXML() const override { return "point"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "x", &TPoint::x), hx_field(2, "y", &TPoint::y),
                           hx_field(3, "label", &TPoint::label));
  }
};

// Every value kind, a nested record and a list of strings.
class TShape : public HxRecord<TShape> {
 public:
  HxString name;
  TPoint origin;
  long long id = 0;
  float scale = 0.0f;
  unsigned char visible = 0;
  char mark = 0;
  HxStringList tags;
  int type() const override { return 9802; }
  HxString typeXML() const override { return "shape"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &TShape::name), hx_field(2, "origin", &TShape::origin),
                           hx_field(3, "id", &TShape::id), hx_field(4, "scale", &TShape::scale),
                           hx_field(5, "visible", &TShape::visible), hx_field(6, "mark", &TShape::mark),
                           hx_field(7, "tags", &TShape::tags));
  }
};

HX_NAMED_LIST(TPointList, TPoint, 9803, "point_list");
HX_NAMED_HASH(TPointHash, TPoint, 9804, "point_hash");

// A drawing: a list of nested records and a hash of them, behind a string.
class TDrawing : public HxRecord<TDrawing> {
 public:
  HxString title;
  TPointList points;
  TPointHash marks;
  bool closed = false;
  int type() const override { return 9805; }
  HxString typeXML() const override { return "drawing"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "title", &TDrawing::title), hx_field(2, "points", &TDrawing::points),
                           hx_field(3, "marks", &TDrawing::marks), hx_field(4, "closed", &TDrawing::closed));
  }
};

// A record with one member of every value kind, with a list and a hash of it.
class Leaf : public HxRecord<Leaf> {
 public:
  int n = 0;
  HxString s;
  float f = 0;
  long long big = 0;
  bool flag = false;
  char c = 0;
  int type() const override { return 9101; }
  HxString typeXML() const override { return "leaf"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "n", &Leaf::n), hx_field(2, "s", &Leaf::s), hx_field(3, "f", &Leaf::f),
                           hx_field(4, "big", &Leaf::big), hx_field(5, "flag", &Leaf::flag),
                           hx_field(6, "c", &Leaf::c));
  }
};

HX_NAMED_LIST(LeafList, Leaf, 9102, "leaf_list");
HX_NAMED_HASH(LeafHash, Leaf, 9103, "leaf_hash");

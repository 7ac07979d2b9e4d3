#pragma once

// Root of the class library: every class has a fixed type number.
class HxBase {
 public:
  HxBase() = default;
  HxBase(HxBase const&) = default;
  HxBase& operator=(HxBase const&) = default;
  virtual ~HxBase() = default;
  virtual int type() const = 0;
};

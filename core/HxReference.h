#pragma once

#include "core/HxString.h"
#include "core/pack/HxPack.h"

// Base of a shared name resolver. Expression trees hold one by count and ask
// it what a name means, whether a name is valid and whether it is a variable.
// The holders keep the count: a node that takes the resolver increments it, a
// node that lets it go decrements it and destroys the resolver when nothing
// holds it any more. The resolver never destroys itself.
//
// A resolver has no binary or XML form: inside a record it adds no bytes and
// no lines.
class HxReference : public HxPack {
 public:
  HxReference() = default;
  // A copy is a new resolver: nobody holds it yet.
  HxReference(HxReference const&) : HxPack() {}
  // Assignment keeps the count and everything else.
  HxReference& operator=(HxReference const&) { return *this; }
  ~HxReference() override = default;

  int type() const override { return 180; }
  void encode() override {}
  void decode() override {}
  HxString typeXML() const override { return "reference"; }
  void encodeXML() override {}
  bool decodeXML() override { return true; }

  // The meaning of a name; by default the name itself.
  virtual void value(HxString const& name, HxString& out);
  virtual bool isvalid(HxString const& name) = 0;
  virtual bool isvariable(HxString const& name) = 0;

  void copy(HxReference const&) {}
  void increment() { ++count_; }
  void decrement() { --count_; }
  int count() const { return count_; }

 private:
  int count_ = 0;
};

// Parses arbitrary text in the three notations and with the callback and value
// tokenizers, then evaluates, checks, copies and searches the trees.
#include <cstddef>
#include <cstdint>

#include "core/HxReference.h"
#include "expr/HxExpression.h"
#include "expr/HxScalar.h"

namespace {

class Everything : public HxReference {
 public:
  bool isvalid(HxString const& name) override { return name.length() % 2 == 0; }
  bool isvariable(HxString const&) override { return true; }
};

void exercise(HxExpression& e) {
  HxScalar result;
  e.eval(result);
  result.stringvalue();
  e.isvalid();
  HxStringList vars;
  e.variables(vars);
  HxExpression copy(e);
  copy.eval(result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1u << 16)) return 0;
  HxString text(reinterpret_cast<char const*>(data), static_cast<int>(size));
  for (int mode = 0; mode < 3; ++mode) {
    HxExpression e;
    if (mode == 1) e.reference(new Everything());
    e.parse(text, mode);
    exercise(e);
  }
  HxExpression c;
  c.reference(new Everything());
  c.callbackparse(text);
  exercise(c);
  HxExpression v;
  v.valueparse(text);
  exercise(v);
  return 0;
}

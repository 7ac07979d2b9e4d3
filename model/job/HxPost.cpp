#include "model/job/HxPost.h"

HxCallback* HxPost::callback() const {
  auto* out = new HxCallback();
  out->pid(pid_);
  out->triggers(triggers_);
  out->language(HxCallback::kPost);
  HxString code = address_.stringvalue();
  code += ':';
  code += port_;
  out->code(code);
  return out;
}

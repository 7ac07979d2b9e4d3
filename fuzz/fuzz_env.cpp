// Captured environments read outside text: the text form carried in jobs, the
// output of su, mount lines and the binary record.
#include <climits>
#include <cstddef>
#include <cstdint>

#include "config/HxEnv.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  char const* text = reinterpret_cast<char const*>(data);
  int n = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  {
    HxEnv env;
    env.revert(text, n);
    HxEnv again;
    again.revert(env.convert());
  }
  {
    HxEnv env;
    env._suOutput(text, n);
  }
  {
    HxEnv env;
    env.mountmap(text, n);
    HxStringList drives;
    env.mounts(drives);
    for (int i = 0; i < drives.length(); ++i) {
      HxString user, password, share;
      env.mount(*drives.get(i), user, password, share);
    }
  }
  {
    HxEnv env;
    env.unpack(text, n);
    env.convert();
    env.set("A", "1");
    env.value("B");
  }
  return 0;
}

// Captured environments read outside text: the text form carried in jobs, the
// output of su, mount lines, the binary record and the XML form.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

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
  {
    // The XML form, as a whole document and as the members of an "env"
    // object; what was read is written and read back, and stays the same
    // from the second reading on.
    HxEnv env;
    std::string doc(text, static_cast<size_t>(n));
    if (n > 0 && (data[0] & 1)) doc = "<pack><version>1</version><object type = 'env'>" + doc + "</object></pack>";
    if (env.unpackXML(doc.data(), static_cast<int>(doc.size())) == 0) {
      env.packXML();
      std::string again = "<pack>\n" + std::string(env.packContents(), static_cast<size_t>(env.packSize())) + "\n</pack>";
      HxEnv back;
      if (back.unpackXML(again.data(), static_cast<int>(again.size())) != 0) __builtin_trap();
      HxEnv third;
      back.packXML();
      std::string twice = "<pack>\n" + std::string(back.packContents(), static_cast<size_t>(back.packSize())) + "\n</pack>";
      if (third.unpackXML(twice.data(), static_cast<int>(twice.size())) != 0) __builtin_trap();
      // Mounts are listed in table order, which may differ; never in size.
      if (third.convert().length() != back.convert().length()) __builtin_trap();
    }
  }
  return 0;
}

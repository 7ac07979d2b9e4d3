#include "api/HxApiPassword.h"

#include "crypto/HxRsa.h"

HxString hxencryptpassword(HxString const& text) {
  // The supervisor holds the private half; the public key is fixed.
  HxRsaPublicKey key;
  key.n.hex("7c41e09a5b3d28f61e0c97a4d3b52816f07e9c2a4b6d81f35e2c0a97b4d61e38");
  key.e.hex("00011f07");
  return key.encrypt(text);
}

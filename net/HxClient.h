#pragma once

#include "core/HxString.h"

// The client side of the conversation with the supervisor.
class HxClient {
 public:
  // The login name of the process's real user; empty, with diagnostics in
  // the debug log, when the user database has no entry.
  static HxString currentuser();
};

#pragma once

#include "core/HxString.h"

// The login name of the process's real user, from the system's user
// database. When the database has no entry (or cannot be read) the result is
// empty and the reason goes to the debug log (and, for a failed read, to
// standard error) whatever the verbosity: nothing that needs a user name can
// work without one. A name found is kept for the process, per uid; a
// failed lookup is not kept, so the next call looks again (and logs again).
HxString hx_current_user();

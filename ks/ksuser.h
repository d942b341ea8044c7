// KsCreatePin of "ksuser.dll", bound at run time on first use and kept for the life of the
// process (the library is never freed). Threading: no lock; pins are created one at a time.
#pragma once

#include "ks/ksplatform.h"

// Creates a pin on hFilter from pConnect. Returns the Windows error code of the creation (0 for
// success), or ERROR_FILE_NOT_FOUND (2) while the library or its export cannot be found: the load
// and the lookup are tried again on every call until they succeed.
DWORD KsUserCreatePin(HANDLE hFilter, PKSPIN_CONNECT pConnect, ACCESS_MASK dwDesiredAccess,
                      PHANDLE phPin);

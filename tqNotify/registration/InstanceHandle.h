// The module's own instance handle, saved when the library is loaded; the registration
// derives the companion programs' paths from the module's file name through it.
#pragma once

#include "TQTypes.h"

// The dlopen handle of libtqNotify.so (null only if the loader could not tell).
HTQMODULE instanceHandle();

// The process-wide table of component modules the factory has loaded, with their load
// counts and live-instance counts.
#pragma once

#include <string>

#include "TQTypes.h"

namespace kiv::factory {

// Finds the module's file on KIV_MODULE_PATH, then beside the tqUtilities library, loads
// it (or counts one more load) and runs its TQInit on the first load. Null on failure,
// traced once per module name.
HTQMODULE loadModule(const std::wstring& name);
// One more load of a module in the table; false for an unknown handle.
bool addLoad(HTQMODULE module);
// Drops one load; the last one closes the library.
void dropLoad(HTQMODULE module);
// A symbol of a module in the table; null for unknown handles and missing symbols.
void* symbol(HTQMODULE module, const char* name);
// The path the module was loaded from, or empty.
std::string pathOf(HTQMODULE module);

int changeInstances(HTQMODULE module, int delta);
int instances(HTQMODULE module);

}  // namespace kiv::factory

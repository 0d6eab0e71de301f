// Where component modules are looked for.
#pragma once

#include <string>
#include <vector>

namespace kiv::factory {

// KIV_MODULE_PATH's directories in order, then the directory of the tqUtilities library.
std::vector<std::string> moduleDirectories();

// The first existing module file of that name (libNAME.so, NAME.dll) in those directories;
// empty when there is none.
std::string findModule(const std::string& name);

}  // namespace kiv::factory

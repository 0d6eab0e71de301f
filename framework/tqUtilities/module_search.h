// Where component modules are looked for.
#pragma once

#include <string>
#include <vector>

namespace kiv::factory {

// KIV_MODULE_PATH's directories in order, then the directory of libtqUtilities.so.
std::vector<std::string> moduleDirectories();

// The first existing file libNAME.so in those directories; empty when there is none.
std::string findModule(const std::string& name);

}  // namespace kiv::factory

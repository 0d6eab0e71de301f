// File existence and single-level directory creation.
#pragma once

#include <string>

namespace kiv::platform {

bool fileExists(const std::string& path);
// Creates one directory (its parent must exist); 0 on success, -1 with errno otherwise.
int makeDirectory(const std::string& path, unsigned mode);

// Wide paths are UTF-8 on disk.
std::string narrowPath(const std::wstring& path);

}  // namespace kiv::platform

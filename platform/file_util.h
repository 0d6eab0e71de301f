// File existence and single-level directory creation.
#pragma once

#include <string>

namespace kiv::platform {

bool fileExists(const std::string& path);
// Creates one directory (its parent must exist); 0 on success, -1 with errno otherwise.
int makeDirectory(const std::string& path, unsigned mode);

// Makes sure a file exists that only its owner may read or write, for a database whose
// companion files (journal, WAL) copy its mode: creates it empty with mode 0600 when it
// is missing and leaves an existing one as it is. False when it could not be created.
bool ensurePrivateFile(const std::string& path);

// Wide paths are UTF-8 on disk.
std::string narrowPath(const std::wstring& path);

}  // namespace kiv::platform

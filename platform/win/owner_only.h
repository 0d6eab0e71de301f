// Creation of directories and files that stay private to the user the process runs as:
// they get a protected access list for that user, SYSTEM and the Administrators alone,
// which a directory passes on to everything created below it.
#pragma once

#include <string>

#include "platform/win/unique_handle.h"

namespace kiv::platform::win {

// CreateDirectoryW with the access a Unix mode implies: without read access for group and
// others the directory is owner-only, otherwise it takes what its parent passes on. False
// with the last error set.
bool createDirectory(const std::wstring& path, unsigned mode);

// A security descriptor that lets only the user the process runs as, SYSTEM and the
// Administrators in. Null with the last error set when it cannot be made.
UniqueLocal ownerOnlySecurity();

// Creates an empty owner-only file; false with the last error set (ERROR_FILE_EXISTS when
// it is there already).
bool createPrivateFile(const std::wstring& path);

}  // namespace kiv::platform::win

// Directory creation that keeps owner-only directories private: a mode without group or
// other bits gives the new directory a protected access list for its owner, SYSTEM and
// the Administrators alone, passed on to everything created below it.
#pragma once

#include <string>

namespace kiv::platform::win {

// CreateDirectoryW with the access the mode implies; false with the last error set.
bool createDirectory(const std::wstring& path, unsigned mode);

}  // namespace kiv::platform::win

// Where the lock file of a named mutex lives: run/locks/global for "Global\" names, else
// run/locks/session-N for the caller's login session.
#pragma once

#include <string>
#include <string_view>

namespace kiv::platform::detail {

// The lock file's path, creating its directory; empty with errno set when the name is
// empty or the directory cannot be made.
std::string lockFilePath(std::wstring_view name);

// The file name a mutex name is stored under: bytes outside a safe set are written as
// %XX and a leading dot is encoded, so no name can leave the lock directory.
std::string lockFileName(std::wstring_view name);

}  // namespace kiv::platform::detail

// File existence and directory creation through the wide file API; narrow paths are UTF-8.
#include "platform/file_util.h"

#include <windows.h>

#include "platform/utf8.h"
#include "platform/win/owner_only.h"

namespace kiv::platform {

bool fileExists(const std::string& path) {
  return GetFileAttributesW(kiv::utf::widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int makeDirectory(const std::string& path, unsigned mode) {
  return win::createDirectory(kiv::utf::widen(path), mode) ? 0 : -1;
}

// An owner-only file for a database, made when missing; an existing one is left as it is.
bool ensurePrivateFile(const std::string& path) {
  if (win::createPrivateFile(kiv::utf::widen(path))) return true;
  return GetLastError() == ERROR_FILE_EXISTS;
}

std::string narrowPath(const std::wstring& path) { return kiv::utf::narrow(path); }

}  // namespace kiv::platform

// The computer's NetBIOS name and the paths and handles of loaded modules.
#include "platform/system_info.h"

#include "platform/win/unique_handle.h"

#include <cstdlib>
#include <cwchar>
#include <string>

#include "platform/utf8.h"

namespace kiv::platform {

bool getComputerName(wchar_t* buffer, uint32_t* size) {
  if (buffer == nullptr || size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // A chosen name for tests that compare against it, as on every platform.
  if (const char* forced = std::getenv("KIV_COMPUTER_NAME"); forced != nullptr && *forced != '\0') {
    const std::wstring name = kiv::utf::widen(forced);
    if (*size < name.size() + 1) {
      *size = static_cast<uint32_t>(name.size() + 1);
      SetLastError(ERROR_BUFFER_OVERFLOW);
      return false;
    }
    std::wmemcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<uint32_t>(name.size());
    return true;
  }
  DWORD length = *size;
  const bool ok = GetComputerNameW(buffer, &length) != 0;
  // On success the length without the NUL; on ERROR_BUFFER_OVERFLOW the size it needs.
  if (ok || GetLastError() == ERROR_BUFFER_OVERFLOW) *size = static_cast<uint32_t>(length);
  return ok;
}

std::wstring moduleFileName(void* module) {
  const HMODULE handle = static_cast<HMODULE>(module);
  // The path may be longer than MAX_PATH; a result that fills the buffer may be cut short,
  // so the buffer grows until the path fits with room to spare.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(path.size());
    const DWORD length = GetModuleFileNameW(handle, path.data(), capacity);
    if (length == 0) return L"";
    if (length < capacity) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return L"";
    }
    path.resize(path.size() * 2);
  }
}

void* moduleContaining(const void* address) {
  if (address == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HMODULE module = nullptr;
  // Without counting a load, so the module still unloads when its owner lets go.
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<const wchar_t*>(address), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace kiv::platform

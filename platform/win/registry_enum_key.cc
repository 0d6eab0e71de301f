// Enumeration of a registry key's direct subkeys, for tools that show what is stored. The
// system keeps subkeys sorted by name, so the index order is the name order.
#include <windows.h>

#include <vector>

#include "platform/registry.h"

namespace kiv::platform {

long RegEnumKeyW(HKEY key, uint32_t index, wchar_t* name, uint32_t* nameLength) {
  if (name == nullptr || nameLength == nullptr) return kErrorInvalidParameter;
  const auto handle = reinterpret_cast<::HKEY>(key);
  DWORD length = *nameLength;
  const LONG result = ::RegEnumKeyExW(handle, index, name, &length, nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_SUCCESS) *nameLength = static_cast<uint32_t>(length);
  if (result != ERROR_MORE_DATA) return result;
  // The system does not say how much room the name needs; the key's longest subkey name
  // tells.
  DWORD longest = 0;
  if (::RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    std::vector<wchar_t> whole(static_cast<std::size_t>(longest) + 1);
    length = static_cast<DWORD>(whole.size());
    if (::RegEnumKeyExW(handle, index, whole.data(), &length, nullptr, nullptr, nullptr, nullptr) ==
        ERROR_SUCCESS) {
      *nameLength = static_cast<uint32_t>(length + 1);
    }
  }
  return result;
}

}  // namespace kiv::platform

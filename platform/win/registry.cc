// The registry is the system's own: each call goes to its Win32 namesake on the key the
// handle stands for, and answers the system's error code.
#include "platform/registry.h"

#include "platform/win/unique_handle.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

// The layer's key handle is the system's, under the layer's own type name.
::HKEY win32(kiv::platform::HKEY key) { return reinterpret_cast<::HKEY>(key); }
kiv::platform::HKEY ours(::HKEY key) { return reinterpret_cast<kiv::platform::HKEY>(key); }

const ::HKEY kLocalMachine = HKEY_LOCAL_MACHINE;

// Runs an open or create call that writes the system's key into `opened`, then stores
// that key in the caller's slot; on failure the slot is cleared.
template <typename Call>
long handOut(kiv::platform::HKEY* slot, Call call) {
  if (slot == nullptr) return ERROR_INVALID_PARAMETER;
  ::HKEY opened = nullptr;
  const LONG result = call(&opened);
  *slot = result == ERROR_SUCCESS ? ours(opened) : nullptr;
  return result;
}

std::mutex failingGuard;
std::optional<std::wstring>& failingName() {
  static std::optional<std::wstring> name;  // upper case
  return name;
}

std::wstring upper(const wchar_t* text) {
  std::wstring folded(text != nullptr ? text : L"");
  if (!folded.empty()) {
    CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
  }
  return folded;
}

// Value names are compared without regard to case, as the registry does.
bool writeShouldFail(const wchar_t* name) {
  std::lock_guard held(failingGuard);
  return failingName() && *failingName() == upper(name);
}

}  // namespace

namespace kiv::platform {

const HKEY kHKeyLocalMachine = ours(kLocalMachine);

long RegCreateKeyExW(HKEY root, const wchar_t* subKey, uint32_t access, HKEY* result) {
  return handOut(result, [&](::HKEY* opened) {
    return ::RegCreateKeyExW(win32(root), subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                             nullptr, opened, nullptr);
  });
}

long RegCreateKeyW(HKEY root, const wchar_t* subKey, HKEY* result) {
  return handOut(result, [&](::HKEY* opened) { return ::RegCreateKeyW(win32(root), subKey, opened); });
}

long RegOpenKeyW(HKEY root, const wchar_t* subKey, HKEY* result) {
  return handOut(result, [&](::HKEY* opened) { return ::RegOpenKeyW(win32(root), subKey, opened); });
}

long RegOpenKeyExA(HKEY root, const char* subKey, uint32_t access, HKEY* result) {
  return handOut(result, [&](::HKEY* opened) {
    return ::RegOpenKeyExA(win32(root), subKey, 0, access, opened);
  });
}

long RegCloseKey(HKEY key) { return ::RegCloseKey(win32(key)); }

long RegSetValueExW(HKEY key, const wchar_t* name, uint32_t type, const void* data,
                    uint32_t size) {
  if (writeShouldFail(name)) return kErrorRegistryIo;
  return ::RegSetValueExW(win32(key), name, 0, type, static_cast<const BYTE*>(data), size);
}

long RegQueryValueExW(HKEY key, const wchar_t* name, uint32_t* type, void* data,
                      uint32_t* size) {
  DWORD valueType = 0;
  DWORD bytes = size != nullptr ? *size : 0;
  const LONG result = ::RegQueryValueExW(win32(key), name, nullptr, &valueType,
                                         static_cast<BYTE*>(data), size != nullptr ? &bytes : nullptr);
  if (type != nullptr && (result == ERROR_SUCCESS || result == ERROR_MORE_DATA)) *type = valueType;
  if (size != nullptr && (result == ERROR_SUCCESS || result == ERROR_MORE_DATA)) *size = bytes;
  return result;
}

long RegQueryValueExA(HKEY key, const char* name, uint32_t* type, void* data, uint32_t* size) {
  DWORD valueType = 0;
  DWORD bytes = size != nullptr ? *size : 0;
  const LONG result = ::RegQueryValueExA(win32(key), name, nullptr, &valueType,
                                         static_cast<BYTE*>(data), size != nullptr ? &bytes : nullptr);
  if (type != nullptr && (result == ERROR_SUCCESS || result == ERROR_MORE_DATA)) *type = valueType;
  if (size != nullptr && (result == ERROR_SUCCESS || result == ERROR_MORE_DATA)) *size = bytes;
  return result;
}

long RegEnumValueW(HKEY key, uint32_t index, wchar_t* name, uint32_t* nameLength) {
  if (nameLength == nullptr) return kErrorInvalidParameter;
  DWORD length = *nameLength;
  const LONG result =
      ::RegEnumValueW(win32(key), index, name, &length, nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_SUCCESS) *nameLength = static_cast<uint32_t>(length);
  if (result != ERROR_MORE_DATA) return result;
  // The system does not say how much room the name needs; reading it into a buffer as
  // long as the key's longest value name tells.
  DWORD longest = 0;
  if (::RegQueryInfoKeyW(win32(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &longest, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    std::vector<wchar_t> whole(static_cast<std::size_t>(longest) + 1);
    length = static_cast<DWORD>(whole.size());
    if (::RegEnumValueW(win32(key), index, whole.data(), &length, nullptr, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS) {
      *nameLength = static_cast<uint32_t>(length + 1);
    }
  }
  return result;
}

long RegDeleteValueW(HKEY key, const wchar_t* name) {
  return ::RegDeleteValueW(win32(key), name);
}

long RegDeleteKeyW(HKEY root, const wchar_t* subKey) {
  return ::RegDeleteKeyW(win32(root), subKey);
}

namespace testing {

void failValueWrites(const wchar_t* valueName) {
  std::lock_guard held(failingGuard);
  if (valueName != nullptr) {
    failingName() = upper(valueName);
  } else {
    failingName().reset();
  }
}

}  // namespace testing
}  // namespace kiv::platform

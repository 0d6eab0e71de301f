// The registry (HKEY_LOCAL_MACHINE), kept in KIV_HOME/registry.db with Win32 semantics:
// key paths compared without regard to case, typed values, and deletion of a key that
// still has subkeys refused. Results are Win32 error codes.
#pragma once

#include <cstdint>

namespace kiv::platform {

struct RegistryKey;
using HKEY = RegistryKey*;

// The root the module uses; never closed.
extern const HKEY kHKeyLocalMachine;

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;
constexpr long kErrorRegistryCorrupt = 1015;
constexpr long kErrorRegistryIo = 1016;
// The key behind the handle was deleted after the handle was opened.
constexpr long kErrorKeyDeleted = 1018;

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegDword = 4;

constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyAllAccess = 0xF003F;

long RegCreateKeyExW(HKEY root, const wchar_t* subKey, uint32_t access, HKEY* result);
long RegCreateKeyW(HKEY root, const wchar_t* subKey, HKEY* result);
long RegOpenKeyW(HKEY root, const wchar_t* subKey, HKEY* result);
long RegOpenKeyExA(HKEY root, const char* subKey, uint32_t access, HKEY* result);
long RegCloseKey(HKEY key);
// String data is wide text; `size` is in bytes and includes the terminating NUL.
long RegSetValueExW(HKEY key, const wchar_t* name, uint32_t type, const void* data,
                    uint32_t size);
// With data null only the size is reported. *size holds the capacity in bytes on entry.
long RegQueryValueExW(HKEY key, const wchar_t* name, uint32_t* type, void* data,
                      uint32_t* size);
// Narrow read: strings come back in the system code page (UTF-8).
long RegQueryValueExA(HKEY key, const char* name, uint32_t* type, void* data, uint32_t* size);
// Values in name order; *nameLength holds the capacity in characters on entry and the
// name's length on success. When the name does not fit: kErrorMoreData, and *nameLength
// the capacity it needs (terminating NUL included).
long RegEnumValueW(HKEY key, uint32_t index, wchar_t* name, uint32_t* nameLength);
// Direct subkeys in name order, with the same sizing rules as RegEnumValueW.
long RegEnumKeyW(HKEY key, uint32_t index, wchar_t* name, uint32_t* nameLength);
long RegDeleteValueW(HKEY key, const wchar_t* name);
long RegDeleteKeyW(HKEY root, const wchar_t* subKey);

namespace testing {
// Makes every RegSetValueExW of a value with this name fail with kErrorRegistryIo; null
// clears it.
void failValueWrites(const wchar_t* valueName);
}  // namespace testing

}  // namespace kiv::platform

// Registry key handles and key paths: what an HKEY points at, and the case folding that
// makes "SOFTWARE\Run" and "software\run" one key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace kiv::platform {

struct RegistryKey {
  std::wstring path;    // levels joined by '\', original spelling; empty for the root
  std::string folded;   // the case-folded path in UTF-8, as stored
  uint32_t access = 0;
};

namespace detail {

// Case folding that does not depend on the process's locale, so that every process
// agrees on which names are equal.
std::wstring foldCase(std::wstring_view text);
std::string foldedUtf8(std::wstring_view text);

// The levels of a path; empty levels (doubled or outer backslashes) are skipped.
std::vector<std::wstring> splitKeyPath(std::wstring_view path);

// Handles handed out and not yet closed. A copy of the key, or nothing for a handle that
// is not (or no longer) valid; the root is always valid.
HKEY registerKey(RegistryKey key);
bool closeKey(HKEY key);
std::optional<RegistryKey> lookupKey(HKEY key);

// Hands an enumerated key or value name to the caller as the Win32 enumerations do: with
// room for it and its terminator, the name and its length; without, kErrorMoreData and the
// room it needs.
long copyEnumeratedName(const std::wstring& found, wchar_t* name, uint32_t* nameLength);

}  // namespace detail
}  // namespace kiv::platform

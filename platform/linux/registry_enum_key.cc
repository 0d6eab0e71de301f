// Enumeration of a registry key's direct subkeys, for tools that show what is stored.
#include <cstring>

#include "platform/linux/registry_db.h"
#include "platform/linux/registry_key.h"
#include "platform/registry.h"
#include "platform/utf8.h"

namespace kiv::platform {

long RegEnumKeyW(HKEY handle, uint32_t index, wchar_t* name, uint32_t* nameLength) {
  if (name == nullptr || nameLength == nullptr) return kErrorInvalidParameter;
  const auto key = detail::lookupKey(handle);
  if (!key) return kErrorInvalidHandle;
  std::wstring found;
  const long status = detail::RegistryDb::run([&](detail::RegistryDb& db) -> long {
    // Subkey paths are "<path>\..."; '\' + 1 is ']', so they sort in that half-open range,
    // and a direct one has no further '\' after the prefix.
    auto select = key->folded.empty()
        ? db.prepare("SELECT name FROM reg_keys WHERE instr(path, '\\') = 0 ORDER BY path LIMIT 1 OFFSET ?3")
        : db.prepare("SELECT name FROM reg_keys WHERE path > ?1 AND path < ?2"
                     " AND instr(substr(path, length(?1) + 1), '\\') = 0 ORDER BY path LIMIT 1 OFFSET ?3");
    if (!key->folded.empty()) select.bind(1, key->folded + "\\").bind(2, key->folded + "]");
    if (!select.bind(3, int64_t{index}).step()) return kErrorNoMoreItems;
    found = kiv::utf::widen(select.text(0));
    return kErrorSuccess;
  });
  if (status != kErrorSuccess) return status;
  if (*nameLength < found.size() + 1) {
    *nameLength = static_cast<uint32_t>(found.size() + 1);
    return kErrorMoreData;
  }
  std::memcpy(name, found.c_str(), (found.size() + 1) * sizeof(wchar_t));
  *nameLength = static_cast<uint32_t>(found.size());
  return kErrorSuccess;
}

}  // namespace kiv::platform

// The Win32 registry functions on top of the SQLite store.
#include "platform/registry.h"

#include <cstring>
#include <mutex>
#include <optional>

#include "platform/linux/registry_db.h"
#include "platform/linux/registry_key.h"
#include "platform/utf8.h"

namespace kiv::platform {
namespace {

using detail::RegistryDb;

constexpr uint32_t kKeySetValue = 0x0002;

std::mutex failingGuard;
std::optional<std::wstring>& failingName() {
  static std::optional<std::wstring> name;  // folded
  return name;
}

bool writeShouldFail(std::wstring_view name) {
  std::lock_guard held(failingGuard);
  return failingName() && *failingName() == detail::foldCase(name);
}

std::wstring wide(const char* text) { return text != nullptr ? kiv::utf::widen(text) : L""; }

// The key below `parent` named by `subKey`, levels normalised.
RegistryKey childKey(const RegistryKey& parent, const wchar_t* subKey, uint32_t access) {
  RegistryKey key{parent.path, parent.folded, access};
  for (const auto& level : detail::splitKeyPath(subKey != nullptr ? subKey : L"")) {
    if (!key.path.empty()) key.path += L'\\';
    key.path += level;
  }
  key.folded = detail::foldedUtf8(key.path);
  return key;
}

bool keyExists(RegistryDb& db, const std::string& folded) {
  return folded.empty() || db.prepare("SELECT 1 FROM reg_keys WHERE path = ?").bind(1, folded).step();
}

// Records every level of `key` that is not there yet.
void createLevels(RegistryDb& db, const RegistryKey& key) {
  std::wstring path;
  for (const auto& level : detail::splitKeyPath(key.path)) {
    if (!path.empty()) path += L'\\';
    path += level;
    db.prepare("INSERT OR IGNORE INTO reg_keys(path, name) VALUES(?, ?)")
        .bind(1, detail::foldedUtf8(path))
        .bind(2, kiv::utf::narrow(level))
        .step();
  }
}

long openOrCreate(HKEY root, const wchar_t* subKey, uint32_t access, HKEY* result, bool create) {
  if (result == nullptr) return kErrorInvalidParameter;
  *result = nullptr;
  const auto parent = detail::lookupKey(root);
  if (!parent) return kErrorInvalidHandle;
  const RegistryKey key = childKey(*parent, subKey, access);
  const auto body = [&key, create](RegistryDb& db) -> long {
    if (create) createLevels(db, key);
    return keyExists(db, key.folded) ? kErrorSuccess : kErrorFileNotFound;
  };
  const long status = create ? RegistryDb::write(body) : RegistryDb::run(body);
  if (status == kErrorSuccess) *result = detail::registerKey(key);
  return status;
}

// Reads a value's type and bytes; kErrorFileNotFound when the key or value is missing.
long readValue(HKEY handle, std::wstring_view name, uint32_t* type, std::vector<uint8_t>* data) {
  const auto key = detail::lookupKey(handle);
  if (!key) return kErrorInvalidHandle;
  const std::string folded = detail::foldedUtf8(name);
  return RegistryDb::run([&](RegistryDb& db) -> long {
    auto select = db.prepare("SELECT type, data FROM reg_values WHERE key = ? AND folded = ?");
    if (!select.bind(1, key->folded).bind(2, folded).step()) return kErrorFileNotFound;
    *type = static_cast<uint32_t>(select.number(0));
    *data = select.blob(1);
    return kErrorSuccess;
  });
}

// The Win32 sizing protocol: with no buffer only the size is told; a buffer too small
// gets kErrorMoreData and the size needed.
long deliver(const std::vector<uint8_t>& bytes, uint32_t storedType, uint32_t* type, void* data,
             uint32_t* size) {
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  if (type != nullptr) *type = storedType;
  const auto needed = static_cast<uint32_t>(bytes.size());
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    return kErrorSuccess;
  }
  const bool fits = *size >= needed;
  *size = needed;
  if (!fits) return kErrorMoreData;
  if (needed != 0) std::memcpy(data, bytes.data(), needed);
  return kErrorSuccess;
}

bool isText(uint32_t type) { return type == kRegSz || type == kRegExpandSz; }

// Wide string bytes as UTF-8, terminators included, so the narrow size counts the NUL too.
std::vector<uint8_t> narrowText(const std::vector<uint8_t>& bytes) {
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
  const std::string utf8 = kiv::utf::narrow(text);
  return std::vector<uint8_t>(utf8.begin(), utf8.end());
}

}  // namespace

long RegCreateKeyExW(HKEY root, const wchar_t* subKey, uint32_t access, HKEY* result) {
  return openOrCreate(root, subKey, access, result, true);
}

long RegCreateKeyW(HKEY root, const wchar_t* subKey, HKEY* result) {
  return openOrCreate(root, subKey, kKeyAllAccess, result, true);
}

long RegOpenKeyW(HKEY root, const wchar_t* subKey, HKEY* result) {
  return openOrCreate(root, subKey, kKeyAllAccess, result, false);
}

long RegOpenKeyExA(HKEY root, const char* subKey, uint32_t access, HKEY* result) {
  const std::wstring name = wide(subKey);
  return openOrCreate(root, name.c_str(), access, result, false);
}

long RegCloseKey(HKEY key) { return detail::closeKey(key) ? kErrorSuccess : kErrorInvalidHandle; }

long RegSetValueExW(HKEY handle, const wchar_t* name, uint32_t type, const void* data,
                    uint32_t size) {
  const auto key = detail::lookupKey(handle);
  if (!key) return kErrorInvalidHandle;
  if ((key->access & kKeySetValue) == 0) return kErrorAccessDenied;
  if (data == nullptr && size != 0) return kErrorInvalidParameter;
  const std::wstring_view valueName = name != nullptr ? name : L"";
  if (writeShouldFail(valueName)) return kErrorRegistryIo;
  return RegistryDb::write([&](RegistryDb& db) -> long {
    // A handle to a key deleted meanwhile must not leave a value nobody can reach.
    if (!keyExists(db, key->folded)) return kErrorKeyDeleted;
    db.prepare(
          "INSERT INTO reg_values(key, folded, name, type, data) VALUES(?, ?, ?, ?, ?)"
          " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data")
        .bind(1, key->folded)
        .bind(2, detail::foldedUtf8(valueName))
        .bind(3, kiv::utf::narrow(valueName))
        .bind(4, int64_t{type})
        .bindBlob(5, data, size)
        .step();
    return kErrorSuccess;
  });
}

long RegQueryValueExW(HKEY key, const wchar_t* name, uint32_t* type, void* data, uint32_t* size) {
  uint32_t storedType = 0;
  std::vector<uint8_t> bytes;
  const long status = readValue(key, name != nullptr ? name : L"", &storedType, &bytes);
  if (status != kErrorSuccess) return status;
  return deliver(bytes, storedType, type, data, size);
}

long RegQueryValueExA(HKEY key, const char* name, uint32_t* type, void* data, uint32_t* size) {
  uint32_t storedType = 0;
  std::vector<uint8_t> bytes;
  const long status = readValue(key, wide(name), &storedType, &bytes);
  if (status != kErrorSuccess) return status;
  return deliver(isText(storedType) ? narrowText(bytes) : bytes, storedType, type, data, size);
}

long RegEnumValueW(HKEY handle, uint32_t index, wchar_t* name, uint32_t* nameLength) {
  if (name == nullptr || nameLength == nullptr) return kErrorInvalidParameter;
  const auto key = detail::lookupKey(handle);
  if (!key) return kErrorInvalidHandle;
  std::wstring found;
  const long status = RegistryDb::run([&](RegistryDb& db) -> long {
    auto select = db.prepare(
        "SELECT name FROM reg_values WHERE key = ? ORDER BY folded LIMIT 1 OFFSET ?");
    if (!select.bind(1, key->folded).bind(2, int64_t{index}).step()) return kErrorNoMoreItems;
    found = kiv::utf::widen(select.text(0));
    return kErrorSuccess;
  });
  if (status != kErrorSuccess) return status;
  return detail::copyEnumeratedName(found, name, nameLength);
}

long RegDeleteValueW(HKEY handle, const wchar_t* name) {
  const auto key = detail::lookupKey(handle);
  if (!key) return kErrorInvalidHandle;
  if ((key->access & kKeySetValue) == 0) return kErrorAccessDenied;
  const std::string folded = detail::foldedUtf8(name != nullptr ? name : L"");
  return RegistryDb::write([&](RegistryDb& db) -> long {
    db.prepare("DELETE FROM reg_values WHERE key = ? AND folded = ?")
        .bind(1, key->folded)
        .bind(2, folded)
        .step();
    return db.changes() > 0 ? kErrorSuccess : kErrorFileNotFound;
  });
}

long RegDeleteKeyW(HKEY root, const wchar_t* subKey) {
  if (subKey == nullptr) return kErrorInvalidParameter;
  const auto parent = detail::lookupKey(root);
  if (!parent) return kErrorInvalidHandle;
  const RegistryKey key = childKey(*parent, subKey, kKeyAllAccess);
  if (key.folded.empty()) return kErrorAccessDenied;  // the root itself
  return RegistryDb::write([&key](RegistryDb& db) -> long {
    if (!keyExists(db, key.folded)) return kErrorFileNotFound;
    // Subkey paths are "<path>\..."; '\' + 1 is ']', so they sort in that half-open range.
    auto child = db.prepare("SELECT 1 FROM reg_keys WHERE path > ? AND path < ? LIMIT 1");
    if (child.bind(1, key.folded + "\\").bind(2, key.folded + "]").step()) {
      return kErrorAccessDenied;
    }
    db.prepare("DELETE FROM reg_values WHERE key = ?").bind(1, key.folded).step();
    db.prepare("DELETE FROM reg_keys WHERE path = ?").bind(1, key.folded).step();
    return kErrorSuccess;
  });
}

namespace testing {

void failValueWrites(const wchar_t* valueName) {
  std::lock_guard held(failingGuard);
  if (valueName != nullptr) {
    failingName() = detail::foldCase(valueName);
  } else {
    failingName().reset();
  }
}

}  // namespace testing
}  // namespace kiv::platform

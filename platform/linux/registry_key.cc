// Registry key handles and the locale-independent case folding of key and value names.
#include "platform/linux/registry_key.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "platform/utf8.h"

namespace kiv::platform {
namespace {

RegistryKey localMachine{L"", "", kKeyAllAccess};

std::mutex handleGuard;
// Never destroyed: keys may still be closed by destructors that run while the process exits.
std::unordered_set<HKEY>& liveHandles() {
  static auto* handles = new std::unordered_set<HKEY>;
  return *handles;
}

wchar_t foldChar(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return c + 32;
  if (c < 0xC0) return c;
  // Latin-1 letters (not the multiplication sign), Greek and Cyrillic capitals.
  if (c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  // Latin Extended-A pairs capitals on even code points.
  if (c >= 0x100 && c <= 0x137 && (c & 1) == 0) return c + 1;
  return c;
}

}  // namespace

const HKEY kHKeyLocalMachine = &localMachine;

namespace detail {

std::wstring foldCase(std::wstring_view text) {
  std::wstring result(text);
  for (auto& c : result) c = foldChar(c);
  return result;
}

std::string foldedUtf8(std::wstring_view text) { return kiv::utf::narrow(foldCase(text)); }

std::vector<std::wstring> splitKeyPath(std::wstring_view path) {
  std::vector<std::wstring> levels;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring_view::npos) end = path.size();
    if (end > start) levels.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return levels;
}

HKEY registerKey(RegistryKey key) {
  auto handle = std::make_unique<RegistryKey>(std::move(key));
  std::lock_guard held(handleGuard);
  liveHandles().insert(handle.get());
  return handle.release();
}

bool closeKey(HKEY key) {
  if (key == kHKeyLocalMachine) return true;
  std::lock_guard held(handleGuard);
  if (liveHandles().erase(key) == 0) return false;
  delete key;
  return true;
}

std::optional<RegistryKey> lookupKey(HKEY key) {
  if (key == kHKeyLocalMachine) return localMachine;
  std::lock_guard held(handleGuard);
  if (!liveHandles().contains(key)) return std::nullopt;
  return *key;
}

long copyEnumeratedName(const std::wstring& found, wchar_t* name, uint32_t* nameLength) {
  if (*nameLength < found.size() + 1) {
    *nameLength = static_cast<uint32_t>(found.size() + 1);
    return kErrorMoreData;
  }
  std::memcpy(name, found.c_str(), (found.size() + 1) * sizeof(wchar_t));
  *nameLength = static_cast<uint32_t>(found.size());
  return kErrorSuccess;
}

}  // namespace detail
}  // namespace kiv::platform

// The computer's name and the paths and handles of loaded modules.
#include "platform/system_info.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/utf8.h"

namespace kiv::platform {
namespace {

std::string hostName() {
  if (const char* forced = std::getenv("KIV_COMPUTER_NAME"); forced != nullptr && *forced != '\0') {
    return forced;
  }
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  std::string result(name);
  return result.substr(0, result.find('.'));
}

std::wstring executablePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || length >= static_cast<ssize_t>(sizeof path)) return L"";
  return kiv::utf::widen(std::string_view(path, static_cast<size_t>(length)));
}

bool isExecutable(const char* path) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr) return false;
  return kiv::utf::widen(resolved) == executablePath();
}

// The loader's entry for a handle, found by walking the list of loaded modules, so that
// a made-up handle or one whose module was unloaded is never read. A dlopen handle is the
// address of its module's entry.
const link_map* loadedModule(void* module) {
  void* program = dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD);
  link_map* entry = nullptr;
  if (program == nullptr || dlinfo(program, RTLD_DI_LINKMAP, &entry) != 0) return nullptr;
  while (entry != nullptr && entry->l_prev != nullptr) entry = entry->l_prev;
  for (; entry != nullptr; entry = entry->l_next) {
    if (entry == module) return entry;
  }
  return nullptr;
}

}  // namespace

bool getComputerName(wchar_t* buffer, uint32_t* size) {
  if (buffer == nullptr || size == nullptr) {
    errno = EINVAL;
    return false;
  }
  const std::wstring name = kiv::utf::widen(hostName());
  if (name.empty()) {
    errno = errno != 0 ? errno : ENOENT;
    return false;
  }
  if (*size < name.size() + 1) {
    *size = static_cast<uint32_t>(name.size() + 1);
    errno = ERANGE;
    return false;
  }
  std::wmemcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<uint32_t>(name.size());
  return true;
}

std::wstring moduleFileName(void* module) {
  if (module == nullptr) return executablePath();
  const link_map* map = loadedModule(module);
  if (map == nullptr) {
    errno = EINVAL;
    return L"";
  }
  // The main program's entry has an empty name.
  if (map->l_name == nullptr || map->l_name[0] == '\0') return executablePath();
  // A module loaded by a relative path keeps that path; callers expect a full one.
  char resolved[PATH_MAX];
  if (map->l_name[0] != '/' && realpath(map->l_name, resolved) != nullptr) {
    return kiv::utf::widen(resolved);
  }
  return kiv::utf::widen(map->l_name);
}

void* moduleContaining(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  void* handle = dlopen(info.dli_fname, RTLD_NOLOAD | RTLD_LAZY);
  // The executable is not found by the name it was started with; it has its own handle.
  if (handle == nullptr && isExecutable(info.dli_fname)) handle = dlopen(nullptr, RTLD_LAZY);
  if (handle == nullptr) {
    errno = ENOENT;
    return nullptr;
  }
  // The look-up counted a load; give it back so the module unloads when its owner lets go.
  dlclose(handle);
  return handle;
}

}  // namespace kiv::platform

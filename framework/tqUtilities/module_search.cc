// Module search: the environment's directories first, so that tests and installations can
// put their own modules in front of the framework's.
#include "module_search.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "tqUtilities.h"

namespace kiv::factory {
namespace {

std::string ownDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&TQFactory_LoadExW), &info) == 0 || info.dli_fname == nullptr) return "";
  const std::string path = info.dli_fname;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

std::vector<std::string> moduleDirectories() {
  std::vector<std::string> directories;
  if (const char* value = std::getenv("KIV_MODULE_PATH")) {
    std::string list = value;
    for (std::size_t start = 0; start <= list.size();) {
      const auto colon = std::min(list.find(':', start), list.size());
      if (colon > start) directories.push_back(list.substr(start, colon - start));
      start = colon + 1;
    }
  }
  if (std::string own = ownDirectory(); !own.empty()) directories.push_back(own);
  return directories;
}

std::string findModule(const std::string& name) {
  for (const auto& directory : moduleDirectories()) {
    std::string path = directory + "/lib" + name + ".so";
    if (::access(path.c_str(), F_OK) == 0) return path;
  }
  return "";
}

}  // namespace kiv::factory

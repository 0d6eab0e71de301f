// Module search: the environment's directories first, so that tests and installations can
// put their own modules in front of the framework's.
#include "module_search.h"

#include <algorithm>
#include <cstdlib>

#include "framework/tqUtilities/dynamic_library.h"
#include "platform/file_util.h"
#include "platform/system_info.h"
#include "platform/utf8.h"
#include "tqUtilities.h"

namespace kiv::factory {
namespace {

std::string ownDirectory() {
  void* self = platform::moduleContaining(reinterpret_cast<const void*>(&TQFactory_LoadExW));
  if (self == nullptr) return "";
  const std::string path = utf::narrow(platform::moduleFileName(self));
  return path.empty() ? "" : directoryOf(path);
}

}  // namespace

std::vector<std::string> moduleDirectories() {
  std::vector<std::string> directories;
  if (const char* value = std::getenv("KIV_MODULE_PATH")) {
    std::string list = value;
    for (std::size_t start = 0; start <= list.size();) {
      const auto colon = std::min(list.find(pathListSeparator(), start), list.size());
      if (colon > start) directories.push_back(list.substr(start, colon - start));
      start = colon + 1;
    }
  }
  if (std::string own = ownDirectory(); !own.empty()) directories.push_back(own);
  return directories;
}

std::string findModule(const std::string& name) {
  for (const auto& directory : moduleDirectories()) {
    std::string path = joinPath(directory, libraryFileName(name));
    if (platform::fileExists(path)) return path;
  }
  return "";
}

}  // namespace kiv::factory

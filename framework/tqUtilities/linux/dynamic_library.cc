// Component modules through the dynamic loader (dlopen).
#include "framework/tqUtilities/dynamic_library.h"

#include <dlfcn.h>

namespace kiv::factory {

std::string libraryFileName(const std::string& name) { return "lib" + name + ".so"; }

std::string joinPath(const std::string& directory, const std::string& file) {
  return directory + "/" + file;
}

std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

char pathListSeparator() { return ':'; }

bool isPlainModuleName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

HTQMODULE openLibrary(const std::string& path, std::string* reason) {
  HTQMODULE handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = dlerror();
    *reason = text ? text : path;
  }
  return handle;
}

void* librarySymbol(HTQMODULE library, const char* name, std::string* reason) {
  dlerror();
  void* found = dlsym(library, name);
  if (found == nullptr && reason != nullptr) {
    const char* text = dlerror();
    *reason = text ? text : std::string("no ") + name;
  }
  return found;
}

void closeLibrary(HTQMODULE library) { dlclose(library); }

}  // namespace kiv::factory

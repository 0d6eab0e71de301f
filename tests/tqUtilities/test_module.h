// Helpers for tests that load the test component module through the factory.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

#include "TestComponent.h"
#include "support/test_process.h"
#include "tqUtilities.h"

namespace testmodule {

// A module's file as the system's loader names it.
inline std::string fileName(const std::string& module) {
#ifdef _WIN32
  return module + ".dll";
#else
  return "lib" + module + ".so";
#endif
}

inline std::string path() { return std::string(KIV_TEST_MODULE_DIR) + "/" + fileName("kivTestComponent"); }

// Points the factory at the test modules.
inline void useTestModules() { kivtest::setEnvironment("KIV_MODULE_PATH", KIV_TEST_MODULE_DIR, true); }

// Whether the loader still has the module at `file` mapped (asks without loading it).
inline bool mapped(const std::string& file) {
#ifdef _WIN32
  // Asked by its file name only: the loader knows a loaded module by its base name too.
  const std::string base = file.substr(file.find_last_of("/\\") + 1);
  return GetModuleHandleA(base.c_str()) != nullptr;
#else
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
#endif
}

inline bool loaded() { return mapped(path()); }

inline int probe(HTQMODULE module, const char* name) {
  auto function = reinterpret_cast<TestProbeFn>(TQFactory_GetProcAddress(module, name));
  return function ? function() : -1;
}

}  // namespace testmodule

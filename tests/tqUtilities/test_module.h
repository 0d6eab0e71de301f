// Helpers for tests that load the test component module through the factory.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>

#include <string>

#include "TestComponent.h"
#include "tqUtilities.h"

namespace testmodule {

inline std::string path() { return std::string(KIV_TEST_MODULE_DIR) + "/libkivTestComponent.so"; }

// Points the factory at the test modules.
inline void useTestModules() { setenv("KIV_MODULE_PATH", KIV_TEST_MODULE_DIR, 1); }

// Whether the dynamic loader still has the test module mapped (asks without loading it).
inline bool loaded() {
  void* handle = dlopen(path().c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

inline int probe(HTQMODULE module, const char* name) {
  auto function = reinterpret_cast<TestProbeFn>(TQFactory_GetProcAddress(module, name));
  return function ? function() : -1;
}

}  // namespace testmodule

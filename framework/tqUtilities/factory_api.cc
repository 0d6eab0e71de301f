// The exported component factory: modules by name, objects by class name and version,
// and the per-module count of live objects.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "module_table.h"
#include "tqUtilities.h"
#include "platform/utf8.h"

extern "C" {

unsigned char TQFactory_GetMaxDebug() {
  const char* value = std::getenv("KIV_DEBUG");
  return value != nullptr && std::strtol(value, nullptr, 0) != 0 ? 1 : 0;
}

HTQMODULE TQFactory_LoadExW(const wchar_t* module, int) {
  if (module == nullptr) {
    TQUtilities_TraceErrorW(nullptr, L"%s: bad args", L"TQFactory_LoadExW");
    return nullptr;
  }
  return kiv::factory::loadModule(module);
}

HTQMODULE TQFactory_AddRefModule(HTQMODULE module) {
  if (module == nullptr || !kiv::factory::addLoad(module)) {
    TQUtilities_TraceErrorW(nullptr, L"%s: unknown module handle 0x%llx", L"TQFactory_AddRefModule",
                            static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(module)));
    return nullptr;
  }
  return module;
}

ITQImpl* TQFactory_CreateInstanceExW(HTQMODULE module, const char* className, int version,
                                     const wchar_t*, int) {
  if (module == nullptr || className == nullptr) return nullptr;
  auto create = reinterpret_cast<TQCreateInstanceFn>(kiv::factory::symbol(module, "TQCreateInstance"));
  if (create == nullptr) {
    TQUtilities_TraceErrorW(nullptr, L"%s: unknown module handle 0x%llx", L"TQFactory_CreateInstanceExW",
                            static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(module)));
    return nullptr;
  }
  ITQImpl* object = create(className, version);
  if (object == nullptr) {
    TQUtilities_TraceErrorW(nullptr, L"%s: %hs gives no %hs version %d", L"TQFactory_CreateInstanceExW",
                            kiv::factory::pathOf(module).c_str(), className, version);
  }
  return object;
}

void TQFactory_Unload(HTQMODULE module) {
  if (module != nullptr) kiv::factory::dropLoad(module);
}

void* TQFactory_GetProcAddress(HTQMODULE module, const char* name) {
  return kiv::factory::symbol(module, name);
}

int TQFactory_IncInstCount(HTQMODULE module) { return kiv::factory::changeInstances(module, 1); }

int TQFactory_DecInstCount(HTQMODULE module) { return kiv::factory::changeInstances(module, -1); }

int TQFactory_GetInstCount(HTQMODULE module) { return kiv::factory::instances(module); }

void TQFactory_DisplayError(const wchar_t* moduleFileName, const wchar_t* message) {
  const wchar_t* file = moduleFileName && moduleFileName[0] ? moduleFileName : L"-";
  const wchar_t* text = message ? message : L"";
  TQUtilities_TraceErrorW(nullptr, L"%s: %s", file, text);
  std::fprintf(stderr, "%s: %s\n", kiv::utf::narrow(file).c_str(), kiv::utf::narrow(text).c_str());
}

}  // extern "C"

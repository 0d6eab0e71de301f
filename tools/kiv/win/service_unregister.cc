// `kiv registry unregister`, and the same step of `kiv service uninstall`: the plug-in's own
// UnregisterNotifications removes the logon notification entries (Winlogon notification key,
// Run value) that it writes when it starts on the Windows versions that need them. The
// installer runs it after the service has stopped and before the files go.
#include <cstdio>

#include "tools/kiv/win/service_manage.h"
#include "tqUtilities.h"

namespace kiv::tool {

int unregisterNotifications(const char* command) {
  HTQMODULE module = TQFactory_LoadExW(L"tqNotify", 1);
  if (module == nullptr) {
    std::fprintf(stderr, "%s: cannot load the plug-in module \"tqNotify\"\n", command);
    return 1;
  }
  using UnregisterFn = int (*)();
  auto unregister = reinterpret_cast<UnregisterFn>(TQFactory_GetProcAddress(module, "UnregisterNotifications"));
  // Loading the module initialised it, which registers the entries where the system needs
  // them; unregistering comes after that, and the module is terminated before it is unloaded.
  if (unregister != nullptr) unregister();
  auto terminate = reinterpret_cast<TQTerminateFn>(TQFactory_GetProcAddress(module, "TQTerminate"));
  if (terminate != nullptr) terminate();
  TQFactory_Unload(module);
  if (unregister == nullptr) {
    std::fprintf(stderr, "%s: the module \"tqNotify\" has no UnregisterNotifications\n", command);
    return 1;
  }
  return 0;
}

}  // namespace kiv::tool

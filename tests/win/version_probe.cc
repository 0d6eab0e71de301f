// Runs one module call in a process of its own, so that the system can report a chosen
// Windows version to it:
//   win_version_probe version                 exits with the GetVersion word
//   win_version_probe register | unregister   Register/UnregisterNotifications, exits 0
//   win_version_probe watch-shell             exits with the notifier's choice to watch
//                                             the shell (1) or not (0)
//   win_version_probe private-directory PATH  makes an owner-only directory, exits 0
//   win_version_probe hold-units-lock EVENT   takes the units lock, sets the named event,
//                                             then waits until it is killed
#include <windows.h>

#include <string>

#include "platform/file_util.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/tqNotify.h"
#include "tqUtilities.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  if (command == "version") return static_cast<int>(GetVersion());
  if (command == "register") return RegisterNotifications() == 1 ? 0 : 1;
  if (command == "unregister") return UnregisterNotifications() == 1 ? 0 : 1;
  if (command == "private-directory" && argc == 3) {
    return kiv::platform::makeDirectory(argv[2], 0700) == 0 ? 0 : static_cast<int>(GetLastError());
  }
  if (command == "watch-shell") {
    // Made through the factory as the host makes it; the choice is the constructor's.
    HTQMODULE module = TQFactory_LoadExW(L"tqNotify", 1);
    if (module == nullptr) return 30;
    auto* notifier =
        dynamic_cast<CTQNotify*>(TQFactory_CreateInstanceExW(module, "ITQPlugin", 2, nullptr, 1));
    if (notifier == nullptr) return 31;
    const int watching = notifier->watchShell;
    notifier->Release();
    TQFactory_Unload(module);
    return watching;
  }
  if (command == "hold-units-lock" && argc == 3) {
    ITQOSLock* lock = nullptr;
    if (const int result = lockUnitsDB(&lock); result != 0) return 10 + result;
    const HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (held == nullptr || !SetEvent(held)) return 20;
    Sleep(INFINITE);
  }
  return 2;
}

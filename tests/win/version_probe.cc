// Runs one module call in a process of its own, so that the system can report a chosen
// Windows version to it:
//   win_version_probe version                 exits with the GetVersion word
//   win_version_probe register | unregister   Register/UnregisterNotifications, exits 0
//   win_version_probe hold-units-lock EVENT   takes the units lock, sets the named event,
//                                             then waits until it is killed
#include <windows.h>

#include <string>

#include "tqNotify/tqNotify.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  if (command == "version") return static_cast<int>(GetVersion());
  if (command == "register") return RegisterNotifications() == 1 ? 0 : 1;
  if (command == "unregister") return UnregisterNotifications() == 1 ? 0 : 1;
  if (command == "hold-units-lock" && argc == 3) {
    ITQOSLock* lock = nullptr;
    if (const int result = lockUnitsDB(&lock); result != 0) return 10 + result;
    const HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (held == nullptr || !SetEvent(held)) return 20;
    Sleep(INFINITE);
  }
  return 2;
}

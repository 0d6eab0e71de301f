// Runs one module call in a process of its own, so that the system can report a chosen
// Windows version to it:
//   win_version_probe version                 exits with the GetVersion word
//   win_version_probe register | unregister   Register/UnregisterNotifications, exits 0
//   win_version_probe watch-shell             exits with the notifier's choice to watch
//                                             the shell (1) or not (0)
//   win_version_probe private-directory PATH  makes an owner-only directory, exits 0
//   win_version_probe hold-units-lock EVENT   takes the units lock, sets the named event,
//                                             then waits until it is killed
//   win_version_probe notify-events FILE      runs a notifier through an XML logon and
//                                             logoff and a session logoff, and writes the
//                                             events it reported to FILE, exits 0
#include <windows.h>

#include <fstream>
#include <string>

#include "TQSMCAPI.h"
#include "notifier/RecordingSink.h"
#include "platform/file_util.h"
#include "platform/utf8.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/tqNotify.h"
#include "tqUtilities.h"

namespace {

// A notifier started as the host starts it is sent an XML "Logon" and "Logoff" for session
// 3 over the bus, then the host's session logoff of session 4, and is shut down; every
// event it reported goes to `file` as a line "code s1".
int notifyEvents(const char* file) {
  HTQMODULE module = TQFactory_LoadExW(L"tqNotify", 1);
  if (module == nullptr) return 30;
  auto* notifier =
      dynamic_cast<CTQNotify*>(TQFactory_CreateInstanceExW(module, "ITQPlugin", 2, nullptr, 1));
  if (notifier == nullptr) return 31;
  notifiertest::RecordingSink sink;
  PluginInitInfo info;
  info.sink = &sink;
  if (!notifier->Initialize(std::move(info))) return 32;
  for (const char* type : {"Logon", "Logoff"}) {
    const std::string text = std::string("<Notification Type=\"") + type +
                             "\"><User>alice</User><Domain>CORP</Domain>"
                             "<computerUserUnitName>.|CORP|alice</computerUserUnitName>"
                             "<userUnitName>CORP|alice</userUnitName><sessionID>3</sessionID>"
                             "</Notification>";
    uint32_t status = 0;
    // The answer comes once the message has been handled.
    if (SmSend("tqNotify", text.c_str(), static_cast<uint32_t>(text.size()), &status, 60000) != 0) {
      return 33;
    }
  }
  TQStringW logoff(L"6"), session(L"4"), none;
  notifier->OnEventW(15, nullptr, logoff, session, none);
  notifier->ShutdownW(TQStringW(), 0);
  {
    std::ofstream out(file, std::ios::binary);
    for (const auto& event : sink.events()) out << event.code << ' ' << kiv::utf::narrow(event.s1) << '\n';
  }
  notifier->Release();
  TQFactory_Unload(module);
  return 0;
}

}  // namespace

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
  if (command == "notify-events" && argc == 3) return notifyEvents(argv[2]);
  if (command == "hold-units-lock" && argc == 3) {
    ITQOSLock* lock = nullptr;
    if (const int result = lockUnitsDB(&lock); result != 0) return 10 + result;
    const HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (held == nullptr || !SetEvent(held)) return 20;
    Sleep(INFINITE);
  }
  return 2;
}

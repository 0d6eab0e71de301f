// The shell process watcher: on legacy logon platforms the end of the user's shell process
// is the logoff, reported as codes 3 and 9 for the user of the last logon message.
#include <array>

#include "platform/registry.h"
#include "platform/version.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/notifier/ScopedLock.h"

namespace {

using kiv::platform::WaitHandle;

constexpr const char* kWinlogonKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
// A process that was found but cannot be waited on (it ended in between) is looked for
// again after this pause, so the watcher neither stops watching nor spins.
constexpr uint32_t kUnwaitablePauseMs = 100;

// Waits for the first of two handles; 0 or 1, or anything else on failure.
uint32_t waitEither(WaitHandle first, WaitHandle second) {
  const std::array<WaitHandle, 2> handles{first, second};
  return kiv::platform::waitAny(handles, kiv::platform::kInfinite);
}

void reportLogoff(CTQNotify& notifier) {
  {
    ScopedLock held(notifier.watcherLock.get());
    // Logon messages so far are in the names reported now: their signal must not bring the
    // same user's logoff once more. One that comes later signals again.
    notifier.userLogonEvent->reset();
    notifier.report(kTQEventUserLogoff, notifier.watchedUser, notifier.watchedComputerUserUnit,
                    notifier.watchedUserUnit);
  }
  notifier.report(kTQEventSessionLogoff, L"0");
}

}  // namespace

void readShellName(TQStringW& name) {
  std::array<char, 260> buffer{};
  bool read = false;
  if (!kiv::platform::isNineXFamily(kiv::platform::getVersion())) {
    kiv::platform::HKEY key = nullptr;
    if (kiv::platform::RegOpenKeyExA(kiv::platform::kHKeyLocalMachine, kWinlogonKey,
                                     kiv::platform::kKeyRead, &key) == kiv::platform::kErrorSuccess) {
      uint32_t size = 259;  // the last byte stays NUL whatever the value holds
      if (kiv::platform::RegQueryValueExA(key, "Shell", nullptr, buffer.data(), &size) ==
          kiv::platform::kErrorSuccess) {
        name.assign_mbcs(buffer.data());
        name.toupper();
        read = true;
      }
      kiv::platform::RegCloseKey(key);
    }
  }
  if (!read || name.empty()) name = L"EXPLORER.EXE";
}

int shellWatcherThread(void* /*first*/, void* argument) {
  auto& notifier = *static_cast<CTQNotify*>(argument);
  TQptr<TQOSProcessEnum> processes;
  if (!processes.CreateInstanceV1(L"tqOSServices", "TQOSProcessEnum")) return 0;
  TQStringW shellName;
  readShellName(shellName);
  const WaitHandle stop = notifier.stopEvent->handle();

  TQptr<TQOSProcess> shell;
  for (;;) {
    processes->refresh();
    shell.Release();
    if (processes->findProcess(shellName.c_str(), shell.fill())) {
      const WaitHandle shellEnded = shell->handle();
      if (!shellEnded.valid()) {
        if (kiv::platform::waitOne(stop, kUnwaitablePauseMs) == kiv::platform::kWaitTimeout) continue;
        break;
      }
      if (waitEither(shellEnded, stop) == 0) continue;
      break;
    }
    reportLogoff(notifier);
    if (waitEither(notifier.userLogonEvent->handle(), stop) != 0) break;
  }
  return 0;
}

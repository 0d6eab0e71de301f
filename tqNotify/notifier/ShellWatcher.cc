// Placeholder body of the shell process watcher until the watcher lands: waits for stopEvent.
#include "tqNotify/notifier/CTQNotify.h"

void readShellName(TQStringW& name) { name = L"EXPLORER.EXE"; }

int shellWatcherThread(void* /*first*/, void* notifier) {
  kiv::platform::waitOne(static_cast<CTQNotify*>(notifier)->stopEvent->handle(),
                         kiv::platform::kInfinite);
  return 0;
}

// The units lock: one system-wide named mutex that every process brackets its units work
// with.
#include "TQOSServices.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/tqNotify.h"

namespace {

constexpr int kNamedMutexValue = 5;

// Sessions that share one namespace use the plain name; otherwise the mutex must live in
// the namespace common to all sessions.
const wchar_t* unitsLockName() {
  TQptr<TQOSTerminalServices> terminalServices;
  if (!terminalServices.CreateInstance(L"tqOSServices", "TQOSTerminalServices")) {
    return L"UNITSDB";
  }
  return terminalServices->query() == 1 ? L"UNITSDB" : L"Global\\UNITSDB";
}

}  // namespace

int lockUnitsDB(ITQOSLock** mutex) {
  TQptr<TQOSThreadControl> threadControl;
  if (!threadControl.CreateInstance(L"tqOSServices", "TQOSThreadControl")) return 3;
  if (mutex == nullptr) return 4;
  if (!threadControl->createMutex(unitsLockName(), kNamedMutexValue, mutex) ||
      *mutex == nullptr) {
    *mutex = nullptr;
    return 4;
  }
  // An abandoned lock is held all the same: its last holder died or its thread ended.
  if (lockObtained((*mutex)->lock())) return 0;

  // Not held: give the reference back through a smart pointer so that the component's
  // module is unloaded with it.
  TQptr<ITQOSLock> unused;
  *unused.fill() = *mutex;
  *mutex = nullptr;
  return 4;
}

int unlockUnitsDB(ITQOSLock* mutex) {
  if (mutex != nullptr) mutex->unlock();
  return 0;
}

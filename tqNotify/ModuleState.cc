// The module-wide state and the guard around its reference-count lock.
#include "tqNotify/ModuleState.h"

namespace tqnotify {

ModuleState& moduleState() {
  static ModuleState state;
  return state;
}

// An object can outlive TQTerminate when a host gets the order wrong; without the lock the
// count still changes, only unguarded, instead of touching a deleted critical section.
ModuleLockGuard::ModuleLockGuard() : entered_(moduleState().moduleLockCreated) {
  if (entered_) TQPorting_EnterCriticalSection(&moduleState().moduleLock);
}

ModuleLockGuard::~ModuleLockGuard() {
  if (entered_) TQPorting_LeaveCriticalSection(&moduleState().moduleLock);
}

const char* moduleVersionText() { return "12.0.1.1378"; }

}  // namespace tqnotify

// Thread control's entries: each hands out a new object with one reference for the caller.
#include "CTQOSThreadControl.h"

#include <cerrno>

#include "CTQOSThread.h"
#include "LockObjects.h"
#include "platform/last_error.h"

bool CTQOSThreadControl::startThread(TQThreadFunction function, int, void* argument,
                                     ITQOSThread** thread) {
  if (function == nullptr || thread == nullptr) return false;
  auto* object = new CTQOSThread();
  if (!object->start(function, argument)) {
    kiv::components::discardHandedOut(object);
    return false;
  }
  *thread = object;
  return true;
}

bool CTQOSThreadControl::createMutex(const wchar_t* name, int, ITQOSLock** mutex) {
  if (mutex == nullptr) return false;
  if (name == nullptr || *name == 0) {
    *mutex = new CTQOSRecursiveLock();
    return true;
  }
  auto named = kiv::platform::NamedMutex::open(name);
  if (!named) {
    const int error = kiv::platform::lastError();
    TQUtilities_TraceErrorW(L"tqOSServices", L"%s: cannot open the mutex %s: %s",
                            L"CTQOSThreadControl::createMutex", name,
                            kiv::platform::errorText(error).c_str());
    return false;
  }
  *mutex = new CTQOSNamedMutex(name, std::move(named));
  return true;
}

bool CTQOSThreadControl::createLock(ITQOSLock** lock) {
  if (lock == nullptr) return false;
  *lock = new CTQOSRecursiveLock();
  return true;
}

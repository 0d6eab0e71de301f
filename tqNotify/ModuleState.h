// The state this module keeps once per load: the library handle the host gave TQInit, the
// module's file name, the factory's debug flag and the lock that guards reference counts.
// The instance handle saved when the library is loaded lives with the registration, its
// only user (tqNotify/registration/InstanceHandle.h).
#pragma once

#include <cstdint>

#include "TQTypes.h"
#include "tqUtilities.h"

namespace tqnotify {

constexpr unsigned kModuleFileNameCapacity = 260;

struct ModuleState {
  HTQMODULE libraryHandle = nullptr;  // null while the module is not initialised
  wchar_t moduleFileName[kModuleFileNameCapacity] = {};
  unsigned char debugFlag = 0;
  TQ_CRITICAL_SECTION moduleLock{};
  bool moduleLockCreated = false;
};

ModuleState& moduleState();

// Reference counts change only while this is held.
class ModuleLockGuard {
 public:
  ModuleLockGuard();
  ~ModuleLockGuard();
  ModuleLockGuard(const ModuleLockGuard&) = delete;
  ModuleLockGuard& operator=(const ModuleLockGuard&) = delete;

 private:
  bool entered_;
};

// Text of the module version, as traced by TQInit.
const char* moduleVersionText();

}  // namespace tqnotify

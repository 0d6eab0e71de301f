// Each thread's configuration store on Windows, in a fiber-local slot. The destructors of
// thread_local objects in a mingw-w64 DLL may run after the thread's emulated TLS block
// has been freed (both are thread-end callbacks, in no fixed order), which would close the
// store through freed memory; the system's own slot hands its callback the pointer itself.
#include <windows.h>

#include "framework/tqUtilities/config_store.h"

namespace kiv::config {
namespace {

using Slot = std::unique_ptr<ConfigStore>;

void WINAPI closeStore(void* slot) { delete static_cast<Slot*>(slot); }

// Where no slot can be had: the plain way.
Slot& fallbackSlot() {
  thread_local Slot slot;
  return slot;
}

DWORD slotIndex() {
  static const DWORD index = FlsAlloc(closeStore);
  return index;
}

}  // namespace

Slot& threadStoreSlot() {
  const DWORD index = slotIndex();
  if (index == FLS_OUT_OF_INDEXES) return fallbackSlot();
  auto* slot = static_cast<Slot*>(FlsGetValue(index));
  if (slot == nullptr) {
    slot = new Slot;  // the slot owns it from here: closeStore deletes it
    if (!FlsSetValue(index, slot)) {
      delete slot;
      return fallbackSlot();
    }
  }
  return *slot;
}

}  // namespace kiv::config

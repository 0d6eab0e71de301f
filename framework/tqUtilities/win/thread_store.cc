// Each thread's configuration store on Windows, in a fiber-local slot: a thread_local store
// would be closed through the thread's already freed TLS block (see platform/win/fiber_slot.h).
#include "framework/tqUtilities/config_store.h"
#include "platform/win/fiber_slot.h"

namespace kiv::config {
namespace {

using Slot = std::unique_ptr<ConfigStore>;

void __stdcall closeStore(void* slot) { delete static_cast<Slot*>(slot); }

}  // namespace

Slot& threadStoreSlot() {
  static const platform::win::FiberSlot fiberSlot(closeStore);
  if (auto* slot = static_cast<Slot*>(fiberSlot.get())) return *slot;
  auto* slot = new Slot;  // the fiber slot owns it from here: closeStore deletes it
  if (fiberSlot.set(slot)) return *slot;
  delete slot;
  thread_local Slot fallback;  // no slot left in this process: the plain way
  return fallback;
}

}  // namespace kiv::config

// Saves the instance handle as soon as the loader has mapped the module, the counterpart of
// a Windows module entry point that keeps the handle it is attached with and does nothing
// else.
#include "tqNotify/registration/InstanceHandle.h"

#include <atomic>

#include "platform/system_info.h"

namespace {

std::atomic<HTQMODULE> savedHandle{nullptr};

HTQMODULE lookUpOwnHandle() {
  return kiv::platform::moduleContaining(reinterpret_cast<const void*>(&instanceHandle));
}

__attribute__((constructor)) void saveInstanceHandle() { savedHandle.store(lookUpOwnHandle()); }

}  // namespace

HTQMODULE instanceHandle() {
  HTQMODULE handle = savedHandle.load();
  if (handle == nullptr) {
    // The loader may not hand out the handle while the module is still being initialised;
    // by the first call it can.
    handle = lookUpOwnHandle();
    savedHandle.store(handle);
  }
  return handle;
}

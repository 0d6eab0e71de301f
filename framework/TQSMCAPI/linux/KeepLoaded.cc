// Pinning through the dynamic loader: one more load that can never be closed.
#include "framework/TQSMCAPI/KeepLoaded.h"

#include <dlfcn.h>

namespace kiv::bus {

void keepThisLibraryLoaded() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<const void*>(&keepThisLibraryLoaded), &self) != 0 &&
      self.dli_fname != nullptr) {
    dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

}  // namespace kiv::bus

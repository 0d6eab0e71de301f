// Pinning through the loader: the module handle taken with the pin flag is never released.
#include "framework/TQSMCAPI/win/KeepLoaded.h"

#include <windows.h>

namespace kiv::bus {

void keepThisLibraryLoaded() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&keepThisLibraryLoaded), &self);
}

}  // namespace kiv::bus

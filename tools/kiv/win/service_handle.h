// Owning handles of the Service Control Manager and its services.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include "platform/win/unique_handle.h"

namespace kiv::tool {

struct ServiceHandleTraits {
  using type = SC_HANDLE;
  static type empty() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { CloseServiceHandle(h); }
};
using UniqueServiceHandle = platform::win::Unique<ServiceHandleTraits>;

}  // namespace kiv::tool

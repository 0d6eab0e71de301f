// Placeholder body of the IP change monitor until the watcher lands: waits for stopEvent.
#include "tqNotify/notifier/CTQNotify.h"

int ipThreadEntry(void* /*context*/, void* notifier) {
  return static_cast<CTQNotify*>(notifier)->IPThreadProcMethod();
}

int CTQNotify::IPThreadProcMethod() {
  kiv::platform::waitOne(stopEvent->handle(), kiv::platform::kInfinite);
  return 0;
}

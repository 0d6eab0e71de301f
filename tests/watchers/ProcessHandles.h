// The number of handles open on the process behind a wait handle, as the Windows kernel
// counts them (the watcher tests learn from it that the watcher holds the shell). Windows
// only: Linux tests count pidfds in /proc instead.
#pragma once

#include "platform/event.h"

namespace watchertest {

// -1 when the system does not tell.
int processHandleCount(const kiv::platform::WaitHandle& process);

}  // namespace watchertest

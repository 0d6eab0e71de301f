// State the notifier shares across the whole process: the mutex that serialises bus
// message handling with shutdown, and the flag that shutdown sets first.
#pragma once

#include <atomic>
#include <cstdint>

#include "TQOSServices.h"
#include "tqNotify/framework/TQptr.h"

namespace tqnotify {

// Empty until a notifier starts up; released at the end of its shutdown.
extern TQptr<ITQOSLock> accessMutex;
// 0 at load; 1 from the start of a shutdown on, never cleared.
extern std::atomic<int32_t> terminating;

}  // namespace tqnotify

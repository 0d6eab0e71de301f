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
// Bus callbacks that have passed their shutdown test and may still use accessMutex. Shutdown
// waits for none to be left before it releases the mutex, so that the guarantee does not
// rest on the bus alone.
extern std::atomic<int32_t> activeCallbacks;

// Counts a callback for its scope.
class ActiveCallback {
 public:
  ActiveCallback() { activeCallbacks.fetch_add(1); }
  ~ActiveCallback() {
    if (activeCallbacks.fetch_sub(1) == 1) activeCallbacks.notify_all();
  }
  ActiveCallback(const ActiveCallback&) = delete;
  ActiveCallback& operator=(const ActiveCallback&) = delete;
};

// Returns once no callback is counted; only called after terminating is set, so callbacks
// that start now leave before they look at accessMutex.
void waitForActiveCallbacks();

}  // namespace tqnotify

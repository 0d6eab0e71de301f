// The thread object: one std::thread running the caller's function, joined by wait.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "../ComponentBase.h"
#include "TQOSServices.h"

class CTQOSThread final : public kiv::components::Component<ITQOSThread, 2> {
 public:
  CTQOSThread() : Component(kiv::components::Origin::kHandedOut) {}
  // Joins a thread that still runs, so the function never outlives the object it was
  // given. Dropping the last reference from inside the thread function itself detaches
  // instead, and keeps the module loaded for good, since its code is still running.
  ~CTQOSThread() override;

  // False when the system could not start a thread.
  bool start(TQThreadFunction function, void* argument);
  // Returns once the function has returned; any number of callers, any number of times.
  // A thread cannot wait for itself: nonzero, at once.
  int wait() override;

 private:
  bool isOwnThread() const;

  std::mutex mutex_;  // guards thread_; held while joining so that every waiter waits
  std::thread thread_;
  // Read without the mutex, so that the function can ask about itself while a waiter
  // holds the mutex.
  std::atomic<std::thread::id> id_{};
};

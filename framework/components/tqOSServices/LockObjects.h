// Mutex and lock objects: an in-process recursive lock (unnamed mutexes and locks) and the
// platform's system-wide named mutex. Both are abandoned when the owning thread ends: the
// next thread to lock gets them with the answer kWaitAbandoned.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "../ComponentBase.h"
#include "TQOSServices.h"
#include "platform/named_mutex.h"
#include "platform/thread_exit.h"

// Recursive for the owning thread, like a critical section; unlock by a thread that does
// not hold it is refused rather than undefined.
class CTQOSRecursiveLock final : public kiv::components::Component<ITQOSLock, 2>,
                                 private kiv::platform::ThreadOwned {
 public:
  CTQOSRecursiveLock() : Component(kiv::components::Origin::kHandedOut) {}
  ~CTQOSRecursiveLock() override;

  int lock() override;
  int unlock() override;  // 0 when given up, 1 when the caller did not hold it
  int tryLock(uint32_t timeoutMs) override;

 private:
  void threadEnded(std::thread::id thread) override;

  std::mutex mutex_;
  std::condition_variable released_;
  std::thread::id owner_{};
  unsigned depth_ = 0;
  bool abandoned_ = false;  // the last owner ended holding it; told to the next one
};

// System-wide; the kernel frees it when the holding process dies.
class CTQOSNamedMutex final : public kiv::components::Component<ITQOSLock, 2> {
 public:
  explicit CTQOSNamedMutex(std::unique_ptr<kiv::platform::NamedMutex> mutex)
      : Component(kiv::components::Origin::kHandedOut), mutex_(std::move(mutex)) {}

  int lock() override;  // waits without time-out
  int unlock() override;
  int tryLock(uint32_t timeoutMs) override;

 private:
  std::unique_ptr<kiv::platform::NamedMutex> mutex_;
};

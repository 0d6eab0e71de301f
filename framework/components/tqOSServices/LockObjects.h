// Mutex and lock objects: an in-process recursive lock (unnamed mutexes and locks) and the
// platform's system-wide named mutex. Both are abandoned when the owning thread ends: the
// next thread to lock holds them, and the takeover is traced. lock answers 0 then, as for
// any lock it holds; only tryLock tells the takeover apart (kWaitAbandoned).
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
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

  int lock() override;  // waits without time-out; 0 once held
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
  CTQOSNamedMutex(std::wstring name, std::unique_ptr<kiv::platform::NamedMutex> mutex)
      : Component(kiv::components::Origin::kHandedOut), name_(std::move(name)), mutex_(std::move(mutex)) {}

  int lock() override;  // waits without time-out; 0 once held
  int unlock() override;
  int tryLock(uint32_t timeoutMs) override;

 private:
  const std::wstring name_;
  std::unique_ptr<kiv::platform::NamedMutex> mutex_;
};

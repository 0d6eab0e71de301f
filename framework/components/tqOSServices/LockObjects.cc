// Waiting for, taking and giving up the in-process and system-wide locks.
#include "LockObjects.h"

#include <chrono>

using kiv::platform::kInfinite;
using kiv::platform::kWaitFailed;
using kiv::platform::kWaitTimeout;

int CTQOSRecursiveLock::lock() { return tryLock(kInfinite); }

int CTQOSRecursiveLock::tryLock(uint32_t timeoutMs) {
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock guard(mutex_);
  if (depth_ > 0 && owner_ == me) {
    ++depth_;
    return 0;
  }
  const auto isFree = [this] { return depth_ == 0; };
  if (timeoutMs == kInfinite) {
    released_.wait(guard, isFree);
  } else if (!released_.wait_for(guard, std::chrono::milliseconds(timeoutMs), isFree)) {
    return static_cast<int>(kWaitTimeout);
  }
  owner_ = me;
  depth_ = 1;
  return 0;
}

int CTQOSRecursiveLock::unlock() {
  std::lock_guard guard(mutex_);
  if (depth_ == 0 || owner_ != std::this_thread::get_id()) return 1;
  if (--depth_ == 0) {
    owner_ = {};
    released_.notify_one();
  }
  return 0;
}

int CTQOSNamedMutex::lock() { return mutex_->lock(kInfinite) ? 0 : static_cast<int>(kWaitFailed); }

int CTQOSNamedMutex::tryLock(uint32_t timeoutMs) {
  return mutex_->lock(timeoutMs) ? 0 : static_cast<int>(kWaitTimeout);
}

int CTQOSNamedMutex::unlock() {
  mutex_->unlock();
  return 0;
}

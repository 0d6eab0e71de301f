// Waiting for, taking and giving up the in-process and system-wide locks.
#include "LockObjects.h"

#include <chrono>

#include "tqUtilities.h"

using kiv::platform::kInfinite;
using kiv::platform::kWaitAbandoned;
using kiv::platform::kWaitFailed;
using kiv::platform::kWaitTimeout;

namespace {

// An abandoned lock is held like any other; what it guards may be half changed, which only
// the trace tells.
void traceTakeover(const wchar_t* kind, const wchar_t* name) {
  TQUtilities_TraceExW(L"tqOSServices", 1, L"%s: %s was abandoned by its last owner; taken over", kind, name);
}

// What lock answers for a tryLock answer: a lock that is held, abandoned or not, is 0.
int heldAsZero(int answer) { return answer == static_cast<int>(kWaitAbandoned) ? 0 : answer; }

}  // namespace

CTQOSRecursiveLock::~CTQOSRecursiveLock() { kiv::platform::forgetThreadEnds(this); }

int CTQOSRecursiveLock::lock() { return heldAsZero(tryLock(kInfinite)); }

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
  const bool abandoned = abandoned_;
  abandoned_ = false;
  guard.unlock();
  kiv::platform::callWhenThreadEnds(this);
  if (!abandoned) return 0;
  traceTakeover(L"CTQOSRecursiveLock", L"an in-process lock");
  return static_cast<int>(kWaitAbandoned);
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

void CTQOSRecursiveLock::threadEnded(std::thread::id thread) {
  std::lock_guard guard(mutex_);
  if (depth_ == 0 || owner_ != thread) return;
  depth_ = 0;
  owner_ = {};
  abandoned_ = true;
  released_.notify_one();
}

int CTQOSNamedMutex::lock() { return heldAsZero(tryLock(kInfinite)); }

int CTQOSNamedMutex::tryLock(uint32_t timeoutMs) {
  const uint32_t result = mutex_->acquire(timeoutMs);
  // A bounded wait that fails for another reason than time is still not held.
  if (result == kWaitFailed && timeoutMs != kInfinite) return static_cast<int>(kWaitTimeout);
  if (result == kWaitAbandoned) traceTakeover(L"CTQOSNamedMutex", name_.c_str());
  return static_cast<int>(result);
}

int CTQOSNamedMutex::unlock() {
  mutex_->unlock();
  return 0;
}

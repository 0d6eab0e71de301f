// System-wide named mutexes: a lock file under KIV_HOME/run/locks/global ("Global\" names)
// or run/locks/session-N (other names), held with flock. The kernel frees it when the
// holder dies; like a Windows mutex it is recursive for the owning thread, also across
// several objects opened on the same name in one process, and it is abandoned when its
// owning thread ends: the next acquirer gets it and learns that it was abandoned.
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/event.h"

namespace kiv::platform {

class NamedMutex {
 public:
  // Creates the lock file or opens the existing one; null on failure (errno set).
  static std::unique_ptr<NamedMutex> open(std::wstring_view name);
  virtual ~NamedMutex() = default;

  // True when held within the time-out, abandoned or not.
  virtual bool lock(uint32_t timeoutMs = kInfinite) = 0;
  virtual void unlock() = 0;

  // Like lock, but tells how it was obtained: kWaitObject0 when held, kWaitAbandoned when
  // held after the previous owner ended without unlocking (what it guards may be half
  // changed), kWaitTimeout, or kWaitFailed with errno set.
  virtual uint32_t acquire(uint32_t timeoutMs) {
    if (lock(timeoutMs)) return kWaitObject0;
    return errno == ETIMEDOUT ? kWaitTimeout : kWaitFailed;
  }
};

}  // namespace kiv::platform

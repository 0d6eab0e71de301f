// System-wide named mutexes: a lock file under KIV_HOME/run/locks/global ("Global\" names)
// or run/locks/session-N (other names), held with flock. The kernel frees it when the
// holder dies; like a Windows mutex it is recursive for the owning thread, also across
// several objects opened on the same name in one process.
#pragma once

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

  // True when held within the time-out.
  virtual bool lock(uint32_t timeoutMs = kInfinite) = 0;
  virtual void unlock() = 0;
};

}  // namespace kiv::platform

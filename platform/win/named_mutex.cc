// System-wide named mutexes are Win32 mutex objects: the name is the object's name as
// given ("Global\" places it in the namespace all sessions share), ownership is per
// thread and recursive, and the system frees a mutex whose owner ends.
#include "platform/named_mutex.h"

#include "platform/win/unique_handle.h"

#include <string>

namespace kiv::platform {
namespace {

class Win32Mutex final : public NamedMutex {
 public:
  explicit Win32Mutex(win::UniqueHandle mutex) : mutex_(std::move(mutex)) {}

  bool lock(uint32_t timeoutMs) override {
    const uint32_t result = acquire(timeoutMs);
    return result == kWaitObject0 || result == kWaitAbandoned;
  }

  // How the mutex was obtained: kWaitObject0, or kWaitAbandoned (WAIT_ABANDONED) when its
  // previous owner ended without releasing it and the wait made this thread the owner;
  // otherwise kWaitTimeout (last error ERROR_TIMEOUT) or kWaitFailed.
  uint32_t acquire(uint32_t timeoutMs) override {
    switch (WaitForSingleObject(mutex_.get(), timeoutMs)) {
      case WAIT_OBJECT_0:
        return kWaitObject0;
      case WAIT_ABANDONED:
        return kWaitAbandoned;
      case WAIT_TIMEOUT:
        SetLastError(ERROR_TIMEOUT);
        return kWaitTimeout;
      default:
        return kWaitFailed;
    }
  }

  // A thread that does not own the mutex cannot release it; ReleaseMutex refuses that.
  void unlock() override { ReleaseMutex(mutex_.get()); }

 private:
  win::UniqueHandle mutex_;
};

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::open(std::wstring_view name) {
  if (name.empty() || name.find(L'\0') != std::wstring_view::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  const std::wstring text(name);
  win::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, text.c_str()));
  // A mutex that another user created (a service, say) may let others wait on it and
  // release it without letting them create it anew.
  if (!mutex && GetLastError() == ERROR_ACCESS_DENIED) {
    mutex.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, text.c_str()));
  }
  if (!mutex) return nullptr;
  return std::make_unique<Win32Mutex>(std::move(mutex));
}

}  // namespace kiv::platform

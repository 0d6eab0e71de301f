// Events are Win32 event objects and waits are WaitForMultipleObjects, whose rules (the
// lowest signalled index wins, an auto-reset event's signal goes to exactly one waiter)
// are the ones this interface promises.
#include "platform/event.h"

#include "platform/win/unique_handle.h"

#include <utility>
#include <vector>

namespace kiv::platform {
namespace {

void closeIfOpen(int slot) {
  if (slot >= 0) CloseHandle(win::fromWaitSlot(slot));
}

}  // namespace

Event::Event(Reset reset, bool initiallySignalled) : reset_(reset) {
  fd_ = win::toWaitSlot(
      CreateEventW(nullptr, reset == Reset::kManual, initiallySignalled, nullptr));
}

Event::~Event() { closeIfOpen(fd_); }

Event::Event(Event&& other) noexcept : fd_(std::exchange(other.fd_, -1)), reset_(other.reset_) {}

Event& Event::operator=(Event&& other) noexcept {
  if (this != &other) {
    closeIfOpen(fd_);
    fd_ = std::exchange(other.fd_, -1);
    reset_ = other.reset_;
  }
  return *this;
}

void Event::set() {
  if (fd_ >= 0) SetEvent(win::fromWaitSlot(fd_));
}

void Event::reset() {
  if (fd_ >= 0) ResetEvent(win::fromWaitSlot(fd_));
}

uint32_t waitAny(std::span<const WaitHandle> handles, uint32_t timeoutMs) {
  if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return kWaitFailed;
  }
  std::vector<HANDLE> waited(handles.size());
  for (size_t i = 0; i < handles.size(); ++i) {
    if (!handles[i].valid()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return kWaitFailed;
    }
    waited[i] = win::fromWaitSlot(handles[i].fd);
  }
  const DWORD count = static_cast<DWORD>(waited.size());
  const DWORD result = WaitForMultipleObjects(count, waited.data(), FALSE, timeoutMs);
  if (result < WAIT_OBJECT_0 + count) return kWaitObject0 + (result - WAIT_OBJECT_0);
  // A mutex whose owner ended without releasing it is acquired all the same; the answer
  // says so as WaitForMultipleObjects does (0x80 plus the index).
  if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count) return result;
  if (result == WAIT_TIMEOUT) return kWaitTimeout;
  return kWaitFailed;
}

}  // namespace kiv::platform

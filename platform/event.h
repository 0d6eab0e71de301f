// Events and waits. Every waitable is a descriptor; waits report the first signalled index
// like WaitForMultipleObjects, and manual and auto reset behave as on Windows.
#pragma once

#include <cstdint>
#include <span>

namespace kiv::platform {

constexpr uint32_t kInfinite = 0xFFFFFFFF;
// Wait results: index of the signalled handle (from kWaitObject0), time-out, failure; a
// mutex obtained after its owner ended without giving it up answers kWaitAbandoned.
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitAbandoned = 0x80;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

// A descriptor to wait on. For an auto-reset event a successful wait takes the signal;
// everything else (manual-reset events, processes, sockets) stays signalled until reset.
struct WaitHandle {
  int fd = -1;
  bool consumesSignal = false;
  bool valid() const { return fd >= 0; }
};

class Event {
 public:
  enum class Reset { kManual, kAuto };

  explicit Event(Reset reset, bool initiallySignalled = false);
  ~Event();
  Event(Event&& other) noexcept;
  Event& operator=(Event&& other) noexcept;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // False when the system could not create the event (errno tells why).
  bool valid() const { return fd_ >= 0; }
  void set();
  void reset();
  WaitHandle handle() const { return {fd_, reset_ == Reset::kAuto}; }

 private:
  int fd_ = -1;
  Reset reset_;
};

// Waits until one handle is signalled (the lowest index wins when several are), the
// time-out passes (kWaitTimeout) or the wait fails (kWaitFailed, errno set).
uint32_t waitAny(std::span<const WaitHandle> handles, uint32_t timeoutMs);
inline uint32_t waitOne(WaitHandle handle, uint32_t timeoutMs) {
  return waitAny(std::span<const WaitHandle>(&handle, 1), timeoutMs);
}

}  // namespace kiv::platform

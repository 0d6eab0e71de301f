// Events on eventfd and waits on any descriptor with poll, with Windows wait semantics: the
// lowest signalled index wins and an auto-reset event's signal goes to exactly one waiter.
#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

namespace kiv::platform {
namespace {

using Clock = std::chrono::steady_clock;

void closeIfOpen(int fd) {
  if (fd >= 0) close(fd);
}

// Takes an auto-reset event's signal; false when another waiter took it first.
bool takeSignal(int fd) {
  uint64_t count = 0;
  while (true) {
    if (read(fd, &count, sizeof count) == sizeof count) return true;
    if (errno != EINTR) return false;
  }
}

// Milliseconds left until `deadline` for poll, or -1 for no deadline.
int remainingMs(bool infinite, Clock::time_point deadline) {
  if (infinite) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(std::min<long long>(left, 0x7FFFFFFF)) : 0;
}

// The index of the first ready handle whose signal could be taken, or -1. A closed
// descriptor anywhere in the set fails the wait with EBADF, whatever else is signalled.
long firstSignalled(std::span<const WaitHandle> handles, const std::vector<pollfd>& polled,
                    bool* failed) {
  for (const auto& entry : polled) {
    if (entry.revents & POLLNVAL) {
      *failed = true;
      errno = EBADF;
      return -1;
    }
  }
  for (size_t i = 0; i < polled.size(); ++i) {
    if ((polled[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    if (!handles[i].consumesSignal || takeSignal(handles[i].fd)) return static_cast<long>(i);
  }
  return -1;
}

}  // namespace

Event::Event(Reset reset, bool initiallySignalled) : reset_(reset) {
  fd_ = eventfd(initiallySignalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
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
  if (fd_ < 0) return;
  const uint64_t one = 1;
  // A full counter (EAGAIN) is still signalled, which is all a set has to achieve.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Event::reset() {
  if (fd_ >= 0) takeSignal(fd_);
}

uint32_t waitAny(std::span<const WaitHandle> handles, uint32_t timeoutMs) {
  if (handles.empty()) {
    errno = EINVAL;
    return kWaitFailed;
  }
  std::vector<pollfd> polled(handles.size());
  for (size_t i = 0; i < handles.size(); ++i) {
    if (!handles[i].valid()) {
      errno = EBADF;
      return kWaitFailed;
    }
    polled[i] = {handles[i].fd, POLLIN, 0};
  }
  const bool infinite = timeoutMs == kInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
  while (true) {
    const int ready = poll(polled.data(), polled.size(), remainingMs(infinite, deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return kWaitFailed;
    }
    if (ready > 0) {
      bool failed = false;
      const long index = firstSignalled(handles, polled, &failed);
      if (failed) return kWaitFailed;
      if (index >= 0) return kWaitObject0 + static_cast<uint32_t>(index);
      // Every ready handle was an auto-reset event another waiter took: wait again.
    }
    if (!infinite && Clock::now() >= deadline) return kWaitTimeout;
  }
}

}  // namespace kiv::platform

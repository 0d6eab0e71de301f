// The two things every epoll loop of the bus does: register a descriptor with a tag, and
// wait no longer than the next deadline.
#pragma once

#include <sys/epoll.h>

#include <chrono>
#include <cstdint>

namespace kiv::bus {

// Adds (or, with EPOLL_CTL_MOD, changes) `fd` in the set, reported with data.ptr `tag`.
inline bool epollWatch(int epoll, int fd, uint32_t events, void* tag, int operation) {
  epoll_event event{};
  event.events = events;
  event.data.ptr = tag;
  return ::epoll_ctl(epoll, operation, fd, &event) == 0;
}

// The time-out for epoll_wait that ends the wait at `deadline` (none: time_point::max()).
inline int epollTimeout(std::chrono::steady_clock::time_point deadline) {
  if (deadline == std::chrono::steady_clock::time_point::max()) return -1;
  const auto now = std::chrono::steady_clock::now();
  if (deadline <= now) return 0;
  // Rounded up: a wait that ends just before the deadline would only wait again.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
}

}  // namespace kiv::bus

// What every epoll loop of the bus does: register a descriptor with a tag.
#pragma once

#include <sys/epoll.h>

#include <cstdint>

namespace kiv::bus {

// Adds (or, with EPOLL_CTL_MOD, changes) `fd` in the set, reported with data.ptr `tag`.
inline bool epollWatch(int epoll, int fd, uint32_t events, void* tag, int operation) {
  epoll_event event{};
  event.events = events;
  event.data.ptr = tag;
  return ::epoll_ctl(epoll, operation, fd, &event) == 0;
}

}  // namespace kiv::bus

// The socket poller on Linux: epoll. A socket not being read is taken out of the set, since
// epoll would still report its errors and hang-ups on every wait.
#include "framework/TQSMCAPI/SocketPoller.h"

#include <sys/epoll.h>

#include <cerrno>
#include <cstdint>

#include "framework/TQSMCAPI/WaitTimeout.h"
#include "platform/linux/unique_fd.h"

namespace kiv::bus {
namespace {

constexpr int kBatch = 64;

// Adds (or, with EPOLL_CTL_MOD, changes) `fd` in the set, reported with data.ptr `tag`.
bool epollWatch(int epoll, int fd, uint32_t events, void* tag, int operation) {
  epoll_event event{};
  event.events = events;
  event.data.ptr = tag;
  return ::epoll_ctl(epoll, operation, fd, &event) == 0;
}

}  // namespace

struct SocketPoller::State {
  UniqueFd epoll{::epoll_create1(EPOLL_CLOEXEC)};
};

SocketPoller::SocketPoller() : state_(std::make_unique<State>()) {}

SocketPoller::~SocketPoller() = default;

bool SocketPoller::valid() const { return static_cast<bool>(state_->epoll); }

bool SocketPoller::watch(SocketHandle socket, void* tag, bool reading) {
  const int epoll = state_->epoll.get();
  if (!reading) return ::epoll_ctl(epoll, EPOLL_CTL_DEL, socket, nullptr) == 0;
  // Added first: a socket is almost always watched when it is new or after it was left
  // out (a request being handled, accepting paused); only an answer to a request refused
  // while still reading finds it in the set.
  return epollWatch(epoll, socket, EPOLLIN, tag, EPOLL_CTL_ADD) ||
         (errno == EEXIST && epollWatch(epoll, socket, EPOLLIN, tag, EPOLL_CTL_MOD));
}

bool SocketPoller::wait(std::chrono::steady_clock::time_point deadline, std::vector<void*>* ready) {
  epoll_event events[kBatch];
  ready->clear();
  const int count = ::epoll_wait(state_->epoll.get(), events, kBatch, waitTimeoutMs(deadline));
  if (count < 0) return errno == EINTR;
  for (int i = 0; i < count; ++i) ready->push_back(events[i].data.ptr);
  return true;
}

}  // namespace kiv::bus

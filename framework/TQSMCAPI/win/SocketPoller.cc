// The socket poller on Windows: WSAPoll over the sockets being read, the set rebuilt for
// each wait (a few hundred at most, within the caps). A socket not being read is left out,
// since WSAPoll would still report its hang-up on every wait.
#include "framework/TQSMCAPI/SocketPoller.h"

#include <unordered_map>

#include "framework/TQSMCAPI/WaitTimeout.h"

namespace kiv::bus {

struct SocketPoller::State {
  std::unordered_map<SocketHandle, void*> reading;
  std::vector<WSAPOLLFD> set;
};

SocketPoller::SocketPoller() : state_(std::make_unique<State>()) {}

SocketPoller::~SocketPoller() = default;

bool SocketPoller::valid() const { return socketsReady(); }

bool SocketPoller::watch(SocketHandle socket, void* tag, bool reading) {
  if (reading) {
    state_->reading[socket] = tag;
  } else {
    state_->reading.erase(socket);
  }
  return true;
}

bool SocketPoller::wait(std::chrono::steady_clock::time_point deadline, std::vector<void*>* ready) {
  std::vector<WSAPOLLFD>& set = state_->set;
  set.clear();
  for (const auto& [socket, tag] : state_->reading) set.push_back(WSAPOLLFD{socket, POLLRDNORM, 0});
  ready->clear();
  const int count = WSAPoll(set.data(), static_cast<ULONG>(set.size()), waitTimeoutMs(deadline));
  if (count == SOCKET_ERROR) return WSAGetLastError() == WSAEINTR;
  for (const WSAPOLLFD& polled : set) {
    if (polled.revents != 0) ready->push_back(state_->reading[polled.fd]);
  }
  return true;
}

}  // namespace kiv::bus

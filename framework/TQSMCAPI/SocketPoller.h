// The sockets one thread serves, waited on together: epoll on Linux, WSAPoll on Windows.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "framework/TQSMCAPI/TcpSocket.h"

namespace kiv::bus {

class SocketPoller {
 public:
  SocketPoller();
  ~SocketPoller();
  SocketPoller(const SocketPoller&) = delete;
  SocketPoller& operator=(const SocketPoller&) = delete;

  bool valid() const;
  // Reports `socket` by `tag` whenever it is readable (which a hang-up makes it), or with
  // `reading` false no longer reports it at all until it is watched again.
  bool watch(SocketHandle socket, void* tag, bool reading = true);
  void forget(SocketHandle socket) { watch(socket, nullptr, false); }
  // Waits until a watched socket is ready or `deadline` (time_point::max(): none) passes;
  // *ready gets their tags. False when waiting failed.
  bool wait(std::chrono::steady_clock::time_point deadline, std::vector<void*>* ready);

 private:
  struct State;  // each system's own
  std::unique_ptr<State> state_;
};

}  // namespace kiv::bus

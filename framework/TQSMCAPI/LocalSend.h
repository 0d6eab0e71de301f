// Sending one message to an endpoint of this machine through the system's local transport,
// the time limit a send runs under, and who holds a local endpoint.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "TQSMCAPI.h"

namespace kiv::bus {

struct Deadline {
  using Clock = std::chrono::steady_clock;
  Clock::time_point at;
  explicit Deadline(int timeoutMs)
      : at(Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : kSmDefaultTimeoutMs)) {}
  int remainingMs() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }
};

// Sends `text` (already checked against the size limit) to the local endpoint `endpoint` and
// waits for its answer: 0 with *status, or a kSmErr code. kSmErrNoListener only when no
// answer can come any more.
int sendLocal(const std::string& endpoint, const std::string& text, const Deadline& deadline,
              uint32_t* status);

// Whether a process has the local endpoint `endpoint` open: 0 and its process id (0 when it
// cannot be told), kSmErrNoListener, or kSmErrTransport.
int localEndpointOwner(const std::string& endpoint, int* pid);

}  // namespace kiv::bus

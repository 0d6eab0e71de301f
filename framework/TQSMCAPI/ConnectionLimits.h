// How many connections the bus's listeners keep and how long they let one sit silent: a
// listener that anybody can reach must not let connections use up the process's descriptors.
// Read from section "dlox/common/kiv/bus" when a listener starts.
#pragma once

#include <chrono>
#include <cstddef>

namespace kiv::bus {

struct ConnectionLimits {
  size_t localMax = 1024;                      // "localmaxconnections", per endpoint
  std::chrono::seconds localIdle{60};          // "localidletimeout"
  size_t tcpMax = 256;                         // "tcpmaxconnections"
  size_t tcpPerAddress = 64;                   // "tcpmaxperaddress"
  std::chrono::seconds tcpIdle{5};             // "tcpidletimeout"
};

// The configured limits; a value that is absent or not positive keeps its default.
ConnectionLimits configuredLimits();

// The connections of all listeners of the process together draw on one budget: the
// descriptor limit less a reserve for the process's own work (its store, its scripts, its
// endpoints). A connection is taken only while the budget allows; the listener closes it
// at once otherwise.
class ConnectionSlot {
 public:
  ConnectionSlot() = default;
  // A slot, or an empty one when the budget is spent.
  static ConnectionSlot take();
  ~ConnectionSlot();
  ConnectionSlot(ConnectionSlot&& other) noexcept : held_(other.held_) { other.held_ = false; }
  ConnectionSlot& operator=(ConnectionSlot&& other) noexcept;
  ConnectionSlot(const ConnectionSlot&) = delete;
  ConnectionSlot& operator=(const ConnectionSlot&) = delete;

  explicit operator bool() const { return held_; }

 private:
  bool held_ = false;
};

}  // namespace kiv::bus

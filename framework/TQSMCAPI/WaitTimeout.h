// How long a wait for sockets may last so that it ends at a deadline.
#pragma once

#include <chrono>

namespace kiv::bus {

// The time-out in milliseconds for a wait that ends at `deadline` (none: -1).
inline int waitTimeoutMs(std::chrono::steady_clock::time_point deadline) {
  if (deadline == std::chrono::steady_clock::time_point::max()) return -1;
  const auto now = std::chrono::steady_clock::now();
  if (deadline <= now) return 0;
  // Rounded up: a wait that ends just before the deadline would only wait again.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
}

}  // namespace kiv::bus

// A signal that one thread raises to wake another blocked in a poll: it shows as a readable
// descriptor (a socket on Windows) that can be waited on beside the thread's sockets.
#pragma once

#include <cstdint>

namespace kiv::bus {

class WakeSignal {
 public:
#ifdef _WIN32
  using Descriptor = uintptr_t;  // a SOCKET
#else
  using Descriptor = int;
#endif

  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  // False when the system could not make one.
  bool valid() const;
  // Callable from any thread; raising a raised signal changes nothing.
  void raise();
  // Takes back every raise so far.
  void clear();
  // What becomes readable while the signal is raised.
  Descriptor descriptor() const { return fd_; }

 private:
  Descriptor fd_;
};

}  // namespace kiv::bus

// A signal that one thread raises to wake another blocked in zmq_poll: it shows as a
// readable descriptor (a socket on Windows) that zmq_poll can wait on beside its sockets.
#pragma once

#include <zmq.h>

namespace kiv::bus {

class WakeSignal {
 public:
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
  zmq_fd_t descriptor() const { return fd_; }
  // The poll item that becomes readable while the signal is raised.
  zmq_pollitem_t pollItem() const;

 private:
  zmq_fd_t fd_;
};

}  // namespace kiv::bus

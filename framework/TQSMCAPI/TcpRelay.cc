// The TCP relay's side that the endpoints and the bus see, the same on every system.
#include "framework/TQSMCAPI/TcpRelay.h"

namespace kiv::bus {

void TcpRelay::stop() {
  if (thread_.joinable()) {
    mailbox_.requestStop();
    thread_.join();
  }
}

void TcpRelay::complete(uint64_t ticket, Reply reply) { mailbox_.post(ticket, reply); }

}  // namespace kiv::bus

// The listener for other machines: one TCP socket per process, started only when
// configured, that hands each request to the named local endpoint and sends its answer back.
// Its own thread serves it; what the system provides for it sits in linux/ and win/.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "framework/TQSMCAPI/RelayMailbox.h"
#include "framework/TQSMCAPI/Wire.h"

namespace kiv::bus {

class TcpRelay {
 public:
  // Finds the endpoint and queues the message there; false when no such endpoint is open.
  using Deliver = std::function<bool(const std::string& endpoint, uint64_t ticket,
                                     std::string text)>;

  // Binds the listener address; null (with *error) when that fails.
  static std::unique_ptr<TcpRelay> start(const std::string& address, Deliver deliver,
                                         std::string* error);
  ~TcpRelay();
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  // The address actually bound (with the chosen port when the configuration said 0).
  const std::string& boundAddress() const { return bound_; }

  // Called by an endpoint once the callback answered a relayed message.
  void complete(uint64_t ticket, Reply reply);

 private:
  struct State;  // each system's own
  TcpRelay();
  // Ends the thread once it has sent the answers posted so far.
  void stop();

  RelayMailbox mailbox_;
  std::unique_ptr<State> state_;
  std::thread thread_;  // runs state_
  std::string bound_;
};

}  // namespace kiv::bus

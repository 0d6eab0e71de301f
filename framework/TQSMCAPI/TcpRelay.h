// The listener for other machines: one TCP socket per process, started only when
// configured, that hands each request to the named local endpoint and sends its answer back.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "framework/TQSMCAPI/WakeSignal.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/Zmq.h"

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
  explicit TcpRelay(Deliver deliver);
  void run();
  void serviceRequests();
  void sendCompleted();

  Deliver deliver_;
  ZmqSocket socket_;
  std::string bound_;
  WakeSignal wake_;
  bool stopping_ = false;  // guarded by mutex_
  std::thread thread_;

  // Envelopes of messages handed to endpoints; touched only by the relay thread.
  std::unordered_map<uint64_t, Frames> waiting_;
  uint64_t nextTicket_ = 1;

  std::mutex mutex_;
  std::deque<std::pair<uint64_t, Reply>> completed_;
};

}  // namespace kiv::bus

// A sender's connection to one local endpoint: the socket that carries requests and answers,
// and a monitor of that socket that tells whether the connection is up. Only with the
// connection's state can a sender tell "no answer can come any more" from "the answer is
// still on its way".
#pragma once

#include <memory>
#include <string>

#include "framework/TQSMCAPI/Zmq.h"

namespace kiv::bus {

class LocalConnection {
 public:
  // A connection to `address` ("ipc://..."); null when the sockets cannot be made.
  static std::unique_ptr<LocalConnection> open(const std::string& address);
  ~LocalConnection();
  LocalConnection(const LocalConnection&) = delete;
  LocalConnection& operator=(const LocalConnection&) = delete;

  void* socket() const { return socket_.get(); }
  void* monitor() const { return monitor_.get(); }

  // Takes in the connection events that have arrived.
  void update();
  // The connection was made at some time. Until then no request has left this process.
  bool everConnected() const { return connected_; }
  // The connection was made and is gone again. It is not made again, so every answer that
  // the endpoint sent before it went has arrived on socket() by now.
  bool disconnected() const { return disconnected_; }

 private:
  LocalConnection() = default;

  ZmqSocket socket_;
  ZmqSocket monitor_;
  bool connected_ = false;
  bool disconnected_ = false;
};

}  // namespace kiv::bus
